#include "registrar/module_file_name.h"

#include <cwchar>

#include "base/hresult.h"

HRESULT GetWideModuleFileName(HINSTANCE module, WCHAR *path, DWORD capacity)
{
    DWORD length = GetModuleFileNameW(module, path, capacity);
    if (length == 0)
        return HresultFromLastError();
    if (length >= capacity)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

HRESULT GetNarrowModuleFileName(HINSTANCE module, char *path, DWORD capacity, DWORD *length)
{
    *length = GetModuleFileNameA(module, path, capacity);
    if (*length == 0)
        return HresultFromLastError();
    if (*length >= capacity)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

HRESULT CheckNarrowModuleFileName(HINSTANCE module)
{
    char narrow[MAX_PATH];
    DWORD length = 0;
    HRESULT hr = GetNarrowModuleFileName(module, narrow, MAX_PATH, &length);
    if (FAILED(hr))
        return hr;

    WCHAR wide[MAX_PATH];
    hr = GetWideModuleFileName(module, wide, MAX_PATH);
    if (FAILED(hr))
        return hr;

    // The service manager widens the path in the process's code page, the
    // registration in the thread's; both must arrive at the file.
    const UINT codePages[] = {CP_ACP, CP_THREAD_ACP};
    for (UINT codePage : codePages)
    {
        WCHAR widened[MAX_PATH];
        if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow, -1, widened, MAX_PATH) ==
                0 ||
            std::wcscmp(widened, wide) != 0)
            return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    }
    return S_OK;
}
