// Service mode: the dispatcher, the service's main function, the control
// handler and status reports.
#include "service_module.h"

namespace {

// Serialises state reports between the handler's thread and the loop's.
// Once a stop has been taken, a late START_PENDING or RUNNING from the
// starting thread would tell the SCM the service came back: it is dropped.
SRWLOCK g_reportLock = SRWLOCK_INIT;
bool g_stopRequested = false;

// The dispatcher returns as soon as the service reports SERVICE_STOPPED, and
// the process ends with it; the service's thread may still be writing its
// last log line then. StartHosting waits for that thread to leave the
// service's main function, for a bounded time.
SRWLOCK g_serviceMainLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_serviceMainLeft = CONDITION_VARIABLE_INIT;
bool g_serviceMainRunning = false;
const DWORD kServiceMainExitWaitMs = 5000;

void SetServiceMainRunning(bool running)
{
    AcquireSRWLockExclusive(&g_serviceMainLock);
    g_serviceMainRunning = running;
    ReleaseSRWLockExclusive(&g_serviceMainLock);
    if (!running)
        WakeAllConditionVariable(&g_serviceMainLeft);
}

void WaitForServiceMainToLeave()
{
    const DWORD started = GetTickCount();
    AcquireSRWLockExclusive(&g_serviceMainLock);
    while (g_serviceMainRunning)
    {
        const DWORD waited = GetTickCount() - started;
        if (waited >= kServiceMainExitWaitMs ||
            !SleepConditionVariableSRW(&g_serviceMainLeft, &g_serviceMainLock,
                                       kServiceMainExitWaitMs - waited, 0))
            break;
    }
    ReleaseSRWLockExclusive(&g_serviceMainLock);
}

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
    if (m_isService)
        WaitForServiceMainToLeave();
    else
        RunServer();
}

void WINAPI CServiceModule::ServiceMainEntryStatic(DWORD argc, LPSTR *argv)
{
    SetServiceMainRunning(true);
    g_serviceModule.ServiceMainEntry(argc, argv);
    SetServiceMainRunning(false);
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

void CServiceModule::SetExitCode(DWORD win32Code, DWORD serviceSpecificCode)
{
    AcquireSRWLockExclusive(&g_reportLock);
    m_status.dwWin32ExitCode = win32Code;
    m_status.dwServiceSpecificExitCode = serviceSpecificCode;
    ReleaseSRWLockExclusive(&g_reportLock);
}

DWORD CServiceModule::ProcessExitCode() const
{
    return m_status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
               ? m_status.dwServiceSpecificExitCode
               : m_status.dwWin32ExitCode;
}
