#include "service/token_security_descriptor.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include "test_hresult.h"

namespace {

// The user and primary group of the process token, read independently.
struct ProcessIdentity
{
    BYTE userRecord[256];
    BYTE groupRecord[256];
    PSID user = NULL;
    PSID group = NULL;

    ProcessIdentity()
    {
        HANDLE token = NULL;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
        DWORD size = 0;
        EXPECT_TRUE(GetTokenInformation(token, TokenUser, userRecord, sizeof userRecord, &size));
        EXPECT_TRUE(
            GetTokenInformation(token, TokenPrimaryGroup, groupRecord, sizeof groupRecord, &size));
        CloseHandle(token);
        user = reinterpret_cast<TOKEN_USER *>(userRecord)->User.Sid;
        group = reinterpret_cast<TOKEN_PRIMARY_GROUP *>(groupRecord)->PrimaryGroup;
    }
};

PSID DescriptorOwner(PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = NULL;
    BOOL defaulted = TRUE;
    EXPECT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    return owner;
}

PSID DescriptorGroup(PSECURITY_DESCRIPTOR descriptor)
{
    PSID group = NULL;
    BOOL defaulted = TRUE;
    EXPECT_TRUE(GetSecurityDescriptorGroup(descriptor, &group, &defaulted));
    return group;
}

// Bytes in use on the C runtime's heap, where the descriptor allocates.
size_t HeapBytesInUse()
{
    size_t used = 0;
    _HEAPINFO entry = {};
    while (_heapwalk(&entry) == _HEAPOK)
    {
        if (entry._useflag == _USEDENTRY)
            used += entry._size;
    }
    return used;
}

TEST(TokenSecurityDescriptorTest, ProcessTokenGivesOwnerAndGroupAndNoAcl)
{
    ProcessIdentity identity;
    CTokenSecurityDescriptor descriptor;
    ASSERT_SUCCEEDED(descriptor.BuildFromToken(FALSE, TRUE));

    PSECURITY_DESCRIPTOR sd = descriptor;
    ASSERT_NE(nullptr, sd);
    EXPECT_TRUE(IsValidSecurityDescriptor(sd));

    PSID owner = NULL;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
    ASSERT_NE(nullptr, owner);
    EXPECT_TRUE(EqualSid(identity.user, owner));
    EXPECT_FALSE(defaulted);
    PSID group = NULL;
    defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorGroup(sd, &group, &defaulted));
    ASSERT_NE(nullptr, group);
    EXPECT_TRUE(EqualSid(identity.group, group));
    EXPECT_FALSE(defaulted);

    // The descriptor points at the object's own copies.
    EXPECT_EQ(descriptor.Owner(), owner);
    EXPECT_EQ(descriptor.Group(), group);
    EXPECT_NE(identity.user, owner);

    BOOL present = TRUE;
    PACL acl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
    EXPECT_FALSE(present);
    present = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted));
    EXPECT_FALSE(present);
}

TEST(TokenSecurityDescriptorTest, DefaultedFlagReachesOwnerAndGroup)
{
    CTokenSecurityDescriptor descriptor;
    ASSERT_SUCCEEDED(descriptor.BuildFromToken(TRUE, TRUE));
    PSID sid = NULL;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &sid, &defaulted));
    EXPECT_TRUE(defaulted);
    defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor, &sid, &defaulted));
    EXPECT_TRUE(defaulted);
}

TEST(TokenSecurityDescriptorTest, ThreadTokenComesFirstAndProcessOnlyOnRequest)
{
    ProcessIdentity identity;
    CTokenSecurityDescriptor descriptor;
    // No thread token and no fall-back: the error, with an empty descriptor.
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_NO_TOKEN), descriptor.BuildFromToken(FALSE, FALSE));
    ASSERT_NE(nullptr, static_cast<PSECURITY_DESCRIPTOR>(descriptor));
    EXPECT_EQ(nullptr, DescriptorOwner(descriptor));
    EXPECT_EQ(nullptr, descriptor.Owner());

    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    HRESULT hr = descriptor.BuildFromToken(FALSE, FALSE);
    RevertToSelf();
    ASSERT_SUCCEEDED(hr);
    ASSERT_NE(nullptr, descriptor.Owner());
    EXPECT_TRUE(EqualSid(identity.user, descriptor.Owner()));
}

