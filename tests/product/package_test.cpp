// The Windows Installer package as an administrator deploys it, under Wine's
// msiexec: silent install, client calls through the service, repair,
// upgrade from an older package, refusal of an older package over a newer
// one and of the other kind of Windows' package, removal, and an install
// whose registration step fails. The suite runs in a throw-away Wine prefix
// of its own: a 32-bit one with the x86 package, a 64-bit one with the x64
// package, which also places and registers the 64-bit proxy/stub library
// (checked in both registry views there). Each test leaves the machine as it
// found it. CTest hands over the packages the build made (Windows paths):
//   KESTOR_MSI         this version's package
//   KESTOR_MSI_OLDER   the same files as an older version
//   KESTOR_MSI_BROKEN  this version with a damaged type library, on which
//                      "ZovKestor.exe -Service" fails
//   KESTOR_MSI_OTHER   this version's package for the other kind of Windows
#include <windows.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "broker/kestor_interface.h"
#include "checker_verdict.h"
#include "product_process.h"
#include "scratch_registry.h"

namespace {

const char kService[] = "ZovKestor";
// The product code of another version, as an upgrade names it to the other
// version's session (EachKindOfSessionRunsTheBrokerStepsItShould).
const char kOtherVersion[] = "{0D9A5C3E-7B41-4F28-9E6D-1A2B3C4D5E6F}";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Under HKEY_CLASSES_ROOT: what the two registration steps write.
const char *const kRegistrationKeys[] = {
    "CLSID\\" KESTOR_CLSID_TEXT,   "AppID\\" KESTOR_APPID_TEXT,
    "AppID\\ZovKestor.EXE",        KESTOR_PROGID,
    KESTOR_PROGID_INDEPENDENT,     "TypeLib\\" KESTOR_LIBID_TEXT,
    "Interface\\" KESTOR_IID_TEXT, "CLSID\\" KESTOR_IID_TEXT};
const char *const kInstalledFiles[] = {"ZovKestor.exe", "ZovKestor.tlb", "KestorPr.dll",
                                       "kestor-set.exe", "kestor-check.exe"};
// What the 64-bit proxy/stub library and "ZovKestor.exe -Service" write into
// the 64-bit view on 64-bit Windows.
const char kProxyServerKey[] = "CLSID\\" KESTOR_IID_TEXT "\\InprocServer32";
const char *const kNativeKeys[] = {"Interface\\" KESTOR_IID_TEXT, kProxyServerKey,
                                   "CLSID\\" KESTOR_CLSID_TEXT};

// This 32-bit driver runs under WOW64 in the 64-bit prefix.
bool OnWin64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

struct View
{
    const char *name;
    REGSAM flag;
};
// The registry views there are: one on 32-bit Windows, two on 64-bit.
std::vector<View> Views()
{
    if (!OnWin64())
        return {{"registry", 0}};
    return {{"32-bit view", KEY_WOW64_32KEY}, {"64-bit view", KEY_WOW64_64KEY}};
}
const View kNativeView = {"64-bit view", KEY_WOW64_64KEY};

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string Environment(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

std::string Package(const char *variable)
{
    std::string path = Environment(variable);
    EXPECT_NE("", path) << variable << " is not set";
    return Quoted(path);
}

// The 32-bit Program Files folder, as this 32-bit program sees it.
std::string InstallFolder()
{
    return Environment("ProgramFiles") + "\\Kestor\\";
}
// Where the x64 package puts the 64-bit library.
std::string NativeInstallFolder()
{
    return Environment("ProgramW6432") + "\\Kestor\\";
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// msiexec with the arguments, silent, with a verbose log whose text follows
// msiexec's own output in the result (failures show it). On 64-bit Windows
// "msiexec" from this program is the 32-bit one, as from any 32-bit
// deployment agent; native picks the 64-bit one, what Wine runs from a Unix
// shell (on Windows both hand the work to the 64-bit installer service).
ProcessResult MsiExec(const std::string &arguments, const char *logName, bool native = false)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string log = std::string(folder) + "kestor-" + logName + ".log";
    DeleteFileA(log.c_str());
    std::string program = "msiexec";
    if (native && OnWin64())
        program = Quoted(Environment("SystemRoot") + "\\Sysnative\\msiexec.exe");
    StartedProcess msiexec(WideFromAnsi(program + " " + arguments + " /qn /l*v " + Quoted(log)),
                           std::wstring());
    ProcessResult run = msiexec.Finish();
    std::ifstream file(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());  // UTF-16 logs
    run.output += "--- " + log + "\n" + text;
    return run;
}

ProcessResult KestorSet(const std::string &arguments)
{
    return RunProcess(Quoted(InstallFolder() + "kestor-set.exe") + " " + arguments);
}

// The package installs no 64-bit client: the build's stands in for one.
ProcessResult KestorSet64(const std::string &arguments)
{
    return RunProcess(Quoted(ProgramFolder() + "x64\\kestor-set.exe") + " " + arguments);
}

std::string Setting(const char *name)
{
    std::string text;
    return ReadSetting(name, &text) ? text : std::string("<missing>");
}

bool KeyExists(const View &view, const char *path)
{
    return RegistryKeyExists(HKEY_CLASSES_ROOT, path, view.flag);
}

std::string ValueText(const View &view, HKEY root, const std::string &path, const char *name)
{
    DWORD type = 0;
    std::string data;
    if (!ReadRegistryValue(root, path.c_str(), name, &type, &data, view.flag))
        return "<missing>";
    if (type == REG_DWORD && data.size() == sizeof(DWORD))
        return std::to_string(*reinterpret_cast<const DWORD *>(data.data()));
    return data.c_str();
}

// The Add/Remove Programs entries named "Kestor" in every view, as
// "publisher|version|NoModify".
std::vector<std::string> ProgramsEntries()
{
    const std::string prefix = std::string(kUninstallKey) + "\\";
    std::vector<std::string> entries;
    for (const View &view : Views())
    {
        for (const auto &entry : RegistrySnapshot(HKEY_LOCAL_MACHINE, kUninstallKey, view.flag))
        {
            // Only the keys of the products themselves, not their values or subkeys.
            const std::string &path = entry.first;
            if (path.compare(0, prefix.size(), prefix) != 0 ||
                path.find_first_of("\\:", prefix.size()) != std::string::npos)
                continue;
            auto value = [&](const char *name) {
                return ValueText(view, HKEY_LOCAL_MACHINE, path, name);
            };
            if (value("DisplayName") == "Kestor")
                entries.push_back(value("Publisher") + "|" + value("DisplayVersion") + "|" +
                                  value("NoModify"));
        }
    }
    return entries;
}

std::string ExpectedEntry(const char *version)
{
    return std::string("Kestor developers|") + version + "|1";
}

// Windows Installer's own product lists under Classes\Installer stay once
// they have held a product (on Windows they are there from the start). Only
// the list keys are left out: anything of a product below them still counts.
MachineState WithoutInstallerLists(MachineState state)
{
    for (const char *list : {"", "\\Features", "\\Products", "\\UpgradeCodes"})
        state.classes.erase(std::string("Software\\Classes\\Installer") + list);
    return state;
}

// The package's health checks: the 32-bit one, and on 64-bit Windows the
// 64-bit one beside the 64-bit library, each a client of its own width.
std::vector<std::string> PackageCheckers()
{
    std::vector<std::string> checkers = {InstallFolder() + "kestor-check.exe"};
    if (OnWin64())
        checkers.push_back(NativeInstallFolder() + "kestor-check.exe");
    return checkers;
}

void ExpectInstalled(const char *version)
{
    for (const char *file : kInstalledFiles)
        EXPECT_TRUE(FileExists(InstallFolder() + file)) << file;
    for (const char *key : kRegistrationKeys)
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    // Each view's proxy/stub class names the library of its own width.
    EXPECT_EQ(InstallFolder() + "KestorPr.dll",
              ValueText(Views().front(), HKEY_CLASSES_ROOT, kProxyServerKey, nullptr));
    if (OnWin64())
    {
        EXPECT_TRUE(FileExists(NativeInstallFolder() + "KestorPr.dll"));
        for (const char *key : kNativeKeys)
            EXPECT_TRUE(KeyExists(kNativeView, key)) << key << " in the 64-bit view";
        EXPECT_EQ(NativeInstallFolder() + "KestorPr.dll",
                  ValueText(kNativeView, HKEY_CLASSES_ROOT, kProxyServerKey, nullptr));
    }
    EXPECT_EQ(std::vector<std::string>{ExpectedEntry(version)}, ProgramsEntries());
}

// Client calls start the service through COM and get through: on 64-bit
// Windows a 64-bit client's first, which must start the service too, not a
// server of its own. The first call of the session waits until the service
// manager can start services at all (a fresh session holds its start lock
// for a while), so that the start that counts is COM's.
void ExpectServedByTheService(const char *value)
{
    static bool canStartServices = false;
    std::string why;
    if (!canStartServices)
    {
        ASSERT_TRUE(CycleService(kService, true, &why)) << why;
        canStartServices = true;
    }
    if (OnWin64())
    {
        EXPECT_EXIT_CODE(S_OK, KestorSet64(std::string("KestorPackage64 ") + value));
        EXPECT_EQ(value, Setting("KestorPackage64"));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
    }
    EXPECT_EXIT_CODE(S_OK, KestorSet(std::string("KestorPackage ") + value));
    EXPECT_EQ(value, Setting("KestorPackage"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
    EXPECT_EQ(1, ProcessCount("ZovKestor.exe")) << "one service serves every client";
}

// Nothing of the broker is left but the settings it wrote; without them the
// machine is as it was before.
void ExpectNothingLeft(const MachineState &before)
{
    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_FALSE(ProcessRunning("ZovKestor.exe"));
    for (const View &view : Views())
    {
        for (const char *key : kRegistrationKeys)
            EXPECT_FALSE(KeyExists(view, key)) << key << " is left in the " << view.name;
    }
    EXPECT_FALSE(FileExists(InstallFolder())) << InstallFolder();
    if (OnWin64())
    {
        EXPECT_FALSE(FileExists(NativeInstallFolder())) << NativeInstallFolder();
    }
    EXPECT_TRUE(ProgramsEntries().empty());

    RegDeleteTreeA(HKEY_CLASSES_ROOT, "GPI");  // the settings, written by the tests
    MachineState after = WithoutInstallerLists(CaptureMachine());
    MachineState expected = WithoutInstallerLists(before);
    EXPECT_EQ("", SnapshotDifference(expected.classes, after.classes));
    EXPECT_EQ("", SnapshotDifference(expected.userClasses, after.userClasses));
    EXPECT_EQ("", SnapshotDifference(expected.services, after.services));
    EXPECT_EQ(Names(expected.serviceNames), Names(after.serviceNames));
}

// A handle to the service held by a process other than the installer's, as
// the Services console or a monitoring agent keeps one. While it is open,
// deleting the service only marks the entry, which goes when it closes.
class ServiceHolder
{
public:
    ServiceHolder()
        : m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)),
          m_service(
              m_manager == nullptr
                  ? nullptr
                  : OpenServiceA(m_manager, kService, SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG))
    {}
    ~ServiceHolder() { Release(); }
    ServiceHolder(const ServiceHolder &) = delete;
    ServiceHolder &operator=(const ServiceHolder &) = delete;

    bool Holds() const { return m_service != nullptr; }
    // A change that changes nothing is refused once the entry is deleted.
    bool EntryMarkedForDeletion() const
    {
        return m_service != nullptr &&
               !ChangeServiceConfigA(m_service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr) &&
               GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    }
    void Release()
    {
        for (SC_HANDLE *handle : {&m_service, &m_manager})
        {
            if (*handle != nullptr)
                CloseServiceHandle(*handle);
            *handle = nullptr;
        }
    }

private:
    SC_HANDLE m_manager;
    SC_HANDLE m_service;
};

// The machine before the first package test; every test leaves it so.
class ProductPackage : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(1, ProcessCount("services.exe")) << "the session must run one service manager";
        ASSERT_EQ(0u, ServiceState(kService));
        s_before = std::make_unique<MachineState>(CaptureMachine());
    }
    static void TearDownTestSuite() { s_before.reset(); }
    void SetUp() override { ASSERT_NE(nullptr, s_before); }

