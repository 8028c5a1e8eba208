// HandleOwner closes what it holds once, on every path, and never a null
// handle; HresultFromLastError never reads a failure as success.
#include "base/handle_owner.h"

#include <gtest/gtest.h>

#include "base/hresult.h"

namespace {

// A "handle" that counts how often it was closed.
struct CountingPolicy
{
    typedef int *Handle;
    static void Close(int *closes) { ++*closes; }
};
typedef HandleOwner<CountingPolicy> CountingOwner;

TEST(HandleOwnerTest, ClosesOnceWhicheverWayItGoes)
{
    int closes = 0;
    {
        CountingOwner owner(&closes);
        EXPECT_EQ(&closes, owner.Get());
    }
    EXPECT_EQ(1, closes);

    CountingOwner closed(&closes);
    closed.Close();
    closed.Close();
    EXPECT_EQ(2, closes);
    EXPECT_EQ(nullptr, closed.Get());

    {
        // Filled through Place, as a function that opens one fills it.
        CountingOwner filled;
        *filled.Place() = &closes;
    }
    EXPECT_EQ(3, closes);

    // An empty owner closes nothing (the policy would dereference null).
    CountingOwner empty;
    empty.Close();
}

// The same, for a kind of handle whose "none" is not null.
int g_none = 0;
struct CountingNonNullPolicy
{
    typedef int *Handle;
    static int *None() { return &g_none; }
    static void Close(int *closes) { ++*closes; }
};

TEST(HandleOwnerTest, NeverClosesThePolicysNone)
{
    int closes = 0;
    {
        HandleOwner<CountingNonNullPolicy> empty;
        EXPECT_FALSE(empty.Valid());
        HandleOwner<CountingNonNullPolicy> none(&g_none);
        none.Close();
        HandleOwner<CountingNonNullPolicy> owner(&closes);
        EXPECT_TRUE(owner.Valid());
        owner.Close();
        EXPECT_EQ(&g_none, owner.Get());
    }
    EXPECT_EQ(1, closes);
    EXPECT_EQ(0, g_none);

    // A file that could not be opened, and one that could.
    FileHandle missing(
        CreateFileA("Z:\\no such folder\\file", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
    EXPECT_FALSE(missing.Valid());
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(NULL, self, sizeof self));
    HANDLE raw = INVALID_HANDLE_VALUE;
    {
        FileHandle file(
            CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
        ASSERT_TRUE(file.Valid());
        raw = file;
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

TEST(HandleOwnerTest, ClosesARealHandle)
{
    HANDLE raw = NULL;
    {
        KernelHandle event(CreateEventA(NULL, TRUE, FALSE, NULL));
        ASSERT_NE(nullptr, event.Get());
        raw = event;
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(HresultFromLastErrorTest, IsTheLastErrorOrAFailureWithoutOne)
{
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), HresultFromLastError());
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(E_FAIL, HresultFromLastError());
}

}  // namespace