TEST(TokenSecurityDescriptorTest, ResetAndAssignNeverLeaveAFreedSidBehind)
{
    ProcessIdentity identity;
    CTokenSecurityDescriptor descriptor;
    // Nothing to write into before the first Reset.
    EXPECT_HR(E_UNEXPECTED, descriptor.AssignOwner(identity.user));

    ASSERT_SUCCEEDED(descriptor.BuildFromToken());
    ASSERT_SUCCEEDED(descriptor.Reset());
    EXPECT_EQ(nullptr, descriptor.Owner());
    EXPECT_EQ(nullptr, descriptor.Group());
    EXPECT_EQ(nullptr, DescriptorOwner(descriptor));
    EXPECT_EQ(nullptr, DescriptorGroup(descriptor));

    ASSERT_SUCCEEDED(descriptor.AssignOwner(identity.user));
    ASSERT_SUCCEEDED(descriptor.AssignGroup(identity.group));
    EXPECT_TRUE(EqualSid(identity.user, DescriptorOwner(descriptor)));

    // A refused SID clears the old owner instead of leaving it dangling.
    BYTE invalid[16] = {9, 9};
    EXPECT_HR(E_INVALIDARG, descriptor.AssignOwner(invalid));
    EXPECT_EQ(nullptr, descriptor.Owner());
    EXPECT_EQ(nullptr, DescriptorOwner(descriptor));

    ASSERT_SUCCEEDED(descriptor.AssignGroup(NULL));
    EXPECT_EQ(nullptr, descriptor.Group());
    EXPECT_EQ(nullptr, DescriptorGroup(descriptor));
}

TEST(TokenSecurityDescriptorTest, CopySidRules)
{
    ProcessIdentity identity;
    EXPECT_HR(E_POINTER, CTokenSecurityDescriptor::CopySidTo(NULL, identity.user));

    PSID copy = identity.group;
    EXPECT_HR(E_INVALIDARG, CTokenSecurityDescriptor::CopySidTo(&copy, identity.user));
    EXPECT_EQ(identity.group, copy);

    copy = NULL;
    BYTE invalid[16] = {9, 9};
    EXPECT_HR(E_INVALIDARG, CTokenSecurityDescriptor::CopySidTo(&copy, invalid));
    EXPECT_HR(E_INVALIDARG, CTokenSecurityDescriptor::CopySidTo(&copy, NULL));
    EXPECT_EQ(nullptr, copy);

    ASSERT_SUCCEEDED(CTokenSecurityDescriptor::CopySidTo(&copy, identity.user));
    EXPECT_NE(identity.user, copy);
    EXPECT_TRUE(EqualSid(identity.user, copy));
    CTokenSecurityDescriptor::FreeSidCopy(copy);
}

TEST(TokenSecurityDescriptorTest, ReadingFromABadTokenGivesNothing)
{
    PSID user = reinterpret_cast<PSID>(1);
    PSID group = reinterpret_cast<PSID>(1);
    EXPECT_TRUE(FAILED(CTokenSecurityDescriptor::ReadTokenSids(NULL, &user, &group)));
    EXPECT_EQ(nullptr, user);
    EXPECT_EQ(nullptr, group);
}

TEST(TokenSecurityDescriptorTest, ResetAndDestructorFreeEverything)
{
    {
        // Warm-up: first-use allocations of the runtime are not ours.
        CTokenSecurityDescriptor descriptor;
        descriptor.BuildFromToken();
    }
    const size_t before = HeapBytesInUse();
    for (int round = 0; round < 200; ++round)
    {
        CTokenSecurityDescriptor descriptor;
        ASSERT_SUCCEEDED(descriptor.BuildFromToken());
        ASSERT_SUCCEEDED(descriptor.BuildFromToken());
        ASSERT_SUCCEEDED(descriptor.Reset());
        ASSERT_SUCCEEDED(descriptor.BuildFromToken());
    }
    const size_t after = HeapBytesInUse();
    // A leak of one SID per round alone would be thousands of bytes.
    EXPECT_LT(after, before + 1024) << "heap grew from " << before << " to " << after;
}

}  // namespace
