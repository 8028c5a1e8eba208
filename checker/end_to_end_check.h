// A client's road to the broker, travelled without writing: activation,
// proxy, stub and the broker's own validation.
#ifndef KESTOR_CHECKER_END_TO_END_CHECK_H
#define KESTOR_CHECKER_END_TO_END_CHECK_H

#include "checker/check_result.h"
#include "checker/installation.h"

// Creates KestorObj out of process as a client does and calls
// SetSettingValue with a value type the broker always refuses: E_INVALIDARG
// is the healthy answer. Reports the time it took and which process served
// it; in service mode a local server serving the call is a failure, since
// it writes with its client's rights, not LocalSystem's, and so is in
// local-server mode after an installation that was made for the service.
// Not tried when earlier checks found that COM cannot start the service, or
// that others can change what it would start.
CheckResult CheckEndToEnd(const Installation &installation);

#endif  // KESTOR_CHECKER_END_TO_END_CHECK_H
