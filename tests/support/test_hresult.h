// HRESULT assertions as predicates, printing the code in hex on failure.
#ifndef KESTOR_TESTS_TEST_HRESULT_H
#define KESTOR_TESTS_TEST_HRESULT_H

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

inline testing::AssertionResult IsHresult(const char *expectedText, const char *actualText,
                                          HRESULT expected, HRESULT actual)
{
    if (expected == actual)
        return testing::AssertionSuccess();
    // AssertionResult takes no stream manipulators: format the codes here.
    char codes[64];
    std::snprintf(codes, sizeof codes, "0x%08lX, expected 0x%08lX",
                  static_cast<unsigned long>(actual), static_cast<unsigned long>(expected));
    return testing::AssertionFailure()
           << actualText << " is " << codes << " (" << expectedText << ")";
}

#define EXPECT_HR(expected, actual) EXPECT_PRED_FORMAT2(IsHresult, expected, actual)
#define ASSERT_HR(expected, actual) ASSERT_PRED_FORMAT2(IsHresult, expected, actual)
#define ASSERT_SUCCEEDED(expr) ASSERT_HR(S_OK, expr)
#define EXPECT_SUCCEEDED(expr) EXPECT_HR(S_OK, expr)

#endif  // KESTOR_TESTS_TEST_HRESULT_H
