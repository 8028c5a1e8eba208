// kestor-check as administrators and fleet tools run it, against an
// installation made by install.cmd in a throw-away prefix: healthy, broken
// one way at a time, and removed. (The packages' installations are checked
// by the package test, which installs, breaks and repairs them anyway.) The
// --json reports go to the folder named by KESTOR_CHECK_REPORTS, where
// check_json.py reads them afterwards.
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
#include "checker_verdict.h"
#include "opened_service.h"
#include "product_process.h"

namespace {

const char kService[] = "ZovKestor";
const char kServiceKey[] = "System\\CurrentControlSet\\Services\\ZovKestor";
const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;
const char kAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;
const char kProxyServerKey[] = "CLSID\\" KESTOR_IID_TEXT "\\InprocServer32";
const char kTypeLibKey[] = "TypeLib\\" KESTOR_LIBID_TEXT;

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

std::string Environment(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
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

// Stops the service and waits, so that its files can be replaced.
void StopService()
{
    OpenedService service(kService, SERVICE_STOP);
    SERVICE_STATUS status;
    if (service.Get() != nullptr && ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
    {
        for (int i = 0; i < 100 && ServiceState(kService) != SERVICE_STOPPED; ++i)
            Sleep(100);
    }
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
}

void DeleteServiceEntry()
{
    StopService();
    OpenedService service(kService, DELETE);
    EXPECT_TRUE(service.Get() != nullptr && DeleteService(service.Get()));
}

void ChangeService(DWORD startType, const char *imagePath)
{
    OpenedService service(kService, SERVICE_CHANGE_CONFIG);
    EXPECT_TRUE(service.Get() != nullptr &&
                ChangeServiceConfigA(service.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                     imagePath, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
}

void SetStartType(DWORD startType)
{
    ChangeService(startType, nullptr);
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

void SetText(HKEY root, const char *key, const char *name, const std::string &text)
{
    SetValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// A key of HKEY_CLASSES_ROOT with all it holds, under another name.
void MoveKey(const std::string &from, const std::string &to)
{
    HKEY source = nullptr, target = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, from.c_str(), 0, KEY_READ, &source));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, to.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &target, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeA(source, nullptr, target)) << from;
    RegCloseKey(source);
    RegCloseKey(target);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, from.c_str())) << from;
}

void SetLocalService(const char *name)
{
    SetText(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", name);
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
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
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
        ASSERT_TRUE(CreateDirectoryA(Folder().c_str(), nullptr)) << Folder();
        for (const char *file :
             {"install.cmd", "uninstall.cmd", "kestor-common.cmd", "ZovKestor.exe", "ZovKestor.tlb",
              "KestorPr.dll", "kestor-check.exe"})
            ASSERT_TRUE(
                CopyFileA((ProgramFolder() + file).c_str(), (Folder() + file).c_str(), TRUE))
                << file;
        ProcessResult install = Script("install.cmd");
        ASSERT_EXIT_CODE(S_OK, install);
    }
};

TEST_F(CheckerInstallScript, AHealthyInstallationPassesEveryCheckAndChangesNothing)
{
    // The first look starts the service, as a client would.
    ExpectCheckersHealthyAndReadOnly({Checker()});
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));

