// The health check's output: one line per check, or one JSON object.
#ifndef KESTOR_CHECKER_REPORT_H
#define KESTOR_CHECKER_REPORT_H

#include <string>
#include <vector>

#include "checker/check_result.h"

// "ok    name      message" or "FAIL  name      message; remedy: ...".
// quiet leaves out the checks that passed.
std::string TextReport(const std::vector<CheckResult> &results, bool quiet);

// {"healthy":..,"remedy":..,"checks":[{"name","status","message","remedy"}]}
// with "status" "ok", "fail" or "cannot check"; pure ASCII, the ANSI texts
// escaped as \uXXXX. quiet leaves out the checks that passed.
std::string JsonReport(const std::vector<CheckResult> &results, const std::string &remedy,
                       bool quiet);

bool Healthy(const std::vector<CheckResult> &results);

#endif  // KESTOR_CHECKER_REPORT_H
