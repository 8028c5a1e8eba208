// Process-level tests of ZovKestor.exe: the program is started with exact
// command lines, its full exit codes read back, and its effects checked in
// the real registry, the real Service Control Manager and through real COM
// activation. Each group runs in a throw-away prefix with a session of its
// own (see CMakeLists.txt), since services, class registrations and killed
// servers would otherwise outlive the test.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "opened_service.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const char kServiceName[] = "ZovKestor";
const char kServerAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;
const char kClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;
const char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ZovKestor";
// Bounds on waiting for another process; they only keep a broken build
// from hanging the suite and are never what a test asserts.
const DWORD kProcessDeadlineMs = 60000;

// How long each step took, printed so the suite's cost stays visible.
class Stopwatch
{
public:
    explicit Stopwatch(std::string what)
        : m_what(std::move(what)), m_start(std::chrono::steady_clock::now())
    {}
    ~Stopwatch()
    {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_start);
        std::printf("  [%6lld ms] %s\n", static_cast<long long>(elapsed.count()), m_what.c_str());
        std::fflush(stdout);
    }

private:
    std::string m_what;
    std::chrono::steady_clock::time_point m_start;
};

std::string DriverFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// The built program, beside this driver with its type library.
std::string BuiltProgram()
{
    return DriverFolder() + "ZovKestor.exe";
}

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

// Copies the program (and its type library when asked) into a folder of
// the prefix's own drive and gives the copy's path.
std::string CopyProgramTo(const std::string &folder, bool withTypeLibrary)
{
    CreateDirectoryA(folder.c_str(), NULL);
    std::string target = folder + "\\ZovKestor.exe";
    EXPECT_TRUE(CopyFileA(BuiltProgram().c_str(), target.c_str(), FALSE)) << target;
    std::string library = folder + "\\ZovKestor.tlb";
    if (withTypeLibrary)
        EXPECT_TRUE(CopyFileA((DriverFolder() + "ZovKestor.tlb").c_str(), library.c_str(), FALSE));
    else
        DeleteFileA(library.c_str());
    return target;
}

// A started program: its process, and the read end of its standard output
// when that was asked for.
class ChildProcess
{
public:
    ChildProcess() { std::memset(&m_info, 0, sizeof m_info); }
    ~ChildProcess()
    {
        if (m_info.hProcess != NULL)
        {
            // A test that failed half-way must not leave a server behind.
            if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_info.hProcess, 1);
            CloseHandle(m_info.hProcess);
            CloseHandle(m_info.hThread);
        }
        if (m_output != NULL)
            CloseHandle(m_output);
        CloseInput();
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Standard error joins the captured output when asked; desktop names
    // the "station\\desktop" the program starts on; with feedInput the
    // program's standard input ends at CloseInput.
    bool Start(const std::string &commandLine, bool captureOutput, bool captureError = false,
               const char *desktop = NULL, bool feedInput = false)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        HANDLE writeEnd = NULL;
        HANDLE readEnd = NULL;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.lpDesktop = const_cast<char *>(desktop);
        if (captureOutput)
        {
            if (!CreatePipe(&m_output, &writeEnd, &inherit, 0) ||
                (feedInput && !CreatePipe(&readEnd, &m_input, &inherit, 0)))
                return false;
            // Other programs started meanwhile must not hold these ends.
            SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
            if (feedInput)
                SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = feedInput ? readEnd : GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = writeEnd;
            startup.hStdError = captureError ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
        }
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        BOOL started = CreateProcessA(NULL, line.data(), NULL, NULL, captureOutput, 0, NULL, NULL,
                                      &startup, &m_info);
        if (writeEnd != NULL)
            CloseHandle(writeEnd);
        if (readEnd != NULL)
            CloseHandle(readEnd);
        return started != FALSE;
    }

    void CloseInput()
    {
        if (m_input != NULL)
            CloseHandle(m_input);
        m_input = NULL;
    }

    // The full exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = kProcessDeadlineMs)
    {
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

    bool IsRunning() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

    // Reads standard output until it holds text (true) or the time is up.
    bool ReadOutputUntil(const char *text, DWORD timeoutMs = kProcessDeadlineMs)
    {
        DWORD start = GetTickCount();
        for (;;)
        {
            if (m_text.find(text) != std::string::npos)
                return true;
            DWORD available = 0;
            if (!PeekNamedPipe(m_output, NULL, 0, NULL, &available, NULL))
                return false;  // the program ended and its last output was read
            if (available > 0)
            {
                char chunk[512];
                DWORD read = 0;
                if (ReadFile(m_output, chunk, sizeof chunk, &read, NULL))
                    m_text.append(chunk, read);
                continue;
            }
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(20);
        }
    }

    const std::string &Output() const { return m_text; }
    DWORD MainThreadId() const { return m_info.dwThreadId; }

private:
    PROCESS_INFORMATION m_info;
    HANDLE m_output = NULL;
    HANDLE m_input = NULL;
    std::string m_text;
};

