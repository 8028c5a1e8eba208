#include "checker/service_check.h"

#include <vector>

#include "base/handle_owner.h"
#include "checker/registry_reader.h"

namespace {

const char kService[] = "service";
const char kServiceKey[] = "System\\CurrentControlSet\\Services\\" KESTOR_CHECK_SERVICE_NAME;
const char kQueryRemedy[] = "run the check as a user who may query services";

const char *StateName(DWORD state)
{
    switch (state)
    {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_CONTINUE_PENDING:
        return "continuing";
    case SERVICE_PAUSE_PENDING:
        return "pausing";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return "in an unknown state";
    }
}

// Windows marks an entry it could not delete yet (a handle is still open,
// or the service still runs) with this value; the entry goes when the last
// handle closes, and COM cannot start the service meanwhile.
bool MarkedForDeletion()
{
    ReadKey key;
    DWORD flag = 0;
    RegistryView view = AllViews().back();
    return key.Open(HKEY_LOCAL_MACHINE, kServiceKey, view) == ERROR_SUCCESS &&
           key.ReadDword("DeleteFlag", &flag) == ERROR_SUCCESS && flag != 0;
}

bool IsLocalSystem(const char *account)
{
    // An entry created without an account runs as LocalSystem.
    return account == NULL || account[0] == '\0' || lstrcmpiA(account, "LocalSystem") == 0 ||
           lstrcmpiA(account, ".\\LocalSystem") == 0 ||
           lstrcmpiA(account, "NT AUTHORITY\\SYSTEM") == 0;
}

// False when the service cannot start at all.
bool CheckImagePath(const char *imagePath, const Installation &installation, Findings *findings)
{
    std::string command = imagePath != NULL ? imagePath : "";
    std::string program = ProgramOfCommandLine(command);
    // Unquoted, a path with blanks makes the SCM try its prefixes
    // ("C:\Program.exe", ...) as the program to run as LocalSystem; without
    // blanks there is nothing else to try.
    bool quoted = command.find_first_not_of(" \t") != std::string::npos && command[0] == '"';
    if (!quoted && program.find_first_of(" \t") != std::string::npos)
        findings->Add("its image path " + command + " is not quoted");
    if (!installation.server.path.empty() && !SamePath(program, installation.server.path))
    {
        findings->Add("it runs " + program + ", not " + installation.server.path +
                      " that LocalServer32 names");
    }
    else if (!FileExists({program, false}))
    {
        findings->Add("its program " + program + " does not exist");
        return false;
    }
    return true;
}

std::string StartTypeName(DWORD startType)
{
    return startType == SERVICE_AUTO_START ? "automatic start" : "start on demand";
}

}  // namespace

DWORD RunningServiceProcess()
{
    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    ServiceHandle service(
        manager.Get() == NULL
            ? NULL
            : OpenServiceA(manager.Get(), KESTOR_CHECK_SERVICE_NAME, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (service.Get() == NULL ||
        !QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE *>(&status), sizeof status, &needed) ||
        status.dwCurrentState != SERVICE_RUNNING)
        return 0;
    return status.dwProcessId;
}

CheckResult CheckService(Installation *installation)
{
    if (!installation->modeKnown)
        return NotChecked(kService, "no AppID to tell the mode (see appid)");
    if (!installation->serviceMode)
        return Passed(kService, "not used in local-server mode");

    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager.Get() == NULL)
        return NotChecked(kService, "the service manager", GetLastError(), kQueryRemedy);
    ServiceHandle service(OpenServiceA(manager.Get(), KESTOR_CHECK_SERVICE_NAME,
                                       SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (service.Get() == NULL)
    {
        DWORD error = GetLastError();
        installation->serviceUnusable |=
            error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE;
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            return Failed(kService, "the service " KESTOR_CHECK_SERVICE_NAME
                                    " does not exist: COM cannot start the broker");
        if (error == ERROR_SERVICE_MARKED_FOR_DELETE)
            return Failed(kService, "the service " KESTOR_CHECK_SERVICE_NAME
                                    " is marked for deletion: COM cannot start it");
        return NotChecked(kService, "the service " KESTOR_CHECK_SERVICE_NAME, error, kQueryRemedy);
    }

    DWORD needed = 0;
    QueryServiceConfigA(service.Get(), NULL, 0, &needed);
    std::vector<BYTE> buffer(
        needed > sizeof(QUERY_SERVICE_CONFIGA) ? needed : sizeof(QUERY_SERVICE_CONFIGA));
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    if (!QueryServiceConfigA(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed))
    {
        DWORD error = GetLastError();
        installation->serviceUnusable |= error == ERROR_SERVICE_MARKED_FOR_DELETE;
        if (error == ERROR_SERVICE_MARKED_FOR_DELETE)
            return Failed(kService, "the service " KESTOR_CHECK_SERVICE_NAME
                                    " is marked for deletion: COM cannot start it");
        return NotChecked(kService, "the configuration of " KESTOR_CHECK_SERVICE_NAME, error,
                          kQueryRemedy);
    }
    SERVICE_STATUS_PROCESS status = {};
    if (!QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE *>(&status), sizeof status, &needed))
        return NotChecked(kService, "the state of " KESTOR_CHECK_SERVICE_NAME, GetLastError(),
                          kQueryRemedy);

    // Some findings keep COM from starting the service at all; with the
    // others the call shows what a client gets.
    Findings findings;
    bool startable = true;
    if (MarkedForDeletion())
    {
        findings.Add("it is marked for deletion: COM cannot start it");
        startable = false;
    }
    if ((config->dwServiceType & ~SERVICE_INTERACTIVE_PROCESS) != SERVICE_WIN32_OWN_PROCESS)
        findings.Add("it is not a service of its own process");
    if (config->dwStartType == SERVICE_DISABLED)
    {
        findings.Add("it is disabled: COM cannot start it");
        startable = false;
    }
    else if (config->dwStartType != SERVICE_AUTO_START &&
             config->dwStartType != SERVICE_DEMAND_START)
    {
        findings.Add("its start type " + std::to_string(config->dwStartType) +
                     " is not one a program can have");
        startable = false;
    }
    if (!IsLocalSystem(config->lpServiceStartName))
        findings.Add(std::string("it runs as ") + config->lpServiceStartName +
                     ", not LocalSystem: the broker cannot write for clients");
    startable = CheckImagePath(config->lpBinaryPathName, *installation, &findings) && startable;
    installation->serviceUnusable |= !startable;

    if (!findings.Empty())
        return Failed(kService, "the service " KESTOR_CHECK_SERVICE_NAME ": " + findings.Text());
    std::string state = StateName(status.dwCurrentState);
    if (status.dwCurrentState == SERVICE_RUNNING)
        state += " (PID " + std::to_string(status.dwProcessId) + ")";
    return Passed(kService, KESTOR_CHECK_SERVICE_NAME ": " + StartTypeName(config->dwStartType) +
                                ", LocalSystem, " + state);
}
