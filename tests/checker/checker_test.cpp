// kestor-check as administrators and fleet tools run it: against an
// installation made by install.cmd and one made by each package, healthy
// and broken one way at a time. Each suite runs in a throw-away prefix of
// its own (see CMakeLists.txt); the --json reports go to the folder named by
// KESTOR_CHECK_REPORTS, where check_json.py reads them afterwards.
#include <windows.h>
#include <aclapi.h>
#include <oleauto.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "product_process.h"

namespace {

const char kService[] = "ZovKestor";
const char kServiceKey[] = "System\\CurrentControlSet\\Services\\ZovKestor";
const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;
const char kAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;
const std::vector<std::string> kChecks = {"class",    "appid",   "service", "proxy",
                                          "typelib",  "versions", "folders", "call"};

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

std::string Environment(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

bool OnWin64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// One run of the checker, with the checks it passed and failed in order.
struct Verdict
{
    ProcessResult run;
    std::vector<std::string> passed;
    std::vector<std::string> failed;
};

Verdict Check(const std::string &checker, const std::string &arguments = "")
{
    Verdict verdict;
    verdict.run = RunProcess(Quoted(checker) + " " + arguments);
    std::istringstream lines(verdict.run.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string status, name;
        words >> status >> name;
        (status == "ok" ? verdict.passed : verdict.failed).push_back(name);
    }
    return verdict;
}

testing::AssertionResult IsHealthy(const Verdict &verdict)
{
    if (verdict.run.finished && verdict.run.exitCode == 0 && verdict.passed == kChecks &&
        verdict.failed.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "exit code " << verdict.run.exitCode << ":\n"
                                       << verdict.run.output;
}

// Exit code 1, and the first check that fails is the one that should.
testing::AssertionResult NamesFirst(const std::string &check, const Verdict &verdict)
{
    if (verdict.run.finished && verdict.run.exitCode == 1 && !verdict.failed.empty() &&
        verdict.failed.front() == check && verdict.passed.size() + verdict.failed.size() == 8)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "expected " << check << " to fail first; exit code "
                                       << verdict.run.exitCode << ":\n"
                                       << verdict.run.output;
}

// Saves the checker's --json report for check_json.py as <name>.<exit code>.json.
void SaveJsonReport(const std::string &checker, const std::string &name,
                    const std::string &arguments = "--json")
{
    const std::string folder = Environment("KESTOR_CHECK_REPORTS");
    ASSERT_NE("", folder) << "KESTOR_CHECK_REPORTS is not set";
    ProcessResult run = RunProcess(Quoted(checker) + " " + arguments);
    ASSERT_TRUE(run.finished);
    std::ofstream file(folder + "\\" + name + "." + std::to_string(run.exitCode) + ".json",
                       std::ios::binary);
    file << run.output;
}

// Healthy checks change nothing: the classes (both views), the services'
// registry and the services there are, byte for byte.
void ExpectHealthyAndUnchanged(const std::vector<std::string> &checkers)
{
    MachineState before = CaptureMachine();
    for (const std::string &checker : checkers)
        EXPECT_TRUE(IsHealthy(Check(checker))) << checker;
    MachineState after = CaptureMachine();
    EXPECT_EQ("", SnapshotDifference(before.classes, after.classes));
    EXPECT_EQ("", SnapshotDifference(before.userClasses, after.userClasses));
    EXPECT_EQ("", SnapshotDifference(before.services, after.services));
    EXPECT_EQ(Names(before.serviceNames), Names(after.serviceNames));
}

class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle()
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
    SC_HANDLE Get() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

// Stops the service and waits, so that its files can be replaced.
void StopService()
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(OpenServiceA(manager.Get(), kService, SERVICE_STOP));
    SERVICE_STATUS status;
    if (service.Get() != nullptr && ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        for (int i = 0; i < 100 && ServiceState(kService) != SERVICE_STOPPED; ++i)
            Sleep(100);
    }
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
}

void DeleteServiceEntry()
{
    StopService();
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(OpenServiceA(manager.Get(), kService, DELETE));
    EXPECT_TRUE(service.Get() != nullptr && DeleteService(service.Get()));
}

void SetStartType(DWORD startType)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(OpenServiceA(manager.Get(), kService, SERVICE_CHANGE_CONFIG));
    EXPECT_TRUE(service.Get() != nullptr &&
                ChangeServiceConfigA(service.Get(), SERVICE_NO_CHANGE, startType,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr));
}

void SetValue(HKEY root, const char *key, const char *name, DWORD type, const void *data,
              DWORD size)
{
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root, key, name, type, data, size)) << key;
}

void DeleteValue(HKEY root, const char *key, const char *name)
{
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyValueA(root, key, name)) << key;
}

void SetLocalService(const char *name)
{
    SetValue(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", REG_SZ, name,
             static_cast<DWORD>(lstrlenA(name) + 1));
}

// The DACL of a file or folder as SDDL, and back.
std::string ReadDacl(const std::string &path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    char *text = nullptr;
    std::string dacl;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        dacl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return dacl;
}

