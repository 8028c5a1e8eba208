#include "installer_notice.h"

#include <cstdio>

bool WindowStationIsVisible()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   &needed))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void TellInstallerUser(LPCSTR caption, LPCSTR text)
{
    if (WindowStationIsVisible())
        MessageBoxA(NULL, text, caption, MB_OK);
    else
        WriteErrorLine(caption, text);
}

void WriteErrorLine(LPCSTR caption, LPCSTR text)
{
    HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
    if (output == NULL || output == INVALID_HANDLE_VALUE)
        return;
    // One write per line, so that lines of processes sharing the handle
    // (a package's log) do not interleave.
    char line[512];
    int length = std::snprintf(line, sizeof line, "%s: %s\r\n", caption, text);
    if (length < 0)
        return;
    if (length >= static_cast<int>(sizeof line))
        length = sizeof line - 1;
    DWORD written = 0;
    WriteFile(output, line, static_cast<DWORD>(length), &written, NULL);
}
