#include "deleted_entry_wait.h"

#include "base/handle_owner.h"

namespace {

const DWORD kPollMs = 50;
// A stopped service's process may still be on its way out, and with it the
// SCM's last reference to the entry: the time given to that before a stopped
// entry counts as held by someone else.
const DWORD kStoppedSettleMs = 2000;

enum EntrySight
{
    SEEN_ABSENT,
    SEEN_ACTIVE,
    SEEN_STOPPED,
};

// Looks at the entry once. The handle is closed again at once: kept open, it
// would itself hold the entry.
EntrySight LookAtEntry(SC_HANDLE manager, LPCSTR serviceName)
{
    ServiceHandle service(OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS));
    if (service == NULL)
    {
        // Any other failure leaves the entry in doubt: count it as there.
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? SEEN_ABSENT : SEEN_ACTIVE;
    }
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED
               ? SEEN_STOPPED
               : SEEN_ACTIVE;
}
}  // namespace

DWORD WaitForDeletedEntry(LPCSTR serviceName, DeletedEntryGoal goal, DWORD boundMs)
{
    // A connection alone holds no service entry.
    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager == NULL)
        return ERROR_SERVICE_MARKED_FOR_DELETE;

    const DWORD started = GetTickCount();
    DWORD stoppedSince = 0;
    bool seenStopped = false;
    for (;;)
    {
        EntrySight sight = LookAtEntry(manager, serviceName);
        const DWORD now = GetTickCount();
        if (sight == SEEN_ABSENT)
            return ERROR_SUCCESS;
        if (sight == SEEN_STOPPED && !seenStopped)
        {
            seenStopped = true;
            stoppedSince = now;
        }
        if ((goal == ENTRY_STOPPED && seenStopped && now - stoppedSince >= kStoppedSettleMs) ||
            now - started >= boundMs)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        Sleep(kPollMs);
    }
}
