// Module registration: the program's own registration scripts with the
// standard replacements, the classes of the object map (script and
// component categories) and the type library.
#include <new>

#include "broker/com_module.h"
#include "registrar/class_categories.h"
#include "registrar/module_file_name.h"
#include "registrar/reg_object.h"
#include "registrar/type_library.h"

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

// The resource is either a number (MAKEINTRESOURCEA) or a narrow name.
HRESULT ApplyModuleScript(CComModule *module, LPCSTR resource, BOOL registerScript,
                          const ReplacementEntry *extra)
{
    CRegObject registrar;

    // Extra replacements come first: lookups take the first definition, so
    // they override the standard ones. Their results are not examined.
    for (const ReplacementEntry *row = extra; row != NULL && row->name != NULL; ++row)
        registrar.DefineReplacement(row->name, row->value);

    HRESULT hr = module->AddStandardReplacements(&registrar);
    if (FAILED(hr))
        return hr;

    HINSTANCE instance = g_baseModuleRecord.m_instance;
    char modulePath[kModulePathLimit];
    DWORD length = GetModuleFileNameA(instance, modulePath, kModulePathLimit);
    if (length == 0)
    {
        DWORD error = GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (length == kModulePathLimit)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

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

HRESULT UpdateClassRow(ObjectMapEntry *row, BOOL registerClass)
{
    const CategoryMapEntry *categories =
        row->getCategoryMap != NULL ? row->getCategoryMap() : NULL;
    if (registerClass)
    {
        HRESULT hr = row->updateRegistry != NULL ? row->updateRegistry(TRUE) : S_OK;
        if (FAILED(hr))
            return hr;
        return UpdateClassCategories(*row->clsid, categories, TRUE);
    }
    HRESULT hr = UpdateClassCategories(*row->clsid, categories, FALSE);
    if (FAILED(hr))
        return hr;
    return row->updateRegistry != NULL ? row->updateRegistry(FALSE) : S_OK;
}

// Walks the object map, then the automatically collected class rows, and
// stops at the first failure; nothing done before it is undone.
HRESULT UpdateClassRows(ObjectMapEntry *objectMap, BOOL registerClasses, const CLSID *onlyClass)
{
    HRESULT hr = S_OK;
    if (objectMap != NULL)
    {
        for (ObjectMapEntry *row = objectMap; row->clsid != NULL; ++row)
        {
            if (onlyClass != NULL && !IsEqualCLSID(*onlyClass, *row->clsid))
                continue;
            hr = UpdateClassRow(row, registerClasses);
            if (FAILED(hr))
                return hr;
        }
    }
    for (ObjectMapEntry **entry = g_comModuleRecord.m_autoObjectsBegin;
         entry != NULL && entry < g_comModuleRecord.m_autoObjectsEnd; ++entry)
    {
        ObjectMapEntry *row = *entry;
        if (row == NULL || row->clsid == NULL)
            continue;
        if (onlyClass != NULL && !IsEqualCLSID(*onlyClass, *row->clsid))
            continue;
        hr = UpdateClassRow(row, registerClasses);
        if (FAILED(hr))
            return hr;
    }
    return hr;
}

}  // namespace

HRESULT CComModule::AddStandardReplacements(IRegistrarBase *registrar)
{
    if (registrar == NULL)
        return E_POINTER;
    return registrar->DefineReplacement(L"APPID", L"");
}

HRESULT CComModule::ApplyRegistryScript(UINT resourceId, BOOL registerScript,
                                        const ReplacementEntry *extra)
{
    try
    {
        return ApplyModuleScript(this, MAKEINTRESOURCEA(resourceId), registerScript, extra);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

HRESULT CComModule::ApplyRegistryScriptByName(LPCSTR resourceName, BOOL registerScript,
                                              const ReplacementEntry *extra)
{
    // A null name would read as resource number 0; it is refused instead,
    // the way a name that cannot be converted is.
    if (resourceName == NULL)
        return E_OUTOFMEMORY;
    try
    {
        return ApplyModuleScript(this, resourceName, registerScript, extra);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

HRESULT CComModule::RegisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass)
{
    HRESULT hr = UpdateClassRows(m_objectMap, TRUE, onlyClass);
    if (FAILED(hr))
        return hr;
    if (withTypeLibrary)
        hr = RegisterModuleTypeLibrary(g_comModuleRecord.m_typeLibraryInstance, NULL);
    return hr;
}

HRESULT CComModule::UnregisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass)
{
    HRESULT hr = UpdateClassRows(m_objectMap, FALSE, onlyClass);
    if (FAILED(hr))
        return hr;
    if (withTypeLibrary)
        hr = UnregisterModuleTypeLibrary(g_comModuleRecord.m_typeLibraryInstance, NULL);
    return hr;
}
