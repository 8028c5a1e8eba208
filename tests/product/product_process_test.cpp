// The process runner of the product tests: a program that runs past its
// deadline is killed, and what it printed until then reaches the test's log,
// so that a hang says where it hangs. Runs beside the local server suite.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "product_process.h"

namespace {

const char kEventVariable[] = "KESTOR_TEST_HANG_EVENT";
const char kLastWords[] = "about to hang in the middle of something";

// Not a test: the program the case below starts, this driver once more.
TEST(ProductProcess, DISABLED_PrintsThenHangs)
{
    const char *event = std::getenv(kEventVariable);
    ASSERT_NE(nullptr, event);
    std::printf("%s\n", kLastWords);
    std::fflush(stdout);
    KernelHandle printed(OpenEventA(EVENT_MODIFY_STATE, FALSE, event));
    ASSERT_TRUE(printed.Valid());
    SetEvent(printed);
    Sleep(INFINITE);
}

TEST(ProductProcess, PastItsDeadlineAProgramIsKilledAndItsOutputShown)
{
    const std::string eventName = "KestorTestHang-" + std::to_string(GetCurrentProcessId());
    KernelHandle printed(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(printed.Valid());
    ASSERT_TRUE(SetEnvironmentVariableA(kEventVariable, eventName.c_str()));
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, sizeof self));
    StartedProcess hanging(WideFromAnsi("\"" + std::string(self) +
                                        "\" --gtest_also_run_disabled_tests"
                                        " --gtest_filter=ProductProcess.DISABLED_PrintsThenHangs"),
                           std::wstring());
    SetEnvironmentVariableA(kEventVariable, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(printed, 120000)) << "the program never printed";

    testing::internal::CaptureStdout();
    ProcessResult run = hanging.Finish(100);
    const std::string log = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(0xDEADu, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find(kLastWords)) << run.output;
    // The log names the program and shows what it printed, before the kill.
    EXPECT_NE(std::string::npos,
              log.find("[deadline] still running after 0 s, killed: \"" + std::string(self)))
        << log;
    EXPECT_NE(std::string::npos, log.find(kLastWords)) << log;
}

}  // namespace
