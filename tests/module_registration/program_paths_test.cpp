// ZovKestor.exe itself, copied into folders with a blank and with a single
// quote in their names, registered and unregistered with its command-line
// options. Runs in a throw-away prefix: it writes the real classes root.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "broker/kestor_interface.h"
#include "modreg_test_support.h"
#include "scratch_registry.h"

namespace {

const char *const kOurKeys[] = {
    "AppID\\" KESTOR_APPID_TEXT,
    "AppID\\ZovKestor.EXE",
    "ZovKestor.KestorObj.1",
    "ZovKestor.KestorObj",
    "CLSID\\" KESTOR_CLSID_TEXT,
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

class ProgramFolderTest : public testing::TestWithParam<const char *>
{
protected:
    ProgramFolderTest() : m_folder(GetParam()) {}
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.CopyIn(BuildBinFolder() + "ZovKestor.exe", "ZovKestor.exe"));
        m_program = m_folder.Path() + "ZovKestor.exe";
    }
    DWORD Run(const char *option) { return RunAndWait("\"" + m_program + "\" " + option); }

    TestFolder m_folder;
    std::string m_program;
};

TEST_P(ProgramFolderTest, RegServerAndUnregServerFromThisFolder)
{
    const std::string interfaceKey = "Interface\\" KESTOR_IID_TEXT;
    const std::vector<std::string> interfaceBefore =
        DumpRegistryTree(HKEY_CLASSES_ROOT, interfaceKey);

    // No type library beside the program: the rows are all written and the
    // option ends with the failure of loading the ".tlb".
    std::string typeLibrary = m_folder.Path() + "ZovKestor.tlb";
    ITypeLib *none = NULL;
    HRESULT missing =
        LoadTypeLib(std::wstring(typeLibrary.begin(), typeLibrary.end()).c_str(), &none);
    ASSERT_TRUE(FAILED(missing));
    EXPECT_EQ(static_cast<DWORD>(missing), Run("-RegServer"));
    EXPECT_EQ(WithoutContainers(ExpectedScriptRows(m_program)), DumpOurKeys());
    EXPECT_EQ("\"" + m_program + "\"",
              ReadStringValue(HKEY_CLASSES_ROOT, "CLSID\\" KESTOR_CLSID_TEXT "\\LocalServer32",
                              NULL));

    // With it, S_OK and the library registered at that path.
    ASSERT_TRUE(m_folder.CopyIn(BuildBinFolder() + "ZovKestor.tlb", "ZovKestor.tlb"));
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

INSTANTIATE_TEST_SUITE_P(Folders, ProgramFolderTest,
                         testing::Values("C:\\Program Files\\Kestor Test Folder",
                                         "C:\\Kestor-O'Neil\\it's"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return info.index == 0 ? std::string("Blanks")
                                                    : std::string("SingleQuote");
                         });

}  // namespace
