// 32- and 64-bit clients of one installation on 64-bit Windows. The driver
// is a 32-bit program run in a throw-away 64-bit Wine prefix; the 64-bit
// programs lie in <build>/bin/x64, as in the install folder. The tests run
// in order: install, calls of both widths, writers of both widths at once,
// uninstall.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "product_process.h"
#include "scratch_registry.h"
#include "stress_protocol.h"
#include "stress_support.h"
#include "test_hresult.h"

namespace {

const char kService[] = "ZovKestor";

// What the installation writes below HKEY_CLASSES_ROOT, in one view or both.
const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;
const char kProxyClassKey[] = "CLSID\\" KESTOR_IID_TEXT;
const char kBrokerClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;
const char kAppIdKey[] = "AppID\\" KESTOR_APPID_TEXT;

struct View
{
    const char *name;
    REGSAM flag;
};
const View kViews[] = {{"32-bit view", KEY_WOW64_32KEY}, {"64-bit view", KEY_WOW64_64KEY}};

std::string Bin(const char *file)
{
    return "\"" + ProgramFolder() + file + "\"";
}

// The 64-bit command prompt, as a 32-bit process names it.
std::string NativeCmd()
{
    char windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    return "\"" + std::string(windows, length) + "\\Sysnative\\cmd.exe\"";
}

bool KeyExists(const View &view, const char *path)
{
    return RegistryKeyExists(HKEY_CLASSES_ROOT, path, view.flag);
}

std::string DefaultValue(const View &view, const char *path)
{
    DWORD type = 0;
    std::string data;
    if (!ReadRegistryValue(HKEY_CLASSES_ROOT, path, NULL, &type, &data, view.flag))
        return "<missing>";
    return data.c_str();
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The values of HKCR\GPI\Settings whose names start with prefix, by the rest
// of the name, read wide and byte for byte.
stress::ValueMap SettingsNamed(const std::wstring &prefix)
{
    stress::ValueMap named;
    stress::TreeSnapshot settings = stress::SnapshotTree(HKEY_CLASSES_ROOT, KESTOR_SETTINGS_KEY_W);
    for (const auto &value : settings[L""])
    {
        if (value.first.compare(0, prefix.size(), prefix) == 0)
            named[value.first.substr(prefix.size())] = value.second;
    }
    return named;
}

TEST(ProductWin64, InstallRegistersBothWidthsAndA64BitClientStartsTheService)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        << "this suite needs a 64-bit prefix";
    ASSERT_EQ(1, ProcessCount("services.exe"));

    // From a 32-bit prompt, then once more from a 64-bit one.
    ProcessResult install = RunProcess("cmd /c " + Bin("install.cmd"));
    ASSERT_TRUE(install.finished && install.exitCode == 0) << install.output;
    EXPECT_NE(std::string::npos, install.output.find("x64\\KestorPr.dll")) << install.output;
    ProcessResult again = RunProcess(NativeCmd() + " /c " + Bin("install.cmd"));
    ASSERT_TRUE(again.finished && again.exitCode == 0) << again.output;

    // Each view's proxy class names the library of its own width.
    for (const View &view : kViews)
        EXPECT_TRUE(KeyExists(view, kInterfaceKey)) << view.name;
    const std::string proxy = std::string(kProxyClassKey) + "\\InprocServer32";
    EXPECT_EQ(ProgramFolder() + "KestorPr.dll", DefaultValue(kViews[0], proxy.c_str()));
    EXPECT_EQ(ProgramFolder() + "x64\\KestorPr.dll", DefaultValue(kViews[1], proxy.c_str()));

    // Once the service manager takes start requests at all, the first call,
    // a 64-bit client's, is COM starting the service and nothing else.
    std::string why;
    ASSERT_TRUE(CycleService(kService, true, &why)) << why;
    ProcessResult first = RunProcess(Bin("x64\\kestor-set.exe") + " KestorWin64First yes");
    EXPECT_EQ(0u, first.exitCode) << first.output;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService))
        << "COM served the 64-bit client without starting the service";
    EXPECT_EQ(1, ProcessCount("ZovKestor.exe"));
}

