// kestor-set's command line, result line and text conversion, in process.
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

Parsed Parse(std::initializer_list<const char *> args)
{
    std::vector<const char *> argv{"kestor-set"};
    argv.insert(argv.end(), args);
    Parsed parsed{};
    parsed.outcome = ParseArguments(static_cast<int>(argv.size()), argv.data(), &parsed.request,
                                    &parsed.error);
    return parsed;
}

TEST(KestorSetArguments, NameAndValueAloneTakeTheBrokersDefaults)
{
    Parsed p = Parse({"Colour", "blue"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(1, p.request.valueType);
    EXPECT_EQ("GPI\\Settings", p.request.keyPath);
    EXPECT_EQ("Colour", p.request.valueName);
    EXPECT_EQ("blue", p.request.valueData);
}

TEST(KestorSetArguments, OptionsMayStandBeforeOrBetweenTheOperands)
{
    Parsed p = Parse({"--key", "GPI", "Colour", "--type", "2", "blue"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(2, p.request.valueType);
    EXPECT_EQ("GPI", p.request.keyPath);
    EXPECT_EQ("Colour", p.request.valueName);
    EXPECT_EQ("blue", p.request.valueData);

    // The last of a repeated option wins; an empty key path is a key path.
    p = Parse({"--key", "x", "--key", "", "n", "v"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ("", p.request.keyPath);
}

TEST(KestorSetArguments, EmptyAndHyphenOperandsAreValuesNotOptions)
{
    // "" names the key's default value; a lone "-" is an ordinary text.
    Parsed p = Parse({"", "-"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ("", p.request.valueName);
    EXPECT_EQ("-", p.request.valueData);

    p = Parse({"--", "--type", "-5"});
    ASSERT_EQ(ParseOutcome::Run, p.outcome) << p.error;
    EXPECT_EQ(1, p.request.valueType);
    EXPECT_EQ("--type", p.request.valueName);
    EXPECT_EQ("-5", p.request.valueData);
}

TEST(KestorSetArguments, HelpWinsWhereverItStands)
{
    EXPECT_EQ(ParseOutcome::Help, Parse({"--help"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({"-h"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({"/?"}).outcome);
    EXPECT_EQ(ParseOutcome::Help, Parse({"n", "--help"}).outcome);
    // After "--" it is a value name like any other.
    EXPECT_EQ(ParseOutcome::Run, Parse({"--", "--help", "v"}).outcome);
}

TEST(KestorSetArguments, IncompleteOrSurplusCommandLinesAreUsageErrors)
{
    for (auto args : {std::initializer_list<const char *>{},
                      {"OnlyName"},
                      {"n", "v", "extra"},
                      {"--type"},
                      {"n", "v", "--key"},
                      {"--colour", "n", "v"},
                      {"--type", "one", "n", "v"}}) {
        Parsed p = Parse(args);
        EXPECT_EQ(ParseOutcome::UsageError, p.outcome) << "arguments: " << args.size();
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_EQ("missing VALUE", Parse({"OnlyName"}).error);
    EXPECT_EQ("missing argument after --type", Parse({"--type"}).error);
}

TEST(KestorSetArguments, ValueTypeTakesEveryThirtyTwoBitValueAndNothingElse)
{
    struct Case
    {
        const char *text;
        LONG value;
    } accepted[] = {{"1", 1},
                    {"0", 0},
                    {"+7", 7},
                    {"-1", -1},
                    {"0x10", 16},
                    {"0XfF", 255},
                    {"2147483647", 2147483647},
                    {"-2147483648", LONG(-2147483647 - 1)},
                    {"0xFFFFFFFF", -1},
                    {"4294967295", -1},
                    {"010", 10}};  // decimal, not octal
    for (const Case &c : accepted) {
        LONG value = 12345;
        EXPECT_TRUE(ParseValueType(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
    for (const char *text : {"", "-", "0x", "1x", " 1", "1 ", "--1", "-+1", "0x-1", "4294967296",
                             "-2147483649", "0x100000000", "1e3", "99999999999999999999999"}) {
        LONG value = 12345;
        EXPECT_FALSE(ParseValueType(text, &value)) << "'" << text << "'";
        EXPECT_EQ(12345, value) << "'" << text << "'";
    }
}

TEST(KestorSetResult, OneLineWithTheCodeInHexAndTheSystemText)
{
    EXPECT_EQ("ok", DescribeResult(S_OK));
    // A success code other than S_OK is shown, not hidden behind "ok".
    EXPECT_EQ(0u, DescribeResult(S_FALSE).rfind("0x00000001", 0));

    for (HRESULT hr : {E_INVALIDARG, REGDB_E_CLASSNOTREG, E_ACCESSDENIED, E_NOINTERFACE,
                       HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)}) {
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

TEST(KestorSetText, ConvertsFromTheAnsiCodePageIntoNonNullBstrs)
{
    BSTR empty = AnsiToBstr("");
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);

    BSTR text = AnsiToBstr("GPI\\Settings");
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::wstring(L"GPI\\Settings"), std::wstring(text, SysStringLen(text)));
    SysFreeString(text);

    // A character outside ASCII comes out as the code page says, one unit.
    const std::string accented = "caf\xE9";
    wchar_t expected[8] = {};
    ASSERT_EQ(4, MultiByteToWideChar(CP_ACP, 0, accented.c_str(), 4, expected, 8));
    BSTR wide = AnsiToBstr(accented);
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(4u, SysStringLen(wide));
    EXPECT_EQ(std::wstring(expected, 4), std::wstring(wide, SysStringLen(wide)));
    SysFreeString(wide);
}

}  // namespace
