// The interpreter against the real registry: every script reaches its own
// scratch key below HKEY_CURRENT_USER through nested "NoRemove" blocks.
#include <gtest/gtest.h>

#include <string>

#include "registrar/reg_object.h"
#include "registrar/reg_script_parser.h"
#include "registrar_test_util.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

class RegScriptTest : public testing::Test
{
protected:
    ScratchKey m_scratch{"RegScript"};
    CRegObject m_registrar;

    HRESULT Register(const std::string &body)
    {
        return m_registrar.ApplyScriptText(ScriptUnder(m_scratch.Path(), body).c_str(), TRUE);
    }
    HRESULT Unregister(const std::string &body)
    {
        return m_registrar.ApplyScriptText(ScriptUnder(m_scratch.Path(), body).c_str(), FALSE);
    }
    std::string Path(const std::string &below) const { return m_scratch.Path() + "\\" + below; }
    std::string Dump() const { return DumpTree(HKEY_CURRENT_USER, m_scratch.Path()); }

    std::string Value(const std::string &below, const char *name, DWORD expectedType)
    {
        DWORD type = REG_NONE;
        std::string bytes;
        EXPECT_TRUE(ReadValue(Path(below), name, &type, &bytes))
            << below << " [" << (name ? name : "(default)") << "]";
        EXPECT_EQ(expectedType, type);
        return bytes;
    }
};

TEST_F(RegScriptTest, EmptyAndBlankScriptsChangeNothing)
{
    const std::string before = Dump();
    for (const char *script : {"", " ", "\t\r\n  \n"})
    {
        EXPECT_SUCCEEDED(m_registrar.ApplyScriptText(script, TRUE));
        EXPECT_SUCCEEDED(m_registrar.ApplyScriptText(script, FALSE));
    }
    EXPECT_SUCCEEDED(Register(""));
    EXPECT_SUCCEEDED(Unregister(""));
    EXPECT_EQ(before, Dump());
    EXPECT_HR(E_POINTER, m_registrar.ApplyScriptText(NULL, TRUE));
}

TEST_F(RegScriptTest, RootKeySpellings)
{
    for (const char *root : {"HKCU", "hkcu", "HKEY_CURRENT_USER", "hkey_Current_user"})
    {
        std::string script = ScriptUnder(m_scratch.Path(), "Spelled");
        script.replace(0, 4, root);
        ASSERT_SUCCEEDED(m_registrar.ApplyScriptText(script.c_str(), TRUE)) << root;
        EXPECT_TRUE(KeyExists(Path("Spelled"))) << root;
        ASSERT_SUCCEEDED(m_registrar.ApplyScriptText(script.c_str(), FALSE)) << root;
        EXPECT_FALSE(KeyExists(Path("Spelled"))) << root;
    }
    for (const char *root : {"HKU", "hkcr", "HKLM", "HKCC", "HKEY_USERS", "HKEY_CLASSES_ROOT"})
        EXPECT_SUCCEEDED(m_registrar.ApplyScriptText((std::string(root) + " { }").c_str(), TRUE))
            << root;

    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKCU{ }", TRUE));
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKXX { }", TRUE));
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKCU Software { }", TRUE));
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKCU", TRUE));
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKCU {", TRUE));
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText("HKCU { } HKCU", FALSE));
}

TEST_F(RegScriptTest, KeysWithDefaultValuesAndNamedValues)
{
    const char script[] =
        "Outer = s 'outer default' {\n"
        "  'Inner key' = S 'it''s' { Val Named = s 'named text' }\n"
        "  val 'Upper' = s x\n"
        "  Plain\n"
        "}\n";
    ASSERT_SUCCEEDED(Register(script));
    EXPECT_EQ(std::string("outer default\0", 14), Value("Outer", NULL, REG_SZ));
    EXPECT_EQ(std::string("it's\0", 5), Value("Outer\\Inner key", NULL, REG_SZ));
    EXPECT_EQ(std::string("named text\0", 11), Value("Outer\\Inner key", "Named", REG_SZ));
    EXPECT_EQ(std::string("x\0", 2), Value("Outer", "Upper", REG_SZ));
    EXPECT_TRUE(KeyExists(Path("Outer\\Plain")));

    // Registering again writes over and keeps one of everything.
    const std::string once = Dump();
    ASSERT_SUCCEEDED(Register(script));
    EXPECT_EQ(once, Dump());
}

