// CServiceModule: the one module of ZovKestor. It adds the service fields to
// the COM module and replaces only Unlock. The instance is a static object
// whose fields stay zero until InitServiceModule runs.
#ifndef KESTOR_SERVICE_SERVICE_MODULE_H
#define KESTOR_SERVICE_SERVICE_MODULE_H

#include <windows.h>

#include "broker/com_module.h"

// Identity of the service host.
#define KESTOR_SERVICE_NAME_ID 100
#define KESTOR_SERVICE_NAME "ZovKestor"
// The service's description in the Services console.
#define KESTOR_SERVICE_DESCRIPTION_ID 101

// How the run loop registers the class objects with COM: at its start, and
// again when a withdrawn local server gets a client after all (idle_end.h).
const DWORD kClassObjectContext = CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
const DWORD kClassObjectFlags = REGCLS_MULTIPLEUSE;

// Posted to the loop thread of a local server when its last lock goes: the
// loop starts the idle period that ends the server (idle_end.h).
const UINT WM_SERVER_IDLE = WM_APP + 1;

class CServiceModule : public CComModule
{
public:
    // Module state (service_module.cpp).
    void InitServiceModule(ObjectMapEntry *objectMap, HINSTANCE instance, UINT serviceNameId,
                           const GUID *libid);

    // Tells the loop thread when the last lock of a local server goes
    // (service_module.cpp).
    LONG Unlock() override;

    // Service control and run loop (service_control.cpp, run_loop.cpp).
    void StartHosting();
    void ServiceMainEntry(DWORD argc, LPSTR *argv);
    void OnServiceControl(DWORD control);
    static void WINAPI ServiceMainEntryStatic(DWORD argc, LPSTR *argv);
    static void WINAPI OnServiceControlStatic(DWORD control);
    void RunServer();
    // Logs why the server could not start and records it as the exit code.
    void EndUnstarted(HRESULT hr);
    void ReportServiceState(DWORD state);
    // The exit code the SCM is told with SERVICE_STOPPED.
    void SetExitCode(DWORD win32Code, DWORD serviceSpecificCode);
    // The process's exit code in either mode: the service's exit code, a
    // service-specific one (an HRESULT) as itself.
    DWORD ProcessExitCode() const;
    void LogMessage(LPCSTR format, ...);

    // Installation and AppID registration (installation.cpp). The service
    // entry's operations give a Win32 code, having told the installing user
    // of any failure. InstallService keeps an existing entry and brings it
    // to our configuration, its service stopped; it gives
    // ERROR_SERVICE_REQUEST_TIMEOUT when that service did not stop (the
    // entry is configured all the same) and ERROR_SERVICE_MARKED_FOR_DELETE
    // when a deleted entry was still held at the end of its wait.
    // UninstallService gives ERROR_SERVICE_MARKED_FOR_DELETE when the entry
    // is deleted and its service stopped but someone else still holds it,
    // ERROR_SERVICE_REQUEST_TIMEOUT when its service did not stop.
    HRESULT RegisterAsServer(BOOL withTypeLibrary, BOOL asService);
    HRESULT UnregisterAsServer();
    BOOL IsServiceInstalled();
    DWORD InstallService();
    DWORD UninstallService();
    // Gives the entry our description unless it has one.
    void DescribeService(SC_HANDLE service);
    DWORD TellServiceFailure(LPCSTR text, DWORD error);

    char m_serviceName[256];
    SERVICE_STATUS_HANDLE m_statusHandle;
    SERVICE_STATUS m_status;
    DWORD m_loopThreadId;
    BOOL m_isService;
    // COM started this process (its line ends in "-Embedding"): as a local
    // server it ends by itself when no client comes.
    BOOL m_startedByCom;
};

// The process's one module instance.
extern CServiceModule g_serviceModule;

#endif  // KESTOR_SERVICE_SERVICE_MODULE_H
