#include "stress_support.h"

#include <cstdio>
#include <sstream>

#include "opened_service.h"

namespace stress {

namespace {

const char kServiceName[] = "ZovKestor";

}  // namespace

std::string BinPath(const char *file)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    folder.resize(slash == std::string::npos ? 0 : slash + 1);
    return folder + file;
}

Child::~Child()
{
    if (m_info.hProcess != NULL)
    {
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
            Kill();
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
}

bool Child::Start(const std::string &commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    return CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &m_info) !=
           FALSE;
}

bool Child::Wait(DWORD milliseconds)
{
    return m_info.hProcess != NULL &&
           WaitForSingleObject(m_info.hProcess, milliseconds) == WAIT_OBJECT_0;
}

DWORD Child::ExitCode() const
{
    DWORD code = 0xDEAD0002;
    if (m_info.hProcess != NULL)
        GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

void Child::Kill()
{
    if (m_info.hProcess == NULL)
        return;
    TerminateProcess(m_info.hProcess, 0xDEAD0003);
    WaitForSingleObject(m_info.hProcess, 10000);
}

NamedEvent::NamedEvent(const std::string &name)
    : m_name(name), m_handle(CreateEventA(NULL, TRUE, FALSE, name.c_str()))
{}

NamedEvent::~NamedEvent()
{
    if (m_handle != NULL)
        CloseHandle(m_handle);
}

std::string UniqueEventName(const char *tag)
{
    static LONG counter = 0;
    return std::string("KestorStress-") + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(InterlockedIncrement(&counter));
}

DWORD RunToEnd(const std::string &commandLine, DWORD milliseconds, DWORD timedOutCode)
{
    Child child;
    if (!child.Start(commandLine))
        return 0xDEAD0000 | (GetLastError() & 0xFFFF);
    if (!child.Wait(milliseconds))
    {
        child.Kill();
        return timedOutCode;
    }
    return child.ExitCode();
}

namespace {

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

}  // namespace

std::string RegisterBroker(bool asService)
{
    std::string program = "\"" + BinPath("ZovKestor.exe") + "\"";
    std::string line = program + (asService ? " -Service" : " -RegServer");
    DWORD code = RunToEnd(line, 120000);
    if (code != 0)
        return line + " ended with " + Hex(code);
    line = "regsvr32.exe /s \"" + BinPath("KestorPr.dll") + "\"";
    code = RunToEnd(line, 120000);
    if (code != 0)
        return line + " ended with " + Hex(code);
    return std::string();
}

bool WaitForNoProcess(const char *exeName, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (ProcessRunning(exeName))
    {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(50);
    }
    return true;
}

DWORD ServiceState()
{
    OpenedService service(kServiceName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (service.Get() == NULL || !QueryServiceStatus(service.Get(), &status))
    {
        std::printf("[service] cannot query the service: error %lu\n", GetLastError());
        return 0;
    }
    return status.dwCurrentState;
}

bool WaitForServiceState(DWORD state, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (ServiceState() != state)
    {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(20);
    }
    return true;
}

bool SendServiceStop()
{
    OpenedService service(kServiceName, SERVICE_STOP);
    SERVICE_STATUS status = {};
    return service.Get() != NULL && ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
}

std::string StartServiceAndWait()
{
    OpenedService service(kServiceName, SERVICE_START);
    if (service.Get() == NULL)
        return "cannot open the service: error " + std::to_string(service.OpenError());
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 180; ++attempt)
    {
        error = StartServiceA(service.Get(), 0, NULL) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT)
            break;
        Sleep(1000);
    }
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_ALREADY_RUNNING)
        return "StartServiceA failed: error " + std::to_string(error);
    if (!WaitForServiceState(SERVICE_RUNNING, 60000))
        return "the service did not reach RUNNING";
    return std::string();
}

ComApartment::ComApartment() : m_result(CoInitializeEx(NULL, COINIT_MULTITHREADED))
{}

ComApartment::~ComApartment()
{
    if (SUCCEEDED(m_result))
        CoUninitialize();
}

HRESULT CreateBroker(IKestor **result)
{
    return CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                            reinterpret_cast<void **>(result));
}