    static const MachineState &Before() { return *s_before; }

private:
    static std::unique_ptr<MachineState> s_before;
};
std::unique_ptr<MachineState> ProductPackage::s_before;

TEST_F(ProductPackage, AFailingRegistrationStepTakesBackWhatWasDone)
{
    // regsvr32 succeeds (both of them on 64-bit Windows), then
    // "ZovKestor.exe -Service" registers the AppID, the service and the
    // classes before it fails on the type library.
    ProcessResult run = MsiExec("/i " + Package("KESTOR_MSI_BROKEN"), "broken");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(0u, run.exitCode) << run.output;

    ExpectNothingLeft(Before());
}

TEST_F(ProductPackage, InstallCallRepairAndRemove)
{
    const std::string package = Package("KESTOR_MSI");

    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + package, "install"));
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService));
    ExpectServedByTheService("installed");
    ExpectCheckersHealthyAndReadOnly(PackageCheckers());

    // Files and registrations get lost, the proxy registration one view at a
    // time, the 64-bit one first; each time each checker names the proxy and
    // that view first, and as its remedy this product's repair
    // "msiexec /fomus {ProductCode} /qn".
    std::string repair;
    auto expectProxyNamed = [&repair](const View &view) {
        for (const std::string &checker : PackageCheckers())
        {
            CheckerVerdict verdict = RunChecker(checker);
            EXPECT_TRUE(CheckerNamesFirst("proxy", verdict)) << checker;
            EXPECT_NE(std::string::npos, verdict.run.output.find(std::string(view.name) + ": "))
                << verdict.run.output;
            repair = RemedyAsWineRepair(verdict.run.output);
        }
    };
    ASSERT_TRUE(DeleteFileA((InstallFolder() + "kestor-set.exe").c_str()));
    if (OnWin64())
    {
        ASSERT_TRUE(DeleteFileA((NativeInstallFolder() + "KestorPr.dll").c_str()));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyExA(HKEY_CLASSES_ROOT, kProxyServerKey, KEY_WOW64_64KEY, 0));
        ASSERT_FALSE(KeyExists(kNativeView, kProxyServerKey));
        expectProxyNamed(kNativeView);
    }
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "Interface\\" KESTOR_IID_TEXT));
    expectProxyNamed(Views().front());
    // That repair puts back what was lost, with the service running. Wine's
    // msiexec takes no product code after /f: the same repair is asked with /i.
    ASSERT_NE("", repair);
    EXPECT_EXIT_CODE(S_OK, MsiExec(repair, "repair"));
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    ExpectServedByTheService("repaired");
    for (const std::string &checker : PackageCheckers())
        EXPECT_TRUE(CheckerHealthy(RunChecker(checker))) << checker;

    EXPECT_EXIT_CODE(S_OK, MsiExec("/x " + package, "remove"));
    EXPECT_EQ("repaired", Setting("KestorPackage")) << "settings are data, not installation";
    ExpectNothingLeft(Before());
}

