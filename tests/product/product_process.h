// What the process-level product tests need from the system: running a
// program with its full exit code and output, the registry and the Service
// Control Manager as they stand, and the processes that run.
#ifndef KESTOR_TESTS_PRODUCT_PRODUCT_PROCESS_H
#define KESTOR_TESTS_PRODUCT_PRODUCT_PROCESS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "base/handle_owner.h"
#include "process_list.h"

struct ProcessResult
{
    bool started = false;   // CreateProcessA succeeded
    bool finished = false;  // ended within the time limit (else it was killed)
    DWORD exitCode = 0;     // all 32 bits
    std::string output;     // standard output and standard error, interleaved
};

// How long a test waits for a program before it kills it. Longer than any
// bound of the programs the tests drive, so that a program that gives up
// says so itself instead of being killed: kestor-check bounds its call at
// 30 s, "ZovKestor.exe -Service" and "-UnregServer" wait at most 30 s for
// the old service entry, and msiexec runs no more than two of those in one go.
const DWORD kProgramDeadlineMs = 120000;

// A program started with the command line as given (CreateProcessW resolves
// the program) in the folder given, or in this one when it is empty, for a
// test that acts while the program runs. The output goes through a temporary
// file, not a pipe, so that a server or service the program starts cannot
// hold the reading end open. A program never waited for is killed.
class StartedProcess
{
public:
    StartedProcess(const std::wstring &commandLine, const std::wstring &folder);
    ~StartedProcess();
    StartedProcess(const StartedProcess &) = delete;
    StartedProcess &operator=(const StartedProcess &) = delete;

    bool Running() const;
    // Waits for the end and collects the exit code and the output; once
    // only. Past the time limit the program is killed, and what it printed
    // until then goes to this program's standard output first.
    ProcessResult Finish(DWORD timeoutMs = kProgramDeadlineMs);

private:
    std::string OutputSoFar() const;

    std::wstring m_commandLine;
    std::string m_outputPath;
    FileHandle m_output;
    KernelHandle m_process;
};

// Starts the command line and waits for it. The narrow forms are the line
// and folder in the ANSI code page, as CreateProcessA takes them.
ProcessResult RunProcess(const std::wstring &commandLine, DWORD timeoutMs = kProgramDeadlineMs);
ProcessResult RunProcess(const std::string &commandLine, DWORD timeoutMs = kProgramDeadlineMs);
ProcessResult RunProcessIn(const std::string &folder, const std::string &commandLine);
std::wstring WideFromAnsi(const std::string &text);
std::string NarrowFromWide(const std::wstring &text);

// Folder of the running test program, with a trailing backslash: the build
// puts every program, the type library and the scripts there.
std::string ProgramFolder();

// "ZovKestor" service state (SERVICE_STOPPED ...), or 0 when there is none.
DWORD ServiceState(const char *name);

// Starts the service and waits until it runs; then, when stop is true, stops
// it and waits until it has stopped. Retries while the Service Control Manager
// is still busy starting the session's own services. False with the reason
// in why when that does not happen in time.
bool CycleService(const char *name, bool stop, std::string *why);

// Names of every Win32 service the Service Control Manager knows.
std::set<std::string> ServiceNames();

// Every key and value below root\subkey, as "path" -> "" for keys and
// "path\\:name" -> "type:bytes" for values, for comparing two moments. view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY) picks the registry view on 64-bit
// Windows; 0 is this process's own.
std::map<std::string, std::string> RegistrySnapshot(HKEY root, const char *subkey, REGSAM view = 0);

// Lines of "+ entry", "- entry" or "~ entry" for what differs; empty when equal.
std::string SnapshotDifference(const std::map<std::string, std::string> &before,
                               const std::map<std::string, std::string> &after);

// A REG_SZ value under HKEY_CLASSES_ROOT\GPI\Settings; false when it is
// missing or of another type.
bool ReadSetting(const char *name, std::string *text);

// A value under HKEY_CLASSES_ROOT\GPI\Settings named in UTF-16, its type and
// its bytes as stored; false when it is missing.
bool ReadSettingBytes(const std::wstring &name, DWORD *type, std::string *bytes);

// Expects a program to have ended by itself with this exit code (all 32
// bits); a failure shows the code and the program's output.
testing::AssertionResult Exited(const char *, const char *, HRESULT expected,
                                const ProcessResult &run);
#define EXPECT_EXIT_CODE(expected, run) EXPECT_PRED_FORMAT2(Exited, expected, run)
#define ASSERT_EXIT_CODE(expected, run) ASSERT_PRED_FORMAT2(Exited, expected, run)

// What an installation may change and a removal must put back: the class
// registry of the machine and the user, the services' registry and the
// services the Service Control Manager knows, without Wine's driver hosts.
// The registry is read in the 64-bit view on 64-bit Windows, where the
// 32-bit view's classes are the subtree Wow6432Node: both views at once.
struct MachineState
{
    std::map<std::string, std::string> classes;
    std::map<std::string, std::string> userClasses;
    std::map<std::string, std::string> services;
    std::set<std::string> serviceNames;
};
MachineState CaptureMachine();

// The names, one after the other, for comparing two sets in one line.
std::string Names(const std::set<std::string> &names);

#endif  // KESTOR_TESTS_PRODUCT_PRODUCT_PROCESS_H
