// Command line and result text of kestor-set, kept apart from main() so that
// they can be tested in process.
#ifndef KESTOR_CLIENT_KESTOR_SET_ARGS_H
#define KESTOR_CLIENT_KESTOR_SET_ARGS_H

#include <windows.h>

#include <string>

// Exit code of a command line that cannot be run: an HRESULT like every other
// exit code of the tool, but not one the broker itself ever returns.
#define KESTOR_SET_E_USAGE HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS)

struct SetRequest
{
    LONG valueType = 1;                  // SettingValueString
    std::string keyPath = "GPI\\Settings";
    std::string valueName;
    std::string valueData;
};

enum class ParseOutcome
{
    Run,         // request filled in
    Help,        // --help: print usage, succeed
    UsageError,  // error filled in: print it and the usage, fail
};

// Parses "[--type N] [--key PATH] [--] NAME VALUE" (argv[0] is skipped).
ParseOutcome ParseArguments(int argc, const char *const *argv, SetRequest *request,
                            std::string *error);

// A value type as given after --type: decimal, or hexadecimal with 0x. Any
// 32-bit value is taken, negative ones too, since the broker decides which
// it accepts.
bool ParseValueType(const char *text, LONG *valueType);

// The one result line: "ok" for S_OK, else the code in hex followed by the
// system's text for it when there is one.
std::string DescribeResult(HRESULT hr);

// Narrow text in the ANSI code page to a newly allocated BSTR, or NULL when
// out of memory or the text cannot be converted. "" gives an empty BSTR,
// never NULL, because the broker refuses a null name or value.
BSTR AnsiToBstr(const std::string &text);

extern const char kKestorSetUsage[];

#endif  // KESTOR_CLIENT_KESTOR_SET_ARGS_H
