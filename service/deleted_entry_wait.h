// Waiting for a deleted service entry to go.
//
// DeleteService only marks an entry while its service runs or while any
// handle to it is open (the Services console, a monitoring agent, a script
// that just queried it). The entry goes once the service has stopped and the
// last handle has closed. Until then OpenService still finds it and
// CreateService of the same name fails with ERROR_SERVICE_MARKED_FOR_DELETE,
// so whoever creates the entry anew must wait for it to go.
#ifndef KESTOR_SERVICE_DELETED_ENTRY_WAIT_H
#define KESTOR_SERVICE_DELETED_ENTRY_WAIT_H

#include <windows.h>

// The bound on that wait. Our service stops within milliseconds of its stop
// control; 30 s is also what the SCM gives any service to answer a control
// or to start. A service that has not stopped by then is hung by the SCM's
// own measure, and an entry still held after it is held by something that
// will not let go soon (a console left open): better a failure the
// installer can report than an unattended installation that waits on.
const DWORD kDeletedEntryWaitMs = 30000;

enum DeletedEntryGoal
{
    ENTRY_GONE,     // the entry has gone: a new one can be created
    ENTRY_STOPPED,  // the entry has gone, or at least its service has stopped
};

// Waits within boundMs for the deleted entry `serviceName` to reach the goal.
// ERROR_SUCCESS once the entry has gone; ERROR_SERVICE_MARKED_FOR_DELETE
// when it is still there, held by a handle or by its running service.
DWORD WaitForDeletedEntry(LPCSTR serviceName, DeletedEntryGoal goal,
                          DWORD boundMs = kDeletedEntryWaitMs);

#endif  // KESTOR_SERVICE_DELETED_ENTRY_WAIT_H