void WriteDacl(const std::string &path, const std::string &sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << sddl;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetNamedSecurityInfoA(const_cast<char *>(path.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));
    LocalFree(descriptor);
}

// ---------------------------------------------------------------------------
// install.cmd from a folder of its own, with a blank in its name.
class CheckerInstallScript : public testing::Test
{
protected:
    static std::string Folder() { return Environment("ProgramFiles") + "\\Kestor Check\\"; }
    static std::string Checker() { return Folder() + "kestor-check.exe"; }
    static ProcessResult Script(const char *script)
    {
        return RunProcess("cmd /c " + Quoted(Folder() + script));
    }

    static void SetUpTestSuite()
    {
        ASSERT_EQ(0u, ServiceState(kService));
        s_before = new MachineState(CaptureMachine());
        ASSERT_TRUE(CreateDirectoryA(Folder().c_str(), nullptr)) << Folder();
        for (const char *file : {"install.cmd", "uninstall.cmd", "ZovKestor.exe", "ZovKestor.tlb",
                                 "KestorPr.dll", "kestor-check.exe"})
            ASSERT_TRUE(CopyFileA((ProgramFolder() + file).c_str(), (Folder() + file).c_str(),
                                  TRUE))
                << file;
        ProcessResult install = Script("install.cmd");
        ASSERT_EXIT_CODE(S_OK, install);
    }
    static void TearDownTestSuite()
    {
        delete s_before;
        s_before = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, s_before); }

    static MachineState *s_before;
};
MachineState *CheckerInstallScript::s_before = nullptr;

TEST_F(CheckerInstallScript, AHealthyInstallationPassesEveryCheckAndChangesNothing)
{
    // The first look starts the service, as a client would.
    ExpectHealthyAndUnchanged({Checker()});
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));

    Verdict quiet = Check(Checker(), "--quiet");
    EXPECT_EQ(0u, quiet.run.exitCode);
    EXPECT_EQ("", quiet.run.output);
    SaveJsonReport(Checker(), "install-script-healthy");

    for (const char *usage : {"--verbose", "--json extra"}) {
        ProcessResult bad = RunProcess(Quoted(Checker()) + " " + usage);
        EXPECT_EXIT_CODE(2, bad);
        EXPECT_NE(std::string::npos, bad.output.find("usage: kestor-check")) << bad.output;
    }
}

// One way of breaking the installation, the check that must name it, and
// how to put it back.
struct Breakage
{
    const char *what;
    const char *check;
    std::function<void()> breakIt;
    std::function<void()> repair;
};

TEST_F(CheckerInstallScript, EachBreakageFailsTheCheckThatNamesIt)
{
    const std::string folder = Folder();
    auto move = [](const std::string &from, const std::string &to) {
        EXPECT_TRUE(MoveFileA(from.c_str(), to.c_str())) << from;
    };
    auto reregister = [folder]() {
        EXPECT_EXIT_CODE(S_OK, RunProcess(Quoted(folder + "ZovKestor.exe") + " -Service"));
    };
    const std::string folderDacl = ReadDacl(folder);
    ASSERT_NE("", folderDacl);
    const DWORD marked = 1;

    const Breakage breakages[] = {
        {"proxy registration removed", "proxy",
         [] { EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, kInterfaceKey)); },
         [folder] {
             EXPECT_EXIT_CODE(S_OK, RunProcess("regsvr32 /s " + Quoted(folder + "KestorPr.dll")));
         }},
        {"service entry deleted", "service", DeleteServiceEntry, reregister},
        // Windows marks an entry it cannot delete yet with this value; Wine
        // neither writes it nor refuses anything of a marked entry.
        {"service marked for deletion", "service",
         [&] { SetValue(HKEY_LOCAL_MACHINE, kServiceKey, "DeleteFlag", REG_DWORD, &marked, 4); },
         [] { DeleteValue(HKEY_LOCAL_MACHINE, kServiceKey, "DeleteFlag"); }},
        {"LocalService naming a missing service", "appid",
         [] { SetLocalService("KestorNoSuchService"); }, [] { SetLocalService(kService); }},
        {"service disabled", "service", [] { SetStartType(SERVICE_DISABLED); },
         [] { SetStartType(SERVICE_AUTO_START); }},
        {"ZovKestor.exe deleted", "class",
         [&] {
             StopService();
             move(folder + "ZovKestor.exe", folder + "ZovKestor.exe.away");
         },
         [&] { move(folder + "ZovKestor.exe.away", folder + "ZovKestor.exe"); }},
        {"type library file deleted", "typelib",
         [&] { move(folder + "ZovKestor.tlb", folder + "ZovKestor.tlb.away"); },
         [&] { move(folder + "ZovKestor.tlb.away", folder + "ZovKestor.tlb"); }},
        {"type library unregistered by another product", "typelib",
         [] { EXPECT_HRESULT_SUCCEEDED(UnRegisterTypeLib(LIBID_ZovKestorLib, 1, 0, 0, SYS_WIN32)); },
         reregister},
        {"versions that disagree", "versions",
         [&] {
             StopService();
             move(folder + "KestorPr.dll", folder + "KestorPr.dll.away");
             EXPECT_TRUE(CopyFileA((ProgramFolder() + "KestorPrOlder.dll").c_str(),
                                   (folder + "KestorPr.dll").c_str(), TRUE));
         },
         [&] {
             StopService();
             EXPECT_TRUE(DeleteFileA((folder + "KestorPr.dll").c_str()));
             move(folder + "KestorPr.dll.away", folder + "KestorPr.dll");
         }},
        // What "icacls <folder> /grant Everyone:M" does; Wine turns it into
        // the folder's Unix mode (o+w).
        {"program folder writable by everyone", "folders",
         [&] { WriteDacl(folder, folderDacl + "(A;OICI;0x1301ff;;;WD)"); },
         [&] { WriteDacl(folder, folderDacl); }},
    };

    for (const Breakage &breakage : breakages) {
        SCOPED_TRACE(breakage.what);
        breakage.breakIt();
        EXPECT_TRUE(NamesFirst(breakage.check, Check(Checker())));
        if (std::string(breakage.check) == "folders")
            SaveJsonReport(Checker(), "install-script-folders");
        breakage.repair();
    }
    SaveJsonReport(Checker(), "install-script-repaired");
    EXPECT_TRUE(IsHealthy(Check(Checker())));
}