TEST_F(RegScriptTest, BinaryValues)
{
    ASSERT_SUCCEEDED(
        Register("Bin { Val Pair = b 0a1B\n Val NotHex = B zz\n"
                 " Val Empty = B ''\n Val Long = B " +
                 std::string(600, 'f') + " }"));
    EXPECT_EQ(std::string("\x0a\x1b", 2), Value("Bin", "Pair", REG_BINARY));
    EXPECT_EQ(std::string("\0", 1), Value("Bin", "NotHex", REG_BINARY));
    EXPECT_EQ(std::string(), Value("Bin", "Empty", REG_BINARY));
    EXPECT_EQ(std::string(300, '\xff'), Value("Bin", "Long", REG_BINARY));

    // An odd length fails and takes its root block back.
    const std::string before = Dump();
    EXPECT_HR(E_FAIL, Register("OddBin { Val V = b abc }"));
    EXPECT_FALSE(KeyExists(Path("OddBin")));
    EXPECT_EQ(before, Dump());
}

TEST_F(RegScriptTest, MultiStringValues)
{
    ASSERT_SUCCEEDED(
        Register("Multi {\n"
                 " Val Two = m 'first\\0second'\n"
                 " Val Empty = M ''\n"
                 " Val Doubled = M 'one\\0\\0two'\n"
                 " Val Trailing = M 'one\\0'\n"
                 " Val Backslash = M 'a\\b\\\\0c'\n"
                 " Val Long = M '" +
                 std::string(300, 'x') + "\\0" + std::string(300, 'y') +
                 "'\n"
                 "}"));
    EXPECT_EQ(std::string("first\0second\0\0", 14), Value("Multi", "Two", REG_MULTI_SZ));
    EXPECT_EQ(std::string("\0", 1), Value("Multi", "Empty", REG_MULTI_SZ));
    EXPECT_EQ(std::string("one\0\0", 5), Value("Multi", "Doubled", REG_MULTI_SZ));
    EXPECT_EQ(std::string("one\0\0", 5), Value("Multi", "Trailing", REG_MULTI_SZ));
    EXPECT_EQ(std::string("a\\b\\\0c\0\0", 8), Value("Multi", "Backslash", REG_MULTI_SZ));
    EXPECT_EQ(std::string(300, 'x') + std::string("\0", 1) + std::string(300, 'y') +
                  std::string("\0\0", 2),
              Value("Multi", "Long", REG_MULTI_SZ));
}

TEST_F(RegScriptTest, NumberValues)
{
    ASSERT_SUCCEEDED(
        Register("Num { Val Small = d 255\n Val Big = D 4294967295\n"
                 " Val Zero = d '0' }"));
    const DWORD small = 255, big = 0xFFFFFFFF, zero = 0;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&small), 4),
              Value("Num", "Small", REG_DWORD));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&big), 4), Value("Num", "Big", REG_DWORD));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&zero), 4),
              Value("Num", "Zero", REG_DWORD));

    // Text the conversion refuses is a failure with the conversion's own
    // result, and the root block is taken back.
    const std::string before = Dump();
    HRESULT hr = Register("BadNum { Val V = d twelve }");
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(S_OK, hr);
    EXPECT_HR(DISP_E_TYPEMISMATCH, hr);
    EXPECT_HR(DISP_E_OVERFLOW, Register("BadNum { Val V = d 4294967296 }"));
    EXPECT_FALSE(KeyExists(Path("BadNum")));
    EXPECT_EQ(before, Dump());
}

