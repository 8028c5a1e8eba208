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
