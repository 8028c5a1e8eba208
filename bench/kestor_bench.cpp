// KestorBench.exe: measures the broker side by side with its floors in one
// run, in a prefix of its own (it registers the broker, the proxy and the
// do-nothing servers there), and prints each ratio against its target.
//   KestorBench [N]     N keys for the small interpreter script (default 100)
//   KestorBench --client-widths
//                       in a 64-bit prefix: a 64-bit client's brokered write
//                       next to a 32-bit client's
// Run through scripts/bench.sh, which builds and makes the throw-away prefixes.
// Each measured line has a function of its own; main only orders them.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/handle_owner.h"
#include "bench/null_ids.h"
#include "broker/kestor_interface.h"
#include "registrar/reg_object.h"

namespace {

const int kCalls = 1000;
const int kColdRuns = 7;
const int kStartRuns = 3;
const int kScriptRuns = 5;
const DWORD kSettleMs = 300;

typedef std::vector<double> Samples;

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(Samples values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0)
        return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Mean(const Samples &values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0 : sum / values.size();
}

std::string BinPath(const char *file)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    folder.resize(folder.find_last_of("\\/") + 1);
    return folder + file;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

DWORD RunToEnd(const std::string &commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return GetLastError();
    DWORD code = 0xDEAD0001;
    if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return code;
}

void RunOrSay(const std::string &commandLine, const char *what)
{
    DWORD code = RunToEnd(commandLine);
    if (code != 0)
        std::printf("FAILED: %s ended with 0x%08lX\n", what, static_cast<unsigned long>(code));
}

bool ProcessRunning(const char *exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}

void WaitForNoProcess(const char *exeName)
{
    for (int i = 0; i < 400 && ProcessRunning(exeName); ++i)
        Sleep(25);
}

bool Check(HRESULT hr, const char *what)
{
    if (SUCCEEDED(hr))
        return true;
    std::printf("FAILED: %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return false;
}

// An object of clsid from its local server; NULL, with a FAILED line naming
// what was being activated, when COM cannot give one.
IKestor *ActivateLocal(const CLSID &clsid, const char *what)
{
    IKestor *object = NULL;
    if (!Check(CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                reinterpret_cast<void **>(&object)),
               what))
        return NULL;
    return object;
}

// ---- Services --------------------------------------------------------------

SC_HANDLE OpenNamedService(const char *name, DWORD access)
{
    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    return manager == NULL ? NULL : OpenServiceA(manager, name, access);
}

// The service's state after sending it control (0: query only); 0 when it
// cannot be asked.
DWORD ServiceState(const char *name, DWORD control = 0)
{
    ServiceHandle service(OpenNamedService(name, SERVICE_QUERY_STATUS | SERVICE_STOP));
    SERVICE_STATUS status = {};
    if (service == NULL || !(control != 0 ? ControlService(service, control, &status)
                                          : QueryServiceStatus(service, &status)))
        return 0;
    return status.dwCurrentState;
}

void WaitForServiceState(const char *name, DWORD state, int polls, DWORD pollMs)
{
    for (int i = 0; i < polls && ServiceState(name) != state; ++i)
        Sleep(pollMs);
}

// A fresh session holds the SCM's start lock while its own automatic
// services start; COM then launches the program as a plain local server
// instead. Wait that out by starting the service once by hand.
void StartServiceWhenUnlocked(const char *name)
{
    ServiceHandle service(OpenNamedService(name, SERVICE_START));
    if (service == NULL)
        return;
    for (int attempt = 0; attempt < 180; ++attempt)
    {
        if (StartServiceA(service, 0, NULL))
            break;
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT)
        {
            std::printf("NOTE: StartServiceA(%s) failed: %lu\n", name, error);
            break;
        }
        Sleep(1000);
    }
    WaitForServiceState(name, SERVICE_RUNNING, 400, 25);
}

void StopServiceAndWait(const char *name, const char *exeName)
{
    if (ServiceState(name) == SERVICE_RUNNING)
        ServiceState(name, SERVICE_CONTROL_STOP);
    WaitForServiceState(name, SERVICE_STOPPED, 400, 25);
    WaitForNoProcess(exeName);
}

// ---- The servers measured ----------------------------------------------------

struct Server
{
    const char *label;
    const CLSID *clsid;
    const char *exeName;
    const char *serviceName;  // NULL: COM starts it as a local server
};

const Server kNullServer = {"do-nothing local server", &CLSID_KestorNullServer,
                            "KestorNullServer.exe", NULL};
const Server kBrokerServer = {"ZovKestor as local server", &CLSID_KestorObj, "ZovKestor.exe", NULL};
const Server kBrokerService = {"ZovKestor as service", &CLSID_KestorObj, "ZovKestor.exe",
                               "ZovKestor"};
const Server kNullService = {"do-nothing service", &CLSID_KestorNullService,
                             "KestorNullService.exe", KESTOR_NULL_SERVICE_NAME};

bool SetKeyValue(const std::string &key, const char *name, const std::string &value)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle,
                        NULL) != ERROR_SUCCESS)
        return false;
    LONG result =
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

// The do-nothing server's class registration: a local server only.
bool RegisterNullServer()
{
    return SetKeyValue("CLSID\\" KESTOR_NULL_SERVER_CLSID_TEXT "\\LocalServer32", NULL,
                       Quoted(BinPath("KestorNullServer.exe")));
}

