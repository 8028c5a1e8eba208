// The installed files themselves: their versions, and who may write them
// and their folders.
#ifndef KESTOR_CHECKER_FILE_CHECKS_H
#define KESTOR_CHECKER_FILE_CHECKS_H

#include "checker/check_result.h"
#include "checker/installation.h"

// ZovKestor.exe and every KestorPr.dll carry the same file version.
CheckResult CheckVersions(const Installation &installation);

// Nobody but administrators and LocalSystem (and the owner they chose) may
// write, append, delete children, change permissions or take ownership of
// ZovKestor.exe, KestorPr.dll or their folders: Everyone, Users,
// Authenticated Users and INTERACTIVE could otherwise replace or plant a
// file that LocalSystem loads.
CheckResult CheckFolders(const Installation &installation);

#endif  // KESTOR_CHECKER_FILE_CHECKS_H
