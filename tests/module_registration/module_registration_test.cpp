// The program's registration scripts applied through the module, with the
// classes root of this process redirected to a scratch key: the rows they
// write and remove, the standard replacements and the class walk.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "broker/com_module.h"
#include "broker/kestor_interface.h"
#include "broker/object_map.h"
#include "modreg_test_support.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const std::string kClassKey = "CLSID\\" KESTOR_CLSID_TEXT;

std::string ThisProgramPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    return std::string(path, length);
}

void CreateKey(HKEY root, const std::string &path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
        << path;
    RegCloseKey(key);
}

void SetString(HKEY root, const std::string &path, const char *name, const char *value)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root, path.c_str(), name, REG_SZ, value,
                                             static_cast<DWORD>(lstrlenA(value) + 1)))
        << path;
}

// Each test works on its own classes root.
class ModuleScriptTest : public testing::Test
{
protected:
    ModuleScriptTest() : m_root("modreg"), m_override(m_root.Handle())
    {
        g_testModule.m_objectMap = g_objectMap;
    }

    HRESULT RegisterBoth()
    {
        HRESULT hr = g_testModule.ApplyRegistryScript(100, TRUE, NULL);
        if (FAILED(hr))
            return hr;
        return g_testModule.RegisterServerObjects(FALSE, NULL);
    }

    HRESULT UnregisterBoth()
    {
        HRESULT hr = g_testModule.ApplyRegistryScript(100, FALSE, NULL);
        if (FAILED(hr))
            return hr;
        return g_testModule.UnregisterServerObjects(FALSE, NULL);
    }

    std::vector<std::string> Dump() { return DumpRegistryTree(m_root.Handle(), ""); }

    ModuleStateGuard m_state;
    ScratchKey m_root;
    ClassesRootOverride m_override;
};

TEST_F(ModuleScriptTest, RegisteringBothScriptsWritesExactlyTheTableRows)
{
    ASSERT_SUCCEEDED(RegisterBoth());
    EXPECT_EQ(ExpectedScriptRows(ThisProgramPath()), Dump());

    // Registering again changes nothing.
    ASSERT_SUCCEEDED(RegisterBoth());
    EXPECT_EQ(ExpectedScriptRows(ThisProgramPath()), Dump());
}

TEST_F(ModuleScriptTest, UnregisteringRemovesTheRowsButNeverAppIdOrClsidAndCanRepeat)
{
    // Values that installation adds to the AppID key go with it.
    ASSERT_SUCCEEDED(RegisterBoth());
    SetString(HKEY_CLASSES_ROOT, "AppID\\" KESTOR_APPID_TEXT, "LocalService", "ZovKestor");
    SetString(HKEY_CLASSES_ROOT, "AppID\\" KESTOR_APPID_TEXT, "ServiceParameters", "-Service");

    const std::vector<std::string> containersOnly = {"key AppID", "key CLSID"};
    ASSERT_SUCCEEDED(UnregisterBoth());
    EXPECT_EQ(containersOnly, Dump());

    // Everything is missing the second time; both scripts still succeed.
    EXPECT_SUCCEEDED(g_testModule.ApplyRegistryScript(100, FALSE, NULL));
    EXPECT_SUCCEEDED(g_testModule.UnregisterServerObjects(FALSE, NULL));
    EXPECT_EQ(containersOnly, Dump());
}

TEST_F(ModuleScriptTest, UnregisteringKeepsKeysThatStillHaveForeignSubkeys)
{
    ASSERT_SUCCEEDED(RegisterBoth());
    CreateKey(HKEY_CLASSES_ROOT, "ZovKestor.KestorObj\\Foreign");
    CreateKey(HKEY_CLASSES_ROOT, kClassKey + "\\InprocHandler32");
    CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-00000000CAFE}");

    ASSERT_SUCCEEDED(UnregisterBoth());
    const std::vector<std::string> left = {
        "key AppID",
        "key CLSID",
        "key CLSID\\{00000000-0000-0000-0000-00000000CAFE}",
        "key " + kClassKey,
        "key " + kClassKey + "\\InprocHandler32",
        "key ZovKestor.KestorObj",
        "key ZovKestor.KestorObj\\Foreign",
    };
    // The class key keeps its default value; its AppID value is removed.
    std::vector<std::string> expected = left;
    expected.push_back("value " + kClassKey + " [] REG_SZ KestorObj Class");
    expected.push_back("value ZovKestor.KestorObj [] REG_SZ KestorObj Class");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Dump());
}

