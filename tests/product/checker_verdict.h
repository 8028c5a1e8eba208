// kestor-check run as a fleet tool runs it, and what its lines say: for the
// tests of installations that the checker must find healthy or broken.
#ifndef KESTOR_TESTS_PRODUCT_CHECKER_VERDICT_H
#define KESTOR_TESTS_PRODUCT_CHECKER_VERDICT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product_process.h"

// One run of the checker, with the checks it passed and failed in order.
struct CheckerVerdict
{
    ProcessResult run;
    std::vector<std::string> passed;
    std::vector<std::string> failed;
};

CheckerVerdict RunChecker(const std::string &checker, const std::string &arguments = "");

// Exit code 0 and every one of the eight checks "ok".
testing::AssertionResult CheckerHealthy(const CheckerVerdict &verdict);

// Exit code 1, and the first check that fails is the expected one.
testing::AssertionResult CheckerNamesFirst(const std::string &check, const CheckerVerdict &verdict);

// Every checker finds the installation healthy, and leaves the classes
// (both views) and the services' registry byte for byte as they were.
void ExpectCheckersHealthyAndReadOnly(const std::vector<std::string> &checkers);

// The repair in the remedy "msiexec /f<mode> {ProductCode} /qn" as Wine's
// msiexec takes it, which cannot take /f: "/i {ProductCode} REINSTALL=ALL
// REINSTALLMODE=<mode>"; "" when there is no such remedy.
std::string RemedyAsWineRepair(const std::string &output);

#endif  // KESTOR_TESTS_PRODUCT_CHECKER_VERDICT_H