// A window station nobody sees (no WSF_VISIBLE), with its desktop: where a
// package's deferred actions run on Windows.
class HiddenWindowStation
{
public:
    HiddenWindowStation()
    {
        HWINSTA visible = GetProcessWindowStation();
        m_station = CreateWindowStationA("KestorHidden", 0, WINSTA_ALL_ACCESS, NULL);
        if (m_station != NULL && SetProcessWindowStation(m_station))
        {
            m_desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
            SetProcessWindowStation(visible);
        }
    }
    ~HiddenWindowStation()
    {
        if (m_desktop != NULL)
            CloseDesktop(m_desktop);
        if (m_station != NULL)
            CloseWindowStation(m_station);
    }
    HiddenWindowStation(const HiddenWindowStation &) = delete;
    HiddenWindowStation &operator=(const HiddenWindowStation &) = delete;

    bool Ready() const { return m_desktop != NULL; }
    const char *Desktop() const { return "KestorHidden\\Default"; }

private:
    HWINSTA m_station = NULL;
    HDESK m_desktop = NULL;
};

// A program started in the hidden window station, its standard output and
// error captured.
std::string RunHidden(const std::string &commandLine, DWORD *exitCode)
{
    Stopwatch watch(commandLine + " (hidden window station)");
    HiddenWindowStation hidden;
    EXPECT_TRUE(hidden.Ready()) << GetLastError();
    ChildProcess child;
    EXPECT_TRUE(child.Start(commandLine, true, true, hidden.Desktop())) << commandLine;
    *exitCode = child.WaitForExit();
    child.ReadOutputUntil("(the end)", 0);
    return child.Output();
}

// Runs a command line to its end and gives the full exit code.
DWORD RunToEnd(const std::string &commandLine)
{
    Stopwatch watch(commandLine);
    ChildProcess child;
    EXPECT_TRUE(child.Start(commandLine, false)) << commandLine;
    return child.WaitForExit();
}

// --- Registry and SCM views ---

bool ReadAppIdValue(const char *name, DWORD *type, std::string *bytes)
{
    return ReadRegistryValue(HKEY_CLASSES_ROOT, kServerAppIdKey, name, type, bytes);
}

std::string Bytes(const char *text, size_t count)
{
    return std::string(text, count);
}

// The service under test, opened with the access asked for.
class Service : public OpenedService
{
public:
    explicit Service(DWORD access) : OpenedService(kServiceName, access) {}
};

bool ServiceExists()
{
    Service service(SERVICE_QUERY_CONFIG);
    EXPECT_TRUE(service != NULL || service.OpenError() == ERROR_SERVICE_DOES_NOT_EXIST)
        << "OpenServiceA failed with " << service.OpenError();
    return service != NULL;
}

// The entry's configuration, as QueryServiceConfigA gives it.
std::vector<BYTE> ServiceConfig()
{
    std::vector<BYTE> buffer(8192);
    Service service(SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceConfigA(service,
                                    reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed))
        << GetLastError();
    return buffer;
}

const QUERY_SERVICE_CONFIGA *Config(const std::vector<BYTE> &buffer)
{
    return reinterpret_cast<const QUERY_SERVICE_CONFIGA *>(buffer.data());
}

std::string ServiceDescription()
{
    Service service(SERVICE_QUERY_CONFIG);
    BYTE buffer[4096];
    DWORD needed = 0;
    if (!QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, buffer, sizeof buffer, &needed))
        return "<unreadable>";
    const char *text = reinterpret_cast<SERVICE_DESCRIPTIONA *>(buffer)->lpDescription;
    return text != NULL ? text : "";
}

// A string resource of the program, read from its file.
std::string ProgramString(const std::string &program, UINT id)
{
    HMODULE module = LoadLibraryExA(program.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    char text[1024] = "";
    if (module != NULL)
        LoadStringA(module, id, text, sizeof text);
    FreeLibrary(module);
    return text;
}

// What Event Viewer shows for an event of id 0 with the one string, when it
// takes the text from messageFile.
std::string EventText(const std::string &messageFile, const char *insertion)
{
    HMODULE module = LoadLibraryExA(messageFile.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL)
        return "<no module>";
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insertion)};
    char text[512] = "";
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0, 0,
                       text, sizeof text, reinterpret_cast<va_list *>(arguments));
    FreeLibrary(module);
    return length > 0 ? std::string(text, length)
                      : "<error " + std::to_string(GetLastError()) + ">";
}

SERVICE_STATUS_PROCESS QueryStatus(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE *>(&status), sizeof status, &needed));
    return status;
}

// Polls until the service reaches state, recording every status seen.
bool WaitForState(SC_HANDLE service, DWORD state, std::vector<SERVICE_STATUS_PROCESS> *seen)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        SERVICE_STATUS_PROCESS status = QueryStatus(service);
        if (seen != NULL && (seen->empty() || seen->back().dwCurrentState != status.dwCurrentState))
            seen->push_back(status);
        if (status.dwCurrentState == state)
            return true;
        if (GetTickCount() - start > kProcessDeadlineMs)
            return false;
        Sleep(5);
    }
}