TEST_F(ModuleScriptTest, RegisteringOverAClassKeyDeletesItsWholeTreeFirst)
{
    CreateKey(HKEY_CLASSES_ROOT, kClassKey + "\\Stale\\Deeper");
    SetString(HKEY_CLASSES_ROOT, kClassKey + "\\Stale\\Deeper", "Old", "x");
    SetString(HKEY_CLASSES_ROOT, kClassKey, "OldValue", "x");
    SetString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32", NULL, "C:\\elsewhere.exe");
    CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-00000000CAFE}");

    ASSERT_SUCCEEDED(RegisterBoth());
    std::vector<std::string> expected = ExpectedScriptRows(ThisProgramPath());
    expected.push_back("key CLSID\\{00000000-0000-0000-0000-00000000CAFE}");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Dump());
}

TEST_F(ModuleScriptTest, StandardReplacementsOfTheRunningProgram)
{
    // "Module" is the quoted path of a program, "Module_Raw" the bare one,
    // "APPID" empty.
    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBE", TRUE, NULL));
    EXPECT_EQ("\"" + ThisProgramPath() + "\"",
              ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", NULL));
    EXPECT_EQ(ThisProgramPath(), ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", "Raw"));
    EXPECT_EQ("[]", ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", "AppIdText"));

    // A null module instance means the running program as well.
    g_baseModuleRecord.m_instance = NULL;
    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBEPLAIN", TRUE, NULL));
    EXPECT_EQ("\"" + ThisProgramPath() + "\"",
              ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbePlain", NULL));

    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBE", FALSE, NULL));
    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBEPLAIN", FALSE, NULL));
    EXPECT_TRUE(Dump().empty());
}

TEST_F(ModuleScriptTest, ModuleOfALibraryIsNotQuoted)
{
    // The probe program loaded as a plain image stands for a library module.
    std::string probe = BuildBinFolder() + "modreg_probe.exe";
    HMODULE library = LoadLibraryExA(probe.c_str(), NULL, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, library);
    g_baseModuleRecord.m_instance = library;
    EXPECT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBEPLAIN", TRUE, NULL));
    EXPECT_EQ(probe, ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbePlain", NULL));
    EXPECT_EQ(probe, ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbePlain", "Raw"));
    g_baseModuleRecord.m_instance = GetModuleHandleA(NULL);
    FreeLibrary(library);
}

TEST_F(ModuleScriptTest, ExtraReplacementsComeBeforeTheStandardOnes)
{
    const ReplacementEntry extra[] = {
        {L"Module", L"Given by the caller"},
        {L"APPID", L"app"},
        {NULL, L"ignored: the list has ended"},
    };
    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScriptByName("KESTORPROBE", TRUE, extra));
    EXPECT_EQ("Given by the caller", ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", NULL));
    EXPECT_EQ(ThisProgramPath(), ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", "Raw"));
    EXPECT_EQ("[app]", ReadStringValue(HKEY_CLASSES_ROOT, "KestorModRegProbe", "AppIdText"));

    // The class script by number takes the list the same way.
    const ReplacementEntry server[] = {{L"MODULE", L"C:\\other.exe -x"}, {NULL, NULL}};
    ASSERT_SUCCEEDED(g_testModule.ApplyRegistryScript(101, TRUE, server));
    EXPECT_EQ("C:\\other.exe -x",
              ReadStringValue(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32", NULL));
}

TEST_F(ModuleScriptTest, FailuresBeforeAnyScriptRuns)
{
    // A module handle that names no module: GetModuleFileNameA fails and
    // nothing is written.
    g_baseModuleRecord.m_instance = reinterpret_cast<HINSTANCE>(0x7A5C0000);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
              g_testModule.ApplyRegistryScript(101, TRUE, NULL));
    EXPECT_TRUE(Dump().empty());
    g_baseModuleRecord.m_instance = GetModuleHandleA(NULL);

    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              g_testModule.ApplyRegistryScriptByName("KESTORNOSUCHSCRIPT", TRUE, NULL));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              g_testModule.ApplyRegistryScript(4711, FALSE, NULL));
    EXPECT_HR(E_OUTOFMEMORY, g_testModule.ApplyRegistryScriptByName(NULL, TRUE, NULL));
    EXPECT_HR(E_POINTER, g_testModule.AddStandardReplacements(NULL));
    EXPECT_TRUE(Dump().empty());
}

// Hooks that record the order in which the class walk reaches them.
std::vector<std::string> g_calls;
HRESULT g_firstResult = S_OK;

HRESULT WINAPI FirstHook(BOOL registerObject)
{
    g_calls.push_back(registerObject ? "first+" : "first-");
    return g_firstResult;
}

HRESULT WINAPI SecondHook(BOOL registerObject)
{
    g_calls.push_back(registerObject ? "second+" : "second-");
    return S_OK;
}

HRESULT WINAPI AutoHook(BOOL registerObject)
{
    g_calls.push_back(registerObject ? "auto+" : "auto-");
    return S_OK;
}

const CLSID kFirstClass = {0x6a1f0c2e, 0x11aa, 0x4c55, {0x90, 0x01, 0, 0, 0, 0, 0, 1}};
const CLSID kSecondClass = {0x6a1f0c2e, 0x11aa, 0x4c55, {0x90, 0x01, 0, 0, 0, 0, 0, 2}};
const CLSID kAutoClass = {0x6a1f0c2e, 0x11aa, 0x4c55, {0x90, 0x01, 0, 0, 0, 0, 0, 3}};

class ClassWalkTest : public testing::Test
{
protected:
    ClassWalkTest()
    {
        g_calls.clear();
        g_firstResult = S_OK;
        m_map[0] = {&kFirstClass, FirstHook, NULL, NULL, NULL, 0, NULL, NULL, NULL};
        m_map[1] = {&kSecondClass, SecondHook, NULL, NULL, NULL, 0, NULL, NULL, NULL};
        m_map[2] = {};
        m_auto = {&kAutoClass, AutoHook, NULL, NULL, NULL, 0, NULL, NULL, NULL};
        m_autoList[0] = &m_auto;
        g_testModule.m_objectMap = m_map;
        g_comModuleRecord.m_autoObjectsBegin = m_autoList;
        g_comModuleRecord.m_autoObjectsEnd = m_autoList + 1;
    }

    ModuleStateGuard m_state;
    ObjectMapEntry m_map[3];
    ObjectMapEntry m_auto;
    ObjectMapEntry *m_autoList[1];
};

TEST_F(ClassWalkTest, EveryRowInOrderThenTheCollectedRows)
{
    EXPECT_SUCCEEDED(g_testModule.RegisterServerObjects(FALSE, NULL));
    EXPECT_SUCCEEDED(g_testModule.UnregisterServerObjects(FALSE, NULL));
    const std::vector<std::string> expected = {"first+", "second+", "auto+",
                                               "first-", "second-", "auto-"};
    EXPECT_EQ(expected, g_calls);
}

TEST_F(ClassWalkTest, OnlyClassSelectsOneRow)
{
    EXPECT_SUCCEEDED(g_testModule.RegisterServerObjects(FALSE, &kSecondClass));
    EXPECT_SUCCEEDED(g_testModule.UnregisterServerObjects(FALSE, &kAutoClass));
    const std::vector<std::string> expected = {"second+", "auto-"};
    EXPECT_EQ(expected, g_calls);
}

TEST_F(ClassWalkTest, AFailingRowStopsTheWalkBeforeTheTypeLibrary)
{
    // The type library would be looked for beside a module that has none;
    // the row's own failure must come back, not that one.
    g_comModuleRecord.m_typeLibraryInstance = GetModuleHandleA("kernel32.dll");
    g_firstResult = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
              g_testModule.RegisterServerObjects(TRUE, NULL));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
              g_testModule.UnregisterServerObjects(TRUE, NULL));
    const std::vector<std::string> expected = {"first+", "first-"};
    EXPECT_EQ(expected, g_calls);
}

TEST_F(ClassWalkTest, NoRowsAndNoTypeLibraryIsSuccess)
{
    g_testModule.m_objectMap = NULL;
    g_comModuleRecord.m_autoObjectsBegin = NULL;
    g_comModuleRecord.m_autoObjectsEnd = NULL;
    EXPECT_HR(S_OK, g_testModule.RegisterServerObjects(FALSE, NULL));
    EXPECT_HR(S_OK, g_testModule.UnregisterServerObjects(FALSE, NULL));

    // A row without registration hooks has nothing to register.
    m_map[0] = {&kFirstClass, NULL, NULL, NULL, NULL, 0, NULL, NULL, NULL};
    m_map[1] = {};
    g_testModule.m_objectMap = m_map;
    EXPECT_HR(S_OK, g_testModule.RegisterServerObjects(FALSE, NULL));
    EXPECT_HR(S_OK, g_testModule.UnregisterServerObjects(FALSE, NULL));
    EXPECT_TRUE(g_calls.empty());
}

}  // namespace

namespace {

std::string Doubled(const std::string &text)
{
    std::string out;
    for (char c : text)
    {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out;
}

// The probe program copied into a folder with an awkward name, applying its
// probe script to a scratch classes root of its own process. (The program
// itself is registered from such folders by program_paths_test.cpp.)
class ProgramPathTest : public testing::TestWithParam<const char *>
{
protected:
    ProgramPathTest()
        : m_folder(std::string("C:\\") + GetParam() + "-" + std::to_string(GetCurrentProcessId()) +
                   "\\bin"),
          m_root("modreg-path")
    {}
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.CopyIn(BuildBinFolder() + "modreg_probe.exe", "modreg_probe.exe"));
        m_program = m_folder.Path() + "modreg_probe.exe";
    }

    DWORD Run(const char *command)
    {
        return RunAndWait("\"" + m_program + "\" " + m_root.Path() + " " + command);
    }

    TestFolder m_folder;
    ScratchKey m_root;
    std::string m_program;
};

TEST_P(ProgramPathTest, ModuleValuesCarryTheWholePath)
{
    ASSERT_EQ(S_OK, static_cast<HRESULT>(Run("probe")));
    EXPECT_EQ("\"" + m_program + "\"", ReadStringValue(m_root.Handle(), "KestorModRegProbe", NULL));
    EXPECT_EQ(m_program, ReadStringValue(m_root.Handle(), "KestorModRegProbe", "Raw"));
}

INSTANTIATE_TEST_SUITE_P(Folders, ProgramPathTest,
                         testing::Values("Kestor ModReg With Blanks", "KestorModReg-O'Neil"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return info.index == 0 ? std::string("Blanks")
                                                    : std::string("SingleQuote");
                         });

// Without blanks in the path the doubled quote shows in the bare values.
TEST(ProgramPathQuoteTest, QuotesAreDoubledInTheReplacementValues)
{
    TestFolder folder("C:\\KestorModReg-Plain-" + std::to_string(GetCurrentProcessId()) + "\\it's");
    ASSERT_TRUE(folder.CopyIn(BuildBinFolder() + "modreg_probe.exe", "modreg_probe.exe"));
    ScratchKey root("modreg-quote");
    std::string program = folder.Path() + "modreg_probe.exe";
    ASSERT_EQ(static_cast<DWORD>(S_OK),
              RunAndWait("\"" + program + "\" " + root.Path() + " probeplain"));
    EXPECT_EQ("\"" + Doubled(program) + "\"",
              ReadStringValue(root.Handle(), "KestorModRegProbePlain", NULL));
    EXPECT_EQ(Doubled(program), ReadStringValue(root.Handle(), "KestorModRegProbePlain", "Raw"));
}

// From a folder the code page cannot spell, the narrow path names no file:
// a registration would write a path to nothing, so it writes nothing.
TEST(ProgramPathUnspellableTest, RegisteringWritesNothing)
{
    const std::wstring path =
        L"C:\\KestorModReg-\x041A\x0438\x0440-" + std::to_wstring(GetCurrentProcessId()) + L"\\bin";
    if (WideText(AnsiText(path)) == path)
        GTEST_SKIP() << "code page " << GetACP() << " spells Cyrillic";
    TestFolder folder(path);
    ASSERT_TRUE(folder.CopyIn(BuildBinFolder() + "modreg_probe.exe", "modreg_probe.exe"));
    ScratchKey root("modreg-unspellable");
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)),
              RunAndWait(L"\"" + folder.WidePath() + L"modreg_probe.exe\" " +
                         WideText(root.Path()) + L" probe"));
    EXPECT_TRUE(DumpRegistryTree(root.Handle(), "").empty());
}

// The dump the registration tests compare lists every value, also those after
// one too large for a first read.
TEST(RegistryDumpTest, ValuesAfterALargeOneAreListed)
{
    ScratchKey root("modreg-dump");
    const std::string large(9000, 'x');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.Handle(), "large", 0, REG_SZ,
                                            reinterpret_cast<const BYTE *>(large.c_str()),
                                            static_cast<DWORD>(large.size() + 1)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.Handle(), "after", 0, REG_SZ,
                                            reinterpret_cast<const BYTE *>("small"), 6));
    std::vector<std::string> expected = {"value  [after] REG_SZ small",
                                         "value  [large] REG_SZ " + large};
    EXPECT_EQ(expected, DumpRegistryTree(root.Handle(), ""));
}

}  // namespace