TEST_F(ProductPackage, UpgradeKeepsTheSettingsAndAnOlderPackageIsRefused)
{
    const std::string older = Package("KESTOR_MSI_OLDER");
    const std::string package = Package("KESTOR_MSI");

    // This time with the 64-bit msiexec on 64-bit Windows.
    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + older, "older", true));
    ExpectInstalled(KESTOR_OLDER_VERSION);
    ExpectServedByTheService("kept");

    // The newer package removes the older one (with its running service)
    // and takes its place; the settings stay.
    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + package, "upgrade", true));
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    EXPECT_EQ("kept", Setting("KestorPackage"));
    ExpectServedByTheService("upgraded");

    // Back to the older one is refused (Wine shows the refusal's message
    // only in a dialog, so only the log's verdict is read here).
    ProcessResult refused = MsiExec("/i " + older, "downgrade", true);
    EXPECT_EXIT_CODE(static_cast<HRESULT>(ERROR_INSTALL_FAILURE), refused);
    EXPECT_NE(std::string::npos, refused.output.find("WIX_DOWNGRADE_DETECTED = {"))
        << refused.output;
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    ExpectServedByTheService("again");

    EXPECT_EXIT_CODE(S_OK, MsiExec("/x " + package, "remove", true));
    ExpectNothingLeft(Before());
}

