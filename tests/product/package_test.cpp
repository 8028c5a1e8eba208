// The Windows Installer package as an administrator deploys it, under Wine's
// msiexec: silent install, a client call through the service, repair,
// upgrade from an older package, refusal of an older package over a newer
// one, removal, and an install whose registration step fails. The suite runs
// in a throw-away Wine prefix of its own; each test leaves the machine as it
// found it. CTest hands over the packages the build made (Windows paths):
//   KESTOR_MSI         this version's package
//   KESTOR_MSI_OLDER   the same files as an older version
//   KESTOR_MSI_BROKEN  this version with a damaged type library, on which
//                      "ZovKestor.exe -Service" fails
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "product_process.h"
#include "scratch_registry.h"

namespace {

const char kService[] = "ZovKestor";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Under HKEY_CLASSES_ROOT: what the two registration steps write.
const char *const kRegistrationKeys[] = {
    "CLSID\\" KESTOR_CLSID_TEXT,      "AppID\\" KESTOR_APPID_TEXT, "AppID\\ZovKestor.EXE",
    KESTOR_PROGID,                   KESTOR_PROGID_INDEPENDENT,   "TypeLib\\" KESTOR_LIBID_TEXT,
    "Interface\\" KESTOR_IID_TEXT,   "CLSID\\" KESTOR_IID_TEXT};
const char *const kInstalledFiles[] = {"ZovKestor.exe", "ZovKestor.tlb", "KestorPr.dll",
                                       "kestor-set.exe"};

std::string Quoted(const std::string &path) { return "\"" + path + "\""; }

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

std::string InstallFolder() { return Environment("ProgramFiles") + "\\Kestor\\"; }

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// msiexec with the arguments, silent, with a verbose log whose text follows
// msiexec's own output in the result (failures show it).
ProcessResult MsiExec(const std::string &arguments, const char *logName)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string log = std::string(folder) + "kestor-" + logName + ".log";
    DeleteFileA(log.c_str());
    ProcessResult run = RunProcess("msiexec " + arguments + " /qn /l*v " + Quoted(log));
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

std::string Setting(const char *name)
{
    std::string text;
    return ReadSetting(name, &text) ? text : std::string("<missing>");
}

std::string ValueText(const std::string &key, const char *name)
{
    DWORD type = 0;
    std::string bytes;
    if (!ReadRegistryValue(HKEY_LOCAL_MACHINE, key.c_str(), name, &type, &bytes))
        return "<missing>";
    if (type == REG_DWORD && bytes.size() == sizeof(DWORD))
        return std::to_string(*reinterpret_cast<const DWORD *>(bytes.data()));
    return bytes.c_str();
}

// The Add/Remove Programs entries named "Kestor", as "publisher|version|NoModify".
std::vector<std::string> ProgramsEntries()
{
    const std::string prefix = std::string(kUninstallKey) + "\\";
    std::vector<std::string> entries;
    for (const auto &entry : RegistrySnapshot(HKEY_LOCAL_MACHINE, kUninstallKey)) {
        // Only the keys of the products themselves, not their values or subkeys.
        const std::string &path = entry.first;
        if (path.compare(0, prefix.size(), prefix) != 0 ||
            path.find_first_of("\\:", prefix.size()) != std::string::npos)
            continue;
        if (ValueText(path, "DisplayName") == "Kestor")
            entries.push_back(ValueText(path, "Publisher") + "|" +
                              ValueText(path, "DisplayVersion") + "|" +
                              ValueText(path, "NoModify"));
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

void ExpectInstalled(const char *version)
{
    for (const char *file : kInstalledFiles)
        EXPECT_TRUE(FileExists(InstallFolder() + file)) << file;
    for (const char *key : kRegistrationKeys)
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_EQ(std::vector<std::string>{ExpectedEntry(version)}, ProgramsEntries());
}

// A client call starts the service through COM and gets through. The first
// one of the session waits until the service manager can start services at
// all (a fresh session holds its start lock for a while), so that the start
// that counts is COM's.
void ExpectServedByTheService(const char *value)
{
    static bool canStartServices = false;
    std::string why;
    if (!canStartServices) {
        ASSERT_TRUE(CycleService(kService, true, &why)) << why;
        canStartServices = true;
    }
    EXPECT_EXIT_CODE(S_OK, KestorSet(std::string("KestorPackage ") + value));
    EXPECT_EQ(value, Setting("KestorPackage"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
}

// Nothing of the broker is left but the settings it wrote; without them the
// machine is as it was before.
void ExpectNothingLeft(const MachineState &before)
{
    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_FALSE(ProcessRunning("ZovKestor.exe"));
    for (const char *key : kRegistrationKeys)
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_FALSE(FileExists(InstallFolder())) << InstallFolder();
    EXPECT_TRUE(ProgramsEntries().empty());

    RegDeleteTreeA(HKEY_CLASSES_ROOT, "GPI");  // the settings, written by the tests
    MachineState after = WithoutInstallerLists(CaptureMachine());
    MachineState expected = WithoutInstallerLists(before);
    EXPECT_EQ("", SnapshotDifference(expected.classes, after.classes));
    EXPECT_EQ("", SnapshotDifference(expected.userClasses, after.userClasses));
    EXPECT_EQ("", SnapshotDifference(expected.services, after.services));
    EXPECT_EQ(Names(expected.serviceNames), Names(after.serviceNames));
}

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

    // regsvr32 succeeds, then "ZovKestor.exe -Service" registers the AppID,
    // the service and the classes before it fails on the type library.
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

    // Repair (what "msiexec /fa" asks for; Wine's msiexec cannot take /f)
    // puts back a lost file and a lost registration, with the service running.
    ASSERT_TRUE(DeleteFileA((InstallFolder() + "kestor-set.exe").c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "Interface\\" KESTOR_IID_TEXT));
    EXPECT_EXIT_CODE(S_OK, MsiExec("/i " + package + " REINSTALL=ALL REINSTALLMODE=a", "repair"));
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    ExpectServedByTheService("repaired");

    EXPECT_EXIT_CODE(S_OK, MsiExec("/x " + package, "remove"));
    EXPECT_EQ("repaired", Setting("KestorPackage")) << "settings are data, not installation";
    ExpectNothingLeft(Before());
}

TEST_F(ProductPackage, UpgradeKeepsTheSettingsAndAnOlderPackageIsRefused)
{
    const std::string older = Package("KESTOR_MSI_OLDER");
    const std::string package = Package("KESTOR_MSI");

    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + older, "older"));
    ExpectInstalled(KESTOR_OLDER_VERSION);
    ExpectServedByTheService("kept");

    // The newer package removes the older one (with its running service)
    // and takes its place; the settings stay.
    ASSERT_EXIT_CODE(S_OK, MsiExec("/i " + package, "upgrade"));
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    EXPECT_EQ("kept", Setting("KestorPackage"));
    ExpectServedByTheService("upgraded");

    // Back to the older one is refused (Wine shows the refusal's message
    // only in a dialog, so only the log's verdict is read here).
    ProcessResult refused = MsiExec("/i " + older, "downgrade");
    EXPECT_EXIT_CODE(static_cast<HRESULT>(ERROR_INSTALL_FAILURE), refused);
    EXPECT_NE(std::string::npos, refused.output.find("WIX_DOWNGRADE_DETECTED = {"))
        << refused.output;
    ExpectInstalled(KESTOR_PRODUCT_VERSION);
    ExpectServedByTheService("again");

    EXPECT_EXIT_CODE(S_OK, MsiExec("/x " + package, "remove"));
    ExpectNothingLeft(Before());
}

}  // namespace
