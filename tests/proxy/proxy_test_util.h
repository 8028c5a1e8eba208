// Small helpers shared by the proxy library's test programs.
#ifndef KESTOR_TESTS_PROXY_TEST_UTIL_H
#define KESTOR_TESTS_PROXY_TEST_UTIL_H

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#define EXPECT_FAILED_HR(expr)                                                          \
    do                                                                                  \
    {                                                                                   \
        HRESULT failed_hr_ = (expr);                                                    \
        EXPECT_TRUE(FAILED(failed_hr_))                                                 \
            << #expr << " is 0x" << std::hex << static_cast<unsigned long>(failed_hr_); \
    } while (0)

// Folder of the running test program, where the build puts every binary.
inline std::string BinDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// A table entry naming an imported function holds the address of the
// import thunk "jmp [__imp_X]"; follow it to the routine the loader bound.
inline const void *Resolve(const void *routine)
{
    const unsigned char *code = static_cast<const unsigned char *>(routine);
    if (code && code[0] == 0xFF && code[1] == 0x25)
    {
        void *const *slot;
        memcpy(&slot, code + 2, sizeof(slot));
        return *slot;
    }
    return routine;
}

#endif  // KESTOR_TESTS_PROXY_TEST_UTIL_H
