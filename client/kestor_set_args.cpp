#include "client/kestor_set_args.h"

#include <oleauto.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    "An empty NAME (\"\") sets the key's default value.\n"
    "Prints \"ok\", or the failure code and its meaning. The exit code is the\n"
    "HRESULT of the call (0 on success); a command line that cannot be run\n"
    "exits with 0x800700A0.\n";

bool ParseValueType(const char *text, LONG *valueType)
{
    if (text == nullptr || valueType == nullptr)
        return false;
    const char *digits = text;
    bool negative = false;
    if (*digits == '-' || *digits == '+') {
        negative = *digits == '-';
        ++digits;
    }
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    // strtoull would take its own sign and blanks; only digits may follow.
    if (*digits == '\0' || std::strchr(" \t+-", *digits) != nullptr)
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long magnitude = std::strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    if (negative) {
        if (magnitude > 0x80000000ULL)
            return false;
        *valueType = static_cast<LONG>(0 - static_cast<unsigned long>(magnitude));
    } else {
        // 0x80000000..0xFFFFFFFF are the negative values written as bits.
        if (magnitude > 0xFFFFFFFFULL)
            return false;
        *valueType = static_cast<LONG>(static_cast<unsigned long>(magnitude));
    }
    return true;
}

ParseOutcome ParseArguments(int argc, const char *const *argv, SetRequest *request,
                            std::string *error)
{
    *request = SetRequest();
    error->clear();
    const char *positional[2] = {nullptr, nullptr};
    int positionalCount = 0;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        bool isOption = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
        if (!isOption && !optionsEnded && std::strcmp(arg, "/?") == 0)
            return ParseOutcome::Help;
        if (isOption) {
            if (std::strcmp(arg, "--") == 0) {
                optionsEnded = true;
                continue;
            }
            if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
                return ParseOutcome::Help;
            if (std::strcmp(arg, "--type") == 0 || std::strcmp(arg, "--key") == 0) {
                if (i + 1 >= argc) {
                    *error = std::string("missing argument after ") + arg;
                    return ParseOutcome::UsageError;
                }
                const char *operand = argv[++i];
                if (arg[2] == 't') {
                    if (!ParseValueType(operand, &request->valueType)) {
                        *error = std::string("not a 32-bit number: ") + operand;
                        return ParseOutcome::UsageError;
                    }
                } else {
                    request->keyPath = operand;
                }
                continue;
            }
            *error = std::string("unknown option ") + arg;
            return ParseOutcome::UsageError;
        }
        if (positionalCount == 2) {
            *error = std::string("unexpected argument ") + arg;
            return ParseOutcome::UsageError;
        }
        positional[positionalCount++] = arg;
    }

    if (positionalCount < 2) {
        *error = positionalCount == 0 ? "missing NAME and VALUE" : "missing VALUE";
        return ParseOutcome::UsageError;
    }
    request->valueName = positional[0];
    request->valueData = positional[1];
    return ParseOutcome::Run;
}

namespace {

// Texts for the failures a client of an out-of-process server meets most,
// for systems whose message tables lack them.
const char *KnownComFailure(HRESULT hr)
{
    switch (hr) {
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
        return nullptr;
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
    DWORD length = FormatMessageA(flags, nullptr, static_cast<DWORD>(hr), 0, text,
                                  sizeof(text), nullptr);
    // Some systems know a Win32 failure only by its plain error number.
    if (length == 0 && HRESULT_FACILITY(hr) == FACILITY_WIN32)
        length = FormatMessageA(flags, nullptr, HRESULT_CODE(hr), 0, text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\r' ||
                          text[length - 1] == '\n' || text[length - 1] == '\t'))
        --length;
    if (length > 0)
        result += ": " + std::string(text, length);
    else if (const char *known = KnownComFailure(hr))
        result += std::string(": ") + known;
    return result;
}

BSTR AnsiToBstr(const std::string &text)
{
    if (text.empty())
        return SysAllocStringLen(nullptr, 0);
    if (text.size() > 0x3FFFFFFF)
        return nullptr;
    int narrowLength = static_cast<int>(text.size());
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), narrowLength, nullptr, 0);
    if (wideLength <= 0)
        return nullptr;
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(wideLength));
    if (wide == nullptr)
        return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text.data(), narrowLength, wide, wideLength) !=
        wideLength) {
        SysFreeString(wide);
        return nullptr;
    }
    return wide;
}
