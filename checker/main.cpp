// kestor-check: tells whether the Kestor broker works on this machine, and
// if not, which part is broken and what puts it right. It changes nothing
// and needs no administrator rights, so fleet tools can run it as a
// detection rule: exit code 0 healthy, 1 a check failed or could not run,
// 2 bad usage.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/system_library.h"
#include "checker/check_options.h"
#include "checker/class_checks.h"
#include "checker/end_to_end_check.h"
#include "checker/file_checks.h"
#include "checker/proxy_checks.h"
#include "checker/remedy.h"
#include "checker/report.h"
#include "checker/service_check.h"

namespace {

const int kExitHealthy = 0;
const int kExitUnhealthy = 1;
const int kExitUsage = 2;

class ComApartment
{
public:
    ComApartment() : m_result(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    HRESULT m_result;
};

// Each check builds on what the ones before it found.
std::vector<CheckResult> RunChecks(Installation *installation)
{
    std::vector<CheckResult> results;
    results.push_back(CheckClass(installation));
    results.push_back(CheckAppId(installation));
    results.push_back(CheckService(installation));
    results.push_back(CheckProxy(installation));
    results.push_back(CheckTypeLibrary(installation));
    results.push_back(CheckVersions(*installation));
    results.push_back(CheckFolders(installation));
    results.push_back(CheckEndToEnd(*installation));
    return results;
}

}  // namespace

int main(int argc, char **argv)
{
    // Before anything could load a library: the check is run with full
    // rights, perhaps from a folder others can write.
    RestrictLibrarySearchToSystem();

    CheckOptions options;
    std::string error;
    if (!ParseCheckOptions(argc, argv, &options, &error))
    {
        std::fprintf(stderr, "kestor-check: %s\n%s", error.c_str(), kCheckUsage);
        return kExitUsage;
    }
    if (options.help)
    {
        std::fputs(kCheckUsage, stdout);
        return kExitHealthy;
    }

    ComApartment apartment;
    Installation installation;
    std::vector<CheckResult> results = RunChecks(&installation);
    // Nothing is to be run from folders that others can change, not even
    // their install.cmd.
    const std::string remedy =
        installation.foldersUntrusted ? kFoldersRemedy : FindRemedy(installation);
    for (CheckResult &result : results)
    {
        if (result.status != CheckStatus::Ok && result.remedy.empty())
            result.remedy = remedy;
    }

    std::string report = options.json ? JsonReport(results, remedy, options.quiet)
                                      : TextReport(results, options.quiet);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    return Healthy(results) ? kExitHealthy : kExitUnhealthy;
}
