// ZovKestor.exe itself, copied into folders with a blank, a single quote,
// letters beyond ASCII that the ANSI code page spells (Latin-1 on 1252, a
// double-byte name on 932) and letters it cannot spell, registered and
// unregistered with its command-line options. Runs in a throw-away prefix:
// it writes the real classes root and the service manager's entries.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "modreg_test_support.h"
#include "scratch_registry.h"

namespace {

const char *const kOurKeys[] = {
    "AppID\\" KESTOR_APPID_TEXT, "AppID\\ZovKestor.EXE",      "ZovKestor.KestorObj.1",
    "ZovKestor.KestorObj",       "CLSID\\" KESTOR_CLSID_TEXT,
};

// The program's own keys in DumpRegistryTree's form, paths from the root.
std::vector<std::string> DumpOurKeys()
{
    std::vector<std::string> lines;
    for (const char *key : kOurKeys)
    {
        if (!RegistryKeyExists(HKEY_CLASSES_ROOT, key))
            continue;
        lines.push_back(std::string("key ") + key);
        for (const std::string &line : DumpRegistryTree(HKEY_CLASSES_ROOT, key))
        {
            // "key <rel>" or "value <rel> [...": put the key path in front.
            size_t space = line.find(' ');
            std::string kind = line.substr(0, space);
            std::string rest = line.substr(space + 1);
            if (rest.compare(0, 2, " [") == 0)  // a value of the key itself
                lines.push_back(kind + " " + key + rest);
            else
                lines.push_back(kind + " " + key + "\\" + rest);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> WithoutContainers(std::vector<std::string> rows)
{
    std::vector<std::string> kept;
    for (const std::string &row : rows)
        if (row != "key AppID" && row != "key CLSID")
            kept.push_back(row);
    return kept;
}

// Whether the ANSI code page spells the text, so that it reads back the same.
bool CodePageSpells(const std::wstring &text)
{
    return WideText(AnsiText(text)) == text;
}

// The code page the test run was started for, when it names one.
void ExpectTheCodePageAskedFor()
{
    const char *asked = std::getenv("KESTOR_CODE_PAGE");
    if (asked != NULL)
    {
        ASSERT_EQ(static_cast<UINT>(std::atoi(asked)), GetACP()) << "LC_ALL not taken";
    }
}

struct Folder
{
    const char *label;
    const wchar_t *path;
};

// Names the folder in failure messages.
void PrintTo(const Folder &folder, std::ostream *out)
{
    *out << folder.label;
}

class ProgramFolderTest : public testing::TestWithParam<Folder>
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ExpectTheCodePageAskedFor());
        if (!CodePageSpells(GetParam().path))
            GTEST_SKIP() << "code page " << GetACP() << " cannot spell this folder";
        m_folder.reset(new TestFolder(std::wstring(GetParam().path)));
        ASSERT_TRUE(m_folder->CopyIn(BuildBinFolder() + "ZovKestor.exe", "ZovKestor.exe"));
        m_program = m_folder->Path() + "ZovKestor.exe";
    }
    DWORD Run(const char *option) { return RunAndWait("\"" + m_program + "\" " + option); }

    std::unique_ptr<TestFolder> m_folder;
    std::string m_program;
};

TEST_P(ProgramFolderTest, RegServerAndUnregServerFromThisFolder)
{
    const std::string interfaceKey = "Interface\\" KESTOR_IID_TEXT;
    const std::vector<std::string> interfaceBefore =
        DumpRegistryTree(HKEY_CLASSES_ROOT, interfaceKey);

    // No type library beside the program: the rows are all written and the
    // option ends with the failure of loading the ".tlb".
    std::string typeLibrary = m_folder->Path() + "ZovKestor.tlb";
    ITypeLib *none = NULL;
    HRESULT missing =
        LoadTypeLib(std::wstring(typeLibrary.begin(), typeLibrary.end()).c_str(), &none);
    ASSERT_TRUE(FAILED(missing));
    EXPECT_EQ(static_cast<DWORD>(missing), Run("-RegServer"));
    EXPECT_EQ(WithoutContainers(ExpectedScriptRows(m_program)), DumpOurKeys());
    EXPECT_EQ(
        "\"" + m_program + "\"",
        ReadStringValue(HKEY_CLASSES_ROOT, "CLSID\\" KESTOR_CLSID_TEXT "\\LocalServer32", NULL));

    // With it, S_OK and the library registered at that path.
    ASSERT_TRUE(m_folder->CopyIn(BuildBinFolder() + "ZovKestor.tlb", "ZovKestor.tlb"));
    EXPECT_EQ(static_cast<DWORD>(S_OK), Run("/RegServer"));
    EXPECT_EQ(WithoutContainers(ExpectedScriptRows(m_program)), DumpOurKeys());
    EXPECT_EQ(typeLibrary, ReadStringValue(HKEY_CLASSES_ROOT,
                                           "TypeLib\\" KESTOR_LIBID_TEXT "\\1.0\\0\\win32", NULL));
    EXPECT_EQ(interfaceBefore, DumpRegistryTree(HKEY_CLASSES_ROOT, interfaceKey));

    EXPECT_EQ(static_cast<DWORD>(S_OK), Run("-UnregServer"));
    EXPECT_TRUE(DumpOurKeys().empty());
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" KESTOR_LIBID_TEXT "\\1.0"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "AppID"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_EQ(interfaceBefore, DumpRegistryTree(HKEY_CLASSES_ROOT, interfaceKey));

    // A second unregistration finds nothing to remove.
    EXPECT_EQ(static_cast<DWORD>(S_OK), Run("-UnregServer"));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ProgramFolderTest,
    testing::Values(Folder{"Blanks", L"C:\\Program Files\\Kestor Test Folder"},
                    Folder{"SingleQuote", L"C:\\Kestor-O'Neil\\it's"},
                    Folder{"Latin1", L"C:\\Kestor-\x00C6r\x00F8 caf\x00E9"},
                    // The second byte of U+8868 in code page 932 is a backslash.
                    Folder{"DoubleByte", L"C:\\Kestor\x8868\x793A"}),
    [](const testing::TestParamInfo<Folder> &info) { return std::string(info.param.label); });

// Every key and value of the classes root and of the service entries.
std::vector<std::string> MachineRegistration()
{
    std::vector<std::string> lines = DumpRegistryTree(HKEY_LOCAL_MACHINE, "Software\\Classes");
    for (const std::string &line :
         DumpRegistryTree(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services"))
    {
        // Wine's driver hosts come and go with the session, not with us.
        if (line.find(" Winedevice") == std::string::npos)
            lines.push_back("service " + line);
    }
    return lines;
}

// "- line" for what went, "+ line" for what came; empty when equal.
std::string Changes(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    std::vector<std::string> gone, came;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(came));
    std::string text;
    for (const std::string &line : gone)
        text += "- " + line + "\n";
    for (const std::string &line : came)
        text += "+ " + line + "\n";
    return text;
}

// From a folder the code page cannot spell, GetModuleFileNameA names no
// file: a registration would write a path to nothing, so it is refused
// before anything changes, and a working installation made from elsewhere
// stays as it was. Unregistering writes no path and works from there.
TEST(UnspellableFolder, RegistrationIsRefusedAndUnregistrationRemovesEverything)
{
    ASSERT_NO_FATAL_FAILURE(ExpectTheCodePageAskedFor());
    std::wstring unspellable;
    for (const wchar_t *candidate :
         {L"C:\\Kestor-\x041A\x0438\x0440\x0438\x043B\x043B\x0438\x0446\x0430",
          L"C:\\Kestor-\x00C6r\x00F8"})
    {
        if (!CodePageSpells(candidate))
        {
            unspellable = candidate;
            break;
        }
    }
    ASSERT_FALSE(unspellable.empty()) << "code page " << GetACP() << " spells every candidate";
    TestFolder folder(unspellable);
    ASSERT_TRUE(folder.CopyIn(BuildBinFolder() + "ZovKestor.exe", "ZovKestor.exe"));
    ASSERT_TRUE(folder.CopyIn(BuildBinFolder() + "ZovKestor.tlb", "ZovKestor.tlb"));
    const std::wstring program = L"\"" + folder.WidePath() + L"ZovKestor.exe\" ";

    const std::string builtProgram = "\"" + BuildBinFolder() + "ZovKestor.exe\"";
    const std::vector<std::string> bare = MachineRegistration();
    // However the test ends, the next one finds nothing registered.
    struct Unregister
    {
        std::string program;
        ~Unregister() { RunAndWait(program + " -UnregServer"); }
    } unregister{builtProgram};
    ASSERT_EQ(static_cast<DWORD>(S_OK), RunAndWait(builtProgram + " -Service"));
    const std::vector<std::string> installed = MachineRegistration();
    ASSERT_FALSE(Changes(bare, installed).empty());

    for (const wchar_t *option : {L"-RegServer", L"-Service"})
    {
        EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)),
                  RunAndWait(program + option))
            << AnsiText(option);
        EXPECT_EQ("", Changes(installed, MachineRegistration())) << AnsiText(option);
    }

    EXPECT_EQ(static_cast<DWORD>(S_OK), RunAndWait(program + L"-UnregServer"));
    EXPECT_EQ("", Changes(bare, MachineRegistration()));
}

}  // namespace
