// The text layer: tokens, the replacement pass, its buffer and table.
#include <objbase.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "registrar/replacement_table.h"
#include "registrar/script_buffer.h"
#include "registrar/script_text.h"
#include "test_hresult.h"

namespace {

// Reads every token of text; the result joins them with '|' and ends with
// the HRESULT of the read that stopped.
std::string Tokens(const std::string &text, HRESULT *stop)
{
    LPCSTR position = text.c_str();
    char token[kTokenBufferSize];
    std::string out;
    for (;;)
    {
        HRESULT hr = ReadToken(position, token);
        if (FAILED(hr))
        {
            *stop = hr;
            return out;
        }
        out += std::string(token) + "|";
    }
}

struct Expanded
{
    HRESULT hr;
    std::string text;
    bool resultWasNull;
};

Expanded Expand(const std::string &script, const CReplacementTable &table)
{
    LPSTR result = reinterpret_cast<LPSTR>(1);
    Expanded out;
    out.hr = ExpandReplacements(script.c_str(), table, &result);
    out.resultWasNull = result == NULL;
    if (result != NULL)
        out.text = result;
    CoTaskMemFree(result);
    return out;
}

TEST(ReadTokenTest, PlainTokensSplitOnTheFourBlanksOnly)
{
    HRESULT stop = S_OK;
    EXPECT_EQ("a|b=c|{x|}|d'e|f\vg|", Tokens(" a\tb=c\r\n{x }  d'e f\vg ", &stop));
    EXPECT_HR(DISP_E_EXCEPTION, stop);

    // The character after a plain token is left for the next read.
    LPCSTR text = "abc def";
    LPCSTR position = text;
    char token[kTokenBufferSize];
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_EQ(text + 3, position);
}

TEST(ReadTokenTest, QuotedTokensKeepBlanksAndUndoubleQuotes)
{
    HRESULT stop = S_OK;
    EXPECT_EQ("it's|a b|'||x'|'a|", Tokens("'it''s' 'a b' '''' '' 'x''' '''a'", &stop));
    EXPECT_HR(DISP_E_EXCEPTION, stop);

    // The closing quote is consumed and the next text stays.
    LPCSTR position = "'a'b";
    char token[kTokenBufferSize];
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_STREQ("a", token);
    EXPECT_STREQ("b", position);
}

TEST(ReadTokenTest, UnterminatedQuoteAndEndOfTextFail)
{
    for (const char *text : {"'abc", "'abc''", "'", "", "  \t\r\n "})
    {
        LPCSTR position = text;
        char token[kTokenBufferSize];
        EXPECT_HR(DISP_E_EXCEPTION, ReadToken(position, token)) << "text: " << text;
    }
}

TEST(ReadTokenTest, LongestTokenIs4094Bytes)
{
    char token[kTokenBufferSize];
    for (bool quoted : {false, true})
    {
        const std::string fits(4094, 'x');
        const std::string tooLong(4095, 'x');
        std::string text = quoted ? "'" + fits + "'" : fits;
        LPCSTR position = text.c_str();
        ASSERT_SUCCEEDED(ReadToken(position, token));
        EXPECT_EQ(fits, token);

        text = quoted ? "'" + tooLong + "'" : tooLong;
        position = text.c_str();
        EXPECT_HR(DISP_E_EXCEPTION, ReadToken(position, token)) << "quoted " << quoted;
    }

    // A doubled quote counts as the one byte it yields.
    std::string text = "'" + std::string(4093, 'y') + "'''";
    LPCSTR position = text.c_str();
    ASSERT_SUCCEEDED(ReadToken(position, token));
    EXPECT_EQ(std::string(4093, 'y') + "'", token);
}

TEST(ReplacementTableTest, FirstDefinitionWinsWithoutRegardToCase)
{
    CReplacementTable table;
    EXPECT_EQ(nullptr, table.Find("Module"));
    ASSERT_TRUE(table.Add("Module", L"first"));
    ASSERT_TRUE(table.Add("MODULE", L"second"));
    ASSERT_TRUE(table.Add("Other", L""));
    EXPECT_EQ(3, table.Count());
    EXPECT_STREQ(L"first", table.Find("module"));
    EXPECT_STREQ(L"", table.Find("OTHER"));
    EXPECT_EQ(nullptr, table.Find("Modul"));
    EXPECT_FALSE(table.Add(NULL, L"x"));
    EXPECT_FALSE(table.Add("x", NULL));
    EXPECT_EQ(3, table.Count());

    table.RemoveAll();
    EXPECT_EQ(0, table.Count());
    EXPECT_EQ(nullptr, table.Find("Module"));
    ASSERT_TRUE(table.Add("Module", L"again"));
    EXPECT_STREQ(L"again", table.Find("Module"));
}

TEST(ScriptBufferTest, StartsAt1000BelowAHundredAndDoublesPastTheNeed)
{
    CScriptBuffer small;
    ASSERT_TRUE(small.Start(99));
    EXPECT_EQ(1000, small.Capacity());
    EXPECT_STREQ("", small.Text());

    CScriptBuffer buffer;
    ASSERT_TRUE(buffer.Start(100));
    EXPECT_EQ(100, buffer.Capacity());
    const std::string chunk(99, 'a');
    // 99 bytes need 100 with the NUL: not above the capacity, so it doubles.
    ASSERT_TRUE(buffer.Append(chunk.data(), 99));
    EXPECT_EQ(200, buffer.Capacity());
    ASSERT_TRUE(buffer.Append("bc", 2));
    EXPECT_EQ(101, buffer.Length());
    EXPECT_EQ(chunk + "bc", buffer.Text());
    const std::string big(1000, 'z');
    ASSERT_TRUE(buffer.Append(big.data(), 1000));
    EXPECT_EQ(1600, buffer.Capacity());
    EXPECT_EQ(chunk + "bc" + big, buffer.Text());

    ASSERT_TRUE(buffer.Append("", 0));
    EXPECT_EQ(1101, buffer.Length());

    LPSTR text = buffer.Detach();
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(1101u, strlen(text));
    CoTaskMemFree(text);
    EXPECT_EQ(nullptr, buffer.Text());
}

TEST(ScriptBufferTest, RefusesSizesThatOverflow)
{
    CScriptBuffer buffer;
    EXPECT_FALSE(buffer.Append("a", 1));  // never started
    ASSERT_TRUE(buffer.Start(0));
    ASSERT_TRUE(buffer.Append("abc", 3));
    EXPECT_FALSE(buffer.Append("x", -1));
    EXPECT_FALSE(buffer.Append("x", INT_MAX));
    EXPECT_FALSE(buffer.Append("x", INT_MAX - 3));
    // Nothing of the refused appends reached the text.
    EXPECT_STREQ("abc", buffer.Text());
    EXPECT_EQ(1000, buffer.Capacity());
}

TEST(ExpandReplacementsTest, ReplacesNamesAndDoubledPercentSigns)
{
    CReplacementTable table;
    ASSERT_TRUE(table.Add("Module", L"C:\\dir\\k.exe"));
    ASSERT_TRUE(table.Add("module", L"shadowed"));
    ASSERT_TRUE(table.Add("Tricky", L"100% 'quoted' %Module%"));
    ASSERT_TRUE(table.Add("Empty", L""));

    Expanded e = Expand("a %MODULE% b %% c %Tricky%%Empty%'%module%'", table);
    ASSERT_SUCCEEDED(e.hr);
    // Inserted values are not scanned again.
    EXPECT_EQ("a C:\\dir\\k.exe b % c 100% 'quoted' %Module%'C:\\dir\\k.exe'", e.text);

    e = Expand("%%%%x%%", table);
    ASSERT_SUCCEEDED(e.hr);
    EXPECT_EQ("%%x%", e.text);

    e = Expand("", table);
    ASSERT_SUCCEEDED(e.hr);
    EXPECT_EQ("", e.text);
}

TEST(ExpandReplacementsTest, NameLengthLimitIs31Bytes)
{
    CReplacementTable table;
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    ASSERT_TRUE(table.Add(name31.c_str(), L"short"));
    ASSERT_TRUE(table.Add(name32.c_str(), L"long"));

    Expanded e = Expand("<%" + name31 + "%>", table);
    ASSERT_SUCCEEDED(e.hr);
    EXPECT_EQ("<short>", e.text);

    e = Expand("<%" + name32 + "%>", table);
    EXPECT_HR(E_FAIL, e.hr);
    EXPECT_TRUE(e.resultWasNull);
}

TEST(ExpandReplacementsTest, FailuresLeaveNoResult)
{
    CReplacementTable table;
    ASSERT_TRUE(table.Add("Known", L"v"));

    Expanded e = Expand("%Known% %Unknown%", table);
    EXPECT_HR(DISP_E_EXCEPTION, e.hr);
    EXPECT_TRUE(e.resultWasNull);

    e = Expand("%Known% 50%", table);
    EXPECT_HR(DISP_E_EXCEPTION, e.hr);
    EXPECT_TRUE(e.resultWasNull);

    LPSTR result = reinterpret_cast<LPSTR>(1);
    EXPECT_HR(E_POINTER, ExpandReplacements(NULL, table, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_HR(E_POINTER, ExpandReplacements("x", table, NULL));
}

TEST(ExpandReplacementsTest, GrowsForLongValuesAndManyReplacements)
{
    CReplacementTable table;
    std::wstring longValue(5000, L'v');
    ASSERT_TRUE(table.Add("L", longValue.c_str()));
    std::string script;
    for (int i = 0; i < 50; ++i)
        script += "%L%.";
    Expanded e = Expand(script, table);
    ASSERT_SUCCEEDED(e.hr);
    ASSERT_EQ(50u * 5001u, e.text.size());
    std::string expected;
    for (int i = 0; i < 50; ++i)
        expected += std::string(5000, 'v') + ".";
    EXPECT_EQ(expected, e.text);
}

TEST(TextConversionTest, ShortAndLongTextsRoundTrip)
{
    for (size_t length : {0u, 10u, 1023u, 1024u, 5000u})
    {
        std::wstring wide(length, L'w');
        CNarrowText narrow;
        ASSERT_TRUE(narrow.Convert(wide.c_str()));
        EXPECT_EQ(std::string(length, 'w'), narrow.Text());
        EXPECT_EQ(static_cast<int>(length), narrow.Length());

        CWideText back;
        ASSERT_TRUE(back.Convert(narrow.Text()));
        EXPECT_EQ(wide, back.Text());
    }
    CNarrowText narrow;
    EXPECT_FALSE(narrow.Convert(NULL));
    CWideText wide;
    EXPECT_FALSE(wide.Convert(NULL));
}

}  // namespace
