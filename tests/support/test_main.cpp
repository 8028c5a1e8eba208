// Entry of every test program: no error dialogs, GoogleTest's own runner.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    // A crash must fail the test, never wait on a dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // Into a pipe, standard output is kept until the buffer fills: a test
    // that CTest kills for taking too long would leave no trace of where.
    std::setvbuf(stdout, NULL, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
