// Shared pieces of the process-level suites: starting and watching Windows
// programs, registering the broker and its proxy in the scratch prefix,
// BSTRs with exact lengths, and reading HKCR\GPI back byte for byte.
#ifndef KESTOR_TESTS_STRESS_SUPPORT_H
#define KESTOR_TESTS_STRESS_SUPPORT_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "process_list.h"

namespace stress {

// Full path of a file in the folder of the running program (<build>/bin).
std::string BinPath(const char *file);

// One child process, killed (if still running) and closed by the destructor.
class Child
{
public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // The command line is passed as it is; false when CreateProcessA fails.
    bool Start(const std::string &commandLine);
    // True when the process ended within the time; then ExitCode() is valid.
    bool Wait(DWORD milliseconds);
    DWORD ExitCode() const;
    void Kill();
    HANDLE Handle() const { return m_info.hProcess; }

private:
    PROCESS_INFORMATION m_info = {};
};

// A manual-reset event with a name a child can open.
class NamedEvent
{
public:
    explicit NamedEvent(const std::string &name);
    ~NamedEvent();
    NamedEvent(const NamedEvent &) = delete;
    NamedEvent &operator=(const NamedEvent &) = delete;
    const std::string &Name() const { return m_name; }
    void Signal() const { SetEvent(m_handle); }
    bool Wait(DWORD milliseconds) const
    {
        return WaitForSingleObject(m_handle, milliseconds) == WAIT_OBJECT_0;
    }

private:
    std::string m_name;
    HANDLE m_handle;
};

// A name for a NamedEvent, distinct per test process.
std::string UniqueEventName(const char *tag);

// Runs a program to its end; the full 32-bit exit code, or `timedOutCode`
// (after killing it) when it takes longer than the time allowed.
DWORD RunToEnd(const std::string &commandLine, DWORD milliseconds, DWORD timedOutCode = 0xDEAD0001);

// "ZovKestor.exe -RegServer" or "-Service", then the proxy through regsvr32.
// Empty on success, else what failed.
std::string RegisterBroker(bool asService);

// Waits until no such process runs; false after the time.
bool WaitForNoProcess(const char *exeName, DWORD milliseconds);

// The broker's SCM entry: state queries and the stop control.
DWORD ServiceState();  // 0 when the service cannot be queried
bool WaitForServiceState(DWORD state, DWORD milliseconds);
bool SendServiceStop();
// Starts the service through the SCM and waits for RUNNING. A fresh session
// holds the SCM's start lock while its own automatic services start (slow
// under emulation); COM meanwhile falls back to launching the program as a
// plain local server, so a suite about the service starts it first.
std::string StartServiceAndWait();

// COM for one test (multithreaded apartment: no message pump is needed
// while a test waits on its children).
class ComApartment
{
public:
    ComApartment();
    ~ComApartment();
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};

// Out-of-process activation of the broker; S_OK and a pointer, or the failure.
HRESULT CreateBroker(IKestor **result);

// Releases the interface pointer it holds.
class KestorRef
{
public:
    KestorRef() = default;
    ~KestorRef() { Reset(); }
    KestorRef(const KestorRef &) = delete;
    KestorRef &operator=(const KestorRef &) = delete;
    IKestor **Out()
    {
        Reset();
        return &m_ptr;
    }
    IKestor *operator->() const { return m_ptr; }
    IKestor *Get() const { return m_ptr; }
    void Reset();

private:
    IKestor *m_ptr = nullptr;
};

// A BSTR of exactly the given UTF-16 units (embedded NULs kept), or a null
// BSTR; freed by the destructor.
class Bstr
{
public:
    Bstr() = default;  // null
    explicit Bstr(const std::wstring &text);
    ~Bstr();
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr = nullptr;
};

// One registry value as stored.
struct StoredValue
{
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool operator==(const StoredValue &other) const
    {
        return type == other.type && bytes == other.bytes;
    }
    bool operator!=(const StoredValue &other) const { return !(*this == other); }
};

// The bytes a REG_SZ holds for `text`: every unit and one terminating NUL.
StoredValue StringValue(const std::wstring &text);

// Reads one value of HKCR\GPI\Settings; false when the value (or key) is missing.
bool ReadSetting(const std::wstring &name, StoredValue *value);

// A whole tree: every key path (relative, "" for the root) with its values.
// Names are compared without regard to case, as the registry does.
struct NoCaseLess
{
    bool operator()(const std::wstring &a, const std::wstring &b) const
    {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};
using ValueMap = std::map<std::wstring, StoredValue, NoCaseLess>;
using TreeSnapshot = std::map<std::wstring, ValueMap, NoCaseLess>;

// Empty when the key does not exist.
TreeSnapshot SnapshotTree(HKEY root, const wchar_t *path);
// Human-readable list of what differs, empty when equal.
std::string DescribeDifference(const TreeSnapshot &before, const TreeSnapshot &after);

// Removes HKCR\GPI with everything below it.
void DeleteGpiTree();

// Monotonic seconds, for the timings the suites print.
double Now();

// Prints "<what> took X.XX s" when it goes out of scope.
class TimedScope
{
public:
    explicit TimedScope(const char *what);
    ~TimedScope();

private:
    std::string m_what;
    double m_start;
};

}  // namespace stress

#endif  // KESTOR_TESTS_STRESS_SUPPORT_H
