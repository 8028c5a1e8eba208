/* What someone may plant beside a program in a folder they can write: a
   library with a name the program might look for. Any process that loads it
   ends at once with exit code 77, so a test sees that it was loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        ExitProcess(77);
    return TRUE;
}
