// The product as a user meets it: kestor-set against the broker as a local
// server and as a service, and the administrator's install.cmd and
// uninstall.cmd. Each suite runs in a throw-away Wine prefix of its own
// (CTest starts one per suite), so registering and installing is harmless.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "client/kestor_set_args.h"
#include "product_process.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const char kService[] = "ZovKestor";
const char kClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;
const char kAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;
const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string Bin(const char *file)
{
    return Quoted(ProgramFolder() + file);
}

// kestor-set with the given arguments (already quoted as needed).
ProcessResult KestorSet(const std::string &arguments)
{
    return RunProcess(Bin("kestor-set.exe") + " " + arguments);
}

// kestor-set says one line: "ok", or the code in hex and its meaning.
void ExpectResultLine(const char *expectedStart, const ProcessResult &run)
{
    std::string line = run.output;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    EXPECT_EQ(std::string::npos, line.find('\n')) << "more than one line:\n" << run.output;
    EXPECT_EQ(0u, line.rfind(expectedStart, 0)) << "line: " << line;
}

std::string Setting(const char *name)
{
    std::string text;
    return ReadSetting(name, &text) ? text : std::string("<missing>");
}

// A local server ends once its last client has gone; allow for Wine's pace.
bool WaitUntilNoLocalServer()
{
    for (int i = 0; i < 150; ++i)
    {
        if (!ProcessRunning("ZovKestor.exe"))
            return true;
        Sleep(100);
    }
    return false;
}

// On a badly overloaded machine a Wine session can end up with two service
// managers answering in turn, each with its own idea of which services exist;
// nothing about services can be tested then.
void AssertOneServiceManager()
{
    ASSERT_EQ(1, ProcessCount("services.exe"))
        << "the Wine session does not run exactly one services.exe";
}

void RegisterProxy()
{
    ASSERT_EXIT_CODE(S_OK, RunProcess("regsvr32 /s " + Bin("KestorPr.dll")));
}

TEST(ProductLocalServer, KestorSetWritesThroughTheLocalServerAndReportsRefusals)
{
    ASSERT_NO_FATAL_FAILURE(AssertOneServiceManager());
    // Nothing registered yet: COM does not know the class.
    ProcessResult unregistered = KestorSet("KestorProductLocal early");
    EXPECT_EXIT_CODE(REGDB_E_CLASSNOTREG, unregistered);
    ExpectResultLine("0x80040154", unregistered);

    ASSERT_NO_FATAL_FAILURE(RegisterProxy());
    ASSERT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -RegServer"));
    EXPECT_EQ(0u, ServiceState(kService)) << "-RegServer must not create the service";

    ProcessResult first = KestorSet("KestorProductLocal \"first value\"");
    EXPECT_EXIT_CODE(S_OK, first);
    ExpectResultLine("ok", first);
    EXPECT_EQ("first value", Setting("KestorProductLocal"));

    // Same name again overwrites; the explicit defaults change nothing.
    EXPECT_EXIT_CODE(S_OK, KestorSet("--type 1 --key GPI\\Settings KestorProductLocal second"));
    EXPECT_EQ("second", Setting("KestorProductLocal"));

    // Refusals arrive as the broker's full 32-bit code and change nothing.
    for (const char *refused : {"--type 2", "--type -1", "--type 0x80000001", "--key GPI\\Other",
                                "--key gpi\\settings", "--key HKEY_CLASSES_ROOT\\GPI\\Settings"})
    {
        ProcessResult run = KestorSet(std::string(refused) + " KestorProductLocal refused");
        EXPECT_EXIT_CODE(E_INVALIDARG, run) << refused;
        ExpectResultLine("0x80070057", run);
    }
    EXPECT_EQ("second", Setting("KestorProductLocal"));

    // A deeper key path is accepted but writes into GPI\Settings itself; an
    // empty name writes the key's default value; text outside ASCII arrives
    // as the ANSI code page says.
    EXPECT_EXIT_CODE(S_OK, KestorSet("--key GPI\\Settings\\Audio KestorProductDeep deep"));
    EXPECT_EQ("deep", Setting("KestorProductDeep"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "GPI\\Settings\\Audio"));
    EXPECT_EXIT_CODE(S_OK, KestorSet("\"\" \"default value\""));
    EXPECT_EQ("default value", Setting(""));
    EXPECT_EXIT_CODE(S_OK, KestorSet("KestorProductAccent caf\xE9"));
    EXPECT_EQ("caf\xE9", Setting("KestorProductAccent"));

    // A command line that cannot be run never reaches the broker.
    EXPECT_EXIT_CODE(HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS), KestorSet("KestorProductUsage"));
    EXPECT_EQ("<missing>", Setting("KestorProductUsage"));

    // The client has released the object, so the local server ends.
    EXPECT_TRUE(WaitUntilNoLocalServer()) << "ZovKestor.exe still runs without clients";

    ASSERT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -UnregServer"));
    ProcessResult after = KestorSet("KestorProductLocal late");
    EXPECT_EXIT_CODE(REGDB_E_CLASSNOTREG, after);
    EXPECT_EQ("second", Setting("KestorProductLocal"));
}

