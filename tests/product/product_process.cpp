#include "product_process.h"

#include <cstdio>
#include <vector>

#include "scratch_registry.h"

namespace {

std::string Hex(const BYTE *data, DWORD size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i)
    {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

void SnapshotKey(HKEY key, const std::string &path, REGSAM view,
                 std::map<std::string, std::string> *entries)
{
    (*entries)[path] = "";

    DWORD subkeyCount = 0, maxSubkey = 0, valueCount = 0, maxValueName = 0, maxValueData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, nullptr,
                         &valueCount, &maxValueName, &maxValueData, nullptr,
                         nullptr) != ERROR_SUCCESS)
    {
        (*entries)[path] = "unreadable";
        return;
    }

    std::vector<char> name(maxValueName + 2);
    std::vector<BYTE> data(maxValueData + 2);
    for (DWORD i = 0; i < valueCount; ++i)
    {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS)
            continue;
        (*entries)[path + "\\:" + std::string(name.data(), nameSize)] =
            std::to_string(type) + ":" + Hex(data.data(), dataSize);
    }

    std::vector<char> subkey(maxSubkey + 2);
    for (DWORD i = 0; i < subkeyCount; ++i)
    {
        DWORD size = static_cast<DWORD>(subkey.size());
        if (RegEnumKeyExA(key, i, subkey.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            continue;
        std::string child(subkey.data(), size);
        RegistryKeyHandle childKey;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ | view, childKey.Place()) !=
            ERROR_SUCCESS)
        {
            *childKey.Place() = nullptr;
            (*entries)[path + "\\" + child] = "unopenable";
            continue;
        }
        SnapshotKey(childKey.Get(), path + "\\" + child, view, entries);
    }
}

}  // namespace

StartedProcess::StartedProcess(const std::wstring &commandLine, const std::wstring &folder)
    : m_commandLine(commandLine)
{
    char temp[MAX_PATH];
    char file[MAX_PATH];
    if (GetTempPathA(sizeof(temp), temp) == 0 || GetTempFileNameA(temp, "kpo", 0, file) == 0)
        return;
    m_outputPath = file;

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    *m_output.Place() = CreateFileA(
        file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    FileHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!m_output.Valid() || !input.Valid())
        return;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = m_output;
    startup.hStdError = m_output;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return;
    CloseHandle(info.hThread);
    *m_process.Place() = info.hProcess;
}

StartedProcess::~StartedProcess()
{
    if (m_process.Valid())
    {
        TerminateProcess(m_process, 0xDEAD);
        WaitForSingleObject(m_process, 10000);
    }
}

bool StartedProcess::Running() const
{
    return m_process.Valid() && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

ProcessResult StartedProcess::Finish(DWORD timeoutMs)
{
    ProcessResult result;
    if (!m_process.Valid())
        return result;
    result.started = true;

    if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
    {
        // Whatever it printed says where it hangs; it goes into the test's
        // log before the program is killed, whatever the test does next.
        std::printf(
            "[deadline] still running after %lu s, killed: %s\n"
            "[deadline] what it printed so far:\n%s\n[deadline] end of its output\n",
            timeoutMs / 1000, NarrowFromWide(m_commandLine).c_str(), OutputSoFar().c_str());
        std::fflush(stdout);
        TerminateProcess(m_process, 0xDEAD);
        WaitForSingleObject(m_process, 10000);
    }
    else
    {
        result.finished = true;
    }
    GetExitCodeProcess(m_process, &result.exitCode);
    m_process.Close();
    result.output = OutputSoFar();
    return result;
}

// Read through a handle of its own: the program writes through one that
// shares its file position with m_output.
std::string StartedProcess::OutputSoFar() const
{
    FileHandle file(CreateFileA(m_outputPath.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    DWORD size = file.Valid() ? GetFileSize(file, nullptr) : INVALID_FILE_SIZE;
    if (size == INVALID_FILE_SIZE || size == 0)
        return std::string();
    std::vector<char> text(size);
    DWORD read = 0;
    if (!ReadFile(file, text.data(), size, &read, nullptr))
        return std::string();
    return std::string(text.data(), read);
}

ProcessResult RunProcess(const std::wstring &commandLine, DWORD timeoutMs)
{
    return StartedProcess(commandLine, std::wstring()).Finish(timeoutMs);
}

std::string NarrowFromWide(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> narrow(length > 0 ? length : 1);
    if (length <= 0 || WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), length,
                                           nullptr, nullptr) != length)
        return std::string();
    return std::string(narrow.data());
}

std::wstring WideFromAnsi(const std::string &text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1);
    if (length <= 0 ||
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length) != length)
        return std::wstring();
    return std::wstring(wide.data());
}