// The do-nothing service gets what "ZovKestor -Service" writes for the
// broker: class with LocalServer32 and AppID, AppID with LocalService and
// ServiceParameters, and an SCM entry created with the same arguments.
bool RegisterNullService()
{
    const std::string clsidKey = "CLSID\\" KESTOR_NULL_SERVICE_CLSID_TEXT;
    const std::string appIdKey = "AppID\\" KESTOR_NULL_SERVICE_APPID_TEXT;
    const std::string program = BinPath("KestorNullService.exe");
    bool written = SetKeyValue(clsidKey + "\\LocalServer32", NULL, Quoted(program)) &&
                   SetKeyValue(clsidKey, "AppID", KESTOR_NULL_SERVICE_APPID_TEXT) &&
                   SetKeyValue(appIdKey, "LocalService", KESTOR_NULL_SERVICE_NAME) &&
                   SetKeyValue(appIdKey, "ServiceParameters", "-Service");
    ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (!written || manager == NULL)
        return false;
    ServiceHandle service(CreateServiceA(
        manager, KESTOR_NULL_SERVICE_NAME, KESTOR_NULL_SERVICE_NAME, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
        Quoted(program).c_str(), NULL, NULL, "RPCSS\0", NULL, NULL));
    return service != NULL;
}

void UnregisterNullService()
{
    StopServiceAndWait(kNullService.serviceName, kNullService.exeName);
    ServiceHandle service(OpenNamedService(KESTOR_NULL_SERVICE_NAME, DELETE));
    if (service == NULL || !DeleteService(service))
        std::printf("NOTE: the do-nothing service could not be deleted\n");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\" KESTOR_NULL_SERVICE_CLSID_TEXT);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "AppID\\" KESTOR_NULL_SERVICE_APPID_TEXT);
}

// ---- Cold activation ---------------------------------------------------------

// One service start as seen from the benchmark, in the tick count Wine's
// trace stamps its lines with.
struct ServiceActivation
{
    const Server *server;
    DWORD begin, served;
};

std::vector<ServiceActivation> g_serviceActivations;

// One cold activation: from nothing running to an IKestor pointer, in
// seconds. The server is then released and left to end (or stopped, for a
// service).
double ColdActivation(const Server &server)
{
    IKestor *object = NULL;
    DWORD beginTick = GetTickCount();
    double start = Now();
    HRESULT hr = CoCreateInstance(*server.clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                  reinterpret_cast<void **>(&object));
    double elapsed = Now() - start;
    DWORD servedTick = GetTickCount();
    if (!Check(hr, server.label))
        return -1;
    if (server.serviceName != NULL)
    {
        if (ServiceState(server.serviceName) != SERVICE_RUNNING)
            std::printf("NOTE: COM did not start %s; the figure is a local server's\n",
                        server.serviceName);
        g_serviceActivations.push_back({&server, beginTick, servedTick});
    }
    object->Release();
    if (server.serviceName != NULL)
        StopServiceAndWait(server.serviceName, server.exeName);
    else
        WaitForNoProcess(server.exeName);
    Sleep(kSettleMs);
    return elapsed;
}

// kColdRuns cold activations of each server after one uncounted round. They
// take turns so that load from elsewhere on the machine hits them alike, and
// each round starts with the next server so that none always follows the
// same one (a server's start is slower while the last one is still ending).
std::vector<Samples> ColdActivations(const std::vector<const Server *> &servers)
{
    for (const Server *server : servers)
        ColdActivation(*server);
    g_serviceActivations.clear();
    std::vector<Samples> seconds(servers.size());
    for (int run = 0; run < kColdRuns; ++run)
        for (size_t turn = 0; turn < servers.size(); ++turn)
        {
            size_t i = (turn + run) % servers.size();
            seconds[i].push_back(ColdActivation(*servers[i]));
        }
    return seconds;
}

// Seconds from StartServiceA to SERVICE_RUNNING, which each service reports
// once its class object is registered: the service's own start-up, no COM.
Samples ServiceStartToRunning(const Server &server)
{
    Samples seconds;
    for (int run = 0; run < kStartRuns; ++run)
    {
        ServiceHandle service(OpenNamedService(server.serviceName, SERVICE_START));
        double start = Now();
        if (service != NULL && StartServiceA(service, 0, NULL))
        {
            WaitForServiceState(server.serviceName, SERVICE_RUNNING, 2000, 5);
            seconds.push_back(Now() - start);
        }
        StopServiceAndWait(server.serviceName, server.exeName);
    }
    return seconds;
}

// ---- Where a COM-started service spends its start ------------------------------

// One line of Wine's debug trace: "SSS.mmm:PPPP:TTTT:class:channel:text".
struct TraceLine
{
    DWORD tick;
    DWORD pid;
    std::string text;
};

std::vector<TraceLine> ReadTrace(const char *unixPath)
{
    std::vector<TraceLine> lines;
    std::string path = std::string("Z:") + unixPath;
    FILE *file = std::fopen(path.c_str(), "r");
    if (file == NULL)
        return lines;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, file) != NULL)
    {
        unsigned long seconds, millis, pid, tid;
        int used = 0;
        if (std::sscanf(buffer, "%lu.%lu:%lx:%lx:%n", &seconds, &millis, &pid, &tid, &used) == 4 &&
            used > 0)
            lines.push_back({static_cast<DWORD>(seconds * 1000 + millis), static_cast<DWORD>(pid),
                             buffer + used});
    }
    std::fclose(file);
    return lines;
}

// Milliseconds of the phases of one COM-started service start.
struct StartPhases
{
    double toScm, toProcess, toDispatcher, toRegistered, toFirstReport, toServed;
};

bool Contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