std::wstring WideQuoted(const std::wstring &text)
{
    return L"\"" + text + L"\"";
}

// The bytes RegSetValueExW stores for text: its UTF-16 units and a NUL.
std::string Utf16Bytes(const std::wstring &text)
{
    return std::string(reinterpret_cast<const char *>(text.c_str()),
                       (text.size() + 1) * sizeof(wchar_t));
}

TEST(ProductLocalServer, KestorSetCarriesTextTheCodePageCannotSpell)
{
    // A Western code page: of the texts below it spells only the euro sign
    // and the accented letter.
    ASSERT_EQ(1252u, GetACP());
    ASSERT_NO_FATAL_FAILURE(RegisterProxy());
    ASSERT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -RegServer"));

    std::wstring program;  // the build folder's path is ASCII
    for (char c : Bin("kestor-set.exe"))
        program += static_cast<wchar_t>(static_cast<unsigned char>(c));
    struct Case
    {
        std::wstring name;
        std::wstring data;
    } cases[] = {
        {L"\x0438\x043C\x044F", L"\x041F\x0440\x0438\x0432\x0435\x0442\x20AC\xFC\xD83D\xDE00"},
        {L"\x8BBE\x7F6E-\x65E5\x672C", L"\xD83D\xDE00 \x5024 \xD840\xDC0B"},
    };
    for (const Case &c : cases)
    {
        ProcessResult run =
            RunProcess(program + L" -- " + WideQuoted(c.name) + L" " + WideQuoted(c.data));
        EXPECT_EXIT_CODE(S_OK, run);
        ExpectResultLine("ok", run);
        DWORD type = 0;
        std::string bytes;
        ASSERT_TRUE(ReadSettingBytes(c.name, &type, &bytes)) << DisplayText(c.name);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(Utf16Bytes(c.data), bytes);
    }

    // --key goes over as given too: a full-width letter that the code page
    // would turn into a plain "S" makes a path the broker refuses.
    EXPECT_EXIT_CODE(E_INVALIDARG, RunProcess(program + L" --key GPI\\\xFF33"
                                                        L"ettings KestorWideKey v"));
    EXPECT_EQ("<missing>", Setting("KestorWideKey"));

    HKEY settings = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CLASSES_ROOT, L"GPI\\Settings", 0, KEY_SET_VALUE, &settings));
    for (const Case &c : cases)
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(settings, c.name.c_str()));
    RegCloseKey(settings);
    EXPECT_TRUE(WaitUntilNoLocalServer());
    EXPECT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -UnregServer"));
}

