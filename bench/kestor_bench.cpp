// KestorBench.exe: measures the broker side by side with its floors in one
// run, in a prefix of its own (it registers the broker, the proxy and the
// do-nothing server there), and prints each ratio against its target.
//   KestorBench [N]     N keys for the small interpreter script (default 100)
//   KestorBench --client-widths
//                       in a 64-bit prefix: a 64-bit client's brokered write
//                       next to a 32-bit client's
// Run through scripts/bench.sh, which builds and makes the throw-away prefixes.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/null_server.h"
#include "broker/kestor_interface.h"
#include "registrar/reg_object.h"

namespace {

const int kCalls = 1000;
const int kColdRuns = 5;

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0)
        return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string BinPath(const char *file)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    folder.resize(folder.find_last_of("\\/") + 1);
    return folder + file;
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

DWORD ServiceState(DWORD control)
{
    DWORD state = 0;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return 0;
    SC_HANDLE service = OpenServiceA(manager, "ZovKestor", SERVICE_QUERY_STATUS | SERVICE_STOP);
    if (service != NULL)
    {
        SERVICE_STATUS status = {};
        if (control != 0 ? ControlService(service, control, &status)
                         : QueryServiceStatus(service, &status))
            state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

// A fresh session holds the SCM's start lock while its own automatic
// services start; COM then launches the program as a plain local server
// instead. Wait that out by starting the service once by hand.
void StartServiceWhenUnlocked()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return;
    SC_HANDLE service = OpenServiceA(manager, "ZovKestor", SERVICE_START);
    if (service != NULL)
    {
        for (int attempt = 0; attempt < 180; ++attempt)
        {
            if (StartServiceA(service, 0, NULL))
                break;
            DWORD error = GetLastError();
            if (error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT)
            {
                std::printf("NOTE: StartServiceA failed: %lu\n", error);
                break;
            }
            Sleep(1000);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    for (int i = 0; i < 400 && ServiceState(0) != SERVICE_RUNNING; ++i)
        Sleep(25);
}

// Seconds from StartServiceA to SERVICE_RUNNING, which the service reports
// once its class object is registered: the service's own start-up, no COM.
double ServiceStartToRunning()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return -1;
    double elapsed = -1;
    SC_HANDLE service = OpenServiceA(manager, "ZovKestor", SERVICE_START);
    if (service != NULL)
    {
        double start = Now();
        if (StartServiceA(service, 0, NULL))
        {
            for (int i = 0; i < 2000 && ServiceState(0) != SERVICE_RUNNING; ++i)
                Sleep(5);
            elapsed = Now() - start;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return elapsed;
}

void StopServiceAndWait()
{
    if (ServiceState(0) == SERVICE_RUNNING)
        ServiceState(SERVICE_CONTROL_STOP);
    for (int i = 0; i < 400 && ServiceState(0) != SERVICE_STOPPED; ++i)
        Sleep(25);
    WaitForNoProcess("ZovKestor.exe");
}

bool Check(HRESULT hr, const char *what)
{
    if (SUCCEEDED(hr))
        return true;
    std::printf("FAILED: %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return false;
}

// The do-nothing server's class registration: a local server only.
bool RegisterNullServer()
{
    std::string key = "CLSID\\" KESTOR_NULL_SERVER_CLSID_TEXT "\\LocalServer32";
    std::string command = "\"" + BinPath("KestorNullServer.exe") + "\"";
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle,
                        NULL) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(handle, NULL, 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(command.c_str()),
                                 static_cast<DWORD>(command.size() + 1));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

// One cold activation: from nothing running to an IKestor pointer. The
// server is then released and left to end (or stopped, for the service).
double ColdActivation(REFCLSID clsid, const char *exeName, bool service)
{
    IKestor *object = NULL;
    double start = Now();
    HRESULT hr = CoCreateInstance(clsid, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                  reinterpret_cast<void **>(&object));
    double elapsed = Now() - start;
    if (!Check(hr, exeName))
        return -1;
    if (service && ServiceState(0) != SERVICE_RUNNING)
        std::printf("NOTE: COM did not start the service; the figure is a local server's\n");
    object->Release();
    if (service)
        StopServiceAndWait();
    else
        WaitForNoProcess(exeName);
    return elapsed;
}

struct CallFigures
{
    double write, refused, inProcess, nullCall;          // medians
    double writeMean, refusedMean, inProcessMean, nullMean;
};

double Mean(const std::vector<double> &values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0 : sum / values.size();
}

// Per-call costs in microseconds. The four kinds take turns call by call,
// so load from elsewhere on the machine hits them alike; medians keep a
// descheduled call from weighing in.
CallFigures MeasureCalls(IKestor *broker, IKestor *nullObject)
{
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR name = SysAllocString(L"BenchValue");
    BSTR data = SysAllocString(L"benchmark data of moderate length");
    std::vector<double> write, refused, inProcess, nullCall;
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

std::string Script(int keys)
{
    std::string text = "HKCU\r\n{\r\n  NoRemove Software\r\n  {\r\n    ForceRemove KestorBench\r\n"
                       "    {\r\n";
    for (int i = 0; i < keys; ++i)
    {
        std::string n = std::to_string(i);
        text += "      Key" + n + " = s 'value of key " + n + "'\r\n      {\r\n        val Index = d " +
                n + "\r\n      }\r\n";
    }
    text += "    }\r\n  }\r\n}\r\n";
    return text;
}

struct ScriptFigures
{
    double registerSeconds, unregisterSeconds;
};

ScriptFigures MeasureScript(int keys)
{
    const std::string script = Script(keys);
    std::vector<double> reg, unreg;
    for (int run = 0; run < 3; ++run)
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
    }
    HKEY left;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KestorBench", 0, KEY_READ, &left) ==
        ERROR_SUCCESS)
    {
        std::printf("NOTE: unregistering left Software\\KestorBench behind\n");
        RegCloseKey(left);
    }
    return {Median(reg), Median(unreg)};
}

void Verdict(const char *what, double ratio, double target)
{
    std::printf("  %-46s %6.3f   target <= %.2f   %s\n", what, ratio, target,
                ratio <= target ? "met" : "MISSED");
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
        std::string line = clients[width] + " " + std::to_string(calls) + " " + names[width] +
                           " " + names[1 - width];
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
    const std::string nativeRegsvr32 = "\"" + std::string(windows, length) +
                                       "\\Sysnative\\regsvr32.exe\" /s ";
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
    IKestor *held = NULL;
    if (Check(CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                               reinterpret_cast<void **>(&held)),
              "activating the broker"))
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
        std::printf("\nPer call on a 64-bit system, median of %d runs of %d, the two clients\n"
                    "taking turns every 10 calls (microseconds)\n",
                    kRuns, kCalls);
        std::printf("  brokered write, 32-bit client                %10.1f\n", Median(medians[0]));
        std::printf("  brokered write, 64-bit client                %10.1f\n", Median(medians[1]));
        std::printf("\nRatios\n");
        if (!ratios.empty())
            Verdict("brokered write, 64-bit client / 32-bit", Median(ratios), 1.10);
    }
    CoUninitialize();
    RunToEnd(broker + " -UnregServer");
    return 0;
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

    std::printf("Kestor benchmark: setting up (registering the broker, the proxy and the "
                "do-nothing server)\n");
    const std::string broker = "\"" + BinPath("ZovKestor.exe") + "\"";
    DWORD code = RunToEnd(broker + " -RegServer");
    if (code != 0)
        std::printf("FAILED: ZovKestor -RegServer ended with 0x%08lX\n",
                    static_cast<unsigned long>(code));
    code = RunToEnd("regsvr32.exe /s \"" + BinPath("KestorPr.dll") + "\"");
    if (code != 0)
        std::printf("FAILED: regsvr32 KestorPr.dll ended with 0x%08lX\n",
                    static_cast<unsigned long>(code));
    if (!RegisterNullServer())
        std::printf("FAILED: registering the do-nothing server\n");

    if (!Check(CoInitializeEx(NULL, COINIT_MULTITHREADED), "CoInitializeEx"))
        return 1;

    // The session's first activation also starts COM's own helpers: keep it
    // out of the figures.
    ColdActivation(CLSID_KestorNullServer, "KestorNullServer.exe", false);
    ColdActivation(CLSID_KestorObj, "ZovKestor.exe", false);

    std::vector<double> coldNull, coldLocal;
    for (int i = 0; i < kColdRuns; ++i)
    {
        coldNull.push_back(ColdActivation(CLSID_KestorNullServer, "KestorNullServer.exe", false));
        coldLocal.push_back(ColdActivation(CLSID_KestorObj, "ZovKestor.exe", false));
    }

    CallFigures calls = {};
    IKestor *object = NULL, *nullObject = NULL;
    if (Check(CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                               reinterpret_cast<void **>(&object)),
              "activating the broker") &&
        Check(CoCreateInstance(CLSID_KestorNullServer, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                               reinterpret_cast<void **>(&nullObject)),
              "activating the do-nothing server"))
    {
        calls = MeasureCalls(object, nullObject);
    }
    if (object != NULL)
        object->Release();
    if (nullObject != NULL)
        nullObject->Release();
    WaitForNoProcess("ZovKestor.exe");
    WaitForNoProcess("KestorNullServer.exe");

    // The same program registered as a service: COM starts it through the SCM.
    code = RunToEnd(broker + " -Service");
    if (code != 0)
        std::printf("FAILED: ZovKestor -Service ended with 0x%08lX\n",
                    static_cast<unsigned long>(code));
    StartServiceWhenUnlocked();
    StopServiceAndWait();
    ColdActivation(CLSID_KestorObj, "ZovKestor.exe", true);
    std::vector<double> coldNull2, coldService;
    for (int i = 0; i < kColdRuns; ++i)
    {
        coldNull2.push_back(ColdActivation(CLSID_KestorNullServer, "KestorNullServer.exe", false));
        coldService.push_back(ColdActivation(CLSID_KestorObj, "ZovKestor.exe", true));
    }
    std::vector<double> serviceStart;
    for (int i = 0; i < 3; ++i)
    {
        serviceStart.push_back(ServiceStartToRunning());
        StopServiceAndWait();
    }
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
    std::printf("  in-process RegOpenKeyExW+RegSetValueExW+Close %9.1f %9.1f\n",
                calls.inProcess, calls.inProcessMean);
    std::printf("  do-nothing server's call (for comparison)    %10.1f %9.1f\n", calls.nullCall,
                calls.nullMean);
    std::printf("\nCold activation, median of %d (milliseconds)\n", kColdRuns);
    std::printf("  do-nothing local server                      %10.1f\n", Median(coldNull) * 1e3);
    std::printf("  ZovKestor as local server                    %10.1f\n", Median(coldLocal) * 1e3);
    std::printf("  do-nothing local server (service phase)      %10.1f\n",
                Median(coldNull2) * 1e3);
    std::printf("  ZovKestor as service                         %10.1f\n",
                Median(coldService) * 1e3);
    std::printf("  ZovKestor service, StartServiceA to RUNNING  %10.1f  (no COM; median of 3)\n",
                Median(serviceStart) * 1e3);
    std::printf("  (COM under Wine looks for a starting server's class object once a\n"
                "   second, so activation times fall into whole-second steps)\n");
    std::printf("\nInterpreter, median of 3 runs (milliseconds)\n");
    std::printf("  %5d keys: register %9.1f   unregister %9.1f\n", keys,
                small.registerSeconds * 1e3, small.unregisterSeconds * 1e3);
    std::printf("  %5d keys: register %9.1f   unregister %9.1f\n", keys * 10,
                large.registerSeconds * 1e3, large.unregisterSeconds * 1e3);

    std::printf("\nRatios\n");
    if (calls.refused + calls.inProcess > 0)
        Verdict("brokered write / (floor + in-process write)",
                calls.write / (calls.refused + calls.inProcess), 1.15);
    if (Median(coldNull) > 0)
        Verdict("cold activation, local server / do-nothing",
                Median(coldLocal) / Median(coldNull), 1.10);
    if (Median(coldNull2) > 0)
        Verdict("cold activation, service / do-nothing",
                Median(coldService) / Median(coldNull2), 1.10);
    if (small.registerSeconds > 0)
        Verdict("interpreter register, 10 N / N", large.registerSeconds / small.registerSeconds,
                11.0);
    if (small.unregisterSeconds > 0)
        Verdict("interpreter unregister, 10 N / N",
                large.unregisterSeconds / small.unregisterSeconds, 11.0);
    return 0;
}