// Waits for a process of the given id and gives its exit code.
DWORD WaitForProcessExit(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == NULL)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, kProcessDeadlineMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// Ids of the running processes of ZovKestor.exe.
std::vector<DWORD> RunningServers()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    {
        if (lstrcmpiA(entry.szExeFile, "ZovKestor.exe") == 0)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

// Another service whose display name is "ZovKestor", deleted again at the end.
class NameTaker
{
public:
    NameTaker()
    {
        ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE));
        m_handle =
            CreateServiceA(manager, "KestorNameTaker", kServiceName, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           "C:\\windows\\system32\\notepad.exe", NULL, NULL, NULL, NULL, NULL);
    }
    ~NameTaker()
    {
        if (m_handle == NULL)
            return;
        DeleteService(m_handle);
        CloseServiceHandle(m_handle);
    }
    NameTaker(const NameTaker &) = delete;
    NameTaker &operator=(const NameTaker &) = delete;

    bool Created() const { return m_handle != NULL; }

private:
    SC_HANDLE m_handle;
};

// Another process holding a handle to the service, as the Services console
// does, until ReleaseHandle.
bool HoldHandle(ChildProcess &holder)
{
    return holder.Start(Quoted(DriverFolder() + "service_handle_holder.exe") + " " + kServiceName,
                        true, false, NULL, true) &&
           holder.ReadOutputUntil("held\n");
}

DWORD ReleaseHandle(ChildProcess &holder)
{
    holder.CloseInput();
    return holder.WaitForExit();
}

// Polls until the service entry has gone.
bool WaitUntilEntryGone()
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < kProcessDeadlineMs; Sleep(20))
    {
        if (!ServiceExists())
            return true;
    }
    return false;
}

// Takes away the proxy/stub registration that Wine's COM needs to marshal a
// local server's class object into the activation service: every
// CoRegisterClassObject for a local server then fails, as it would on a
// damaged machine. Restored at the end.
class UnregisterableClassObjects
{
public:
    UnregisterableClassObjects()
    {
        DWORD type = 0;
        if (ReadRegistryValue(HKEY_CLASSES_ROOT, kKey, "", &type, &m_factory) &&
            RegDeleteKeyA(HKEY_CLASSES_ROOT, kKey) == ERROR_SUCCESS)
            m_taken = true;
    }
    ~UnregisterableClassObjects()
    {
        if (m_taken)
            RegSetValueA(HKEY_CLASSES_ROOT, kKey, REG_SZ, m_factory.c_str(),
                         static_cast<DWORD>(std::strlen(m_factory.c_str())));
    }
    UnregisterableClassObjects(const UnregisterableClassObjects &) = delete;
    UnregisterableClassObjects &operator=(const UnregisterableClassObjects &) = delete;

    bool Taken() const { return m_taken; }

private:
    // The interface Wine's COM hands a local server's class object through.
    static constexpr const char *kKey =
        "Interface\\{6D5140C1-7436-11CE-8034-00AA006009FA}\\ProxyStubClsid32";
    std::string m_factory;
    bool m_taken = false;
};

// The line a server that could not start writes.
std::string NotStartedLine(DWORD hr)
{
    char line[64];
    std::snprintf(line, sizeof line, "Service not started: 0x%08lX",
                  static_cast<unsigned long>(hr));
    return line;
}

// COM on the test's thread for one test.
class ComApartment
{
public:
    ComApartment() { EXPECT_SUCCEEDED(CoInitialize(NULL)); }
    ~ComApartment() { CoUninitialize(); }
};

HRESULT ActivateServer(IUnknown **object)
{
    Stopwatch watch("activation of KestorObj");
    return CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void **>(object));
}

// Every test starts and ends with nothing registered.
class ProcessTest : public testing::Test
{
protected:
    // The prefix starts empty and every test unregisters what it left.
    void SetUp() override
    {
        ASSERT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
        ASSERT_FALSE(ServiceExists());
    }
    void TearDown() override { RunToEnd(Quoted(BuiltProgram()) + " -UnregServer"); }

    std::string m_program = Quoted(BuiltProgram());
};

// ===================== Registration =====================

class Registration : public ProcessTest
{};

TEST_F(Registration, NoOptionWithoutRegistrationEndsWithFileNotFound)
{
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RunToEnd(m_program));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RunToEnd(m_program + " -Embedding"));
    // Options that do not end the line are no options: nothing registers.
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RunToEnd(m_program + " -RegServer "));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              RunToEnd(m_program + " -RegServer -Verbose"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
}

TEST_F(Registration, RegServerRegistersTheClassWithoutServiceValues)
{
    ASSERT_EQ(0u, RunToEnd(m_program + " /regserver"));

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadRegistryValue(HKEY_CLASSES_ROOT, kServerAppIdKey, "", &type, &bytes));
    EXPECT_EQ(Bytes("ZovKestor", 10), bytes);
    EXPECT_FALSE(ReadAppIdValue("LocalService", &type, &bytes));
    EXPECT_FALSE(ReadAppIdValue("ServiceParameters", &type, &bytes));
    EXPECT_TRUE(
        RegistryKeyExists(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\LocalServer32").c_str()));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" KESTOR_LIBID_TEXT));
    EXPECT_FALSE(ServiceExists());

    // Either case and either delimiter.
    EXPECT_EQ(0u, RunToEnd(m_program + " -REGSERVER"));
    EXPECT_FALSE(ServiceExists());
}

