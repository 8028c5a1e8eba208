// The command line of kestor-check.
#ifndef KESTOR_CHECKER_CHECK_OPTIONS_H
#define KESTOR_CHECKER_CHECK_OPTIONS_H

#include <string>

struct CheckOptions
{
    bool quiet = false;  // only the checks that did not pass
    bool json = false;   // one JSON object instead of lines
    bool help = false;
};

// False with the reason in error for a command line it does not know.
bool ParseCheckOptions(int argc, char **argv, CheckOptions *options, std::string *error);

extern const char kCheckUsage[];

#endif  // KESTOR_CHECKER_CHECK_OPTIONS_H
