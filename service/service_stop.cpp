#include "service_stop.h"

namespace {

const DWORD kPollMs = 50;

}  // namespace

DWORD StopServiceWithin(SC_HANDLE service, DWORD boundMs)
{
    const DWORD started = GetTickCount();
    for (;;)
    {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
        {
            DWORD error = GetLastError();
            return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
        }
        if (status.dwCurrentState == SERVICE_STOPPED)
            return ERROR_SUCCESS;
        // Refused while the service is still starting: sent again next time.
        if (status.dwCurrentState != SERVICE_STOP_PENDING)
            ControlService(service, SERVICE_CONTROL_STOP, &status);
        if (GetTickCount() - started >= boundMs)
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        Sleep(kPollMs);
    }
}
