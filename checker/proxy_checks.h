// The proxy/stub registration of IKestor, in every registry view, and the
// broker's type library.
#ifndef KESTOR_CHECKER_PROXY_CHECKS_H
#define KESTOR_CHECKER_PROXY_CHECKS_H

#include "checker/check_result.h"
#include "checker/installation.h"

// Interface\{IID_IKestor} and its proxy/stub class naming an existing
// KestorPr.dll of the view's width (recorded in installation.proxies); on
// 64-bit Windows in service mode also the 64-bit view's class entry through
// which 64-bit COM finds the AppID.
CheckResult CheckProxy(Installation *installation);

// TypeLib\{LIBID}: a registered version whose file loads as the broker's
// type library.
CheckResult CheckTypeLibrary();

#endif  // KESTOR_CHECKER_PROXY_CHECKS_H