ProcessResult RunProcess(const std::string &commandLine, DWORD timeoutMs)
{
    std::wstring wide = WideFromAnsi(commandLine);
    if (wide.empty())
        return ProcessResult();
    return RunProcess(wide, timeoutMs);
}

ProcessResult RunProcessIn(const std::string &folder, const std::string &commandLine)
{
    std::wstring wide = WideFromAnsi(commandLine);
    if (wide.empty())
        return ProcessResult();
    return StartedProcess(wide, WideFromAnsi(folder)).Finish();
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length < sizeof(path) ? length : 0);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

DWORD ServiceState(const char *name)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr)
        return 0;
    ServiceHandle service(OpenServiceA(manager.Get(), name, SERVICE_QUERY_STATUS));
    if (service.Get() == nullptr)
        return 0;
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status))
        return 0;
    return status.dwCurrentState;
}

std::set<std::string> ServiceNames()
{
    std::set<std::string> names;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (manager.Get() == nullptr)
        return names;
    std::vector<BYTE> buffer(64 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    for (;;)
    {
        BOOL done =
            EnumServicesStatusA(manager.Get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                reinterpret_cast<ENUM_SERVICE_STATUSA *>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed, &count, &resume);
        if (!done && GetLastError() != ERROR_MORE_DATA)
            break;
        const auto *entries = reinterpret_cast<const ENUM_SERVICE_STATUSA *>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            names.insert(entries[i].lpServiceName);
        if (done)
            break;
        if (needed > buffer.size())
            buffer.resize(needed);
    }
    return names;
}

namespace {

bool WaitForServiceState(const char *name, DWORD state, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 200)
    {
        if (ServiceState(name) == state)
            return true;
        Sleep(200);
    }
    return false;
}

}  // namespace

bool CycleService(const char *name, bool stop, std::string *why)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr)
    {
        *why = "OpenSCManagerA failed: " + std::to_string(GetLastError());
        return false;
    }
    ServiceHandle service(
        OpenServiceA(manager.Get(), name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service.Get() == nullptr)
    {
        *why = "OpenServiceA failed: " + std::to_string(GetLastError());
        return false;
    }
    // A fresh session starts its automatic services one after the other and
    // holds the start lock meanwhile; on a loaded machine that takes a while.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 120; ++attempt)
    {
        error = StartServiceA(service.Get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT)
            break;
        Sleep(2000);
    }
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_ALREADY_RUNNING)
    {
        *why = "StartServiceA failed: " + std::to_string(error);
        return false;
    }
    if (!WaitForServiceState(name, SERVICE_RUNNING, 30000))
    {
        *why = "the service did not reach SERVICE_RUNNING";
        return false;
    }
    if (!stop)
        return true;
    SERVICE_STATUS status = {};
    if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
    {
        *why = "ControlService(STOP) failed: " + std::to_string(GetLastError());
        return false;
    }
    if (!WaitForServiceState(name, SERVICE_STOPPED, 30000))
    {
        *why = "the service did not reach SERVICE_STOPPED";
        return false;
    }
    return true;
}

