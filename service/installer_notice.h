// How the registration options tell the person installing what went wrong.
//
// Interactively that is a message box. An installation that runs unattended
// (a deferred action of a package, as LocalSystem in session 0; a scheduled
// task; a remote-management agent) is where nobody sees a box: there it would
// wait for ever, so the text goes to standard error instead.
#ifndef KESTOR_SERVICE_INSTALLER_NOTICE_H
#define KESTOR_SERVICE_INSTALLER_NOTICE_H

#include <windows.h>

// What decides whether a box can be seen, as read from the process.
struct NoticeSight
{
    bool sessionKnown;  // ProcessIdToSessionId answered
    DWORD sessionId;
    bool stationKnown;  // the window station's UOI_FLAGS could be read
    DWORD stationFlags;
};

// Someone can see a box: the window station is shown to a user
// (WSF_VISIBLE) and the process is not in session 0, which has its own
// WinSta0 but no user looking at it. Anything not known counts as unseen:
// a line too many beats a hang.
bool NoticeIsSeen(const NoticeSight &sight);

// The sight of this process.
NoticeSight ReadNoticeSight();

// A message box captioned `caption` when someone can see it, else the line
// "caption: text" on standard error.
void TellInstallerUser(LPCSTR caption, LPCSTR text);

// The line "caption: text" on standard error, dropped where there is none.
void WriteErrorLine(LPCSTR caption, LPCSTR text);

#endif  // KESTOR_SERVICE_INSTALLER_NOTICE_H