// Repairs and a removal while another process holds a handle to the
// service, and a repair and a removal that fail. The width of Windows makes
// no difference to any of it: the 32-bit run only.
TEST_F(ProductPackage, RepairAndRemovalWhileTheServiceIsHeldOrAStepFails)
{
    if (OnWin64())
        GTEST_SKIP() << "run with the 32-bit package only";
    const std::string package = Package("KESTOR_MSI");
    const std::string repair = " REINSTALL=ALL REINSTALLMODE=vamus";
    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + package, "held-install"));
    ExpectServedByTheService("installed");

    // A repair whose "-Service" fails (this version with a damaged type
    // library) leaves the broker serving. Wine's installer runs no rollback
    // in a repair, and keeps the damaged file: what serves here is what the
    // failed step registered before the type library. On Windows the
    // rollback puts the files back and registers again from them (see the
    // test below); here the next repair puts back the type library.
    ProcessResult damaged =
        MsiExec("/i " + Package("KESTOR_MSI_BROKEN") + repair, "damaged-repair");
    EXPECT_TRUE(damaged.finished);
    EXPECT_NE(0u, damaged.exitCode) << damaged.output;
    ExpectServedByTheService("failed-repair");

    // A repair while another program holds the service open keeps the
    // entry: "ZovKestor.exe -Service" brings it to its configuration in
    // place, and the service serves with the handle still held.
    {
        ServiceHolder holder;
        ASSERT_TRUE(holder.Holds());
        EXPECT_EXIT_CODE(S_OK, MsiExec("/i " + package + repair, "held-repair"));
        EXPECT_FALSE(holder.EntryMarkedForDeletion()) << "the repair deleted the service entry";
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService));
        ExpectInstalled(KESTOR_PRODUCT_VERSION);
        ExpectServedByTheService("repaired-while-held");
    }

    // A removal whose "-UnregServer" fails (the installed program replaced
    // by one that takes the option for bad arguments) fails as a whole and
    // leaves Kestor installed.
    std::string why;
    ASSERT_TRUE(CycleService(kService, true, &why)) << why;
    const std::string broker = InstallFolder() + "ZovKestor.exe";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "kestor-set.exe").c_str(), broker.c_str(), FALSE));
    ProcessResult failedRemoval = MsiExec("/x " + package, "failed-remove");
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "ZovKestor.exe").c_str(), broker.c_str(), FALSE));
    EXPECT_TRUE(failedRemoval.finished);
    EXPECT_NE(0u, failedRemoval.exitCode) << failedRemoval.output;
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    ExpectServedByTheService("removal-failed");

    // Removal counts an entry that is only marked as removed: it goes when
    // the handle closes.
    {
        ServiceHolder holder;
        ASSERT_TRUE(holder.Holds());
        EXPECT_EXIT_CODE(S_OK, MsiExec("/x " + package, "held-remove"));
        EXPECT_TRUE(holder.EntryMarkedForDeletion());
        holder.Release();
        EXPECT_EQ(0u, ServiceState(kService));
    }
    ExpectNothingLeft(Before());
}