TEST(ProductWin64, BothWidthsGetTheSameAnswersAndStoreTheSameBytes)
{
    ProcessResult wide = RunProcess(Bin("x64\\stress_client.exe") + " calls w64");
    ProcessResult narrow = RunProcess(Bin("stress_client.exe") + " calls w32");
    ASSERT_EQ(0u, wide.exitCode) << wide.output;
    ASSERT_EQ(0u, narrow.exitCode) << narrow.output;
    EXPECT_EQ(Lines(narrow.output), Lines(wide.output));

    // A sound set: refusals and writes both, and nothing else.
    int accepted = 0, refused = 0;
    for (const std::string &line : Lines(wide.output))
    {
        accepted += line.find(" 0x00000000") != std::string::npos;
        refused += line.find(" 0x80070057") != std::string::npos;
    }
    EXPECT_EQ(Lines(wide.output).size(), static_cast<size_t>(accepted + refused)) << wide.output;
    EXPECT_GE(refused, 10) << wide.output;

    // Every accepted call stored one value; both widths' are the same bytes.
    stress::ValueMap fromWide = SettingsNamed(L"w64-");
    EXPECT_EQ(static_cast<size_t>(accepted), fromWide.size());
    EXPECT_TRUE(fromWide == SettingsNamed(L"w32-")) << "the 32- and 64-bit clients' values differ";

    // One service served both.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kService));
    EXPECT_EQ(1, ProcessCount("ZovKestor.exe"));
}

TEST(ProductWin64, WritersOfBothWidthsAtOnceLoseNothing)
{
    const int kWritesEach = 200;
    const char *const clients[] = {"x64\\stress_client.exe", "stress_client.exe",
                                   "x64\\stress_client.exe", "stress_client.exe"};
    stress::NamedEvent go(stress::UniqueEventName("win64"));
    std::unique_ptr<stress::Child> children[4];
    for (int k = 0; k < 4; ++k)
    {
        children[k].reset(new stress::Child());
        ASSERT_TRUE(children[k]->Start(Bin(clients[k]) + " write both" + std::to_string(k) + " " +
                                       std::to_string(kWritesEach) + " " + go.Name()));
    }
    go.Signal();
    int wrong = 0;
    for (int k = 0; k < 4; ++k)
    {
        ASSERT_TRUE(children[k]->Wait(120000)) << clients[k] << " hangs";
        EXPECT_HR(S_OK, static_cast<HRESULT>(children[k]->ExitCode())) << clients[k];
        const std::wstring prefix = L"both" + std::to_wstring(k);
        for (int i = 0; i < kWritesEach; ++i)
        {
            stress::StoredValue value;
            wrong += !stress::ReadSetting(stress::ValueName(prefix, i), &value) ||
                     value != stress::StringValue(stress::ValueData(prefix, i));
        }
    }
    EXPECT_EQ(0, wrong) << "values missing or with wrong data";
    EXPECT_EQ(1, ProcessCount("ZovKestor.exe"));
}

TEST(ProductWin64, UninstallLeavesNeitherViewAnythingAndRemovesTheService)
{
    // From a 64-bit prompt with the service running, then again from a
    // 32-bit one with nothing left to remove.
    ProcessResult uninstall = RunProcess(NativeCmd() + " /c " + Bin("uninstall.cmd"));
    EXPECT_TRUE(uninstall.finished && uninstall.exitCode == 0) << uninstall.output;
    ProcessResult again = RunProcess("cmd /c " + Bin("uninstall.cmd"));
    EXPECT_TRUE(again.finished && again.exitCode == 0) << again.output;

    EXPECT_EQ(0u, ServiceState(kService));
    EXPECT_FALSE(ProcessRunning("ZovKestor.exe"));
    for (const View &view : kViews)
    {
        for (const char *key : {kInterfaceKey, kProxyClassKey, kBrokerClassKey, kAppIdKey})
            EXPECT_FALSE(KeyExists(view, key)) << key << " is left in the " << view.name;
    }
    stress::DeleteGpiTree();
}

}  // namespace