void KestorRef::Reset()
{
    if (m_ptr != nullptr)
        m_ptr->Release();
    m_ptr = nullptr;
}

Bstr::Bstr(const std::wstring &text)
    : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
{}

Bstr::~Bstr()
{
    SysFreeString(m_bstr);
}

StoredValue StringValue(const std::wstring &text)
{
    StoredValue value;
    value.type = REG_SZ;
    const BYTE *start = reinterpret_cast<const BYTE *>(text.c_str());
    // c_str() carries the terminating NUL after the last unit.
    value.bytes.assign(start, start + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

bool ReadSetting(const std::wstring &name, StoredValue *value)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, name.c_str(), NULL, &value->type, NULL, &size);
    if (result == ERROR_SUCCESS)
    {
        value->bytes.assign(size, 0);
        result = RegQueryValueExW(key, name.c_str(), NULL, &value->type,
                                  value->bytes.empty() ? NULL : value->bytes.data(), &size);
        value->bytes.resize(size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {

void SnapshotKey(HKEY key, const std::wstring &path, TreeSnapshot *tree)
{
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    ValueMap &valueMap = (*tree)[path];
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, &maxSubkey, NULL, &values, &maxName,
                         &maxData, NULL, NULL) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0; i < values; ++i)
    {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        StoredValue value;
        if (RegEnumValueW(key, i, name.data(), &nameLength, NULL, &value.type, data.data(),
                          &dataSize) != ERROR_SUCCESS)
            continue;
        value.bytes.assign(data.begin(), data.begin() + dataSize);
        valueMap[std::wstring(name.data(), nameLength)] = value;
    }
    std::vector<wchar_t> subkey(maxSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i)
    {
        DWORD length = static_cast<DWORD>(subkey.size());
        if (RegEnumKeyExW(key, i, subkey.data(), &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            continue;
        std::wstring childName(subkey.data(), length);
        HKEY child;
        if (RegOpenKeyExW(key, childName.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
            continue;
        SnapshotKey(child, path.empty() ? childName : path + L"\\" + childName, tree);
        RegCloseKey(child);
    }
}

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text.substr(0, 80))
        out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    if (text.size() > 80)
        out += "...(" + std::to_string(text.size()) + " units)";
    return out;
}

}  // namespace

TreeSnapshot SnapshotTree(HKEY root, const wchar_t *path)
{
    TreeSnapshot tree;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return tree;
    SnapshotKey(key, L"", &tree);
    RegCloseKey(key);
    return tree;
}

std::string DescribeDifference(const TreeSnapshot &before, const TreeSnapshot &after)
{
    std::ostringstream out;
    for (const auto &key : before)
    {
        auto found = after.find(key.first);
        if (found == after.end())
        {
            out << "key removed: \"" << Narrow(key.first) << "\"\n";
            continue;
        }
        for (const auto &value : key.second)
        {
            auto other = found->second.find(value.first);
            if (other == found->second.end())
                out << "value removed: \"" << Narrow(key.first) << "\" : \"" << Narrow(value.first)
                    << "\"\n";
            else if (other->second != value.second)
                out << "value changed: \"" << Narrow(key.first) << "\" : \"" << Narrow(value.first)
                    << "\" (" << value.second.bytes.size() << " -> " << other->second.bytes.size()
                    << " bytes)\n";
        }
        for (const auto &value : found->second)
            if (key.second.find(value.first) == key.second.end())
                out << "value added: \"" << Narrow(key.first) << "\" : \"" << Narrow(value.first)
                    << "\"\n";
    }
    for (const auto &key : after)
        if (before.find(key.first) == before.end())
            out << "key added: \"" << Narrow(key.first) << "\" with " << key.second.size()
                << " values\n";
    return out.str();
}

void DeleteGpiTree()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"GPI");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"GPI");
}

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TimedScope::TimedScope(const char *what) : m_what(what), m_start(Now())
{}

TimedScope::~TimedScope()
{
    std::printf("[timing] %s took %.2f s\n", m_what.c_str(), Now() - m_start);
    std::fflush(stdout);
}

}  // namespace stress
