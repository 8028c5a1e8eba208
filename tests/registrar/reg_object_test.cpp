// CRegObject: its IRegistrarBase slots, replacement variables and scripts
// carried as resources of this test program.
#include <gtest/gtest.h>

#include <string>

#include "registrar/reg_object.h"
#include "registrar_test_util.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

std::wstring Wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring OwnFileName()
{
    WCHAR name[MAX_PATH];
    GetModuleFileNameW(NULL, name, MAX_PATH);
    return name;
}

TEST(RegObjectTest, UnknownSlotsOnlyAnswer)
{
    CRegObject registrar;
    void *out = &registrar;
    EXPECT_HR(E_NOTIMPL, registrar.QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(&registrar, out);
    EXPECT_EQ(1u, registrar.AddRef());
    EXPECT_EQ(0u, registrar.Release());
    EXPECT_EQ(0u, registrar.Release());

    // Through the base, as the module holds it.
    IRegistrarBase *base = &registrar;
    EXPECT_SUCCEEDED(base->DefineReplacement(L"Name", L"Value"));
    EXPECT_STREQ(L"Value", registrar.FindReplacement("NAME"));
}

TEST(RegObjectTest, ReplacementVariables)
{
    CRegObject registrar;
    EXPECT_HR(E_INVALIDARG, registrar.DefineReplacement(NULL, L"v"));
    EXPECT_HR(E_INVALIDARG, registrar.DefineReplacement(L"n", NULL));
    EXPECT_EQ(nullptr, registrar.FindReplacement("n"));

    ASSERT_SUCCEEDED(registrar.DefineReplacement(L"Module", L"first"));
    ASSERT_SUCCEEDED(registrar.DefineReplacement(L"MODULE", L"second"));
    ASSERT_SUCCEEDED(registrar.DefineReplacement(L"", L"empty name"));
    EXPECT_STREQ(L"first", registrar.FindReplacement("module"));
    EXPECT_STREQ(L"empty name", registrar.FindReplacement(""));
    EXPECT_EQ(nullptr, registrar.FindReplacement("Modules"));

    EXPECT_SUCCEEDED(registrar.ResetReplacements());
    EXPECT_EQ(nullptr, registrar.FindReplacement("Module"));
    EXPECT_EQ(0, registrar.Replacements().Count());
}

TEST(RegObjectTest, ScriptRunsLeaveTheTableAlone)
{
    ScratchKey scratch("RegObjectTable");
    CRegObject registrar;
    ASSERT_SUCCEEDED(registrar.DefineReplacement(L"Key", L"Made"));
    const std::string script = ScriptUnder(scratch.Path(), "%Key% = s '%KEY%'");
    ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), TRUE));
    ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), FALSE));
    EXPECT_HR(DISP_E_EXCEPTION,
              registrar.ApplyScriptText(ScriptUnder(scratch.Path(), "%Nope%").c_str(), TRUE));
    EXPECT_EQ(1, registrar.Replacements().Count());
    EXPECT_STREQ(L"Made", registrar.FindReplacement("key"));
}

class ResourceScriptTest : public testing::Test
{
protected:
    ScratchKey m_scratch{"ResourceScript"};
    CRegObject m_registrar;
    std::wstring m_file = OwnFileName();

    void SetUp() override
    {
        const std::string leaf = m_scratch.Path().substr(m_scratch.Path().rfind('\\') + 1);
        ASSERT_SUCCEEDED(m_registrar.DefineReplacement(L"LEAF", Wide(leaf).c_str()));
        ASSERT_SUCCEEDED(m_registrar.DefineReplacement(L"VALUE", L"100% real"));
    }
    std::string Path(const std::string &below) const { return m_scratch.Path() + "\\" + below; }
    std::string Dump() const { return DumpTree(HKEY_CURRENT_USER, m_scratch.Path()); }
};

TEST_F(ResourceScriptTest, ByNumberRegistersAndUnregisters)
{
    ASSERT_SUCCEEDED(m_registrar.RegisterResourceScript(m_file.c_str(), 300, L"REGISTRY"));
    DWORD type;
    std::string bytes;
    ASSERT_TRUE(ReadValue(Path("FromResource"), NULL, &type, &bytes));
    EXPECT_EQ(std::string("100% real\0", 10), bytes);
    ASSERT_TRUE(ReadValue(Path("FromResource"), "Kind", &type, &bytes));
    EXPECT_EQ(std::string("numbered\0", 9), bytes);

    ASSERT_SUCCEEDED(m_registrar.UnregisterResourceScript(m_file.c_str(), 300, L"registry"));
    EXPECT_EQ("(root)\n", Dump());
}

TEST_F(ResourceScriptTest, ByNameRegistersAndUnregisters)
{
    ASSERT_SUCCEEDED(
        m_registrar.RegisterResourceScriptByName(m_file.c_str(), L"KestorNamed", L"REGISTRY"));
    EXPECT_TRUE(KeyExists(Path("FromNamedResource")));
    ASSERT_SUCCEEDED(
        m_registrar.UnregisterResourceScriptByName(m_file.c_str(), L"KESTORNAMED", L"REGISTRY"));
    EXPECT_EQ("(root)\n", Dump());
}

TEST_F(ResourceScriptTest, LargeScriptsAndScriptsEndedByANul)
{
    ASSERT_SUCCEEDED(m_registrar.RegisterResourceScript(m_file.c_str(), 301, L"REGISTRY"));
    EXPECT_TRUE(KeyExists(Path("FromLargeResource")));
    // The stored bytes after the NUL are no part of the script.
    ASSERT_SUCCEEDED(m_registrar.RegisterResourceScript(m_file.c_str(), 302, L"REGISTRY"));
    EXPECT_TRUE(KeyExists(Path("BeforeTheNul")));
    ASSERT_SUCCEEDED(m_registrar.UnregisterResourceScript(m_file.c_str(), 301, L"REGISTRY"));
    ASSERT_SUCCEEDED(m_registrar.UnregisterResourceScript(m_file.c_str(), 302, L"REGISTRY"));
    EXPECT_EQ("(root)\n", Dump());
}

TEST_F(ResourceScriptTest, MissingModulesResourcesAndArguments)
{
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              m_registrar.RegisterResourceScript(L"C:\\no\\such\\module.dll", 300, L"REGISTRY"));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              m_registrar.RegisterResourceScript(m_file.c_str(), 399, L"REGISTRY"));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND),
              m_registrar.UnregisterResourceScript(m_file.c_str(), 300, L"NOSUCHTYPE"));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              m_registrar.RegisterResourceScriptByName(m_file.c_str(), L"NOSUCH", L"REGISTRY"));

    EXPECT_HR(E_OUTOFMEMORY, m_registrar.RegisterResourceScript(m_file.c_str(), 300, NULL));
    EXPECT_HR(E_OUTOFMEMORY, m_registrar.UnregisterResourceScript(m_file.c_str(), 300, NULL));
    EXPECT_HR(E_OUTOFMEMORY, m_registrar.RegisterResourceScript(NULL, 300, L"REGISTRY"));
    EXPECT_HR(E_INVALIDARG,
              m_registrar.RegisterResourceScriptByName(m_file.c_str(), NULL, L"REGISTRY"));
    EXPECT_HR(E_INVALIDARG,
              m_registrar.UnregisterResourceScriptByName(m_file.c_str(), L"KESTORNAMED", NULL));
    EXPECT_EQ("(root)\n", Dump());
}

}  // namespace