TEST_F(Registration, WithoutTypeLibraryTheLoadFailureEndsAnOtherwiseCompleteRegistration)
{
    std::string program = CopyProgramTo("C:\\kestor-no-tlb", false);
    // What the program meets when it looks for its library beside itself.
    ITypeLib *library = NULL;
    HRESULT expected = LoadTypeLib(L"C:\\kestor-no-tlb\\ZovKestor.tlb", &library);
    ASSERT_TRUE(FAILED(expected));

    EXPECT_EQ(static_cast<DWORD>(expected), RunToEnd(Quoted(program) + " -RegServer"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey));

    // The service registration has done its SCM and AppID work all the same.
    EXPECT_EQ(static_cast<DWORD>(expected), RunToEnd(Quoted(program) + " -Service"));
    EXPECT_TRUE(ServiceExists());
    DWORD type = 0;
    std::string bytes;
    EXPECT_TRUE(ReadAppIdValue("LocalService", &type, &bytes));
    RunToEnd(Quoted(program) + " -UnregServer");
}

TEST_F(Registration, ServiceCreatesTheEntryWithAQuotedPathAndTheAppIdValues)
{
    // A folder with blanks (and a hyphen): unquoted, its prefixes would be
    // tried as programs.
    std::string program = CopyProgramTo("C:\\Kestor Test-Dir", true);
    ASSERT_EQ(0u, RunToEnd(Quoted(program) + " -Service"));

    std::vector<BYTE> buffer = ServiceConfig();
    const QUERY_SERVICE_CONFIGA *config = Config(buffer);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_STREQ(Quoted(program).c_str(), config->lpBinaryPathName);
    EXPECT_STREQ("ZovKestor", config->lpDisplayName);
    EXPECT_STREQ("LocalSystem", config->lpServiceStartName);
    EXPECT_TRUE(config->lpLoadOrderGroup == NULL || config->lpLoadOrderGroup[0] == '\0');
    // The Services console says what it is, in the program's own words.
    EXPECT_NE("", ProgramString(program, 101));
    EXPECT_EQ(ProgramString(program, 101), ServiceDescription());

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE,
                                  "System\\CurrentControlSet\\Services\\ZovKestor",
                                  "DependOnService", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(0, std::strcmp("RPCSS", bytes.c_str()));

    ASSERT_TRUE(ReadAppIdValue("LocalService", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(Bytes("ZovKestor", 10), bytes);
    ASSERT_TRUE(ReadAppIdValue("ServiceParameters", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(Bytes("-Service", 9), bytes);

    // Event Viewer takes the text of the service's events from the program.
    ASSERT_TRUE(
        ReadRegistryValue(HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(program, bytes.c_str());
    EXPECT_EQ("Service started", EventText(bytes.c_str(), "Service started"));
    EXPECT_TRUE(
        ReadRegistryValue(HKEY_LOCAL_MACHINE, kEventSourceKey, "TypesSupported", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);

    // The next service registration keeps the entry: what an administrator
    // set on it stays, what the registration sets is put back.
    {
        Service service(SERVICE_CHANGE_CONFIG);
        char own[] = "Described by the administrator";
        SERVICE_DESCRIPTIONA description = {own};
        ASSERT_TRUE(ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description));
        ASSERT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_DEMAND_START,
                                         SERVICE_NO_CHANGE, NULL, NULL, NULL, NULL, NULL, NULL,
                                         "Kestor by hand"))
            << GetLastError();
    }
    EXPECT_EQ(0u, RunToEnd(Quoted(program) + " -Service"));
    EXPECT_EQ("Described by the administrator", ServiceDescription());
    buffer = ServiceConfig();
    config = Config(buffer);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_STREQ("ZovKestor", config->lpDisplayName);
    EXPECT_STREQ(Quoted(program).c_str(), config->lpBinaryPathName);
    RunToEnd(Quoted(program) + " -UnregServer");
}

TEST_F(Registration, RegServerAfterServiceDropsEntryAndLocalServiceOnly)
{
    ASSERT_EQ(0u, RunToEnd(m_program + " -Service"));
    ASSERT_TRUE(ServiceExists());
    // Only the last of two options counts.
    ASSERT_EQ(0u, RunToEnd(m_program + " -Service -RegServer"));

    EXPECT_FALSE(ServiceExists());
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(ReadAppIdValue("LocalService", &type, &bytes));
    ASSERT_TRUE(ReadAppIdValue("ServiceParameters", &type, &bytes));
    EXPECT_EQ(Bytes("-Service", 9), bytes);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey));
    // A local server logs to standard output, not to the event log.
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey));
}

