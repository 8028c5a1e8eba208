// Registration as a local server or as a service: the AppID values that make
// COM start the server through the SCM, and the SCM entry itself.
#include "service_module.h"

#include "base/handle_owner.h"
#include "base/registry_key.h"
#include "broker/kestor_interface.h"
#include "deleted_entry_wait.h"
#include "installer_notice.h"
#include "native_class_link.h"
#include "registrar/module_file_name.h"

namespace {

// Script resource that writes the server's AppID key.
const UINT kAppIdScript = 100;

// A deleted entry that something still holds counts as removed where no new
// one is to be made: nothing can start it any more, and it goes by itself.
// The installer's user learns that it is still there.
DWORD CountHeldEntryAsRemoved(LPCSTR serviceName, DWORD removal)
{
    if (removal != ERROR_SERVICE_MARKED_FOR_DELETE)
        return removal;
    WriteErrorLine(serviceName,
                   "Service marked for deletion: it goes when the last handle to it closes");
    return ERROR_SUCCESS;
}

SC_HANDLE OpenServiceManager()
{
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

// The result of a registration: a failed class registration leaves COM
// nothing to start and wins; else the service entry's failure, if any.
HRESULT RegistrationResult(HRESULT classResult, DWORD serviceError)
{
    if (FAILED(classResult) || serviceError == ERROR_SUCCESS)
        return classResult;
    return HRESULT_FROM_WIN32(serviceError);
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

    // A service entry is created anew only once the old one has gone; for a
    // local server it is enough that the old service no longer runs.
    DWORD serviceError = UninstallService(asService);
    if (!asService)
        serviceError = CountHeldEntryAsRemoved(m_serviceName, serviceError);
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
        serverKey.SetStringValue("-Service", "ServiceParameters");
        if (serviceError == ERROR_SERVICE_MARKED_FOR_DELETE)
            TellInstallerUser(m_serviceName, "Couldn't create service");
        else if (serviceError == ERROR_SUCCESS)
            serviceError = InstallService();
        // COM is sent to the service only when there is one: without these
        // it starts the program as a local server, as after -RegServer.
        if (serviceError == ERROR_SUCCESS)
        {
            // The same name as the SCM entry: COM starts the service by it.
            serverKey.SetStringValue(KESTOR_SERVICE_NAME, "LocalService");
            // 64-bit clients' COM finds the AppID, and so the service, only here.
            WriteNativeClassAppId();
        }
    }

    hr = RegisterServerObjects(withTypeLibrary, NULL);
    CoUninitialize();
    return RegistrationResult(hr, serviceError);
}

HRESULT CServiceModule::UnregisterAsServer()
{
    HRESULT hr = CoInitialize(NULL);
    if (FAILED(hr))
        return hr;
    ApplyRegistryScript(kAppIdScript, FALSE, NULL);
    RemoveNativeClassAppId();
    DWORD serviceError = CountHeldEntryAsRemoved(m_serviceName, UninstallService(FALSE));
    UnregisterServerObjects(TRUE, NULL);
    CoUninitialize();
    return HRESULT_FROM_WIN32(serviceError);
}

BOOL CServiceModule::IsServiceInstalled()
{
    // Connecting is enough to see the entry: a caller without the rights to
    // change it still learns that it is there, and fails where it would.
    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager == NULL)
        return FALSE;
    ServiceHandle service(OpenServiceA(manager, m_serviceName, SERVICE_QUERY_CONFIG));
    return service != NULL;
}

DWORD CServiceModule::InstallService()
{
    // An existing entry keeps its configuration.
    if (IsServiceInstalled())
        return ERROR_SUCCESS;

    ServiceHandle manager(OpenServiceManager());
    if (manager == NULL)
        return TellServiceFailure("Couldn't open service manager", GetLastError());

    // The path goes in quotes: unquoted, a path with blanks lets the SCM try
    // its prefixes ("C:\Program.exe", ...) as the program to run.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    // A truncated path would name another program: no entry rather than that.
    if (length == 0 || length >= sizeof path)
        return TellServiceFailure("Couldn't create service", ERROR_FILENAME_EXCED_RANGE);
    char quotedPath[MAX_PATH + 2];
    quotedPath[0] = '"';
    lstrcpyA(quotedPath + 1, path);
    quotedPath[length + 1] = '"';
    quotedPath[length + 2] = '\0';
    ServiceHandle created(CreateServiceA(manager, m_serviceName, m_serviceName,
                                         SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, quotedPath,
                                         NULL, NULL, "RPCSS\0", NULL, NULL));
    if (created == NULL)
        return TellServiceFailure("Couldn't create service", GetLastError());
    return ERROR_SUCCESS;
}

DWORD CServiceModule::UninstallService(BOOL untilGone)
{
    if (!IsServiceInstalled())
        return ERROR_SUCCESS;

    {
        ServiceHandle manager(OpenServiceManager());
        if (manager == NULL)
            return TellServiceFailure("Couldn't open service manager", GetLastError());
        ServiceHandle service(OpenServiceA(manager, m_serviceName, SERVICE_STOP | DELETE));
        if (service == NULL)
            return TellServiceFailure("Couldn't open service", GetLastError());
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        // Deleted already by someone else, and only held: as good as ours.
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return TellServiceFailure("Service could not be deleted", GetLastError());
    }
    // Our own handles are closed now; the entry stays while the service runs
    // or another handle holds it.
    return WaitForDeletedEntry(m_serviceName, untilGone ? ENTRY_GONE : ENTRY_STOPPED);
}

DWORD CServiceModule::TellServiceFailure(LPCSTR text, DWORD error)
{
    TellInstallerUser(m_serviceName, text);
    // An error the call left unset must not pass for success.
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}