// Finds one activation's milestones in the trace: the SCM taking the start
// request, the service process's first line (its program mapped), its
// dispatcher, its first status report (on which the SCM answers COM), its
// RUNNING report (made as soon as its class object is registered), and the
// benchmark holding the object. Ticks are Wine's millisecond tick count,
// shared by all processes of the session.
bool FindPhases(const std::vector<TraceLine> &trace, const ServiceActivation &activation,
                StartPhases *phases)
{
    const DWORD slack = 2;  // the tick count is refreshed by the server now and then
    size_t i = 0;
    while (i < trace.size() && trace[i].tick + slack < activation.begin)
        ++i;
    DWORD scm = 0, dispatcher = 0, pid = 0;
    for (; i < trace.size() && trace[i].tick <= activation.served + slack; ++i)
    {
        const TraceLine &line = trace[i];
        if (scm == 0 && Contains(line.text, "svcctl_StartServiceW"))
            scm = line.tick;
        else if (scm != 0 && pid == 0 && Contains(line.text, ":StartServiceCtrlDispatcher"))
        {
            dispatcher = line.tick;
            pid = line.pid;
            break;
        }
    }
    if (pid == 0)
        return false;
    DWORD first = dispatcher, report = 0, running = 0;
    for (const TraceLine &line : trace)
    {
        if (line.pid != pid || line.tick + slack < scm)
            continue;
        first = std::min(first, line.tick);
        if (line.tick < dispatcher || !Contains(line.text, ":SetServiceStatus "))
            continue;
        if (report == 0)
            report = line.tick;
        if (Contains(line.text, " 0x10 0x4 "))
        {
            running = line.tick;
            break;
        }
    }
    if (running == 0)
        return false;
    *phases = {static_cast<double>(scm) - activation.begin,
               static_cast<double>(first) - scm,
               static_cast<double>(dispatcher) - first,
               static_cast<double>(running) - dispatcher,
               static_cast<double>(report) - dispatcher,
               static_cast<double>(activation.served) - running};
    return true;
}

// The phases of every counted service activation, median per server, or
// nothing when the session was not traced (bench.sh traces it).
void PrintServiceStartPhases(const std::vector<const Server *> &servers)
{
    const char *tracePath = std::getenv("KESTOR_EVENT_TRACE");
    std::vector<TraceLine> trace;
    if (tracePath != NULL)
        trace = ReadTrace(tracePath);
    std::vector<std::vector<StartPhases>> found(servers.size());
    for (const ServiceActivation &activation : g_serviceActivations)
    {
        StartPhases phases;
        for (size_t i = 0; i < servers.size(); ++i)
            if (activation.server == servers[i] && FindPhases(trace, activation, &phases))
                found[i].push_back(phases);
    }
    std::printf("\nCold activation as a service, by phase (milliseconds, median; Wine's trace)\n");
    if (std::all_of(found.begin(), found.end(),
                    [](const std::vector<StartPhases> &list) { return list.empty(); }))
    {
        std::printf(
            "  (no phases found: the session was not started with "
            "+timestamp,+pid,+service,+loaddll)\n");
        return;
    }
    std::printf("  %-38s", "");
    for (const Server *server : servers)
        std::printf(" %22s", server->label);
    std::printf("\n");
    struct Row
    {
        const char *label;
        double StartPhases::*phase;
    };
    const Row rows[] = {
        {"client's request to SCM", &StartPhases::toScm},
        {"SCM to process start", &StartPhases::toProcess},
        {"process start to dispatcher", &StartPhases::toDispatcher},
        {"dispatcher to class object registered", &StartPhases::toRegistered},
        {"  of which to the first status report", &StartPhases::toFirstReport},
        {"registered to client served", &StartPhases::toServed},
    };
    for (const Row &row : rows)
    {
        std::printf("  %-38s", row.label);
        for (const std::vector<StartPhases> &list : found)
        {
            Samples values;
            for (const StartPhases &phases : list)
                values.push_back(phases.*row.phase);
            std::printf(" %15.1f (n=%zu)", Median(values), values.size());
        }
        std::printf("\n");
    }
    std::printf(
        "  (the SCM answers COM at the service's first status report; COM then\n"
        "   waits one second before it looks for the class object)\n");
}

// ---- Calls -------------------------------------------------------------------

struct CallFigures
{
    double write, refused, inProcess, nullCall;  // medians
    double writeMean, refusedMean, inProcessMean, nullMean;
};

// Per-call costs in microseconds. The four kinds take turns call by call,
// so load from elsewhere on the machine hits them alike; medians keep a
// descheduled call from weighing in.
CallFigures MeasureCalls(IKestor *broker, IKestor *nullObject)
{
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR name = SysAllocString(L"BenchValue");
    BSTR data = SysAllocString(L"benchmark data of moderate length");
    Samples write, refused, inProcess, nullCall;
    for (int i = 0; i < kCalls; ++i)
    {
        double t0 = Now();
        broker->SetSettingValue(SettingValueString, path, name, data);
        double t1 = Now();
        // Same strings, type 0: the whole transport, no registry work.
        broker->SetSettingValue(static_cast<SettingValueType>(0), path, name, data);
        double t2 = Now();
        HKEY key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W, 0, KEY_READ | KEY_WRITE,
                          &key) == ERROR_SUCCESS)
        {
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                           (SysStringLen(data) + 1) * 2);
            RegCloseKey(key);
        }
        double t3 = Now();
        nullObject->SetSettingValue(SettingValueString, path, name, data);
        double t4 = Now();
        write.push_back((t1 - t0) * 1e6);
        refused.push_back((t2 - t1) * 1e6);
        inProcess.push_back((t3 - t2) * 1e6);
        nullCall.push_back((t4 - t3) * 1e6);
    }
    SysFreeString(path);
    SysFreeString(name);
    SysFreeString(data);
    return {Median(write), Median(refused), Median(inProcess), Median(nullCall),
            Mean(write),   Mean(refused),   Mean(inProcess),   Mean(nullCall)};
}

CallFigures MeasureCallsOnWarmServers()
{
    CallFigures calls = {};
    IKestor *object = ActivateLocal(CLSID_KestorObj, "activating the broker");
    IKestor *nullObject =
        object ? ActivateLocal(CLSID_KestorNullServer, "activating the do-nothing server") : NULL;
    if (object && nullObject)
    {
        calls = MeasureCalls(object, nullObject);
    }
    if (object != NULL)
        object->Release();
    if (nullObject != NULL)
        nullObject->Release();
    WaitForNoProcess(kBrokerServer.exeName);
    WaitForNoProcess(kNullServer.exeName);
    return calls;
}