// Another service has the display name: no entry can be made. The
// registration ends as that of a local server and says why, on standard
// error where nobody could see a message box.
TEST_F(Registration, ServiceWithItsDisplayNameTakenRegistersALocalServerAndFails)
{
    NameTaker taker;
    ASSERT_TRUE(taker.Created()) << GetLastError();

    DWORD code = 0;
    std::string output = RunHidden(m_program + " -Service", &code);
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DUPLICATE_SERVICE_NAME)), code);
    EXPECT_EQ("ZovKestor: Couldn't create service\r\n", output);

    EXPECT_FALSE(ServiceExists());
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(ReadAppIdValue("LocalService", &type, &bytes));
    EXPECT_TRUE(
        RegistryKeyExists(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\LocalServer32").c_str()));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" KESTOR_LIBID_TEXT));
}

TEST_F(Registration, UnregServerRemovesEverything)
{
    ASSERT_EQ(0u, RunToEnd(m_program + " --Service"));
    ASSERT_TRUE(ServiceExists());

    EXPECT_EQ(0u, RunToEnd(m_program + " /UNREGSERVER"));
    EXPECT_FALSE(ServiceExists());
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "AppID"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "ZovKestor.KestorObj"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey));

    // The server no longer runs at all.
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RunToEnd(m_program));
    // Unregistering what is not there is no error.
    EXPECT_EQ(0u, RunToEnd(m_program + " -UnregServer"));
}

// ===================== Local server =====================

class LocalServer : public ProcessTest
{
protected:
    void SetUp() override
    {
        ProcessTest::SetUp();
        ASSERT_EQ(0u, RunToEnd(m_program + " -RegServer"));
    }
};

// Its last release starts its idle period; with no new client it then ends.
TEST_F(LocalServer, StartedByComItEndsAfterTheLastRelease)
{
    ComApartment com;
    IUnknown *object = NULL;
    ASSERT_SUCCEEDED(ActivateServer(&object));
    std::vector<DWORD> servers = RunningServers();
    ASSERT_EQ(1u, servers.size());
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, servers[0]);
    ASSERT_NE(nullptr, process);

    // While the client holds its object the server stays.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process, 500));
    {
        Stopwatch watch("server end after the last release");
        object->Release();
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
                  WaitForSingleObject(process, kProcessDeadlineMs));
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process);
}

TEST_F(LocalServer, StartedByComForNoClientItEndsStartedByHandItWaits)
{
    ChildProcess server;
    ASSERT_TRUE(server.Start(m_program, true));
    ASSERT_TRUE(server.ReadOutputUntil("Service started\n")) << server.Output();

    // A server COM started for a client that never comes ends by itself,
    // but not before COM, which looks for a starting server's class object
    // once a second, has had time to come back for it.
    ChildProcess unreached;
    ASSERT_TRUE(unreached.Start(m_program + " -Embedding", true));
    ASSERT_TRUE(unreached.ReadOutputUntil("Service started\n")) << unreached.Output();
    EXPECT_EQ(STILL_ACTIVE, unreached.WaitForExit(1500));
    {
        Stopwatch watch("end of a server COM started for no client");
        EXPECT_EQ(0u, unreached.WaitForExit());
    }
    // The one started by hand had as long and still waits for a client.
    EXPECT_TRUE(server.IsRunning());

    // Its class object answers the next activation; the client's release is
    // its last lock, and the idle period that follows ends it.
    {
        ComApartment com;
        IUnknown *object = NULL;
        ASSERT_SUCCEEDED(ActivateServer(&object));
        EXPECT_EQ(1u, RunningServers().size());
        object->Release();
    }
    EXPECT_EQ(0u, server.WaitForExit());
    server.ReadOutputUntil("(nothing more)", 0);
    EXPECT_EQ("Service started\n", server.Output());
}

TEST_F(LocalServer, LocalServiceValueWithoutTheScmFallsBackToLocalServer)
{
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, kServerAppIdKey, 0, KEY_WRITE, &key));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "LocalService", 0, REG_SZ,
                             reinterpret_cast<const BYTE *>(kServiceName), sizeof kServiceName));
    RegCloseKey(key);

    ChildProcess server;
    ASSERT_TRUE(server.Start(m_program, true));
    {
        // The service dispatcher has to give up first.
        Stopwatch watch("dispatcher refusal and local-server start");
        ASSERT_TRUE(server.ReadOutputUntil("Service started\n")) << server.Output();
    }
    EXPECT_TRUE(server.IsRunning());
    // A plain thread quit ends the loop as the last release would.
    ASSERT_TRUE(PostThreadMessageA(server.MainThreadId(), WM_QUIT, 0, 0));
    EXPECT_EQ(0u, server.WaitForExit());
}

// A class object COM will not take ends the server with COM's error.
TEST_F(LocalServer, ClassObjectThatCannotBeRegisteredEndsTheServerWithTheError)
{
    UnregisterableClassObjects broken;
    ASSERT_TRUE(broken.Taken());
    ChildProcess server;
    ASSERT_TRUE(server.Start(m_program, true));
    DWORD code = server.WaitForExit();
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(code))) << std::hex << code;
    server.ReadOutputUntil("(the end)", 0);
    EXPECT_EQ(NotStartedLine(code) + "\n", server.Output());
}