    // Run from a folder where someone planted a library it loads, with
    // Wine told to prefer it to its own, as Windows would: it does not load.
    // (Not version.dll: Wine's own libraries import it, and so would load a
    // planted one whatever the program does. What the programs import is
    // read from their import tables.)
    const std::string downloads = Environment("ProgramData") + "\\Downloads\\";
    ASSERT_TRUE(CreateDirectoryA(downloads.c_str(), nullptr)) << downloads;
    ASSERT_TRUE(CopyFileA(Checker().c_str(), (downloads + "kestor-check.exe").c_str(), TRUE));
    const char appDefaults[] = "Software\\Wine\\AppDefaults";
    HKEY existing = nullptr;
    const bool hadAppDefaults =
        RegOpenKeyExA(HKEY_CURRENT_USER, appDefaults, 0, KEY_READ, &existing) == ERROR_SUCCESS;
    RegCloseKey(existing);
    const std::string overrides = std::string(appDefaults) + "\\kestor-check.exe\\DllOverrides";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "planted_library.dll").c_str(),
                          (downloads + "netapi32.dll").c_str(), TRUE));
    SetText(HKEY_CURRENT_USER, overrides.c_str(), "netapi32", "native,builtin");
    CheckerVerdict planted = RunChecker(downloads + "kestor-check.exe");
    EXPECT_EQ(ERROR_SUCCESS,
              RegDeleteTreeA(HKEY_CURRENT_USER, hadAppDefaults ? overrides.c_str() : appDefaults));
    EXPECT_TRUE(CheckerHealthy(planted));

    CheckerVerdict quiet = RunChecker(Checker(), "--quiet");
    EXPECT_EQ(0u, quiet.run.exitCode);
    EXPECT_EQ("", quiet.run.output);
    SaveJsonReport(Checker(), "install-script-healthy");

    for (const char *usage : {"--verbose", "--json extra"})
    {
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
    const std::string parent = Environment("ProgramFiles") + "\\";
    const std::string parentDacl = ReadDacl(parent);
    const std::string typeLibrary = folder + "ZovKestor.tlb";
    const std::string typeLibraryDacl = ReadDacl(typeLibrary);
    const DWORD marked = 1;
    // What the Windows command "icacls <path> /grant Everyone:M" adds; Wine
    // turns it into the Unix mode o+w.
    const std::string everyoneMay = "(A;OICI;0x1301ff;;;WD)";
    const std::string elsewhere = ProgramFolder();
    char shortPath[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA((folder + "ZovKestor.exe").c_str(), shortPath, MAX_PATH));
    auto version = [](const char *number) { return std::string(kTypeLibKey) + "\\" + number; };
    const std::string typeLibraryValue = version("1.0") + "\\0\\win32";

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
        {"type library registered only at another version, from another folder", "typelib",
         [&] {
             MoveKey(version("1.0"), version("7.3"));
             SetText(HKEY_CLASSES_ROOT, (version("7.3") + "\\0\\win32").c_str(), nullptr,
                     elsewhere + "ZovKestor.tlb");
         },
         [&] {
             MoveKey(version("7.3"), version("1.0"));
             SetText(HKEY_CLASSES_ROOT, typeLibraryValue.c_str(), nullptr, typeLibrary);
         }},
        {"type library registered from another folder", "typelib",
         [&] {
             SetText(HKEY_CLASSES_ROOT, typeLibraryValue.c_str(), nullptr,
                     elsewhere + "ZovKestor.tlb");
         },
         [&] { SetText(HKEY_CLASSES_ROOT, typeLibraryValue.c_str(), nullptr, typeLibrary); }},
        {"KestorPr.dll registered from another folder", "proxy",
         [&] { SetText(HKEY_CLASSES_ROOT, kProxyServerKey, nullptr, elsewhere + "KestorPr.dll"); },
         [&] { SetText(HKEY_CLASSES_ROOT, kProxyServerKey, nullptr, folder + "KestorPr.dll"); }},
        // A -Service that failed (a handle held during re-registration, say)
        // leaves the class in local-server mode.
        {"local-server mode left by a failed -Service", "appid",
         [] {
             StopService();
             DeleteValue(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService");
         },
         [] { SetLocalService(kService); }},
        {"registered by hand with -RegServer: local-server mode", "",
         [] {
             DeleteValue(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService");
             DeleteValue(HKEY_CLASSES_ROOT, kAppIdKey, "ServiceParameters");
         },
         [] {
             SetLocalService(kService);
             SetText(HKEY_CLASSES_ROOT, kAppIdKey, "ServiceParameters", "-Service");
             // The local server the calls started ends after a few idle
             // seconds; till then COM would hand it the next client.
             for (int i = 0; i < 100 && ProcessRunning("ZovKestor.exe"); ++i)
                 Sleep(100);
             EXPECT_FALSE(ProcessRunning("ZovKestor.exe"));
         }},
        // Without blanks there is nothing else for the service manager to
        // try; the check's call starts the service from there.
        {"an unquoted image path without blanks", "",
         [&] {
             StopService();
             ChangeService(SERVICE_NO_CHANGE, shortPath);
         },
         [&] { ChangeService(SERVICE_NO_CHANGE, Quoted(folder + "ZovKestor.exe").c_str()); }},
        {"versions that disagree", "versions",
         [&] {
             StopService();
             move(folder + "KestorPr.dll", folder + "KestorPr.dll.away");
             EXPECT_TRUE(CopyFileA((ProgramFolder() + "KestorPrOtherVersion.dll").c_str(),
                                   (folder + "KestorPr.dll").c_str(), TRUE));
         },
         [&] {
             StopService();
             EXPECT_TRUE(DeleteFileA((folder + "KestorPr.dll").c_str()));
             move(folder + "KestorPr.dll.away", folder + "KestorPr.dll");
         }},
        {"program folder writable by everyone", "folders",
         [&] { WriteDacl(folder, folderDacl + everyoneMay); },
         [&] { WriteDacl(folder, folderDacl); }},
        {"a folder above it writable by everyone", "folders",
         [&] { WriteDacl(parent, parentDacl + everyoneMay); },
         [&] { WriteDacl(parent, parentDacl); }},
        {"ZovKestor.tlb writable by everyone", "folders",
         [&] { WriteDacl(typeLibrary, typeLibraryDacl + "(A;;0x1301bf;;;WD)"); },
         [&] { WriteDacl(typeLibrary, typeLibraryDacl); }},
    };

    bool savedFolders = false;
    for (const Breakage &breakage : breakages)
    {
        SCOPED_TRACE(breakage.what);
        breakage.breakIt();
        const std::string check = breakage.check;
        CheckerVerdict verdict = RunChecker(Checker());
        EXPECT_TRUE(check.empty() ? CheckerHealthy(verdict) : CheckerNamesFirst(check, verdict));
        if (check == "folders")
        {
            // Nothing is started from there, and nothing there is a remedy.
            EXPECT_NE(std::string::npos,
                      verdict.run.output.find("call      cannot check: not tried"))
                << verdict.run.output;
            EXPECT_EQ(std::string::npos, verdict.run.output.find("install.cmd"))
                << verdict.run.output;
            if (!savedFolders)
                SaveJsonReport(Checker(), "install-script-folders");
            savedFolders = true;
        }
        breakage.repair();
    }
    SaveJsonReport(Checker(), "install-script-repaired");
    EXPECT_TRUE(CheckerHealthy(RunChecker(Checker())));
}

TEST_F(CheckerInstallScript, UninstalledFailsTheClass)
{
    ASSERT_EXIT_CODE(S_OK, Script("uninstall.cmd"));
    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_TRUE(CheckerNamesFirst("class", RunChecker(Checker())));
    CheckerVerdict quiet = RunChecker(Checker(), "--quiet");
    EXPECT_TRUE(quiet.passed.empty()) << "--quiet prints only failures:\n" << quiet.run.output;
    EXPECT_NE(std::string::npos, quiet.run.output.find("install.cmd")) << quiet.run.output;
    SaveJsonReport(Checker(), "install-script-removed-quiet", "--json --quiet");
}

}  // namespace