class OwnedMsiHandle
{
public:
    OwnedMsiHandle() = default;
    ~OwnedMsiHandle()
    {
        if (m_handle != 0)
            MsiCloseHandle(m_handle);
    }
    OwnedMsiHandle(const OwnedMsiHandle &) = delete;
    OwnedMsiHandle &operator=(const OwnedMsiHandle &) = delete;
    MSIHANDLE *Place() { return &m_handle; }
    MSIHANDLE Get() const { return m_handle; }

private:
    MSIHANDLE m_handle = 0;
};

std::string RecordText(MSIHANDLE record, UINT field)
{
    char text[1024];
    DWORD size = sizeof(text);
    return MsiRecordGetStringA(record, field, text, &size) == ERROR_SUCCESS
               ? std::string(text, size)
               : std::string();
}

// One step of the execute sequence with its custom action, if it is one.
struct SequenceStep
{
    std::string action;
    int sequence = 0;
    int type = 0;
    std::string source;
    std::string target;
};

// The steps of the execute sequence whose conditions hold in the session,
// in their order.
std::vector<SequenceStep> StepsToRun(MSIHANDLE session)
{
    std::vector<SequenceStep> steps;
    OwnedMsiHandle database, sequence, customAction;
    *database.Place() = MsiGetActiveDatabase(session);
    if (MsiDatabaseOpenViewA(database.Get(),
                             "SELECT `Action`, `Condition`, `Sequence` FROM "
                             "`InstallExecuteSequence` ORDER BY `Sequence`",
                             sequence.Place()) != ERROR_SUCCESS ||
        MsiViewExecute(sequence.Get(), 0) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewA(database.Get(),
                             "SELECT `Type`, `Source`, `Target` FROM `CustomAction` "
                             "WHERE `Action` = ?",
                             customAction.Place()) != ERROR_SUCCESS)
        return steps;
    for (;;)
    {
        OwnedMsiHandle row;
        if (MsiViewFetch(sequence.Get(), row.Place()) != ERROR_SUCCESS)
            break;
        std::string condition = RecordText(row.Get(), 2);
        if (!condition.empty() &&
            MsiEvaluateConditionA(session, condition.c_str()) != MSICONDITION_TRUE)
            continue;
        SequenceStep step;
        step.action = RecordText(row.Get(), 1);
        step.sequence = MsiRecordGetInteger(row.Get(), 3);
        OwnedMsiHandle name, custom;
        *name.Place() = MsiCreateRecord(1);
        MsiRecordSetStringA(name.Get(), 1, step.action.c_str());
        if (MsiViewExecute(customAction.Get(), name.Get()) == ERROR_SUCCESS &&
            MsiViewFetch(customAction.Get(), custom.Place()) == ERROR_SUCCESS)
        {
            step.type = MsiRecordGetInteger(custom.Get(), 1);
            step.source = RecordText(custom.Get(), 2);
            step.target = RecordText(custom.Get(), 3);
        }
        MsiViewClose(customAction.Get());
        steps.push_back(step);
    }
    return steps;
}

