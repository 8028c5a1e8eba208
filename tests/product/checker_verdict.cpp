#include "checker_verdict.h"

#include <sstream>

namespace {

const std::vector<std::string> kChecks = {"class",   "appid",    "service", "proxy",
                                          "typelib", "versions", "folders", "call"};

}  // namespace

CheckerVerdict RunChecker(const std::string &checker, const std::string &arguments)
{
    CheckerVerdict verdict;
    verdict.run = RunProcess("\"" + checker + "\" " + arguments);
    std::istringstream lines(verdict.run.output);
    for (std::string line; std::getline(lines, line);)
    {
        std::istringstream words(line);
        std::string status, name;
        words >> status >> name;
        (status == "ok" ? verdict.passed : verdict.failed).push_back(name);
    }
    return verdict;
}

testing::AssertionResult CheckerHealthy(const CheckerVerdict &verdict)
{
    if (verdict.run.finished && verdict.run.exitCode == 0 && verdict.passed == kChecks &&
        verdict.failed.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "exit code " << verdict.run.exitCode << ":\n"
                                       << verdict.run.output;
}

testing::AssertionResult CheckerNamesFirst(const std::string &check, const CheckerVerdict &verdict)
{
    if (verdict.run.finished && verdict.run.exitCode == 1 && !verdict.failed.empty() &&
        verdict.failed.front() == check &&
        verdict.passed.size() + verdict.failed.size() == kChecks.size())
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "expected " << check << " to fail first; exit code " << verdict.run.exitCode << ":\n"
           << verdict.run.output;
}

void ExpectCheckersHealthyAndReadOnly(const std::vector<std::string> &checkers)
{
    // 32-bit Windows has one view and ignores the flag.
    const char classes[] = "Software\\Classes";
    const char service[] = "System\\CurrentControlSet\\Services\\ZovKestor";
    auto classesBefore = RegistrySnapshot(HKEY_LOCAL_MACHINE, classes, KEY_WOW64_64KEY);
    auto serviceBefore = RegistrySnapshot(HKEY_LOCAL_MACHINE, service, KEY_WOW64_64KEY);
    for (const std::string &checker : checkers)
        EXPECT_TRUE(CheckerHealthy(RunChecker(checker))) << checker;
    EXPECT_EQ("", SnapshotDifference(classesBefore, RegistrySnapshot(HKEY_LOCAL_MACHINE, classes,
                                                                     KEY_WOW64_64KEY)));
    EXPECT_EQ("", SnapshotDifference(serviceBefore, RegistrySnapshot(HKEY_LOCAL_MACHINE, service,
                                                                     KEY_WOW64_64KEY)));
}

std::string RemedyAsWineRepair(const std::string &output)
{
    const std::string remedy = "msiexec /f";
    const size_t at = output.find(remedy);
    const size_t code = at == std::string::npos ? at : output.find(" {", at);
    if (code == std::string::npos || output.compare(code + 39, 4, " /qn") != 0)
        return std::string();
    const size_t mode = at + remedy.size();
    return "/i " + output.substr(code + 1, 38) +
           " REINSTALL=ALL REINSTALLMODE=" + output.substr(mode, code - mode);
}
