#include "client/kestor_set_args.h"

#include <oleauto.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

const char kKestorSetUsage[] =
    "usage: kestor-set [--type N] [--key PATH] [--] NAME VALUE\n"
    "\n"
    "Asks the Kestor broker (ZovKestor) to store VALUE as the string value NAME\n"
    "under HKEY_CLASSES_ROOT\\GPI\\Settings, with the broker's rights.\n"
    "\n"
    "  --type N     value type handed to the broker (default 1, a string;\n"
    "               the broker refuses every other type)\n"
    "  --key PATH   key path handed to the broker (default GPI\\Settings; the\n"
    "               broker refuses a path that does not agree with it)\n"
    "  --           end of options, for a NAME or VALUE that begins with a\n"
    "               hyphen (kestor-set -- Offset -5)\n"
    "  --help       this text\n"
    "\n"
    "An empty NAME (\"\") sets the key's default value. NAME, VALUE and PATH\n"
    "reach the broker as the command line's Unicode text, whatever the code page.\n"
    "Prints \"ok\", or the failure code and its meaning. The exit code is the\n"
    "HRESULT of the call (0 on success); a command line that cannot be run\n"
    "exits with 0x800700A0.\n";

namespace {

bool ParseAsciiValueType(const char *digits, LONG *valueType)
{
    bool negative = false;
    if (*digits == '-' || *digits == '+')
    {
        negative = *digits == '-';
        ++digits;
    }
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    {
        base = 16;
        digits += 2;
    }
    // strtoull would take its own sign and blanks; only digits may follow.
    if (*digits == '\0' || std::strchr(" \t+-", *digits) != NULL)
        return false;
    errno = 0;
    char *end = NULL;
    unsigned long long magnitude = std::strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    if (negative)
    {
        if (magnitude > 0x80000000ULL)
            return false;
        *valueType = static_cast<LONG>(0 - static_cast<unsigned long>(magnitude));
    }
    else
    {
        // 0x80000000..0xFFFFFFFF are the negative values written as bits.
        if (magnitude > 0xFFFFFFFFULL)
            return false;
        *valueType = static_cast<LONG>(static_cast<unsigned long>(magnitude));
    }
    return true;
}

// False for U+FFFD and for a surrogate without its partner.
bool IsUnicodeText(const std::wstring &text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        wchar_t unit = text[i];
        if (unit == 0xFFFD)
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF)
        {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
        {
            return false;
        }
    }
    return true;
}

bool Equal(const wchar_t *text, const wchar_t *literal)
{
    return std::wcscmp(text, literal) == 0;
}

}  // namespace

bool ParseValueType(const wchar_t *text, LONG *valueType)
{
    if (text == NULL || valueType == NULL)
        return false;
    // Only ASCII: a code page would read full-width and other digits as
    // plain ones.
    std::string ascii;
    for (const wchar_t *unit = text; *unit != L'\0'; ++unit)
    {
        if (*unit > 0x7F)
            return false;
        ascii += static_cast<char>(*unit);
    }
    return ParseAsciiValueType(ascii.c_str(), valueType);
}

ParseOutcome ParseArguments(int argc, const wchar_t *const *argv, SetRequest *request,
                            std::string *error)
{
    *request = SetRequest();
    error->clear();
    const wchar_t *positional[2] = {NULL, NULL};
    int positionalCount = 0;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i)
    {
        const wchar_t *arg = argv[i];
        bool isOption = !optionsEnded && arg[0] == L'-' && arg[1] != L'\0';
        if (!isOption && !optionsEnded && Equal(arg, L"/?"))
            return ParseOutcome::Help;
        if (isOption)
        {
            if (Equal(arg, L"--"))
            {
                optionsEnded = true;
                continue;
            }
            if (Equal(arg, L"--help") || Equal(arg, L"-h"))
                return ParseOutcome::Help;
            if (Equal(arg, L"--type") || Equal(arg, L"--key"))
            {
                if (i + 1 >= argc)
                {
                    *error = "missing argument after " + DisplayText(arg);
                    return ParseOutcome::UsageError;
                }
                const wchar_t *operand = argv[++i];
                if (arg[2] == L't')
                {
                    if (!ParseValueType(operand, &request->valueType))
                    {
                        *error = "not a 32-bit number: " + DisplayText(operand);
                        return ParseOutcome::UsageError;
                    }
                }
                else
                {
                    request->keyPath = operand;
                }
                continue;
            }
            *error = "unknown option " + DisplayText(arg);
            return ParseOutcome::UsageError;
        }
        if (positionalCount == 2)
        {
            *error = "unexpected argument " + DisplayText(arg);
            return ParseOutcome::UsageError;
        }
        positional[positionalCount++] = arg;
    }

    if (positionalCount < 2)
    {
        *error = positionalCount == 0 ? "missing NAME and VALUE" : "missing VALUE";
        return ParseOutcome::UsageError;
    }
    request->valueName = positional[0];
    request->valueData = positional[1];

    // Such text can only come from a conversion that already lost what was
    // meant; storing it would report success for the wrong value.
    const struct
    {
        const char *what;
        const std::wstring &text;
    } texts[] = {
        {"NAME", request->valueName}, {"VALUE", request->valueData}, {"PATH", request->keyPath}};
    for (const auto &text : texts)
    {
        if (!IsUnicodeText(text.text))
        {
            *error = std::string(text.what) +
                     " is not Unicode text (it holds U+FFFD or half a surrogate pair); "
                     "nothing was stored";
            return ParseOutcome::UsageError;
        }
    }
    return ParseOutcome::Run;
}

namespace {

// Texts for the failures a client of an out-of-process server meets most,
// for systems whose message tables lack them.
const char *KnownComFailure(HRESULT hr)
{
    switch (hr)
    {
    case REGDB_E_CLASSNOTREG:
        return "Class not registered (is the broker installed?)";
    case CO_E_SERVER_EXEC_FAILURE:
        return "Server execution failed";
    case E_NOINTERFACE:
        return "No such interface supported (is KestorPr.dll registered?)";
    case E_NOTIMPL:
        return "Not implemented";
    case E_POINTER:
        return "Invalid pointer";
    case E_OUTOFMEMORY:
        return "Out of memory";
    default:
        return NULL;
    }
}

}  // namespace

std::string DescribeResult(HRESULT hr)
{
    if (hr == S_OK)
        return "ok";
    char line[64];
    std::snprintf(line, sizeof(line), "0x%08lX", static_cast<unsigned long>(hr));
    std::string result = line;

    const DWORD flags =
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    char text[512];
    DWORD length = FormatMessageA(flags, NULL, static_cast<DWORD>(hr), 0, text, sizeof(text), NULL);
    // Some systems know a Win32 failure only by its plain error number.
    if (length == 0 && HRESULT_FACILITY(hr) == FACILITY_WIN32)
        length = FormatMessageA(flags, NULL, HRESULT_CODE(hr), 0, text, sizeof(text), NULL);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\r' ||
                          text[length - 1] == '\n' || text[length - 1] == '\t'))
        --length;
    if (length > 0)
        result += ": " + std::string(text, length);
    else if (const char *known = KnownComFailure(hr))
        result += std::string(": ") + known;
    return result;
}

BSTR TextToBstr(const std::wstring &text)
{
    if (text.size() > 0x3FFFFFFF)
        return NULL;
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::string DisplayText(const std::wstring &text)
{
    if (text.empty() || text.size() > 0x3FFFFFFF)
        return std::string();
    int wideLength = static_cast<int>(text.size());
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, NULL, 0, NULL, NULL);
    if (length <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, &narrow[0], length, NULL, NULL);
    return narrow;
}