// ---- Interpreter -------------------------------------------------------------

std::string Script(int keys)
{
    std::string text =
        "HKCU\r\n{\r\n  NoRemove Software\r\n  {\r\n    ForceRemove KestorBench\r\n"
        "    {\r\n";
    for (int i = 0; i < keys; ++i)
    {
        std::string n = std::to_string(i);
        text += "      Key" + n + " = s 'value of key " + n +
                "'\r\n      {\r\n        val Index = d " + n + "\r\n      }\r\n";
    }
    text += "    }\r\n  }\r\n}\r\n";
    return text;
}

// The two values the script gives key number i: its default value and Index.
LONG SetKeyValues(HKEY key, int i)
{
    const std::string text = "value of key " + std::to_string(i);
    const DWORD index = static_cast<DWORD>(i);
    LONG result = RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&index),
                                sizeof index);
    return result;
}

LONG CreateKey(HKEY parent, const char *name, RegistryKeyHandle &key)
{
    return RegCreateKeyExA(parent, name, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, key.Place(), NULL);
}

// What the script makes, with direct registry calls: the floor the
// interpreter is measured against. NoRemove Software is opened, ForceRemove
// KestorBench deleted and made again, and each key made with its two values.
LONG MakeTreeDirectly(int keys)
{
    RegistryKeyHandle software, bench;
    LONG result = CreateKey(HKEY_CURRENT_USER, "Software", software);
    if (result != ERROR_SUCCESS)
        return result;
    RegDeleteTreeA(software, "KestorBench");
    result = CreateKey(software, "KestorBench", bench);
    for (int i = 0; i < keys && result == ERROR_SUCCESS; ++i)
    {
        const std::string n = std::to_string(i);
        RegistryKeyHandle key;
        result = CreateKey(bench, ("Key" + n).c_str(), key);
        if (result == ERROR_SUCCESS)
            result = SetKeyValues(key, i);
    }
    return result;
}

// And removes it again: each key, then KestorBench (values go with their key).
LONG RemoveTreeDirectly(int keys)
{
    {
        RegistryKeyHandle bench;
        LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KestorBench", 0,
                                    KEY_READ | KEY_WRITE, bench.Place());
        for (int i = 0; i < keys && result == ERROR_SUCCESS; ++i)
            result = RegDeleteKeyA(bench, ("Key" + std::to_string(i)).c_str());
        if (result != ERROR_SUCCESS)
            return result;
    }
    return RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KestorBench");
}

// The registry calls the interpreter is to make for the script, in its
// order, made directly: the floor it is judged by. Only its own work on the
// text is left out (reading tokens, the number of a "d" value).

// A key entry on register: opened for reading and writing, else for reading,
// else created; the key held before closes once the new one is open.
LONG OpenOrCreateAsRegistered(HKEY parent, const char *name, RegistryKeyHandle &held)
{
    HKEY key = NULL;
    LONG result = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (result != ERROR_SUCCESS)
        result = RegOpenKeyExA(parent, name, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        result = RegCreateKeyExA(parent, name, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE, NULL, &key, NULL);
    if (result != ERROR_SUCCESS)
        return result;
    held.Close();
    *held.Place() = key;
    return ERROR_SUCCESS;
}

LONG RegisterCallsDirectly(int keys)
{
    RegistryKeyHandle software, bench, key;
    LONG result = OpenOrCreateAsRegistered(HKEY_CURRENT_USER, "Software", software);
    if (result != ERROR_SUCCESS)
        return result;
    // ForceRemove first deletes the tree: here there is none, and opening it
    // fails.
    {
        RegistryKeyHandle stale;
        if (RegOpenKeyExA(software, "KestorBench", 0, KEY_READ | KEY_WRITE, stale.Place()) ==
            ERROR_SUCCESS)
            return ERROR_ALREADY_EXISTS;
        *stale.Place() = NULL;
    }
    result = OpenOrCreateAsRegistered(software, "KestorBench", bench);
    for (int i = 0; i < keys && result == ERROR_SUCCESS; ++i)
    {
        const std::string n = std::to_string(i);
        result = OpenOrCreateAsRegistered(bench, ("Key" + n).c_str(), key);
        if (result == ERROR_SUCCESS)
            result = SetKeyValues(key, i);
    }
    return result;
}

// A key entry on unregister, once its block is done: whether it has
// subkeys, closed, and deleted unless it has some or is "NoRemove".
LONG RemoveAsUnregistered(HKEY parent, const char *name, RegistryKeyHandle &key, bool removable)
{
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL, NULL,
                         NULL) != ERROR_SUCCESS)
        subkeys = 0;
    key.Close();
    return removable && subkeys == 0 ? RegDeleteKeyA(parent, name) : ERROR_SUCCESS;
}

LONG UnregisterCallsDirectly(int keys)
{
    RegistryKeyHandle software, bench;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, software.Place());
    if (result == ERROR_SUCCESS)
        result = RegOpenKeyExA(software, "KestorBench", 0, KEY_READ, bench.Place());
    for (int i = 0; i < keys && result == ERROR_SUCCESS; ++i)
    {
        const std::string name = "Key" + std::to_string(i);
        RegistryKeyHandle key;
        result = RegOpenKeyExA(bench, name.c_str(), 0, KEY_READ, key.Place());
        if (result != ERROR_SUCCESS)
            break;
        // Its block: "val Index", deleted through a handle of its own.
        {
            RegistryKeyHandle values;
            result = RegOpenKeyExA(key, NULL, 0, KEY_WRITE, values.Place());
            if (result == ERROR_SUCCESS)
                result = RegDeleteValueA(values, "Index");
        }
        if (result == ERROR_SUCCESS)
            result = RemoveAsUnregistered(bench, name.c_str(), key, true);
    }
    if (result == ERROR_SUCCESS)
        result = RemoveAsUnregistered(software, "KestorBench", bench, true);
    if (result == ERROR_SUCCESS)
        result = RemoveAsUnregistered(HKEY_CURRENT_USER, "Software", software, false);
    return result;
}

