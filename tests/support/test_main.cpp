// Entry of every test program: no error dialogs, GoogleTest's own runner.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // A crash must fail the test, never wait on a dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