// ===================== Service life =====================

// The event-log channel: the session's first process was started with the
// eventlog trace on, and its standard error (inherited by the SCM and so by
// every service) goes to the file named here.
std::string EventTrace()
{
    const char *unixPath = std::getenv("KESTOR_EVENT_TRACE");
    if (unixPath == NULL)
        return std::string();
    std::string path = std::string("Z:") + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, NULL) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

// The messages the event log received, in order.
std::vector<std::string> LoggedEvents()
{
    std::vector<std::string> events;
    std::string trace = EventTrace();
    // Information events are traced; errors and warnings would show as err:/warn:.
    const std::string prefix = "trace:eventlog:ReportEventW L\"";
    for (size_t at = trace.find(prefix); at != std::string::npos; at = trace.find(prefix, at))
    {
        at += prefix.size();
        size_t end = trace.find('"', at);
        if (end == std::string::npos)
            break;
        events.push_back(trace.substr(at, end - at));
    }
    return events;
}

// Waits until the log holds count entries more than before (trace output
// may trail the SCM's state by a moment).
std::vector<std::string> WaitForEvents(size_t before, size_t count)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        std::vector<std::string> events = LoggedEvents();
        if (events.size() >= before + count || GetTickCount() - start > 10000)
            return std::vector<std::string>(events.begin() + std::min(before, events.size()),
                                            events.end());
        Sleep(20);
    }
}

// The proxy library beside the driver, registered for this prefix so that
// IKestor calls can cross to the server.
bool RegisterProxyLibrary()
{
    HMODULE library = LoadLibraryA((DriverFolder() + "KestorPr.dll").c_str());
    if (library == NULL)
        return false;
    typedef HRESULT(STDAPICALLTYPE * RegisterFunction)();
    RegisterFunction registerServer = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void *>(GetProcAddress(library, "DllRegisterServer")));
    HRESULT hr = registerServer != NULL ? registerServer() : E_FAIL;
    FreeLibrary(library);
    return SUCCEEDED(hr);
}

// One call through KestorPr on an object of the broker: the value it writes
// is read back.
void WriteThroughBroker(IUnknown *object, const wchar_t *name, const char *text)
{
    IKestor *kestor = NULL;
    ASSERT_SUCCEEDED(object->QueryInterface(IID_IKestor, reinterpret_cast<void **>(&kestor)));
    std::wstring wideText(text, text + std::strlen(text));
    BSTR keyPath = SysAllocString(KESTOR_SETTINGS_KEY_W);
    BSTR valueName = SysAllocString(name);
    BSTR data = SysAllocString(wideText.c_str());
    EXPECT_SUCCEEDED(kestor->SetSettingValue(SettingValueString, keyPath, valueName, data));
    SysFreeString(keyPath);
    SysFreeString(valueName);
    SysFreeString(data);
    kestor->Release();
    DWORD type = 0;
    std::string bytes;
    std::string narrowName(name, name + std::wcslen(name));
    ASSERT_TRUE(
        ReadRegistryValue(HKEY_CLASSES_ROOT, "GPI\\Settings", narrowName.c_str(), &type, &bytes));
    EXPECT_EQ(std::string(text, std::strlen(text) + 1), bytes);
}

class ServiceLife : public ProcessTest
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, std::getenv("KESTOR_EVENT_TRACE"))
            << "run through cmake/scratch-prefix.sh so that events can be read back";
        ProcessTest::SetUp();
        ASSERT_EQ(0u, RunToEnd(m_program + " -Service"));
    }

    // Stops the service and checks the stop's states and exit.
    void StopAndCheck(SC_HANDLE service)
    {
        SERVICE_STATUS_PROCESS running = QueryStatus(service);
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), running.dwCurrentState);
        size_t before = LoggedEvents().size();

        SERVICE_STATUS status = {};
        ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING ||
                    status.dwCurrentState == SERVICE_STOPPED)
            << status.dwCurrentState;
        std::vector<SERVICE_STATUS_PROCESS> seen;
        ASSERT_TRUE(WaitForState(service, SERVICE_STOPPED, &seen));
        for (const SERVICE_STATUS_PROCESS &s : seen)
            EXPECT_TRUE(s.dwCurrentState == SERVICE_STOP_PENDING ||
                        s.dwCurrentState == SERVICE_STOPPED)
                << s.dwCurrentState;
        EXPECT_EQ(0u, WaitForProcessExit(running.dwProcessId));
        EXPECT_EQ(std::vector<std::string>(1, "Service stopped"), WaitForEvents(before, 1));
    }

    // Starts the service and gives its process id.
    DWORD StartTheService()
    {
        Service service(SERVICE_ALL_ACCESS);
        EXPECT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
        EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, NULL));
        return QueryStatus(service).dwProcessId;
    }
};

