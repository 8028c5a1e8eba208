// Scripts in a double-byte code page. CTest starts this program under Wine
// with LC_ALL=ja_JP.SJIS, which makes Wine give the process (and its
// threads) the ANSI code page 932; no Unix locale has to be installed for
// that. The byte strings below are built for code page 932 by hand: a lead
// byte (0x81-0x9F, 0xE0-0xFC) followed by a trail byte that equals one of
// the script language's own characters.
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "registrar/reg_object.h"
#include "registrar/replacement_table.h"
#include "registrar/script_text.h"
#include "registrar_test_util.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

// U+8868, whose second byte in code page 932 is a backslash.
const char kTrailBackslash[] = "\x95\x5c";
// U+FF0B, whose second byte is a closing brace.
const char kTrailBrace[] = "\x81\x7d";

class DoubleByteTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.SJIS in the environment";
        ASSERT_TRUE(IsDBCSLeadByte(0x95));
    }
};

TEST_F(DoubleByteTest, TrailBytesAreNotQuotesOrBlanks)
{
    char token[kTokenBufferSize];
    // The quote after 0x81 is the second byte of one character, so the token
    // runs on to the real closing quote.
    std::string text = "'a\x81'b' next";
    LPCSTR position = text.c_str();
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_EQ("a\x81'b", std::string(token));
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_STREQ("next", token);

    text = "x\x81 y z";
    position = text.c_str();
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_EQ("x\x81 y", std::string(token));

    // The byte count limit counts both bytes of a character.
    text = std::string(4093, 'a') + "\x95\x5c";
    position = text.c_str();
    EXPECT_HR(DISP_E_EXCEPTION, ReadToken(position, token));
}

TEST_F(DoubleByteTest, TrailBytesAreNotPercentSigns)
{
    CReplacementTable table;
    ASSERT_TRUE(table.Add("V", L"value"));
    LPSTR result = NULL;
    ASSERT_SUCCEEDED(ExpandReplacements("a\x81%b %V%\x81%", table, &result));
    EXPECT_EQ("a\x81%b value\x81%", std::string(result));
    CoTaskMemFree(result);

    // The name runs to the first percent sign that is a character of its own.
    ASSERT_TRUE(table.Add("N\x81%", L"odd"));
    ASSERT_SUCCEEDED(ExpandReplacements("<%N\x81%%>", table, &result));
    EXPECT_EQ("<odd>", std::string(result));
    CoTaskMemFree(result);
}

TEST_F(DoubleByteTest, TrailBackslashesAreNotSeparators)
{
    EXPECT_FALSE(ContainsCharacter(kTrailBackslash, '\\'));
    EXPECT_TRUE(ContainsCharacter("\x95\x5c\\", '\\'));

    ScratchKey scratch("DoubleByte");
    CRegObject registrar;
    const std::string name = std::string("Key") + kTrailBackslash;
    const std::string body = "'" + name + "' = s '" + kTrailBrace +
                             "' {\n"
                             "  Val Multi = m '" +
                             std::string(kTrailBackslash) +
                             "0\\0x'\n"
                             "  '" +
                             std::string(kTrailBrace) +
                             "'\n"
                             "}\n"
                             "ForceRemove '" +
                             name + "2'";
    const std::string script = ScriptUnder(scratch.Path(), body);
    ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), TRUE));

    const std::string key = scratch.Path() + "\\" + name;
    EXPECT_TRUE(KeyExists(key));
    EXPECT_TRUE(KeyExists(key + "\\" + kTrailBrace));
    EXPECT_TRUE(KeyExists(key + "2"));
    DWORD type;
    std::string bytes;
    ASSERT_TRUE(ReadValue(key, NULL, &type, &bytes));
    EXPECT_EQ(std::string(kTrailBrace) + std::string("\0", 1), bytes);
    // The backslash inside the first character and the zero after it stay
    // text; only the backslash-zero of its own separates.
    ASSERT_TRUE(ReadValue(key, "Multi", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(std::string(kTrailBackslash) + std::string("0\0x\0\0", 5), bytes);

    ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), FALSE));
    EXPECT_EQ("(root)\n", DumpTree(HKEY_CURRENT_USER, scratch.Path()));
}

}  // namespace
