// The module's file as the script's Module and Module_Raw replacements, and
// the script resource applied in the module's name.
#include "registrar/module_script.h"

#include "registrar/module_file_name.h"

namespace {

const DWORD kModulePathLimit = 260;
const size_t kDoubledPathLength = 520;
const size_t kQuotedPathLength = kDoubledPathLength + 4;

// Copies source into target (capacity characters with the NUL), doubling
// every single quote so that the text reads back unchanged inside a quoted
// script token. A quote whose double would not fit is written once.
void CopyDoublingQuotes(const WCHAR *source, WCHAR *target, size_t capacity)
{
    size_t out = 0;
    for (; *source != L'\0' && out + 1 < capacity; ++source)
    {
        target[out++] = *source;
        if (*source == L'\'' && out + 1 < capacity)
            target[out++] = L'\'';
    }
    target[out] = L'\0';
}

}  // namespace

HRESULT ApplyModuleScript(CRegObject &registrar, HINSTANCE instance, LPCSTR resource,
                          BOOL registerScript)
{
    char modulePath[kModulePathLimit];
    DWORD length = 0;
    HRESULT hr = GetNarrowModuleFileName(instance, modulePath, kModulePathLimit, &length);
    if (FAILED(hr))
        return hr;

    WCHAR widePath[kModulePathLimit];
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, modulePath, -1, widePath, kModulePathLimit) == 0)
        return E_OUTOFMEMORY;

    WCHAR doubledPath[kDoubledPathLength];
    CopyDoublingQuotes(widePath, doubledPath, kDoubledPathLength);

    // A program's path is quoted, so that a command line built from it
    // (LocalServer32) survives blanks in the path.
    WCHAR quotedPath[kQuotedPathLength];
    const WCHAR *moduleValue = doubledPath;
    if (instance == NULL || instance == GetModuleHandleA(NULL))
    {
        size_t out = 0;
        quotedPath[out++] = L'"';
        for (const WCHAR *p = doubledPath; *p != L'\0'; ++p)
            quotedPath[out++] = *p;
        quotedPath[out++] = L'"';
        quotedPath[out] = L'\0';
        moduleValue = quotedPath;
    }

    hr = registrar.DefineReplacement(L"Module", moduleValue);
    if (FAILED(hr))
        return hr;
    hr = registrar.DefineReplacement(L"Module_Raw", doubledPath);
    if (FAILED(hr))
        return hr;

    // Registering writes the narrow path; where it does not name the
    // module's file, nothing is written. Unregistering writes no path.
    if (registerScript)
    {
        hr = CheckNarrowModuleFileName(instance);
        if (FAILED(hr))
            return hr;
    }
    // The script is read by the file's wide name, so that unregistering
    // works from a folder the code page cannot spell.
    WCHAR moduleFile[kModulePathLimit];
    hr = GetWideModuleFileName(instance, moduleFile, kModulePathLimit);
    if (FAILED(hr))
        return hr;

    if (IS_INTRESOURCE(resource))
    {
        UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(resource));
        return registerScript ? registrar.RegisterResourceScript(moduleFile, id, L"REGISTRY")
                              : registrar.UnregisterResourceScript(moduleFile, id, L"REGISTRY");
    }

    WCHAR wideName[kModulePathLimit];
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, resource, -1, wideName, kModulePathLimit) == 0)
        return E_OUTOFMEMORY;
    return registerScript
               ? registrar.RegisterResourceScriptByName(moduleFile, wideName, L"REGISTRY")
               : registrar.UnregisterResourceScriptByName(moduleFile, wideName, L"REGISTRY");
}