TEST(ProductService, KestorSetWritesThroughTheServiceWhichKeepsRunning)
{
    ASSERT_NO_FATAL_FAILURE(AssertOneServiceManager());
    ASSERT_NO_FATAL_FAILURE(RegisterProxy());
    ASSERT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -Service"));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService))
        << "-Service installs the service without starting it";
    // Wait until the service manager can start services at all, so that the
    // start below is COM's on-demand start and nothing else.
    std::string why;
    ASSERT_TRUE(CycleService(kService, true, &why)) << why;

    // COM starts the service for the first client.
    ProcessResult first = KestorSet("KestorProductService \"from the service\"");
    EXPECT_EXIT_CODE(S_OK, first);
    ExpectResultLine("ok", first);
    EXPECT_EQ("from the service", Setting("KestorProductService"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
    EXPECT_FALSE(ProcessRunning("kestor-set.exe"));

    ProcessResult refused = KestorSet("--type 2 KestorProductService refused");
    EXPECT_EXIT_CODE(E_INVALIDARG, refused);
    ExpectResultLine("0x80070057", refused);
    EXPECT_EXIT_CODE(E_INVALIDARG, KestorSet("--key GPX KestorProductService refused"));
    EXPECT_EQ("from the service", Setting("KestorProductService"));

    // Clients come and go; the service stays up and serves the next one.
    EXPECT_EXIT_CODE(S_OK, KestorSet("KestorProductService again"));
    EXPECT_EQ("again", Setting("KestorProductService"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));

    EXPECT_TRUE(CycleService(kService, true, &why)) << why;
    ASSERT_EXIT_CODE(S_OK, RunProcess(Bin("ZovKestor.exe") + " -UnregServer"));
    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_EXIT_CODE(REGDB_E_CLASSNOTREG, KestorSet("KestorProductService late"));
}

// Copies of the scripts and of some of the files they install, in a folder
// of its own under the temporary folder that is removed again. The scripts
// are started from that folder by their bare names: "cmd /c" drops the
// quotes around a path that holds parentheses, on Windows as under Wine.
class ScriptLayout
{
public:
    explicit ScriptLayout(const std::string &name)
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        m_folder = std::string(temp) + name + "\\";
        CreateDirectoryA(m_folder.c_str(), nullptr);
    }
    ~ScriptLayout()
    {
        for (const std::string &file : m_files)
            DeleteFileA((m_folder + file).c_str());
        RemoveDirectoryA(m_folder.c_str());
    }
    ScriptLayout(const ScriptLayout &) = delete;
    ScriptLayout &operator=(const ScriptLayout &) = delete;

    const std::string &Folder() const { return m_folder; }
    bool Copy(const char *from, const char *to)
    {
        m_files.push_back(to);
        return CopyFileA((ProgramFolder() + from).c_str(), (m_folder + to).c_str(), FALSE) != 0;
    }
    bool Copy(const char *file) { return Copy(file, file); }
    bool Write(const std::string &name, const std::string &text)
    {
        m_files.push_back(name);
        std::ofstream file(m_folder + name, std::ios::binary);
        return static_cast<bool>(file << text);
    }
    bool Remove(const char *name) { return DeleteFileA((m_folder + name).c_str()) != 0; }
    ProcessResult Run(const char *script) const
    {
        return RunProcessIn(m_folder, std::string("cmd /c ") + script);
    }

private:
    std::string m_folder;
    std::vector<std::string> m_files;
};

// A folder whose name holds what the prompt reads as syntax, as "C:\Program
// Files (x86)\Kestor\" does. A "%" belongs in the list too, but Wine's cmd
// expands the text of %~dp0 a second time and so loses it before any line
// of a script could keep it; the check of the scripts' text covers it.
std::string AwkwardFolderName()
{
    return "Kestor (x86) & ^caret! bang " + std::to_string(GetCurrentProcessId());
}

const char *const kScripts[] = {"install.cmd", "uninstall.cmd", "kestor-common.cmd"};

void ExpectNothingInstalled()
{
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    EXPECT_EQ(0u, ServiceState(kService));
}

bool Says(const ProcessResult &run, const std::string &text)
{
    return run.output.find(text) != std::string::npos;
}

// Tools a script might start. Given a bare name, the prompt takes NAME.com,
// .exe, .bat or .cmd from the current folder, the scripts' own, before the
// system's program.
const char *const kToolNames[] = {"sc",       "find",    "findstr", "net", "net1",
                                  "regsvr32", "reg",     "where",   "cmd", "taskkill",
                                  "tasklist", "timeout", "msiexec"};
const char kPlantedLog[] = "planted.log";

// Puts a file of each of those kinds beside the scripts for every name. The
// programs are copies of kestor-check, which answers the arguments a tool
// gets with "kestor-check: unknown argument" and does nothing else; the
// scripts write their name into planted.log.
bool PlantTools(ScriptLayout *layout)
{
    for (const std::string name : kToolNames)
    {
        for (const char *program : {".com", ".exe"})
        {
            if (!layout->Copy("kestor-check.exe", (name + program).c_str()))
                return false;
        }
        for (const char *script : {".bat", ".cmd"})
        {
            if (!layout->Write(name + script, "@>>\"%~dp0planted.log\" echo %~nx0 ran\r\n"))
                return false;
        }
    }
    return true;
}

// Reports each planted file that ran, and clears the log for the next run.
void ExpectNoPlantedToolRan(ScriptLayout *layout, const ProcessResult &run)
{
    EXPECT_FALSE(Says(run, "kestor-check:")) << "a planted program ran:\n" << run.output;
    std::ifstream log(layout->Folder() + kPlantedLog);
    if (log.is_open())
    {
        ADD_FAILURE() << "a planted script ran:\n"
                      << std::string(std::istreambuf_iterator<char>(log), {});
        log.close();
        layout->Remove(kPlantedLog);
    }
}

// The scripts from a folder with an awkward name, beside files named after
// the tools they start: complete, they install and remove, and run none of
// those files; with a file missing they name the whole folder and exit with
// 2 before doing anything.
TEST(ProductInstallScripts, InstallThenUninstallLeavesRegistryAndServicesAsBefore)
{
    ASSERT_NO_FATAL_FAILURE(AssertOneServiceManager());
    MachineState before = CaptureMachine();
    ASSERT_GT(before.classes.size(), 100u) << "the snapshot of the registry looks empty";
    ASSERT_EQ(0u, before.serviceNames.count(kService));
    ScriptLayout layout(AwkwardFolderName());
    for (const char *file : kScripts)
        ASSERT_TRUE(layout.Copy(file)) << file;
    for (const char *file : {"KestorPr.dll", "ZovKestor.exe", "ZovKestor.tlb"})
        ASSERT_TRUE(layout.Copy(file)) << file;
    ASSERT_TRUE(PlantTools(&layout));
    auto run = [&layout](const char *script) {
        ProcessResult result = layout.Run(script);
        ExpectNoPlantedToolRan(&layout, result);
        return result;
    };

    ProcessResult install = run("install.cmd");
    ASSERT_EXIT_CODE(S_OK, install);
    EXPECT_TRUE(Says(install, "install: done")) << install.output;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    std::string imagePath;
    DWORD type = 0;
    EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE,
                                  "System\\CurrentControlSet\\Services\\ZovKestor", "ImagePath",
                                  &type, &imagePath));
    EXPECT_EQ(Quoted(layout.Folder() + "ZovKestor.exe"), imagePath.c_str());

    // Installing over an installation is allowed and changes nothing.
    EXPECT_EXIT_CODE(S_OK, run("install.cmd"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService));

    // Installed means usable: a client gets through, and the service runs
    // when uninstall.cmd comes, which must stop it first.
    std::string why;
    ASSERT_TRUE(CycleService(kService, true, &why)) << why;
    EXPECT_EXIT_CODE(S_OK, KestorSet("KestorProductInstalled yes"));
    EXPECT_EQ("yes", Setting("KestorProductInstalled"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));

    ProcessResult uninstall = run("uninstall.cmd");
    ASSERT_EXIT_CODE(S_OK, uninstall);
    EXPECT_TRUE(Says(uninstall, "uninstall: done")) << uninstall.output;
    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_FALSE(ProcessRunning("ZovKestor.exe"));
    EXPECT_EXIT_CODE(REGDB_E_CLASSNOTREG, KestorSet("KestorProductInstalled again"));

    // Uninstalling what is not installed succeeds and changes nothing.
    EXPECT_EXIT_CODE(S_OK, run("uninstall.cmd"));

    // A file missing: the message names the whole folder, nothing is done.
    const struct
    {
        const char *script;
        const char *file;
    } incomplete[] = {{"install.cmd", "ZovKestor.tlb"}, {"uninstall.cmd", "KestorPr.dll"}};
    for (const auto &missing : incomplete)
    {
        ASSERT_TRUE(layout.Remove(missing.file));
        ProcessResult result = run(missing.script);
        EXPECT_EXIT_CODE(HRESULT(ERROR_FILE_NOT_FOUND), result);
        EXPECT_TRUE(Says(
            result, std::string(missing.file) + " is missing from \"" + layout.Folder() + "\""))
            << missing.script << ":\n"
            << result.output;
        for (const char *step : {"registering", "removing"})
            EXPECT_FALSE(Says(result, step)) << missing.script << ":\n" << result.output;
        ExpectNothingInstalled();
    }

    // The settings written are data, not installation: they stay. Remove
    // them here, and everything else must be as it was.
    EXPECT_EQ("yes", Setting("KestorProductInstalled"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "GPI"));

    MachineState after = CaptureMachine();
    EXPECT_EQ("", SnapshotDifference(before.classes, after.classes));
    EXPECT_EQ("", SnapshotDifference(before.userClasses, after.userClasses));
    EXPECT_EQ("", SnapshotDifference(before.services, after.services));
    EXPECT_EQ(Names(before.serviceNames), Names(after.serviceNames));
}