TEST_F(ServiceLife, StartServiceRunsAndOnlyStopEndsIt)
{
    Service service(SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, static_cast<SC_HANDLE>(service));
    size_t before = LoggedEvents().size();

    std::vector<SERVICE_STATUS_PROCESS> seen;
    {
        Stopwatch watch("StartService to RUNNING");
        ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
        ASSERT_TRUE(WaitForState(service, SERVICE_RUNNING, &seen));
    }
    std::printf("  states seen while starting:");
    for (const SERVICE_STATUS_PROCESS &status : seen)
        std::printf(" %lu", status.dwCurrentState);
    std::printf("\n");
    for (const SERVICE_STATUS_PROCESS &status : seen)
    {
        EXPECT_TRUE(status.dwCurrentState == SERVICE_START_PENDING ||
                    status.dwCurrentState == SERVICE_RUNNING)
            << status.dwCurrentState;
        EXPECT_EQ(0u, status.dwCheckPoint);
        EXPECT_EQ(0u, status.dwWaitHint);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), status.dwControlsAccepted);
        EXPECT_EQ(0u, status.dwWin32ExitCode);
    }
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), seen.back().dwCurrentState);
    EXPECT_EQ(std::vector<std::string>(1, "Service started"), WaitForEvents(before, 1));

    // Controls it does not take change nothing; a code of its own is logged.
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_INTERROGATE, &status);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_CONTINUE, &status));
    before = LoggedEvents().size();
    EXPECT_TRUE(ControlService(service, 200, &status)) << GetLastError();
    EXPECT_EQ(std::vector<std::string>(1, "Bad service request"), WaitForEvents(before, 1));
    SERVICE_STATUS_PROCESS after = QueryStatus(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), after.dwCurrentState);
    EXPECT_EQ(seen.back().dwProcessId, after.dwProcessId);

    StopAndCheck(service);
}

TEST_F(ServiceLife, ComActivationStartsTheServiceAndTheLastReleaseKeepsIt)
{
    Service service(SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, static_cast<SC_HANDLE>(service));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryStatus(service).dwCurrentState);
    ASSERT_TRUE(RegisterProxyLibrary());
    {
        ComApartment com;
        IUnknown *object = NULL;
        ASSERT_SUCCEEDED(ActivateServer(&object));
        SERVICE_STATUS_PROCESS running = QueryStatus(service);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), running.dwCurrentState);

        // The service serves: one call writes its value.
        WriteThroughBroker(object, L"ServiceHostProbe", "written by the service");
        object->Release();

        // Nothing but the stop control ends a service.
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
        ASSERT_NE(nullptr, process);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process, 1000));
        CloseHandle(process);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryStatus(service).dwCurrentState);
    }
    StopAndCheck(service);
}

TEST_F(ServiceLife, StopRightAfterStartIsNotLost)
{
    Service service(SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, static_cast<SC_HANDLE>(service));
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
        SERVICE_STATUS status = {};
        // The SCM may refuse a stop until the service has a handler.
        DWORD start = GetTickCount();
        while (!ControlService(service, SERVICE_CONTROL_STOP, &status))
        {
            DWORD error = GetLastError();
            ASSERT_TRUE(error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
                        error == ERROR_SERVICE_NOT_ACTIVE)
                << error;
            ASSERT_LT(GetTickCount() - start, kProcessDeadlineMs);
            Sleep(1);
        }
        std::printf("  round %d: stop taken in state %lu after %lu ms\n", round,
                    status.dwCurrentState, GetTickCount() - start);
        std::vector<SERVICE_STATUS_PROCESS> seen;
        ASSERT_TRUE(WaitForState(service, SERVICE_STOPPED, &seen)) << "round " << round;
        // Once stopping, the service never claims to be starting or running.
        if (status.dwCurrentState == SERVICE_STOP_PENDING)
        {
            for (const SERVICE_STATUS_PROCESS &s : seen)
            {
                EXPECT_TRUE(s.dwCurrentState == SERVICE_STOP_PENDING ||
                            s.dwCurrentState == SERVICE_STOPPED)
                    << "round " << round << ": state " << s.dwCurrentState;
            }
        }
    }
}

// A service whose class object COM will not take stops with COM's error as
// its own exit code, and never claims to run.
TEST_F(ServiceLife, ClassObjectThatCannotBeRegisteredStopsTheServiceWithTheError)
{
    Service service(SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, static_cast<SC_HANDLE>(service));
    UnregisterableClassObjects broken;
    ASSERT_TRUE(broken.Taken());
    size_t before = LoggedEvents().size();

    ASSERT_TRUE(StartServiceA(service, 0, NULL)) << GetLastError();
    std::vector<SERVICE_STATUS_PROCESS> seen;
    ASSERT_TRUE(WaitForState(service, SERVICE_STOPPED, &seen));
    for (const SERVICE_STATUS_PROCESS &status : seen)
        EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    SERVICE_STATUS_PROCESS stopped = QueryStatus(service);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), stopped.dwWin32ExitCode);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(stopped.dwServiceSpecificExitCode)))
        << std::hex << stopped.dwServiceSpecificExitCode;
    std::vector<std::string> expected = {NotStartedLine(stopped.dwServiceSpecificExitCode),
                                         "Service stopped"};
    EXPECT_EQ(expected, WaitForEvents(before, 2));
}

