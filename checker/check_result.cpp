#include "checker/check_result.h"

#include <cstdio>

CheckResult Passed(const char *name, const std::string &message)
{
    CheckResult result;
    result.name = name;
    result.status = CheckStatus::Ok;
    result.message = message;
    return result;
}

CheckResult Failed(const char *name, const std::string &message)
{
    CheckResult result = Passed(name, message);
    result.status = CheckStatus::Fail;
    return result;
}

CheckResult NotChecked(const char *name, const std::string &what, DWORD error,
                       const std::string &remedy)
{
    CheckResult result = Passed(name, "cannot check: " + what + ": " + ErrorText(error));
    result.status = CheckStatus::CannotCheck;
    result.remedy = remedy;
    return result;
}

CheckResult NotChecked(const char *name, const std::string &reason)
{
    CheckResult result = Passed(name, "cannot check: " + reason);
    result.status = CheckStatus::CannotCheck;
    return result;
}

std::string Findings::Text() const
{
    std::string text;
    for (const std::string &problem : m_problems)
        text += (text.empty() ? "" : "; ") + problem;
    return text;
}

namespace {

std::string SystemMessage(DWORD code)
{
    char *buffer = NULL;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        NULL, code, 0, reinterpret_cast<char *>(&buffer), 0, NULL);
    std::string text(buffer != NULL ? buffer : "", buffer != NULL ? length : 0);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

std::string ErrorText(DWORD error)
{
    std::string message = SystemMessage(error);
    return (message.empty() ? "error" : message) + " (" + std::to_string(error) + ")";
}

std::string HresultText(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string message = SystemMessage(static_cast<DWORD>(hr));
    return message.empty() ? code : std::string(code) + " (" + message + ")";
}
