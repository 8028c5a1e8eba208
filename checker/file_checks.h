// The installed files themselves: their versions, and who may write them
// and their folders.
#ifndef KESTOR_CHECKER_FILE_CHECKS_H
#define KESTOR_CHECKER_FILE_CHECKS_H

#include "checker/check_result.h"
#include "checker/installation.h"

// ZovKestor.exe and every KestorPr.dll carry the same file version.
CheckResult CheckVersions(const Installation &installation);

// Only LocalSystem, administrators and TrustedInstaller may change the
// installation's folders and the files shipped there, or take away or
// replace a folder above them (see AccessRole): anyone else could replace
// or plant a file that LocalSystem runs. Sets installation.foldersUntrusted
// when someone else may.
CheckResult CheckFolders(Installation *installation);

// The remedy of a failed folders check, which comes before any other: the
// others would run something from those folders.
extern const char kFoldersRemedy[];

#endif  // KESTOR_CHECKER_FILE_CHECKS_H