struct ScriptFigures
{
    double registerSeconds, unregisterSeconds;            // the interpreter
    double readSeconds;                                   // its reading alone
    double callsRegisterSeconds, callsUnregisterSeconds;  // its calls, made directly
    double floorRegisterSeconds, floorUnregisterSeconds;  // the smallest tree of direct calls
};

// The interpreter and the direct calls take turns, so load from elsewhere
// on the machine hits them alike; medians of kScriptRuns.
ScriptFigures MeasureScript(int keys)
{
    const std::string script = Script(keys);
    Samples reg, unreg, readOnly, callsReg, callsUnreg, floorReg, floorUnreg;
    for (int run = 0; run < kScriptRuns; ++run)
    {
        CRegObject registrar;
        double start = Now();
        HRESULT hr = registrar.ApplyScriptText(script.c_str(), TRUE);
        reg.push_back(Now() - start);
        Check(hr, "registering the generated script");
        start = Now();
        hr = registrar.ApplyScriptText(script.c_str(), FALSE);
        unreg.push_back(Now() - start);
        Check(hr, "unregistering the generated script");
        // With the tree gone the walk opens one key and skips the rest:
        // what is left is the interpreter's own reading of the script.
        start = Now();
        hr = registrar.ApplyScriptText(script.c_str(), FALSE);
        readOnly.push_back(Now() - start);
        Check(hr, "unregistering the generated script again");

        start = Now();
        LONG result = MakeTreeDirectly(keys);
        floorReg.push_back(Now() - start);
        Check(HRESULT_FROM_WIN32(result), "making the key tree with direct calls");
        start = Now();
        result = RemoveTreeDirectly(keys);
        floorUnreg.push_back(Now() - start);
        Check(HRESULT_FROM_WIN32(result), "removing the key tree with direct calls");

        start = Now();
        result = RegisterCallsDirectly(keys);
        callsReg.push_back(Now() - start);
        Check(HRESULT_FROM_WIN32(result), "the interpreter's register calls, made directly");
        start = Now();
        result = UnregisterCallsDirectly(keys);
        callsUnreg.push_back(Now() - start);
        Check(HRESULT_FROM_WIN32(result), "the interpreter's unregister calls, made directly");
    }
    HKEY left;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KestorBench", 0, KEY_READ, &left) ==
        ERROR_SUCCESS)
    {
        std::printf("NOTE: unregistering left Software\\KestorBench behind\n");
        RegCloseKey(left);
    }
    return {Median(reg),        Median(unreg),    Median(readOnly),  Median(callsReg),
            Median(callsUnreg), Median(floorReg), Median(floorUnreg)};
}

// ---- Report ------------------------------------------------------------------

// Median and spread of a list of seconds, in milliseconds.
void PrintMilliseconds(const char *label, const Samples &seconds, const char *note = "")
{
    Samples sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty())
    {
        std::printf("  %-44s %10s\n", label, "-");
        return;
    }
    std::printf("  %-44s %10.1f   %7.1f .. %7.1f%s\n", label, Median(sorted) * 1e3,
                sorted.front() * 1e3, sorted.back() * 1e3, note);
}

// One ratio of the report: a figure, the floor it is judged by and the most
// it may be, all in one row; a row whose target is kForInformation is not
// judged.
struct Ratio
{
    std::string what;
    double figure, floor;
    double target;
};

const double kForInformation = 0;

void PrintRatio(const Ratio &ratio)
{
    if (!(ratio.figure > 0 && ratio.floor > 0))
        return;
    const double value = ratio.figure / ratio.floor;
    if (ratio.target == kForInformation)
        std::printf("  %-62s %6.3f   (for information)\n", ratio.what.c_str(), value);
    else
        std::printf("  %-62s %6.3f   target <= %.2f   %s\n", ratio.what.c_str(), value,
                    ratio.target, value <= ratio.target ? "met" : "MISSED");
}

// Runs the 32- and the 64-bit timed client at once, taking turns batch by
// batch (clients[first] begins), so that load from elsewhere on the machine
// meets both alike. Their medians per call in microseconds, 0 for a failure.
void RunClientsInTurns(const std::string clients[2], int calls, int first, double figure[2])
{
    const std::string tag = "KestorBenchTurn" + std::to_string(GetCurrentProcessId());
    const std::string names[2] = {tag + "-32", tag + "-64"};
    HANDLE turns[2] = {CreateEventA(NULL, FALSE, FALSE, names[0].c_str()),
                       CreateEventA(NULL, FALSE, FALSE, names[1].c_str())};
    PROCESS_INFORMATION info[2] = {};
    for (int width = 0; width < 2; ++width)
    {
        std::string line = clients[width] + " " + std::to_string(calls) + " " + names[width] + " " +
                           names[1 - width];
        std::vector<char> text(line.begin(), line.end());
        text.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(NULL, text.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                            &info[width]))
            info[width].hProcess = info[width].hThread = NULL;
    }
    SetEvent(turns[first]);
    for (int width = 0; width < 2; ++width)
    {
        DWORD code = 0xDEAD0001;
        if (info[width].hProcess != NULL)
        {
            if (WaitForSingleObject(info[width].hProcess, 120000) == WAIT_OBJECT_0)
                GetExitCodeProcess(info[width].hProcess, &code);
            else
                TerminateProcess(info[width].hProcess, code);
            CloseHandle(info[width].hProcess);
            CloseHandle(info[width].hThread);
        }
        figure[width] = code & 0x80000000 ? 0 : code / 1e3;
        if (figure[width] == 0)
            std::printf("FAILED: %s-bit client: 0x%08lX\n", width ? "64" : "32",
                        static_cast<unsigned long>(code));
    }
    CloseHandle(turns[0]);
    CloseHandle(turns[1]);
}

