#include "base/system_library.h"

bool RestrictLibrarySearchToSystem()
{
    // Looked up rather than imported, so that the programs still start on a
    // system without it.
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    SetDirectories setDirectories = SystemFunction<SetDirectories>(GetModuleHandleA("kernel32.dll"),
                                                                   "SetDefaultDllDirectories");
    return setDirectories != NULL && setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t *name)
{
    return LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