std::map<std::string, std::string> RegistrySnapshot(HKEY root, const char *subkey, REGSAM view)
{
    std::map<std::string, std::string> entries;
    RegistryKeyHandle key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, key.Place()) == ERROR_SUCCESS)
        SnapshotKey(key.Get(), subkey, view, &entries);
    else
        *key.Place() = nullptr;
    return entries;
}

std::string SnapshotDifference(const std::map<std::string, std::string> &before,
                               const std::map<std::string, std::string> &after)
{
    std::string lines;
    for (const auto &entry : before)
    {
        auto found = after.find(entry.first);
        if (found == after.end())
            lines += "- " + entry.first + "\n";
        else if (found->second != entry.second)
            lines += "~ " + entry.first + " " + entry.second + " -> " + found->second + "\n";
    }
    for (const auto &entry : after)
    {
        if (before.find(entry.first) == before.end())
            lines += "+ " + entry.first + " " + entry.second + "\n";
    }
    return lines;
}

bool ReadSetting(const char *name, std::string *text)
{
    DWORD type = 0;
    std::string bytes;
    if (!ReadRegistryValue(HKEY_CLASSES_ROOT, "GPI\\Settings", name, &type, &bytes) ||
        type != REG_SZ)
        return false;
    // ReadRegistryValue gives the raw bytes; a REG_SZ read narrow ends in NUL.
    text->assign(bytes.c_str());
    return true;
}

bool ReadSettingBytes(const std::wstring &name, DWORD *type, std::string *bytes)
{
    RegistryKeyHandle key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"GPI\\Settings", 0, KEY_READ, key.Place()) !=
        ERROR_SUCCESS)
    {
        *key.Place() = nullptr;
        return false;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> data(size + 1);
    if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, type, data.data(), &size) !=
        ERROR_SUCCESS)
        return false;
    bytes->assign(reinterpret_cast<const char *>(data.data()), size);
    return true;
}

testing::AssertionResult Exited(const char *, const char *, HRESULT expected,
                                const ProcessResult &run)
{
    if (!run.started)
        return testing::AssertionFailure() << "the program could not be started";
    if (!run.finished)
        return testing::AssertionFailure() << "the program did not end in time; output:\n"
                                           << run.output;
    if (run.exitCode == static_cast<DWORD>(expected))
        return testing::AssertionSuccess();
    // AssertionResult streams each piece on its own, so std::hex would not
    // carry over to the number.
    char codes[64];
    snprintf(codes, sizeof(codes), "exit code 0x%08lX, expected 0x%08lX",
             static_cast<unsigned long>(run.exitCode), static_cast<unsigned long>(expected));
    return testing::AssertionFailure() << codes << "; output:\n" << run.output;
}

namespace {

// Wine creates driver-host services (Winedevice1, ...) as drivers load; they
// come and go with the session, not with anything the broker does.
bool IsWineDriverHost(const std::string &text, size_t at)
{
    return at <= text.size() && text.compare(at, 10, "Winedevice") == 0;
}

}  // namespace

MachineState CaptureMachine()
{
    // 32-bit Windows has one view and ignores the flag.
    const REGSAM view = KEY_WOW64_64KEY;
    MachineState state;
    state.classes = RegistrySnapshot(HKEY_LOCAL_MACHINE, "Software\\Classes", view);
    state.userClasses = RegistrySnapshot(HKEY_CURRENT_USER, "Software\\Classes", view);
    const std::string servicesKey = "System\\CurrentControlSet\\Services";
    for (auto &entry : RegistrySnapshot(HKEY_LOCAL_MACHINE, servicesKey.c_str(), view))
    {
        if (!IsWineDriverHost(entry.first, servicesKey.size() + 1))
            state.services.insert(entry);
    }
    for (const std::string &name : ServiceNames())
    {
        if (!IsWineDriverHost(name, 0))
            state.serviceNames.insert(name);
    }
    return state;
}

std::string Names(const std::set<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += name + " ";
    return text;
}