// A 64-bit client's brokered write next to a 32-bit client's on one 64-bit
// system: KestorBenchClient.exe of each width against one local server that
// this process keeps up. The ratio is the median of the runs' ratios.
int MeasureClientWidths()
{
    const int kRuns = 7;
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
    {
        std::printf("FAILED: client widths are compared in a 64-bit prefix only\n");
        return 1;
    }
    char windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    // The 64-bit regsvr32, as a 32-bit process names it.
    const std::string nativeRegsvr32 =
        "\"" + std::string(windows, length) + "\\Sysnative\\regsvr32.exe\" /s ";
    const std::string broker = "\"" + BinPath("ZovKestor.exe") + "\"";
    if (RunToEnd(broker + " -RegServer") != 0 ||
        RunToEnd("regsvr32.exe /s \"" + BinPath("KestorPr.dll") + "\"") != 0 ||
        RunToEnd(nativeRegsvr32 + "\"" + BinPath("x64\\KestorPr.dll") + "\"") != 0)
    {
        std::printf("FAILED: registering the broker and both proxy libraries\n");
        return 1;
    }
    if (!Check(CoInitializeEx(NULL, COINIT_MULTITHREADED), "CoInitializeEx"))
        return 1;
    IKestor *held = ActivateLocal(CLSID_KestorObj, "activating the broker");
    if (held)
    {
        const std::string clients[2] = {"\"" + BinPath("KestorBenchClient.exe") + "\"",
                                        "\"" + BinPath("x64\\KestorBenchClient.exe") + "\""};
        std::vector<double> medians[2], ratios;
        for (int run = 0; run < kRuns; ++run)
        {
            double figure[2];
            RunClientsInTurns(clients, kCalls, run % 2, figure);
            for (int width = 0; width < 2; ++width)
                if (figure[width] > 0)
                    medians[width].push_back(figure[width]);
            if (figure[0] > 0 && figure[1] > 0)
                ratios.push_back(figure[1] / figure[0]);
        }
        held->Release();
        std::printf(
            "\nPer call on a 64-bit system, median of %d runs of %d, the two clients\n"
            "taking turns every 10 calls (microseconds)\n",
            kRuns, kCalls);
        std::printf("  brokered write, 32-bit client                %10.1f\n", Median(medians[0]));
        std::printf("  brokered write, 64-bit client                %10.1f\n", Median(medians[1]));
        std::printf("\nRatios\n");
        if (!ratios.empty())
            PrintRatio({"brokered write, 64-bit client / 32-bit", Median(ratios), 1.0, 1.10});
    }
    CoUninitialize();
    RunToEnd(broker + " -UnregServer");
    return 0;
}

// ---- Brokered write into a key that holds many values ------------------------

const int kValuesInFullKey = 10000;
const int kFullKeyBatches = 10;

struct FullKeyFigures
{
    double fewValues, manyValues;  // medians per call, microseconds
};

// Adds (or deletes again) kValuesInFullKey values of a typical setting's
// size to the settings key, beside the benchmark's own.
void FillSettingsKey(bool add)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return;
    const wchar_t data[] = L"a setting of typical length";
    for (int i = 0; i < kValuesInFullKey; ++i)
    {
        wchar_t name[32];
        swprintf(name, 32, L"KestorBenchFill%05d", i);
        if (add)
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data), sizeof data);
        else
            RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
}

// The brokered write with kValuesInFullKey values in the key next to the
// same write with the key as MeasureCalls leaves it: the broker checks the
// key's bounds before each write, and that check must not grow with the
// key. Batches alternate between the two states, so load from elsewhere on
// the machine meets both alike.
FullKeyFigures MeasureWritesIntoAFullKey()
{
    FullKeyFigures figures = {};
    IKestor *object = ActivateLocal(CLSID_KestorObj, "activating the broker");
    if (object == NULL)
        return figures;
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR name = SysAllocString(L"BenchValue");
    BSTR data = SysAllocString(L"benchmark data of moderate length");
    Samples few, many;
    bool full = false;
    for (int batch = 0; batch < kFullKeyBatches; ++batch)
    {
        Samples &samples = full ? many : few;
        for (int i = 0; i < kCalls * 2 / kFullKeyBatches; ++i)
        {
            double start = Now();
            HRESULT hr = object->SetSettingValue(SettingValueString, path, name, data);
            samples.push_back((Now() - start) * 1e6);
            if (FAILED(hr))
            {
                Check(hr, "the brokered write into a full key");
                batch = kFullKeyBatches;
                break;
            }
        }
        full = !full;
        FillSettingsKey(full);
    }
    if (full)
        FillSettingsKey(false);
    SysFreeString(path);
    SysFreeString(name);
    SysFreeString(data);
    object->Release();
    WaitForNoProcess(kBrokerServer.exeName);
    figures.fewValues = Median(few);
    figures.manyValues = Median(many);
    return figures;
}

void PrintWritesIntoAFullKey(const FullKeyFigures &figures)
{
    std::printf("\nBrokered write, %d calls of each in alternating batches (microseconds)\n",
                kCalls);
    std::printf("  into the key as above                        %10.1f\n", figures.fewValues);
    std::printf("  into the key holding %5d other values      %10.1f\n", kValuesInFullKey,
                figures.manyValues);
}

// ---- A new name into the key one caller has filled -----------------------------

// What one caller can leave in the key through the broker alone: tiny
// values up to near the count bound, and one larger value, so that the
// count times the largest value is past the size bound while the key holds
// little.
const int kTinyValues = 65000;
const int kLargerValueChars = 599;  // 1,200 bytes stored
const int kFilledKeyRounds = 5;
const int kNewNamesPerPhase = 60;

struct FilledKeyFigures
{
    double emptyKey, filledKey;  // medians per new-name write, microseconds
    double ratio;                // median of the rounds' filled / empty
    double firstAfterFill;       // the first write after each fill: the one count
};