TEST_F(CheckerInstallScript, UninstalledFailsTheClassAndLeavesTheMachineAsBefore)
{
    ASSERT_EXIT_CODE(S_OK, Script("uninstall.cmd"));
    Verdict verdict = Check(Checker(), "--quiet");
    EXPECT_TRUE(NamesFirst("class", Check(Checker())));
    EXPECT_EQ(0u, verdict.passed.size()) << "--quiet prints only failures";
    EXPECT_NE(std::string::npos, verdict.run.output.find("install.cmd")) << verdict.run.output;
    SaveJsonReport(Checker(), "install-script-removed-quiet", "--json --quiet");

    MachineState after = CaptureMachine();
    EXPECT_EQ("", SnapshotDifference(s_before->classes, after.classes));
    EXPECT_EQ("", SnapshotDifference(s_before->services, after.services));
    EXPECT_EQ(Names(s_before->serviceNames), Names(after.serviceNames));
}

// ---------------------------------------------------------------------------
// The package of this prefix's width (KESTOR_MSI): installed, broken,
// repaired with the repair the checker names, removed. On 64-bit Windows
// both widths of the checker look, each as a client of its own width.
std::vector<std::string> PackageCheckers()
{
    std::vector<std::string> checkers = {Environment("ProgramFiles") +
                                         "\\Kestor\\kestor-check.exe"};
    if (OnWin64())
        checkers.push_back(Environment("ProgramW6432") + "\\Kestor\\kestor-check.exe");
    return checkers;
}

// The product code in "msiexec /fa {...} /qn".
std::string ProductCodeIn(const std::string &output)
{
    size_t at = output.find("msiexec /fa {");
    return at == std::string::npos ? std::string() : output.substr(at + 12, 38);
}

TEST(CheckerPackage, InstalledBrokenRepairedAndRemoved)
{
    const std::string package = Quoted(Environment("KESTOR_MSI"));
    ASSERT_NE("\"\"", package) << "KESTOR_MSI is not set";
    ASSERT_EXIT_CODE(S_OK, RunProcess("msiexec /i " + package + " /qn"));
    ExpectHealthyAndUnchanged(PackageCheckers());
    SaveJsonReport(PackageCheckers().back(), "package-healthy");

    // The proxy registration of the clients' own width goes: on 64-bit
    // Windows the 64-bit view's, which only 64-bit clients use.
    HKEY interfaces = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Interface", 0,
                                           KEY_ALL_ACCESS | (OnWin64() ? KEY_WOW64_64KEY : 0),
                                           &interfaces));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(interfaces, KESTOR_IID_TEXT));
    RegCloseKey(interfaces);
    std::string productCode;
    for (const std::string &checker : PackageCheckers()) {
        Verdict verdict = Check(checker);
        EXPECT_TRUE(NamesFirst("proxy", verdict)) << checker;
        productCode = ProductCodeIn(verdict.run.output);
    }
    SaveJsonReport(PackageCheckers().front(), "package-broken");

    // The remedy is "msiexec /fa {ProductCode} /qn"; Wine's msiexec takes
    // no product code after /f, so the same repair is asked for with /i.
    ASSERT_EQ(38u, productCode.size());
    ASSERT_EXIT_CODE(S_OK, RunProcess("msiexec /i " + productCode +
                                      " REINSTALL=ALL REINSTALLMODE=a /qn"));
    for (const std::string &checker : PackageCheckers())
        EXPECT_TRUE(IsHealthy(Check(checker))) << checker;

    // The checkers go with the package; the build's stands in afterwards.
    ASSERT_EXIT_CODE(S_OK, RunProcess("msiexec /x " + package + " /qn"));
    EXPECT_TRUE(NamesFirst("class", Check(ProgramFolder() + "kestor-check.exe")));
    EXPECT_EQ(0u, ServiceState(kService));
}

}  // namespace
