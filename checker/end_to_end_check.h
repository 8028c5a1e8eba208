// A client's road to the broker, travelled without writing: activation,
// proxy, stub and the broker's own validation.
#ifndef KESTOR_CHECKER_END_TO_END_CHECK_H
#define KESTOR_CHECKER_END_TO_END_CHECK_H

#include <functional>

#include "checker/check_result.h"
#include "checker/installation.h"

enum class WorkOutcome
{
    Returned,
    StillRunning,  // past the time given; the thread is left to itself
    NotStarted     // no thread (the last error says why)
};

// Runs work on a thread of its own and waits for it up to timeoutMs, with
// this thread's messages pumped. Work left running past that must own
// whatever it uses.
WorkOutcome RunWithin(const std::function<void()> &work, DWORD timeoutMs);

// Creates KestorObj out of process as a client does and calls
// SetSettingValue with a value type the broker always refuses: E_INVALIDARG
// is the healthy answer. Reports the time it took and which process served
// it; in service mode a local server serving the call is a failure, since
// it writes with its client's rights, not LocalSystem's, and so is in
// local-server mode after an installation that was made for the service.
// The call gets 30 s. Not tried when earlier checks found that COM cannot
// start the service, or that others can change what it would start.
CheckResult CheckEndToEnd(const Installation &installation);

#endif  // KESTOR_CHECKER_END_TO_END_CHECK_H
