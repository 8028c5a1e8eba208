#include "installer_notice.h"

#include <cstdio>

bool NoticeIsSeen(const NoticeSight &sight)
{
    return sight.sessionKnown && sight.sessionId != 0 && sight.stationKnown &&
           (sight.stationFlags & WSF_VISIBLE) != 0;
}

NoticeSight ReadNoticeSight()
{
    NoticeSight sight = {};
    sight.sessionKnown = ProcessIdToSessionId(GetCurrentProcessId(), &sight.sessionId) != FALSE;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    sight.stationKnown = GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                                   sizeof flags, &needed) != FALSE;
    sight.stationFlags = flags.dwFlags;
    return sight;
}

void TellInstallerUser(LPCSTR caption, LPCSTR text)
{
    if (NoticeIsSeen(ReadNoticeSight()))
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
