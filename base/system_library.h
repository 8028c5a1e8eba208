// Libraries from System32 only. Windows loads a DLL that is not one of its
// known DLLs from the program's own folder first, and an administrator may
// run a tool from a folder others can write (a Downloads folder): a library
// planted there would run with the administrator's rights. So the tools
// import only known DLLs, restrict their search path before anything else,
// and load any other library explicitly from System32.
#ifndef KESTOR_BASE_SYSTEM_LIBRARY_H
#define KESTOR_BASE_SYSTEM_LIBRARY_H

#include <windows.h>

// Makes System32 the only folder that LoadLibrary searches for this process
// (and for the libraries it loads). False where the system cannot restrict
// it (Windows 7 without its update of 2011), which LoadSystemLibrary then
// refuses too.
bool RestrictLibrarySearchToSystem();

// The library of this name from System32 and nowhere else, with its own
// dependencies from there too; null with the last error when it cannot.
HMODULE LoadSystemLibrary(const wchar_t *name);

// A function of a loaded library as its type, or null.
template <class Function>
Function SystemFunction(HMODULE library, const char *name)
{
    FARPROC address = library != NULL ? GetProcAddress(library, name) : NULL;
    // Through a function type without parameters, which may be cast to any.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

#endif  // KESTOR_BASE_SYSTEM_LIBRARY_H
