#include "registrar/type_library.h"

#include <oleauto.h>

#include <cwchar>

#include "base/handle_owner.h"
#include "registrar/module_file_name.h"

namespace {

// GetModuleFileNameA's limit and the room behind it for an appended index.
const DWORD kPathLimit = 260;
const size_t kPathBuffer = 270;

// The extension starts at the last dot of the file name proper; a dot in a
// folder name does not count. Without one it is the end of the path.
template <class Char, class Next>
Char *FindExtension(Char *path, Char *end, Next next)
{
    Char *extension = NULL;
    for (Char *p = path; *p != 0; p = next(p))
    {
        if (*p == '\\')
            extension = NULL;
        else if (*p == '.')
            extension = p;
    }
    return extension != NULL ? extension : end;
}

// Where the library is looked for: in the module file itself (path, with any
// index appended), then in "<path without extension>.tlb" beside it. load
// takes the path in its own character type.
template <class Char, class Load>
HRESULT LoadFromModuleOrBeside(Char *path, Char *extension, Load load)
{
    HRESULT hr = load(path);
    if (SUCCEEDED(hr))
        return hr;
    if (static_cast<size_t>(extension - path) + 5 > kPathLimit)
        return E_FAIL;
    const char suffix[] = ".tlb";
    for (size_t i = 0; i < sizeof suffix; ++i)
        extension[i] = static_cast<Char>(suffix[i]);
    return load(path);
}

HRESULT LoadFromNarrowPath(const char *path, WCHAR *widePath, ITypeLib **library)
{
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, path, -1, widePath, static_cast<int>(kPathBuffer)) ==
        0)
        return E_OUTOFMEMORY;
    return LoadTypeLib(widePath, library);
}

// The same search by the module's wide path, for a module in a folder the
// code page cannot spell: so that an unregistration from there still finds
// the library (and a registration names the file by its real path).
HRESULT LoadByWidePath(HINSTANCE module, LPCOLESTR index, WCHAR *widePath, ITypeLib **library)
{
    HRESULT hr = GetWideModuleFileName(module, widePath, kPathLimit);
    if (FAILED(hr))
        return hr;
    size_t length = std::wcslen(widePath);
    WCHAR *extension = FindExtension(widePath, widePath + length, [](WCHAR *p) { return p + 1; });

    if (index != NULL)
    {
        if (length + std::wcslen(index) >= kPathBuffer)
            return E_FAIL;
        std::wcscpy(widePath + length, index);
    }
    return LoadFromModuleOrBeside(widePath, extension,
                                  [library](WCHAR *path) { return LoadTypeLib(path, library); });
}

// Hands the loaded library and its path to the caller; the result is that
// of loading it.
HRESULT HandOver(const WCHAR *widePath, ITypeLib *loaded, HRESULT loadResult, BSTR *path,
                 ITypeLib **library)
{
    BSTR loadedPath = SysAllocString(widePath);
    if (loadedPath == NULL)
    {
        loaded->Release();
        return E_OUTOFMEMORY;
    }
    *path = loadedPath;
    *library = loaded;
    return loadResult;
}

}  // namespace

HRESULT LoadModuleTypeLibrary(HINSTANCE module, LPCOLESTR index, BSTR *path, ITypeLib **library)
{
    if (path != NULL)
        *path = NULL;
    if (library != NULL)
        *library = NULL;
    if (path == NULL || library == NULL)
        return E_POINTER;

    char modulePath[kPathBuffer];
    DWORD length = 0;
    HRESULT hr = GetNarrowModuleFileName(module, modulePath, kPathLimit, &length);
    if (FAILED(hr))
        return hr;

    WCHAR widePath[kPathBuffer];
    ITypeLib *loaded = NULL;
    if (CheckNarrowModuleFileName(module) == HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION))
    {
        hr = LoadByWidePath(module, index, widePath, &loaded);
        return FAILED(hr) ? hr : HandOver(widePath, loaded, hr, path, library);
    }

    char *extension =
        FindExtension(modulePath, modulePath + length, [](char *p) { return CharNextA(p); });

    if (index != NULL)
    {
        // Measured first, so that an index too long for the path buffer is
        // told apart from a text that cannot be converted.
        int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, index, -1, NULL, 0, NULL, NULL);
        if (needed == 0)
            return E_OUTOFMEMORY;
        if (length + static_cast<size_t>(needed - 1) >= kPathBuffer)
            return E_FAIL;
        if (WideCharToMultiByte(CP_THREAD_ACP, 0, index, -1, modulePath + length,
                                static_cast<int>(kPathBuffer - length), NULL, NULL) == 0)
            return E_OUTOFMEMORY;
    }

    hr = LoadFromModuleOrBeside(modulePath, extension, [&widePath, &loaded](char *narrow) {
        return LoadFromNarrowPath(narrow, widePath, &loaded);
    });
    if (FAILED(hr))
        return hr;
    return HandOver(widePath, loaded, hr, path, library);
}

HRESULT RegisterModuleTypeLibrary(HINSTANCE module, LPCOLESTR index)
{
    OwnedBstr path;
    InterfaceReference<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLibrary(module, index, path.Place(), library.Place());
    if (FAILED(hr))
        return hr;

    // The help directory is the folder of the library's own help file;
    // without one the registration names none.
    BSTR helpFile = NULL;
    WCHAR helpDirectory[kPathLimit];
    const WCHAR *helpDirectoryArgument = NULL;
    if (SUCCEEDED(library->GetDocumentation(-1, NULL, NULL, NULL, &helpFile)))
    {
        size_t copied = 0;
        if (helpFile != NULL)
        {
            for (; copied < kPathLimit - 1 && helpFile[copied] != L'\0'; ++copied)
                helpDirectory[copied] = helpFile[copied];
        }
        size_t cut = 0;
        for (size_t i = 0; i < copied; ++i)
        {
            WCHAR c = helpDirectory[i];
            if (c == L'\\' || c == L'/' || c == L':')
                cut = i + 1;
        }
        helpDirectory[cut] = L'\0';
        helpDirectoryArgument = helpDirectory;
        SysFreeString(helpFile);
    }

    return RegisterTypeLib(library, path, const_cast<WCHAR *>(helpDirectoryArgument));
}

HRESULT UnregisterModuleTypeLibrary(HINSTANCE module, LPCOLESTR index)
{
    OwnedBstr path;
    InterfaceReference<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLibrary(module, index, path.Place(), library.Place());
    if (FAILED(hr))
        return hr;

    TLIBATTR *attributes = NULL;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr))
        return hr;
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
    return hr;
}
