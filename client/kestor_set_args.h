// Command line and result text of kestor-set, kept apart from main() so that
// they can be tested in process.
#ifndef KESTOR_CLIENT_KESTOR_SET_ARGS_H
#define KESTOR_CLIENT_KESTOR_SET_ARGS_H

#include <windows.h>

#include <string>

// Exit code of a command line that cannot be run: an HRESULT like every other
// exit code of the tool, but not one the broker itself ever returns.
#define KESTOR_SET_E_USAGE HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS)

// The texts are the command line's UTF-16, handed to the broker unchanged:
// the broker takes UTF-16, so no code page stands in between.
struct SetRequest
{
    LONG valueType = 1;  // SettingValueString
    std::wstring keyPath = L"GPI\\Settings";
    std::wstring valueName;
    std::wstring valueData;
};

enum class ParseOutcome
{
    Run,         // request filled in
    Help,        // --help: print usage, succeed
    UsageError,  // error filled in: print it and the usage, fail
};

// Parses "[--type N] [--key PATH] [--] NAME VALUE" (argv[0] is skipped).
// A NAME, VALUE or PATH that is not Unicode text (a replacement character
// U+FFFD, left where some conversion lost a character, or half of a
// surrogate pair) is a usage error: it would be stored as something other
// than what was meant.
ParseOutcome ParseArguments(int argc, const wchar_t *const *argv, SetRequest *request,
                            std::string *error);

// A value type as given after --type: decimal, or hexadecimal with 0x. Any
// 32-bit value is taken, negative ones too, since the broker decides which
// it accepts. Only ASCII digits count.
bool ParseValueType(const wchar_t *text, LONG *valueType);

// The one result line: "ok" for S_OK, else the code in hex followed by the
// system's text for it when there is one.
std::string DescribeResult(HRESULT hr);

// A newly allocated BSTR holding text unit for unit, or NULL when out of
// memory. "" gives an empty BSTR, never NULL, because the broker refuses a
// null name or value.
BSTR TextToBstr(const std::wstring &text);

// Text for a message line, in the ANSI code page; what the code page cannot
// spell shows as '?'. Never used for what is stored.
std::string DisplayText(const std::wstring &text);

extern const char kKestorSetUsage[];

#endif  // KESTOR_CLIENT_KESTOR_SET_ARGS_H
