// Registration as a local server or as a service: the AppID values that make
// COM start the server through the SCM, the SCM entry itself, and the event
// source the service logs under.
#include "service_module.h"

#include "base/handle_owner.h"
#include "base/registry_key.h"
#include "broker/kestor_interface.h"
#include "deleted_entry_wait.h"
#include "event_source.h"
#include "installer_notice.h"
#include "native_class_link.h"
#include "registrar/module_file_name.h"
#include "service_stop.h"

namespace {

// Script resource that writes the server's AppID key.
const UINT kAppIdScript = 100;

// What is said of an entry that is deleted but still there, by its cause:
// a handle someone else holds, or its own service that will not stop.
const char kGoesWithLastHandle[] =
    "Service marked for deletion: it goes when the last handle to it closes";
const char kGoesWhenStopped[] =
    "Service marked for deletion: it goes when the service stops, which it has not "
    "done within 30 s";
const char kStillHeld[] =
    "Service marked for deletion and still held open after 30 s: close the program that "
    "holds it (the Services console, say) and register again";
const char kStillRunning[] =
    "Service marked for deletion and still running after 30 s: stop it and register again";
const char kNotStopped[] =
    "Service did not stop within 30 s: its new configuration applies from its next start";

// Access to an existing entry that is brought to our configuration.
const DWORD kExistingEntryAccess =
    SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;

// A deleted entry that something still holds counts as removed where no new
// one is to be made: nothing can start it any more, and it goes by itself.
// The installer's user learns that it is still there, and why.
DWORD CountHeldEntryAsRemoved(LPCSTR serviceName, DWORD removal)
{
    if (removal == ERROR_SERVICE_MARKED_FOR_DELETE)
        WriteErrorLine(serviceName, kGoesWithLastHandle);
    else if (removal == ERROR_SERVICE_REQUEST_TIMEOUT)
        WriteErrorLine(serviceName, kGoesWhenStopped);
    else
        return removal;
    return ERROR_SUCCESS;
}

// The entry is there with our configuration, so COM can start the service:
// also when only its old process did not stop (it runs the new
// configuration from its next start).
bool EntryServes(DWORD installResult)
{
    return installResult == ERROR_SUCCESS || installResult == ERROR_SERVICE_REQUEST_TIMEOUT;
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

    // A local server needs the service gone; a service registration keeps
    // the entry and brings it to our configuration below.
    DWORD serviceError = ERROR_SUCCESS;
    if (!asService)
        serviceError = CountHeldEntryAsRemoved(m_serviceName, UninstallService());
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
    RemoveEventSource(m_serviceName);
    if (asService)
    {
        serverKey.SetStringValue("-Service", "ServiceParameters");
        serviceError = InstallService();
        // COM is sent to the service only when there is one: without these
        // it starts the program as a local server, as after -RegServer.
        if (EntryServes(serviceError))
        {
            // The same name as the SCM entry: COM starts the service by it.
            serverKey.SetStringValue(KESTOR_SERVICE_NAME, "LocalService");
            // 64-bit clients' COM finds the AppID, and so the service, only here.
            WriteNativeClassAppId();
            char path[MAX_PATH];
            DWORD length = 0;
            if (SUCCEEDED(GetNarrowModuleFileName(NULL, path, sizeof path, &length)))
                WriteEventSource(m_serviceName, path);
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
    RemoveEventSource(m_serviceName);
    DWORD serviceError = CountHeldEntryAsRemoved(m_serviceName, UninstallService());
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
    ServiceHandle manager(OpenServiceManager());
    if (manager == NULL)
        return TellServiceFailure("Couldn't open service manager", GetLastError());

    // The path goes in quotes: unquoted, a path with blanks lets the SCM try
    // its prefixes ("C:\Program.exe", ...) as the program to run. A
    // truncated path would name another program: no entry rather than that.
    char quotedPath[MAX_PATH + 2];
    DWORD length = 0;
    if (FAILED(GetNarrowModuleFileName(NULL, quotedPath + 1, MAX_PATH, &length)))
        return TellServiceFailure("Couldn't create service", ERROR_FILENAME_EXCED_RANGE);
    quotedPath[0] = '"';
    quotedPath[length + 1] = '"';
    quotedPath[length + 2] = '\0';

    // An existing entry is kept: whatever else an administrator set on it
    // (description, recovery actions, permissions, delayed start) stays, and
    // a handle someone holds to it does not matter.
    DWORD stopped = ERROR_SUCCESS;
    {
        ServiceHandle existing(OpenServiceA(manager, m_serviceName, kExistingEntryAccess));
        if (existing == NULL && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            return TellServiceFailure("Couldn't open service", GetLastError());
        if (existing != NULL)
        {
            // Its old process would go on serving with the old program.
            stopped = StopServiceWithin(existing);
            if (ChangeServiceConfigA(existing, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                     SERVICE_ERROR_NORMAL, quotedPath, NULL, NULL, NULL,
                                     "LocalSystem", "", m_serviceName))
            {
                DescribeService(existing);
                if (stopped == ERROR_SERVICE_REQUEST_TIMEOUT)
                    return TellServiceFailure(kNotStopped, ERROR_SERVICE_REQUEST_TIMEOUT);
                return ERROR_SUCCESS;
            }
            if (GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
                return TellServiceFailure("Couldn't change service", GetLastError());
        }
    }
    if (stopped == ERROR_SERVICE_REQUEST_TIMEOUT)
        return TellServiceFailure(kStillRunning, ERROR_SERVICE_MARKED_FOR_DELETE);
    // Someone deleted the entry while something held it (an uninstallation
    // with the Services console open): it goes when that lets go, and only
    // then can it be created again.
    if (WaitForDeletedEntry(m_serviceName, ENTRY_GONE) != ERROR_SUCCESS)
        return TellServiceFailure(kStillHeld, ERROR_SERVICE_MARKED_FOR_DELETE);

    ServiceHandle created(CreateServiceA(
        manager, m_serviceName, m_serviceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, quotedPath, NULL, NULL, "RPCSS\0", NULL, NULL));
    if (created == NULL)
        return TellServiceFailure("Couldn't create service", GetLastError());
    DescribeService(created);
    return ERROR_SUCCESS;
}

void CServiceModule::DescribeService(SC_HANDLE service)
{
    // An administrator's own description stays; so does one that cannot be
    // read. A text too long for the buffer is one, too.
    BYTE buffer[1024];
    DWORD needed = 0;
    if (!QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, buffer, sizeof buffer, &needed))
        return;
    const SERVICE_DESCRIPTIONA *current = reinterpret_cast<SERVICE_DESCRIPTIONA *>(buffer);
    if (current->lpDescription != NULL && current->lpDescription[0] != '\0')
        return;

    char text[512];
    if (LoadStringA(g_baseModuleRecord.m_resourceInstance, KESTOR_SERVICE_DESCRIPTION_ID, text,
                    sizeof text) <= 0)
        return;
    SERVICE_DESCRIPTIONA description = {text};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
}

DWORD CServiceModule::UninstallService()
{
    if (!IsServiceInstalled())
        return ERROR_SUCCESS;

    DWORD stopped = ERROR_SUCCESS;
    {
        ServiceHandle manager(OpenServiceManager());
        if (manager == NULL)
            return TellServiceFailure("Couldn't open service manager", GetLastError());
        ServiceHandle service(
            OpenServiceA(manager, m_serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
        if (service == NULL)
            return TellServiceFailure("Couldn't open service", GetLastError());
        stopped = StopServiceWithin(service);
        // Deleted already by someone else, and only held: as good as ours.
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return TellServiceFailure("Service could not be deleted", GetLastError());
    }
    // A service that would not stop holds its own entry until it does.
    if (stopped == ERROR_SERVICE_REQUEST_TIMEOUT)
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    // Our own handles are closed now; the entry stays while another handle
    // holds it.
    return WaitForDeletedEntry(m_serviceName, ENTRY_STOPPED);
}

DWORD CServiceModule::TellServiceFailure(LPCSTR text, DWORD error)
{
    TellInstallerUser(m_serviceName, text);
    // An error the call left unset must not pass for success.
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}