TEST_F(RegScriptTest, UnknownTypeLetterFailsOnRegisterOnly)
{
    EXPECT_HR(DISP_E_EXCEPTION, Register("Typed { Val V = X 1 }"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Typed = SZ 1"));
    EXPECT_FALSE(KeyExists(Path("Typed")));
    // Unregistering does not look at the type.
    CreateKey(HKEY_CURRENT_USER, Path("Typed"));
    EXPECT_SUCCEEDED(Unregister("Typed = X 1 { Val V = Q 2 }"));
    EXPECT_FALSE(KeyExists(Path("Typed")));
}

TEST_F(RegScriptTest, QuotedKeywordsAreKeywords)
{
    ASSERT_SUCCEEDED(Register("'NoRemove' Kept { 'VAL' V = 's' x }"));
    EXPECT_EQ(std::string("x\0", 2), Value("Kept", "V", REG_SZ));
    ASSERT_SUCCEEDED(Unregister("'NoRemove' Kept { 'VAL' V = 's' x }"));
    EXPECT_TRUE(KeyExists(Path("Kept")));
    DWORD type;
    std::string bytes;
    EXPECT_FALSE(ReadValue(Path("Kept"), "V", &type, &bytes));
}

TEST_F(RegScriptTest, BackslashInKeyNamesIsRefused)
{
    const std::string before = Dump();
    EXPECT_HR(DISP_E_EXCEPTION, Register("First 'a\\b'"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("ForceRemove 'a\\b'"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Delete 'a\\b'"));
    // Keys created on the way to the bad name are taken back as well.
    EXPECT_HR(DISP_E_EXCEPTION, Register("Outer = s x { Inner { Val V = s y\n 'a\\b' } }"));
    EXPECT_EQ(before, Dump());

    CreateKey(HKEY_CURRENT_USER, Path("Victim"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("Victim 'a\\b'"));
    // The entry before the bad name was already handled on unregister.
    EXPECT_FALSE(KeyExists(Path("Victim")));
}

TEST_F(RegScriptTest, EmptyKeyNamesAreRefused)
{
    // An empty name would stand for the enclosing key itself: a tree
    // deletion would empty it, unregistering would delete it.
    SetStringValue(HKEY_CURRENT_USER, Path("Parent\\Foreign"), "keep", "me");
    SetStringValue(HKEY_CURRENT_USER, Path("Lone"), "keep", "me");
    const std::string before = Dump();
    EXPECT_HR(DISP_E_EXCEPTION, Register("Parent { ForceRemove '' }"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Parent { Delete '' }"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Parent { '' = s x }"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("NoRemove Lone { '' }"));
    EXPECT_EQ(before, Dump());
}

TEST_F(RegScriptTest, ForceRemoveAndDeleteSpareProtectedNames)
{
    for (const char *name :
         {"CLSID", "clsid", "AppID", "Component Categories", "Software", "TypeLib", "security"})
    {
        const std::string foreign = Path(std::string(name) + "\\Foreign");
        SetStringValue(HKEY_CURRENT_USER, foreign, "keep", "me");
        ASSERT_SUCCEEDED(Register(std::string("ForceRemove '") + name + "' { Added }")) << name;
        EXPECT_TRUE(KeyExists(foreign)) << name;
        EXPECT_TRUE(KeyExists(Path(std::string(name) + "\\Added"))) << name;
        ASSERT_SUCCEEDED(Register(std::string("Delete '") + name + "'")) << name;
        EXPECT_TRUE(KeyExists(foreign)) << name;
        RegDeleteTreeA(HKEY_CURRENT_USER, Path(name).c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, Path(name).c_str());
    }
    // Only the key's own name counts, not its place.
    SetStringValue(HKEY_CURRENT_USER, Path("Holder\\CLSIDX\\Foreign"), "keep", "me");
    ASSERT_SUCCEEDED(Register("Holder { ForceRemove CLSIDX }"));
    EXPECT_FALSE(KeyExists(Path("Holder\\CLSIDX\\Foreign")));
    EXPECT_TRUE(KeyExists(Path("Holder\\CLSIDX")));
}

TEST_F(RegScriptTest, ForceRemoveRecreatesAndDeleteRemovesWholeTrees)
{
    SetStringValue(HKEY_CURRENT_USER, Path("Forced\\Old\\Deeper\\Deepest"), "v", "1");
    SetStringValue(HKEY_CURRENT_USER, Path("Forced"), "stale", "1");
    SetStringValue(HKEY_CURRENT_USER, Path("Gone\\Sub"), NULL, "1");
    SetStringValue(HKEY_CURRENT_USER, Path("GoneToo"), NULL, "1");
    ASSERT_SUCCEEDED(
        Register("ForceRemove Forced = s fresh { New }\n"
                 "Delete Gone\n"
                 "Delete GoneToo = s 'never written'\n"
                 "Delete NeverThere\n"
                 "After"));
    EXPECT_EQ(
        "(root)\n"
        "\\After\n"
        "\\Forced\n"
        "\\Forced [] type 1: 66 72 65 73 68 00\n"
        "\\Forced\\New\n",
        Dump());
}

TEST_F(RegScriptTest, ForceRemoveWithNoRemoveDeletesTheNamedKey)
{
    SetStringValue(HKEY_CURRENT_USER, Path("Both\\Old"), NULL, "1");
    ASSERT_SUCCEEDED(Register("ForceRemove NoRemove Both { New }"));
    EXPECT_FALSE(KeyExists(Path("Both\\Old")));
    EXPECT_TRUE(KeyExists(Path("Both\\New")));
    ASSERT_SUCCEEDED(Unregister("ForceRemove NoRemove Both { New }"));
    EXPECT_TRUE(KeyExists(Path("Both")));
    EXPECT_FALSE(KeyExists(Path("Both\\New")));
}

TEST_F(RegScriptTest, UnregisterOfMissingKeysSucceeds)
{
    const std::string before = Dump();
    EXPECT_SUCCEEDED(
        Unregister("Missing = s x { Deeper { Val V = s y } Other }\n"
                   "Val NotThere = s z\n"
                   "AlsoMissing"));
    EXPECT_EQ(before, Dump());
}

TEST_F(RegScriptTest, UnregisterKeepsKeysWithForeignSubkeys)
{
    const std::string script =
        "ForceRemove App = s x { Val Named = s y\n Child }\n"
        "Lone { Val Named = s y }\n"
        "NoRemove Pinned { Val Named = s y }";
    ASSERT_SUCCEEDED(Register(script));
    SetStringValue(HKEY_CURRENT_USER, Path("App\\Foreign"), NULL, "1");
    SetStringValue(HKEY_CURRENT_USER, Path("Lone"), "foreign value", "1");
    SetStringValue(HKEY_CURRENT_USER, Path("Pinned"), "foreign value", "1");

    ASSERT_SUCCEEDED(Unregister(script));
    // App keeps its foreign subkey and therefore itself, with its default
    // value; the named value and the script's own child are gone.
    EXPECT_EQ(
        "(root)\n"
        "\\App\n"
        "\\App [] type 1: 78 00\n"
        "\\App\\Foreign\n"
        "\\App\\Foreign [] type 1: 31 00\n"
        "\\Pinned\n"
        "\\Pinned [foreign value] type 1: 31 00\n",
        Dump());
}

TEST_F(RegScriptTest, NoRemoveValuesStay)
{
    ASSERT_SUCCEEDED(Register("NoRemove Holder { NoRemove Val Kept = s a\n Val Dropped = s b }"));
    ASSERT_SUCCEEDED(Unregister("NoRemove Holder { NoRemove Val Kept = s a\n Val Dropped = s b }"));
    EXPECT_EQ("(root)\n\\Holder\n\\Holder [Kept] type 1: 61 00\n", Dump());
}

TEST_F(RegScriptTest, FailureInSecondRootBlockCleansOnlyThatBlock)
{
    // A key the failing block names that existed before is removed by the
    // clean-up too, as unregistering that block would.
    SetStringValue(HKEY_CURRENT_USER, Path("SecondOld"), "v", "1");
    const std::string first = ScriptUnder(m_scratch.Path(), "First { Val V = s 1 }");
    const std::string second = ScriptUnder(
        m_scratch.Path(), "SecondOld\nSecondNew { Val Ok = s 1 }\nBroken = B abc\nLater");
    EXPECT_HR(E_FAIL, m_registrar.ApplyScriptText((first + second).c_str(), TRUE));
    EXPECT_EQ(
        "(root)\n"
        "\\First\n"
        "\\First [V] type 1: 31 00\n",
        Dump());

    // A third block after the failing one is never reached.
    const std::string third = ScriptUnder(m_scratch.Path(), "Third");
    EXPECT_HR(E_FAIL, m_registrar.ApplyScriptText((second + third).c_str(), TRUE));
    EXPECT_FALSE(KeyExists(Path("Third")));
}

TEST_F(RegScriptTest, UndefinedReplacementFailsBeforeAnyWrite)
{
    ASSERT_SUCCEEDED(m_registrar.DefineReplacement(L"Known", L"KnownKey"));
    const std::string script = ScriptUnder(m_scratch.Path(), "%KNOWN%") +
                               ScriptUnder(m_scratch.Path(), "Last = s '%Undefined%'");
    EXPECT_HR(DISP_E_EXCEPTION, m_registrar.ApplyScriptText(script.c_str(), TRUE));
    EXPECT_FALSE(KeyExists(Path("KnownKey")));

    ASSERT_SUCCEEDED(m_registrar.ApplyScriptText(
        ScriptUnder(m_scratch.Path(), "%known% = s '100%% %Known%'").c_str(), TRUE));
    EXPECT_EQ(std::string("100% KnownKey\0", 14), Value("KnownKey", NULL, REG_SZ));
}

TEST_F(RegScriptTest, OverlongNamesAreRefusedNotCut)
{
    const std::string name259(259, 'v');
    const std::string name260(260, 'v');
    ASSERT_SUCCEEDED(Register("Names { Val '" + name259 + "' = s ok }"));
    EXPECT_EQ(std::string("ok\0", 3), Value("Names", name259.c_str(), REG_SZ));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Names { Val '" + name260 + "' = s no }"));
    EXPECT_FALSE(KeyExists(Path("Names")));  // the failed block was taken back

    // On unregister a key name over 259 bytes is refused before anything is
    // deleted, so no key of a shortened name can go.
    const std::string key259(259, 'k');
    CreateKey(HKEY_CURRENT_USER, Path("Before"));
    const std::string before = Dump();
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("'" + key259 + "x'"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("Missing { '" + key259 + "x' }"));
    EXPECT_EQ(before, Dump());
}

TEST_F(RegScriptTest, BlocksAfterValuesAndDeleteEntriesAreRefused)
{
    const std::string before = Dump();
    EXPECT_HR(DISP_E_EXCEPTION, Register("Holder { Val V = s x { Inner } }"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Holder { Delete Old { Inner } }"));
    EXPECT_HR(DISP_E_EXCEPTION, Register("Holder { Delete Old = s x { Inner } }"));
    EXPECT_EQ(before, Dump());

    CreateKey(HKEY_CURRENT_USER, Path("Holder\\Inner"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("Holder { Val V = s x { Inner } }"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("Delete Holder { Inner }"));
    EXPECT_TRUE(KeyExists(Path("Holder\\Inner")));
}

TEST_F(RegScriptTest, BadTextInsideASkippedBlockStopsTheRun)
{
    // "Missing" is not there, so its block is read without touching
    // anything. Its bad entry must not let the rest of that block be taken
    // for entries of the enclosing one.
    CreateKey(HKEY_CURRENT_USER, Path("Victim"));
    EXPECT_HR(DISP_E_EXCEPTION, Unregister("Missing { 'a\\b' Victim }"));
    EXPECT_TRUE(KeyExists(Path("Victim")));
}

TEST_F(RegScriptTest, NestingDeeperThanTheRegistryIsRefused)
{
    std::string body;
    for (int i = 0; i < 5000; ++i)
        body += "n {\n";
    for (int i = 0; i < 5000; ++i)
        body += "}\n";
    EXPECT_HR(DISP_E_EXCEPTION, Unregister(body));
    EXPECT_FALSE(KeyExists(Path("n")));
}

TEST_F(RegScriptTest, ValuesInTheRootBlockItself)
{
    // A value entry right below a root key names a value of that key.
    ASSERT_SUCCEEDED(Register("Holder"));
    const std::string direct = "HKCU { NoRemove Software { NoRemove KestorTests { NoRemove '" +
                               m_scratch.Path().substr(m_scratch.Path().rfind('\\') + 1) +
                               "' { Val Direct = s here } } } }";
    ASSERT_SUCCEEDED(m_registrar.ApplyScriptText(direct.c_str(), TRUE));
    EXPECT_EQ(std::string("here\0", 5), Value("", "Direct", REG_SZ).substr(0));
    ASSERT_SUCCEEDED(m_registrar.ApplyScriptText(direct.c_str(), FALSE));
    EXPECT_EQ("(root)\n\\Holder\n", Dump());
}

TEST(RegScriptParserTest, TablesOfRootKeysAndProtectedNames)
{
    EXPECT_EQ(HKEY_USERS, CRegScriptParser::FindRootKey("hku"));
    EXPECT_EQ(HKEY_PERFORMANCE_DATA, CRegScriptParser::FindRootKey("HKPD"));
    EXPECT_EQ(HKEY_DYN_DATA, CRegScriptParser::FindRootKey("HKEY_DYN_DATA"));
    EXPECT_EQ(HKEY_CURRENT_CONFIG, CRegScriptParser::FindRootKey("HKCC"));
    EXPECT_EQ(nullptr, CRegScriptParser::FindRootKey("HKEY_CURRENT"));
    EXPECT_EQ(12, ProtectedKeyNameCount);
    EXPECT_TRUE(CRegScriptParser::IsProtectedKeyName("mime"));
    EXPECT_TRUE(CRegScriptParser::IsProtectedKeyName("Hardware"));
    EXPECT_FALSE(CRegScriptParser::IsProtectedKeyName("Mimes"));
}

}  // namespace
