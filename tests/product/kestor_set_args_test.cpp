// kestor-set's command line, result line and texts, in process.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "client/kestor_set_args.h"

namespace {

struct Parsed
{
    ParseOutcome outcome;
    SetRequest request;
    std::string error;
};

Parsed Parse(std::initializer_list<const wchar_t *> args)
{
    std::vector<const wchar_t *> argv{L"kestor-set"};
    argv.insert(argv.end(), args);
    Parsed parsed{};
    parsed.outcome =
        ParseArguments(static_cast<int>(argv.size()), argv.data(), &parsed.request, &parsed.error);
    return parsed;
}

TEST(KestorSetArguments, NameAndValueAloneTakeTheBrokersDefaults)
{
    Parsed p = Parse({L"Colour", L"blue"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(1, p.request.valueType);
    EXPECT_EQ(L"GPI\\Settings", p.request.keyPath);
    EXPECT_EQ(L"Colour", p.request.valueName);
    EXPECT_EQ(L"blue", p.request.valueData);
}

TEST(KestorSetArguments, OptionsMayStandBeforeOrBetweenTheOperands)
{
    Parsed p = Parse({L"--key", L"GPI", L"Colour", L"--type", L"2", L"blue"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(2, p.request.valueType);
    EXPECT_EQ(L"GPI", p.request.keyPath);
    EXPECT_EQ(L"Colour", p.request.valueName);
    EXPECT_EQ(L"blue", p.request.valueData);

    // The last of a repeated option wins; an empty key path is a key path.
    p = Parse({L"--key", L"x", L"--key", L"", L"n", L"v"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(L"", p.request.keyPath);
}

TEST(KestorSetArguments, EmptyAndHyphenOperandsAreValuesNotOptions)
{
    // "" names the key's default value; a lone "-" is an ordinary text.
    Parsed p = Parse({L"", L"-"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(L"", p.request.valueName);
    EXPECT_EQ(L"-", p.request.valueData);

    p = Parse({L"--", L"--type", L"-5"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(1, p.request.valueType);
    EXPECT_EQ(L"--type", p.request.valueName);
    EXPECT_EQ(L"-5", p.request.valueData);
}

TEST(KestorSetArguments, HelpWinsWhereverItStands)
{
    EXPECT_EQ(ParseOutcome::Help, Parse({L"--help"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({L"-h"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({L"/?"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({L"n", L"--help"}).outcome);
    // After "--" it is a value name like any other.
    EXPECT_EQ(ParseOutcome::Run, Parse({L"--", L"--help", L"v"}).outcome);
}

TEST(KestorSetArguments, IncompleteOrSurplusCommandLinesAreUsageErrors)
{
    for (auto args : {std::initializer_list<const wchar_t *>{},
                      {L"OnlyName"},
                      {L"n", L"v", L"extra"},
                      {L"--type"},
                      {L"n", L"v", L"--key"},
                      {L"--colour", L"n", L"v"},
                      {L"--type", L"one", L"n", L"v"}})
    {
        Parsed p = Parse(args);
        EXPECT_EQ(ParseOutcome::UsageError, p.outcome) << "arguments: " << args.size();
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_EQ("missing VALUE", Parse({L"OnlyName"}).error);
    EXPECT_EQ("missing argument after --type", Parse({L"--type"}).error);
}

TEST(KestorSetArguments, ValueTypeTakesEveryThirtyTwoBitValueAndNothingElse)
{
    struct Case
    {
        const wchar_t *text;
        LONG value;
    } accepted[] = {{L"1", 1},
                    {L"0", 0},
                    {L"+7", 7},
                    {L"-1", -1},
                    {L"0x10", 16},
                    {L"0XfF", 255},
                    {L"2147483647", 2147483647},
                    {L"-2147483648", LONG(-2147483647 - 1)},
                    {L"0xFFFFFFFF", -1},
                    {L"4294967295", -1},
                    {L"010", 10}};  // decimal, not octal
    for (const Case &c : accepted)
    {
        LONG value = 12345;
        EXPECT_TRUE(ParseValueType(c.text, &value)) << DisplayText(c.text);
        EXPECT_EQ(c.value, value) << DisplayText(c.text);
    }
    // Full-width and Arabic-Indic digits are digits, but not ASCII ones.
    for (const wchar_t *text :
         {L"", L"-", L"0x", L"1x", L" 1", L"1 ", L"--1", L"-+1", L"0x-1", L"4294967296",
          L"-2147483649", L"0x100000000", L"1e3", L"99999999999999999999999", L"\xFF11", L"\x0661"})
    {
        LONG value = 12345;
        EXPECT_FALSE(ParseValueType(text, &value)) << "'" << DisplayText(text) << "'";
        EXPECT_EQ(12345, value) << "'" << DisplayText(text) << "'";
    }
}

TEST(KestorSetResult, OneLineWithTheCodeInHexAndTheSystemText)
{
    EXPECT_EQ("ok", DescribeResult(S_OK));
    // A success code other than S_OK is shown, not hidden behind "ok".
    EXPECT_EQ(0u, DescribeResult(S_FALSE).rfind("0x00000001", 0));

    for (HRESULT hr : {E_INVALIDARG, REGDB_E_CLASSNOTREG, E_ACCESSDENIED, E_NOINTERFACE,
                       HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)})
    {
        std::string line = DescribeResult(hr);
        char hex[16];
        wsprintfA(hex, "0x%08lX: ", static_cast<unsigned long>(hr));
        EXPECT_EQ(0u, line.rfind(hex, 0)) << line;
        EXPECT_GT(line.size(), std::string(hex).size()) << "no text for " << hex;
        EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
    }
    // A code nobody knows still gives the code.
    EXPECT_EQ("0xA0041234", DescribeResult(static_cast<HRESULT>(0xA0041234)));
    EXPECT_EQ(0x800700A0u, static_cast<unsigned long>(KESTOR_SET_E_USAGE));
}

TEST(KestorSetText, UnicodeTextGoesOverUnitForUnitAndBrokenTextIsRefused)
{
    BSTR empty = TextToBstr(L"");
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);

    // Cyrillic and a character outside the Basic Multilingual Plane.
    const std::wstring text = L"\x0438\x043C\x044F \xD83D\xDE00";
    BSTR wide = TextToBstr(text);
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(text, std::wstring(wide, SysStringLen(wide)));
    SysFreeString(wide);

    // A replacement character or half a surrogate pair means the text was
    // lost before kestor-set saw it: refused, wherever it stands.
    for (const wchar_t *broken : {L"a\xFFFD", L"\xD83D", L"\xDE00x", L"\xD83Dx"})
    {
        for (auto args : {std::initializer_list<const wchar_t *>{broken, L"v"},
                          {L"n", broken},
                          {L"--key", broken, L"n", L"v"}})
        {
            Parsed p = Parse(args);
            EXPECT_EQ(ParseOutcome::UsageError, p.outcome) << DisplayText(broken);
            EXPECT_NE(std::string::npos, p.error.find("not Unicode text")) << p.error;
        }
    }
}

}  // namespace
