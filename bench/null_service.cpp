// KestorNullService.exe: the yardstick for ZovKestor as a service. COM starts
// it through the Service Control Manager exactly as it starts the broker;
// it does only what such a service must: enter the dispatcher, install its
// handler, report START_PENDING, register its class object as early as COM
// allows (apartment first), report RUNNING, and pump messages until the SCM
// stops it. The SCM answers the starter (COM) at the first report, and COM
// then waits a fixed second before it looks for the class object: reporting
// START_PENDING before the COM work is what makes a service's start cheap.
#include <windows.h>

#include "bench/null_class.h"
#include "bench/null_ids.h"

namespace {

char g_name[] = KESTOR_NULL_SERVICE_NAME;
SERVICE_STATUS_HANDLE g_statusHandle;
SERVICE_STATUS g_status = {
    SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
DWORD g_loopThread;

void Report(DWORD state)
{
    g_status.dwCurrentState = state;
    SetServiceStatus(g_statusHandle, &g_status);
}

void WINAPI OnControl(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP)
        return;
    Report(SERVICE_STOP_PENDING);
    PostThreadMessageA(g_loopThread, WM_QUIT, 0, 0);
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    // The queue exists before the handler can post to it.
    MSG message;
    PeekMessageA(&message, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    g_loopThread = GetCurrentThreadId();
    g_statusHandle = RegisterServiceCtrlHandlerA(g_name, OnControl);
    if (g_statusHandle == NULL)
        return;
    Report(SERVICE_START_PENDING);

    CoInitialize(NULL);
    DWORD cookie = 0;
    HRESULT hr = RegisterNullClass(CLSID_KestorNullService, &cookie);
    Report(SERVICE_RUNNING);
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    if (SUCCEEDED(hr))
        CoRevokeClassObject(cookie);
    CoUninitialize();
    g_status.dwWin32ExitCode = SUCCEEDED(hr) ? 0 : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = SUCCEEDED(hr) ? 0 : hr;
    Report(SERVICE_STOPPED);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SERVICE_TABLE_ENTRYA table[] = {{g_name, ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(GetLastError());
}
