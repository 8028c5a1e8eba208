// The proxy/stub registration of IKestor, in every registry view, and the
// broker's type library.
#ifndef KESTOR_CHECKER_PROXY_CHECKS_H
#define KESTOR_CHECKER_PROXY_CHECKS_H

#include "checker/check_result.h"
#include "checker/installation.h"

// Interface\{IID_IKestor} and its proxy/stub class naming an existing
// KestorPr.dll of the view's width (recorded in installation.proxies); on
// 64-bit Windows in service mode also the 64-bit view's class entry through
// which 64-bit COM finds the AppID. Each library belongs to the broker's
// installation: one registered from another folder is a split installation.
CheckResult CheckProxy(Installation *installation);

// TypeLib\{LIBID}: version 1.0, which the class is built against, names the
// broker's type library beside ZovKestor.exe (recorded in
// installation.typeLibrary).
CheckResult CheckTypeLibrary(Installation *installation);

#endif  // KESTOR_CHECKER_PROXY_CHECKS_H
