#include "checker/check_options.h"

#include <cstring>

const char kCheckUsage[] =
    "usage: kestor-check [--quiet] [--json]\n"
    "Checks the Kestor installation of this machine without changing it.\n"
    "  --quiet  print only the checks that fail\n"
    "  --json   print one JSON object\n"
    "Exit code: 0 healthy, 1 a check failed or could not run, 2 bad usage.\n";

bool ParseCheckOptions(int argc, char **argv, CheckOptions *options, std::string *error)
{
    for (int i = 1; i < argc; ++i)
    {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--quiet") == 0 || std::strcmp(argument, "-q") == 0)
            options->quiet = true;
        else if (std::strcmp(argument, "--json") == 0)
            options->json = true;
        else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
                 std::strcmp(argument, "/?") == 0)
            options->help = true;
        else
        {
            *error = std::string("unknown argument: ") + argument;
            return false;
        }
    }
    return true;
}
