// Registration as a local server or as a service: the AppID values that make
// COM start the server through the SCM, and the SCM entry itself.
#include "service_module.h"

#include "base/registry_key.h"
#include "broker/kestor_interface.h"
#include "native_class_link.h"
#include "registrar/module_file_name.h"

namespace {

// Script resource that writes the server's AppID key.
const UINT kAppIdScript = 100;

// How long a removal waits for a stopped service's entry to go.
const DWORD kDeletionWaitMs = 30000;
const DWORD kDeletionPollMs = 50;

// Owns a handle of the service manager or of one service.
class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle()
    {
        if (m_handle != NULL)
            CloseServiceHandle(m_handle);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;

    operator SC_HANDLE() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

SC_HANDLE OpenServiceManager()
{
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

}  // namespace

HRESULT CServiceModule::RegisterAsServer(BOOL withTypeLibrary, BOOL asService)
{
    // The service entry and LocalServer32 get the program's narrow path.
    // Where that path does not name the program's own file, refuse before
    // anything changes, so that a working installation stays as it is.
    HRESULT hr = CheckNarrowModuleFileName(NULL);
    if (FAILED(hr))
        return hr;

    hr = CoInitialize(NULL);
    if (FAILED(hr))
        return hr;

    UninstallService();
    // Creates the AppID key edited below.
    ApplyRegistryScript(kAppIdScript, TRUE, NULL);

    CRegistryKey appIdKey;
    LONG error = appIdKey.Open(HKEY_CLASSES_ROOT, "AppID", KEY_WRITE);
    if (error != ERROR_SUCCESS)
    {
        CoUninitialize();
        return error;
    }
    CRegistryKey serverKey;
    error = serverKey.Open(appIdKey, KESTOR_APPID_TEXT, KEY_WRITE);
    if (error != ERROR_SUCCESS)
    {
        appIdKey.Close();
        CoUninitialize();
        return error;
    }

    RegDeleteValueA(serverKey, "LocalService");
    RemoveNativeClassAppId();
    if (asService)
    {
        // The same name as the SCM entry: COM starts the service by it.
        serverKey.SetStringValue(KESTOR_SERVICE_NAME, "LocalService");
        serverKey.SetStringValue("-Service", "ServiceParameters");
        // 64-bit clients' COM finds the AppID, and so the service, only here.
        WriteNativeClassAppId();
        InstallService();
    }

    hr = RegisterServerObjects(withTypeLibrary, NULL);
    CoUninitialize();
    return hr;
}

HRESULT CServiceModule::UnregisterAsServer()
{
    HRESULT hr = CoInitialize(NULL);
    if (FAILED(hr))
        return hr;
    ApplyRegistryScript(kAppIdScript, FALSE, NULL);
    RemoveNativeClassAppId();
    UninstallService();
    UnregisterServerObjects(TRUE, NULL);
    CoUninitialize();
    return S_OK;
}

BOOL CServiceModule::IsServiceInstalled()
{
    ServiceHandle manager(OpenServiceManager());
    if (manager == NULL)
        return FALSE;
    ServiceHandle service(OpenServiceA(manager, m_serviceName, SERVICE_QUERY_CONFIG));
    return service != NULL;
}

BOOL CServiceModule::InstallService()
{
    // An existing entry keeps its configuration.
    if (IsServiceInstalled())
        return TRUE;

    ServiceHandle manager(OpenServiceManager());
    if (manager == NULL)
    {
        MessageBoxA(NULL, "Couldn't open service manager", m_serviceName, MB_OK);
        return FALSE;
    }

    // The path goes in quotes: unquoted, a path with blanks lets the SCM try
    // its prefixes ("C:\Program.exe", ...) as the program to run.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    SC_HANDLE created = NULL;
    if (length > 0 && length < sizeof path)
    {
        char quotedPath[MAX_PATH + 2];
        quotedPath[0] = '"';
        lstrcpyA(quotedPath + 1, path);
        quotedPath[length + 1] = '"';
        quotedPath[length + 2] = '\0';
        created = CreateServiceA(manager, m_serviceName, m_serviceName, SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, quotedPath, NULL, NULL, "RPCSS\0", NULL,
                                 NULL);
    }
    // A truncated path would name another program: no entry rather than that.
    if (created == NULL)
    {
        MessageBoxA(NULL, "Couldn't create service", m_serviceName, MB_OK);
        return FALSE;
    }
    CloseServiceHandle(created);
    return TRUE;
}

BOOL CServiceModule::UninstallService()
{
    if (!IsServiceInstalled())
        return TRUE;

    BOOL wasRunning = FALSE;
    {
        ServiceHandle manager(OpenServiceManager());
        if (manager == NULL)
        {
            MessageBoxA(NULL, "Couldn't open service manager", m_serviceName, MB_OK);
            return FALSE;
        }
        ServiceHandle service(OpenServiceA(manager, m_serviceName, SERVICE_STOP | DELETE));
        if (service == NULL)
        {
            MessageBoxA(NULL, "Couldn't open service", m_serviceName, MB_OK);
            return FALSE;
        }
        SERVICE_STATUS status;
        wasRunning = ControlService(service, SERVICE_CONTROL_STOP, &status);
        if (!DeleteService(service))
        {
            MessageBoxA(NULL, "Service could not be deleted", m_serviceName, MB_OK);
            return FALSE;
        }
    }
    // A running service keeps its entry, marked for deletion, until it has
    // stopped. A service registration that follows at once would take that
    // entry for an installed service, and end with none at all once the old
    // one stops; so wait, for a bounded time, until the entry has gone.
    if (wasRunning)
    {
        for (DWORD waited = 0; waited < kDeletionWaitMs && IsServiceInstalled();
             waited += kDeletionPollMs)
            Sleep(kDeletionPollMs);
    }
    return TRUE;
}
