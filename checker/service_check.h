// The service entry that COM starts in service mode, read with query rights
// only.
#ifndef KESTOR_CHECKER_SERVICE_CHECK_H
#define KESTOR_CHECKER_SERVICE_CHECK_H

#include <windows.h>

#include "checker/check_result.h"
#include "checker/installation.h"

// In service mode: the entry exists and is not marked for deletion, runs
// the program LocalServer32 names (quoted, when its path has blanks) as
// LocalSystem, starts automatically or on demand; its state is reported.
// Sets installation.serviceUnusable when COM cannot start the service.
CheckResult CheckService(Installation *installation);

// The service's process while it runs, else 0.
DWORD RunningServiceProcess();

#endif  // KESTOR_CHECKER_SERVICE_CHECK_H
