// Service mode: the dispatcher, the service's main function, the control
// handler and status reports.
#include "service_module.h"

namespace {

// Serialises state reports between the handler's thread and the loop's.
// Once a stop has been taken, a late START_PENDING or RUNNING from the
// starting thread would tell the SCM the service came back: it is dropped.
SRWLOCK g_reportLock = SRWLOCK_INIT;
bool g_stopRequested = false;

}  // namespace

void CServiceModule::StartHosting()
{
    SERVICE_TABLE_ENTRYA table[] = {
        {m_serviceName, ServiceMainEntryStatic},
        {NULL, NULL},
    };
    // Fails when the SCM did not start this process: serve as a local server.
    if (m_isService && !StartServiceCtrlDispatcherA(table))
        m_isService = FALSE;
    if (!m_isService)
        RunServer();
}

void WINAPI CServiceModule::ServiceMainEntryStatic(DWORD argc, LPSTR *argv)
{
    g_serviceModule.ServiceMainEntry(argc, argv);
}

void WINAPI CServiceModule::OnServiceControlStatic(DWORD control)
{
    g_serviceModule.OnServiceControl(control);
}

void CServiceModule::ServiceMainEntry(DWORD, LPSTR *)
{
    m_status.dwCurrentState = SERVICE_START_PENDING;

    // This thread runs the loop. Give it its message queue and publish its id
    // before the handler can be called, so that a stop arriving before the
    // loop starts is queued rather than lost.
    MSG message;
    PeekMessageA(&message, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    m_loopThreadId = GetCurrentThreadId();

    m_statusHandle = RegisterServiceCtrlHandlerA(m_serviceName, OnServiceControlStatic);
    if (m_statusHandle == NULL)
    {
        LogMessage("Handler not installed");
        return;
    }
    ReportServiceState(SERVICE_START_PENDING);
    m_status.dwWin32ExitCode = 0;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;

    RunServer();

    ReportServiceState(SERVICE_STOPPED);
    LogMessage("Service stopped");
}

void CServiceModule::OnServiceControl(DWORD control)
{
    switch (control)
    {
    case SERVICE_CONTROL_STOP:
        AcquireSRWLockExclusive(&g_reportLock);
        g_stopRequested = true;
        ReleaseSRWLockExclusive(&g_reportLock);
        ReportServiceState(SERVICE_STOP_PENDING);
        PostThreadMessageA(m_loopThreadId, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        LogMessage("Bad service request");
        break;
    }
}

void CServiceModule::ReportServiceState(DWORD state)
{
    AcquireSRWLockExclusive(&g_reportLock);
    if (!(g_stopRequested && (state == SERVICE_START_PENDING || state == SERVICE_RUNNING)))
    {
        m_status.dwCurrentState = state;
        SetServiceStatus(m_statusHandle, &m_status);
    }
    ReleaseSRWLockExclusive(&g_reportLock);
}