// Which of the broker's steps Windows Installer runs in each kind of
// session, read from the package in sessions set up as Windows Installer
// sets them up: Wine's installer runs no rollback in a repair, and removes
// the older version in an upgrade without UPGRADINGPRODUCTCODE.
// - A failed repair must register the broker again: a rollback step runs
//   "ZovKestor.exe -Service", spooled before InstallFiles so that, run in
//   reverse, it follows the rollback of the files.
// - Inside an upgrade neither the older version's removal nor the newer
//   version's rollback unregisters the broker: an entry deleted while
//   another program holds it open cannot be made again, and the older
//   version's own rollback registers it again from its files.
TEST_F(ProductPackage, EachKindOfSessionRunsTheBrokerStepsItShould)
{
    struct BrokerSteps
    {
        bool registers, unregisters, rollbackRegisters, rollbackUnregisters;
        bool operator==(const BrokerSteps &o) const
        {
            return registers == o.registers && unregisters == o.unregisters &&
                   rollbackRegisters == o.rollbackRegisters &&
                   rollbackUnregisters == o.rollbackUnregisters;
        }
    };
    struct Session
    {
        const char *what;
        std::vector<std::pair<const char *, const char *>> properties;
        BrokerSteps steps;
    };
    const Session sessions[] = {
        {"first installation", {}, {true, false, false, true}},
        {"repair", {{"Installed", "1"}, {"REINSTALL", "ALL"}}, {true, false, true, false}},
        {"installation in an upgrade",
         {{"WIX_UPGRADE_DETECTED", kOtherVersion}},
         {true, false, false, false}},
        {"removal", {{"Installed", "1"}, {"REMOVE", "ALL"}}, {false, true, true, false}},
        {"removal in an upgrade",
         {{"Installed", "1"}, {"REMOVE", "ALL"}, {"UPGRADINGPRODUCTCODE", kOtherVersion}},
         {false, false, true, false}},
    };
    for (const Session &session : sessions)
    {
        SCOPED_TRACE(session.what);
        OwnedMsiHandle handle;
        ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS),
                  MsiOpenPackageExA(Environment("KESTOR_MSI").c_str(),
                                    MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, handle.Place()));
        // Each property the steps' conditions read, empty unless the case
        // sets it (Wine sets Installed from the machine despite the flag).
        for (const char *name :
             {"Installed", "REINSTALL", "REMOVE", "UPGRADINGPRODUCTCODE", "WIX_UPGRADE_DETECTED"})
            MsiSetPropertyA(handle.Get(), name, "");
        for (const auto &property : session.properties)
            MsiSetPropertyA(handle.Get(), property.first, property.second);
        BrokerSteps seen = {false, false, false, false};
        int installFiles = 0, registerAt = 0, rollbackRegisterAt = 0;
        for (const SequenceStep &step : StepsToRun(handle.Get()))
        {
            if (step.action == "InstallFiles")
                installFiles = step.sequence;
            if (step.source != "ZovKestor.exe")
                continue;
            const bool rollback = (step.type & msidbCustomActionTypeRollback) != 0;
            if (step.target == "-Service" && rollback)
            {
                seen.rollbackRegisters = true;
                rollbackRegisterAt = step.sequence;
            }
            else if (step.target == "-Service")
            {
                seen.registers = true;
                registerAt = step.sequence;
            }
            else if (step.target == "-UnregServer")
            {
                (rollback ? seen.rollbackUnregisters : seen.unregisters) = true;
            }
        }
        EXPECT_TRUE(session.steps == seen)
            << "-Service " << seen.registers << ", -UnregServer " << seen.unregisters
            << ", rollback -Service " << seen.rollbackRegisters << ", rollback -UnregServer "
            << seen.rollbackUnregisters;
        ASSERT_NE(0, installFiles);
        if (seen.registers)
        {
            EXPECT_GT(registerAt, installFiles);
        }
        if (seen.rollbackRegisters)
        {
            EXPECT_LT(rollbackRegisterAt, installFiles);
        }
    }
}

// Each kind of Windows takes its own package only. Windows Installer itself
// refuses the x64 package on 32-bit Windows; the x86 package refuses 64-bit
// Windows in its launch conditions, before anything is costed (Wine shows
// the message, which names the x64 package, only in a dialog).
TEST_F(ProductPackage, ThePackageForTheOtherKindOfWindowsIsRefused)
{
    ProcessResult run = MsiExec("/i " + Package("KESTOR_MSI_OTHER"), "other");
    if (OnWin64())
    {
        EXPECT_EXIT_CODE(static_cast<HRESULT>(ERROR_INSTALL_FAILURE), run);
        EXPECT_NE(std::string::npos, run.output.find("LaunchConditions")) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("CostInitialize")) << run.output;
    }
    else
    {
        EXPECT_EXIT_CODE(static_cast<HRESULT>(ERROR_INSTALL_PLATFORM_UNSUPPORTED), run);
    }
    ExpectNothingLeft(Before());
}

}  // namespace