TEST(ProductInstallScripts, AFailingStepIsNamedWithItsExitCode)
{
    ScriptLayout layout(AwkwardFolderName());
    for (const char *file : kScripts)
        ASSERT_TRUE(layout.Copy(file)) << file;
    ASSERT_TRUE(layout.Copy("ZovKestor.exe"));
    ASSERT_TRUE(layout.Copy("ZovKestor.tlb"));

    // A missing file is found before anything is registered.
    ProcessResult missing = layout.Run("install.cmd");
    EXPECT_EXIT_CODE(HRESULT(ERROR_FILE_NOT_FOUND), missing);
    EXPECT_TRUE(Says(missing, "KestorPr.dll is missing")) << missing.output;
    ExpectNothingInstalled();

    // A proxy library regsvr32 cannot register stops the script before the
    // service is registered.
    ASSERT_TRUE(layout.Copy("kestor-set.exe", "KestorPr.dll"));
    ProcessResult broken = layout.Run("install.cmd");
    EXPECT_TRUE(broken.finished);
    EXPECT_NE(0u, broken.exitCode);
    EXPECT_TRUE(Says(broken, "could not register KestorPr.dll")) << broken.output;
    ExpectNothingInstalled();

    // A ZovKestor.exe whose -Service and -UnregServer fail (kestor-set, which
    // takes them for bad arguments): install.cmd names the step and the
    // HRESULT and exits with it; uninstall.cmd does too, and still removes
    // the proxy registration, the step after it.
    const HRESULT badArguments = HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS);
    const std::string code = "exit code 0x800700A0 (-2147024736)";
    ASSERT_TRUE(layout.Copy("KestorPr.dll"));
    ASSERT_TRUE(layout.Copy("kestor-set.exe", "ZovKestor.exe"));
    ProcessResult install = layout.Run("install.cmd");
    EXPECT_EXIT_CODE(badArguments, install);
    EXPECT_TRUE(Says(install, "\"ZovKestor.exe -Service\" failed with " + code)) << install.output;
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    ProcessResult uninstall = layout.Run("uninstall.cmd");
    EXPECT_EXIT_CODE(badArguments, uninstall);
    EXPECT_TRUE(Says(uninstall, "\"ZovKestor.exe -UnregServer\" failed with " + code))
        << uninstall.output;
    EXPECT_TRUE(Says(uninstall, "unregistering the proxy/stub library")) << uninstall.output;
    EXPECT_FALSE(Says(uninstall, "uninstall: done")) << uninstall.output;
    ExpectNothingInstalled();
}

}  // namespace
