// The broker's COM class and its AppID, in the view the 32-bit broker
// registers them in.
#ifndef KESTOR_CHECKER_CLASS_CHECKS_H
#define KESTOR_CHECKER_CLASS_CHECKS_H

#include "checker/check_result.h"
#include "checker/installation.h"

// The class key, its ProgIDs, and LocalServer32 naming an existing
// ZovKestor.exe (recorded in installation.server).
CheckResult CheckClass(Installation *installation);

// The AppID key and the mode its "LocalService" value selects (recorded in
// installation.serviceMode).
CheckResult CheckAppId(Installation *installation);

#endif  // KESTOR_CHECKER_CLASS_CHECKS_H
