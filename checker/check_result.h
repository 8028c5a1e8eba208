// One line of the health check: which part of the installation it looked
// at, what it found and, when something is wrong, what puts it right.
#ifndef KESTOR_CHECKER_CHECK_RESULT_H
#define KESTOR_CHECKER_CHECK_RESULT_H

#include <windows.h>

#include <string>
#include <vector>

enum class CheckStatus
{
    Ok,
    Fail,
    // The check could not look (no rights, say): never healthy.
    CannotCheck
};

struct CheckResult
{
    const char *name = "";
    CheckStatus status = CheckStatus::Ok;
    std::string message;  // ANSI code page
    std::string remedy;   // empty: the installation's own remedy applies
};

CheckResult Passed(const char *name, const std::string &message);
CheckResult Failed(const char *name, const std::string &message);
// "cannot check: what, reason"; the remedy says what rights the check needs.
CheckResult NotChecked(const char *name, const std::string &what, DWORD error,
                       const std::string &remedy);
// "cannot check: reason", for a check that has nothing to look at because
// an earlier one failed.
CheckResult NotChecked(const char *name, const std::string &reason);

// Problems found by one check, joined into one message.
class Findings
{
public:
    void Add(const std::string &problem) { m_problems.push_back(problem); }
    bool Empty() const { return m_problems.empty(); }
    std::string Text() const;

private:
    std::vector<std::string> m_problems;
};

// The system's text for a Win32 error code, with the code: "Access is
// denied. (5)".
std::string ErrorText(DWORD error);
std::string HresultText(HRESULT hr);

#endif  // KESTOR_CHECKER_CHECK_RESULT_H