// The settings key emptied (deleted; the broker makes it again) or filled.
// Either is someone else's change to the broker, which counts the key again.
void EmptySettingsKey()
{
    RegDeleteKeyW(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W);
}

void FillSettingsKeyAsOneCallerCould()
{
    RegistryKeyHandle key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        key.Place(), NULL) != ERROR_SUCCESS)
    {
        *key.Place() = NULL;
        std::printf("FAILED: filling the settings key\n");
        return;
    }
    // The filler's names sort before the measured ones, so that Wine's
    // sorted list of values takes each measured name at its end instead of
    // moving 65,000 entries; Windows keeps a key's values in no order.
    const wchar_t tiny[] = L"";
    for (int i = 0; i < kTinyValues; ++i)
    {
        wchar_t name[16];
        swprintf(name, 16, L"A%05d", i);
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(tiny), sizeof tiny);
    }
    const std::wstring larger(kLargerValueChars, L'x');
    RegSetValueExW(key, L"A-larger", 0, REG_SZ, reinterpret_cast<const BYTE *>(larger.c_str()),
                   static_cast<DWORD>((larger.size() + 1) * sizeof(wchar_t)));
}

// New-name writes into the key filled as above, next to the same writes
// into an empty key. A fill costs 65,000 registry calls and emptying the key
// one, so each round fills the key, writes into it, empties it and writes
// into that at once: the two phases of a round meet the same load, and the
// ratio is the median of the rounds' ratios. The first write of a phase is
// not among the figures: it counts the key after the fill, or creates it.
FilledKeyFigures MeasureNewNamesIntoAFilledKey()
{
    FilledKeyFigures figures = {};
    IKestor *object = ActivateLocal(CLSID_KestorObj, "activating the broker");
    if (object == NULL)
        return figures;
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR data = SysAllocString(L"a new setting");
    Samples empty, filled, first, ratios;
    bool failed = false;
    for (int round = 0; round < kFilledKeyRounds && !failed; ++round)
    {
        Samples phases[2];  // filled, empty
        EmptySettingsKey();
        FillSettingsKeyAsOneCallerCould();
        for (int phase = 0; phase < 2 && !failed; ++phase)
        {
            if (phase == 1)
                EmptySettingsKey();
            for (int i = 0; i <= kNewNamesPerPhase; ++i)
            {
                wchar_t text[32];
                swprintf(text, 32, L"BenchNew%03d", i);
                BSTR name = SysAllocString(text);
                double start = Now();
                HRESULT hr = object->SetSettingValue(SettingValueString, path, name, data);
                double micros = (Now() - start) * 1e6;
                SysFreeString(name);
                if (FAILED(hr))
                {
                    failed = !Check(hr, "a new-name write into the filled key");
                    break;
                }
                if (i > 0)
                    phases[phase].push_back(micros);
                else if (phase == 0)
                    first.push_back(micros);
            }
        }
        filled.insert(filled.end(), phases[0].begin(), phases[0].end());
        empty.insert(empty.end(), phases[1].begin(), phases[1].end());
        if (!failed)
            ratios.push_back(Median(phases[0]) / Median(phases[1]));
    }
    EmptySettingsKey();
    SysFreeString(path);
    SysFreeString(data);
    object->Release();
    WaitForNoProcess(kBrokerServer.exeName);
    figures.emptyKey = Median(empty);
    figures.filledKey = Median(filled);
    figures.ratio = Median(ratios);
    figures.firstAfterFill = Median(first);
    return figures;
}

