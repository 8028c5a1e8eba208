// The module instance of ZovKestor, its initialisation and the Unlock that
// ends a local server.
#include "service_module.h"

CServiceModule g_serviceModule;

void CServiceModule::InitServiceModule(ObjectMapEntry *objectMap, HINSTANCE instance,
                                       UINT serviceNameId, const GUID *libid)
{
    InitComModule(objectMap, instance, libid);
    m_isService = TRUE;
    m_startedByCom = FALSE;

    // A missing string leaves the name empty.
    m_serviceName[0] = '\0';
    if (LoadStringA(instance, serviceNameId, m_serviceName, sizeof m_serviceName) <= 0)
        m_serviceName[0] = '\0';

    m_statusHandle = NULL;
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    m_status.dwWin32ExitCode = 0;
    m_status.dwServiceSpecificExitCode = 0;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
}

LONG CServiceModule::Unlock()
{
    LONG count = InterlockedDecrement(&m_lockCount);
    // A local server lives while something holds a lock, and ends when it
    // has stayed without one for its idle period (idle_end.h); a service
    // lives until the Service Control Manager stops it.
    if (count == 0 && !m_isService)
        PostThreadMessageA(m_loopThreadId, WM_SERVER_IDLE, 0, 0);
    return count;
}
