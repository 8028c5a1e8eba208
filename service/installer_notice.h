// How the registration options tell the person installing what went wrong.
//
// Interactively that is a message box. An installation that runs unattended
// (a deferred action of a package, as LocalSystem in session 0) sits in a
// window station that nobody sees: a box there would wait for ever, so the
// text goes to standard error instead.
#ifndef KESTOR_SERVICE_INSTALLER_NOTICE_H
#define KESTOR_SERVICE_INSTALLER_NOTICE_H

#include <windows.h>

// The process's window station is shown to a user (WSF_VISIBLE). When that
// cannot be read, it counts as hidden: a line too many beats a hang.
bool WindowStationIsVisible();

// A message box captioned `caption` when someone can see it, else the line
// "caption: text" on standard error.
void TellInstallerUser(LPCSTR caption, LPCSTR text);

// The line "caption: text" on standard error, dropped where there is none.
void WriteErrorLine(LPCSTR caption, LPCSTR text);

#endif  // KESTOR_SERVICE_INSTALLER_NOTICE_H
