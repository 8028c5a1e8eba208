#include "checker/report.h"

#include <windows.h>

#include <cstdio>

namespace {

const char *StatusName(CheckStatus status)
{
    switch (status)
    {
    case CheckStatus::Ok:
        return "ok";
    case CheckStatus::Fail:
        return "fail";
    default:
        return "cannot check";
    }
}

std::string Padded(const std::string &text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// The ANSI text as a JSON string: UTF-16 units beyond ASCII as \uXXXX.
std::string JsonString(const std::string &text)
{
    std::wstring wide;
    if (!text.empty())
    {
        int length =
            MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
        wide.resize(length > 0 ? length : 0);
        if (length > 0)
            MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                length);
    }
    std::string json = "\"";
    for (wchar_t unit : wide)
    {
        if (unit == L'"' || unit == L'\\')
        {
            json += '\\';
            json += static_cast<char>(unit);
        }
        else if (unit >= 0x20 && unit < 0x7f)
        {
            json += static_cast<char>(unit);
        }
        else
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            json += escaped;
        }
    }
    return json + "\"";
}

}  // namespace

bool Healthy(const std::vector<CheckResult> &results)
{
    for (const CheckResult &result : results)
    {
        if (result.status != CheckStatus::Ok)
            return false;
    }
    return true;
}

std::string TextReport(const std::vector<CheckResult> &results, bool quiet)
{
    std::string text;
    for (const CheckResult &result : results)
    {
        bool ok = result.status == CheckStatus::Ok;
        if (ok && quiet)
            continue;
        text += Padded(ok ? "ok" : "FAIL", 6) + Padded(result.name, 10) + result.message;
        if (!ok && !result.remedy.empty())
            text += "; remedy: " + result.remedy;
        text += "\n";
    }
    return text;
}

std::string JsonReport(const std::vector<CheckResult> &results, const std::string &remedy,
                       bool quiet)
{
    bool healthy = Healthy(results);
    std::string json = std::string("{\"healthy\":") + (healthy ? "true" : "false");
    json += ",\"remedy\":" + (healthy ? std::string("null") : JsonString(remedy));
    json += ",\"checks\":[";
    bool first = true;
    for (const CheckResult &result : results)
    {
        bool ok = result.status == CheckStatus::Ok;
        if (ok && quiet)
            continue;
        json += first ? "" : ",";
        first = false;
        json += "{\"name\":" + JsonString(result.name) +
                ",\"status\":" + JsonString(StatusName(result.status)) +
                ",\"message\":" + JsonString(result.message) +
                ",\"remedy\":" + (ok ? std::string("null") : JsonString(result.remedy)) + "}";
    }
    return json + "]}\n";
}