void PrintNewNamesIntoAFilledKey(const FilledKeyFigures &figures)
{
    std::printf("\nBrokered new-name write, %d of each in %d rounds (microseconds, median)\n",
                kNewNamesPerPhase * kFilledKeyRounds, kFilledKeyRounds);
    std::printf("  into an empty key                            %10.1f\n", figures.emptyKey);
    char label[64];
    std::snprintf(label, sizeof label, "into %d tiny values and one of %d bytes", kTinyValues,
                  (kLargerValueChars + 1) * 2);
    std::printf("  %-44s %10.1f\n", label, figures.filledKey);
    std::printf("  the first after each fill, which counts the key: %.0f ms\n",
                figures.firstAfterFill / 1e3);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--client-widths") == 0)
        return MeasureClientWidths();
    int keys = argc > 1 ? std::atoi(argv[1]) : 100;
    if (keys <= 0)
        keys = 100;
    std::setvbuf(stdout, NULL, _IONBF, 0);

    std::printf(
        "Kestor benchmark: setting up (registering the broker, the proxy and the "
        "do-nothing servers)\n");
    const std::string broker = Quoted(BinPath("ZovKestor.exe"));
    RunOrSay(broker + " -RegServer", "ZovKestor -RegServer");
    RunOrSay("regsvr32.exe /s " + Quoted(BinPath("KestorPr.dll")), "regsvr32 KestorPr.dll");
    if (!RegisterNullServer())
        std::printf("FAILED: registering the do-nothing server\n");
    if (!RegisterNullService())
        std::printf("FAILED: registering the do-nothing service\n");

    if (!Check(CoInitializeEx(NULL, COINIT_MULTITHREADED), "CoInitializeEx"))
        return 1;

    // The session's first activation also starts COM's own helpers: the
    // uncounted first round keeps it out of the figures.
    const std::vector<const Server *> localPhase = {&kNullServer, &kBrokerServer};
    std::vector<Samples> coldLocal = ColdActivations(localPhase);

    CallFigures calls = MeasureCallsOnWarmServers();
    FullKeyFigures fullKey = MeasureWritesIntoAFullKey();
    FilledKeyFigures filledKey = MeasureNewNamesIntoAFilledKey();

    // The same program registered as a service: COM starts it through the SCM.
    RunOrSay(broker + " -Service", "ZovKestor -Service");
    StartServiceWhenUnlocked(kBrokerService.serviceName);
    StopServiceAndWait(kBrokerService.serviceName, kBrokerService.exeName);
    const std::vector<const Server *> servicePhase = {&kNullServer, &kBrokerService, &kNullService};
    std::vector<Samples> coldService = ColdActivations(servicePhase);
    Samples brokerStart = ServiceStartToRunning(kBrokerService);
    Samples nullStart = ServiceStartToRunning(kNullService);
    UnregisterNullService();
    RunToEnd(broker + " -UnregServer");
    CoUninitialize();

    ScriptFigures small = MeasureScript(keys);
    ScriptFigures large = MeasureScript(keys * 10);

    std::printf("\nPer call, %d of each taken in turns (microseconds)     median      mean\n",
                kCalls);
    std::printf("  brokered write across processes              %10.1f %9.1f\n", calls.write,
                calls.writeMean);
    std::printf("  refused call (transport floor)               %10.1f %9.1f\n", calls.refused,
                calls.refusedMean);
    std::printf("  in-process RegOpenKeyExW+RegSetValueExW+Close %9.1f %9.1f\n", calls.inProcess,
                calls.inProcessMean);
    std::printf("  do-nothing server's call (for comparison)    %10.1f %9.1f\n", calls.nullCall,
                calls.nullMean);

    std::printf(
        "\nCold activation, %d of each taken in turns (milliseconds)   median   "
        "min .. max\n",
        kColdRuns);
    PrintMilliseconds(kNullServer.label, coldLocal[0]);
    PrintMilliseconds(kBrokerServer.label, coldLocal[1]);
    PrintMilliseconds("do-nothing local server (service phase)", coldService[0]);
    PrintMilliseconds(kBrokerService.label, coldService[1]);
    PrintMilliseconds(kNullService.label, coldService[2]);
    PrintMilliseconds("ZovKestor service, StartServiceA to RUNNING", brokerStart, "  (no COM)");
    PrintMilliseconds("do-nothing service, StartServiceA to RUNNING", nullStart, "  (no COM)");
    std::printf(
        "  (COM under Wine looks for a starting server's class object once a\n"
        "   second, so activation times fall into whole-second steps)\n");
    PrintServiceStartPhases({&kBrokerService, &kNullService});

    std::printf(
        "\nInterpreter against the same registry calls made directly, and against\n"
        "the smallest tree of direct calls that makes the same keys,\n"
        "median of %d runs taken in turns (milliseconds)        register  unregister\n",
        kScriptRuns);
    for (int scale = 0; scale < 2; ++scale)
    {
        const ScriptFigures &figures = scale == 0 ? small : large;
        const int count = scale == 0 ? keys : keys * 10;
        std::printf("  %5d keys, interpreter                            %9.1f %11.1f\n", count,
                    figures.registerSeconds * 1e3, figures.unregisterSeconds * 1e3);
        std::printf("  %5d keys, its registry calls made directly       %9.1f %11.1f\n", count,
                    figures.callsRegisterSeconds * 1e3, figures.callsUnregisterSeconds * 1e3);
        std::printf("  %5d keys, smallest tree of direct calls          %9.1f %11.1f\n", count,
                    figures.floorRegisterSeconds * 1e3, figures.floorUnregisterSeconds * 1e3);
        std::printf("  %5d keys, interpreter, nothing left to remove    %9s %11.1f\n", count, "",
                    figures.readSeconds * 1e3);
    }
    std::printf(
        "  (its calls: three to make a new key where one would do, seven to remove\n"
        "   one; nothing left to remove: the script is read and one key opened, so\n"
        "   that line is the interpreter's own work)\n");

    PrintWritesIntoAFullKey(fullKey);
    PrintNewNamesIntoAFilledKey(filledKey);

    const std::string n = std::to_string(keys) + " keys";
    const std::string tenN = std::to_string(keys * 10) + " keys";
    const Ratio ratios[] = {
        {"brokered write / (floor + in-process write)", calls.write,
         calls.refused + calls.inProcess, 1.15},
        {"brokered write, 10,000 values in the key / few", fullKey.manyValues, fullKey.fewValues,
         1.05},
        {"new-name write, filled key / empty key (rounds' median)", filledKey.ratio, 1.0, 1.10},
        {"cold activation, local server / do-nothing", Median(coldLocal[1]), Median(coldLocal[0]),
         1.10},
        {"cold activation, service / do-nothing service", Median(coldService[1]),
         Median(coldService[2]), 1.10},
        {"interpreter / its calls made directly, register, " + n, small.registerSeconds,
         small.callsRegisterSeconds, 1.3},
        {"interpreter / its calls made directly, unregister, " + n, small.unregisterSeconds,
         small.callsUnregisterSeconds, 1.3},
        {"interpreter / its calls made directly, register, " + tenN, large.registerSeconds,
         large.callsRegisterSeconds, 1.3},
        {"interpreter / its calls made directly, unregister, " + tenN, large.unregisterSeconds,
         large.callsUnregisterSeconds, 1.3},
        {"interpreter register, 10 N / N", large.registerSeconds, small.registerSeconds, 11.0},
        {"interpreter unregister, 10 N / N", large.unregisterSeconds, small.unregisterSeconds,
         11.0},
        {"interpreter / smallest tree, register, " + n, small.registerSeconds,
         small.floorRegisterSeconds, kForInformation},
        {"interpreter / smallest tree, unregister, " + n, small.unregisterSeconds,
         small.floorUnregisterSeconds, kForInformation},
        {"interpreter / smallest tree, register, " + tenN, large.registerSeconds,
         large.floorRegisterSeconds, kForInformation},
        {"interpreter / smallest tree, unregister, " + tenN, large.unregisterSeconds,
         large.floorUnregisterSeconds, kForInformation},
    };
    std::printf("\nRatios\n");
    for (const Ratio &ratio : ratios)
        PrintRatio(ratio);
    return 0;
}