// Another program holding the entry open (the Services console, a
// monitoring agent) changes nothing for a registration: -Service keeps the
// entry, stops its old service, and returns at once; the service then
// serves, the handle still held.
TEST_F(ServiceLife, ServiceKeepsAHeldEntryAndTheServiceServesAtOnce)
{
    ASSERT_TRUE(RegisterProxyLibrary());
    for (bool running : {false, true})
    {
        SCOPED_TRACE(running ? "service running" : "service stopped");
        DWORD oldProcess = running ? StartTheService() : 0;
        ChildProcess holder;
        ASSERT_TRUE(HoldHandle(holder));
        ComApartment com;
        IKestor *connected = NULL;
        if (running)
        {
            ASSERT_SUCCEEDED(CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER,
                                              IID_IKestor, reinterpret_cast<void **>(&connected)));
        }
        EXPECT_EQ(0u, RunToEnd(m_program + " -Service"));
        ASSERT_TRUE(holder.IsRunning());
        if (running)
        {
            EXPECT_EQ(0u, WaitForProcessExit(oldProcess));
            // The stop ended the connected client's object: its calls fail
            // until it creates a new one (README).
            BSTR keyPath = SysAllocString(KESTOR_SETTINGS_KEY_W);
            BSTR name = SysAllocString(L"ServiceHostLost");
            HRESULT lost = connected->SetSettingValue(SettingValueString, keyPath, name, name);
            std::printf("  a call on an object of the stopped service: 0x%08lX\n",
                        static_cast<unsigned long>(lost));
            EXPECT_TRUE(FAILED(lost));
            SysFreeString(keyPath);
            SysFreeString(name);
            connected->Release();
        }
        {
            Service service(SERVICE_ALL_ACCESS);
            ASSERT_NE(nullptr, static_cast<SC_HANDLE>(service)) << service.OpenError();
            EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryStatus(service).dwCurrentState);
            // Not deleted: a deleted entry refuses even a change of nothing.
            EXPECT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                             SERVICE_NO_CHANGE, NULL, NULL, NULL, NULL, NULL, NULL,
                                             NULL))
                << GetLastError();
        }
        IUnknown *object = NULL;
        ASSERT_SUCCEEDED(ActivateServer(&object));
        WriteThroughBroker(object, L"ServiceHostHeld", running ? "running" : "stopped");
        object->Release();
        Service service(SERVICE_ALL_ACCESS);
        EXPECT_EQ(std::vector<DWORD>(1, QueryStatus(service).dwProcessId), RunningServers());
        StopAndCheck(service);
        EXPECT_EQ(0u, ReleaseHandle(holder));
    }
}

// An entry someone deleted while another program held it (an older
// uninstallation with the Services console open) cannot be changed: the
// registration waits for it to go and then creates it anew.
TEST_F(ServiceLife, ServiceWaitsForADeletedHeldEntryAndCreatesItAnew)
{
    ChildProcess holder;
    ASSERT_TRUE(HoldHandle(holder));
    {
        Service service(DELETE);
        ASSERT_TRUE(DeleteService(service)) << GetLastError();
    }
    ChildProcess registration;
    ASSERT_TRUE(registration.Start(m_program + " -Service", false));
    EXPECT_EQ(STILL_ACTIVE, registration.WaitForExit(1000));
    EXPECT_EQ(0u, ReleaseHandle(holder));
    {
        Stopwatch watch("-Service after the handle's release");
        EXPECT_EQ(0u, registration.WaitForExit());
    }
    DWORD type = 0;
    std::string bytes;
    EXPECT_TRUE(ReadAppIdValue("LocalService", &type, &bytes));
    EXPECT_TRUE(ServiceExists());
}

// Removal counts a deleted entry that another program holds as removed, and
// says so; the entry goes when the handle closes.
TEST_F(ServiceLife, UnregServerCountsAHeldEntryAsRemoved)
{
    ChildProcess holder;
    ASSERT_TRUE(HoldHandle(holder));
    DWORD code = 0;
    std::string output = RunHidden(m_program + " -UnregServer", &code);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(
        "ZovKestor: Service marked for deletion: it goes when the last handle to it "
        "closes\r\n",
        output);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kServerAppIdKey));
    EXPECT_TRUE(ServiceExists());

    EXPECT_EQ(0u, ReleaseHandle(holder));
    EXPECT_TRUE(WaitUntilEntryGone());
}

// A local-server registration stops a running service and removes its entry.
TEST_F(ServiceLife, RegServerStopsARunningServiceAndRemovesItsEntry)
{
    DWORD oldProcess = StartTheService();
    EXPECT_EQ(0u, RunToEnd(m_program + " -RegServer"));
    EXPECT_EQ(0u, WaitForProcessExit(oldProcess));
    EXPECT_FALSE(ServiceExists());
}

}  // namespace
