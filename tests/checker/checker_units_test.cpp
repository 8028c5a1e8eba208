// The checker's decisions that need no installation: who may change a file
// or folder, judged on security descriptors built here (Wine's file system
// keeps no entry for a named account and no owner), whom the machine
// trusts, and the bound on a call that does not come back.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handle_owner.h"
#include "checker/end_to_end_check.h"
#include "checker/trusted_accounts.h"
#include "checker/write_access.h"

namespace {

const char kUser[] = "S-1-5-21-1-2-3-1001";
const char kDomainUsers[] = "S-1-5-21-1-2-3-513";
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The machine of these cases: besides the system's own, one administrator
// account.
bool TrustedHere(PSID sid)
{
    const std::string text = SidText(sid);
    return text == "S-1-5-18" || text == "S-1-5-32-544" || text == kTrustedInstaller ||
           text == "S-1-5-21-1-2-3-500";
}

struct AccessCase
{
    const char *what;
    AccessRole role;
    std::string sddl;
    // Each untrusted SID found, with " owner" when it owns the object.
    std::vector<std::string> untrusted;
};

std::vector<std::string> Untrusted(const std::string &sddl, AccessRole role)
{
    LocalMemory descriptor;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     descriptor.Place(), nullptr))
        << sddl;
    std::vector<std::string> found;
    if (!descriptor.Valid())
        return found;
    for (const UntrustedAccess &access : UntrustedChanges(descriptor.Get(), role, TrustedHere))
        found.push_back(access.sid + (access.owner ? " owner" : ""));
    return found;
}

TEST(FolderVerdictTest, OnlyTrustedAccountsMayChangeWhatLocalSystemRuns)
{
    const std::string user = kUser;
    const AccessRole installed = AccessRole::Installed, parent = AccessRole::Parent;
    const AccessCase cases[] = {
        {"a named user with full control",
         installed,
         "O:BAD:(A;;FA;;;SY)(A;;FA;;;" + user + ")",
         {user}},
        {"a folder owned by a user",
         installed,
         "O:" + user + "D:(A;;FA;;;SY)(A;;0x1200a9;;;BU)",
         {user + " owner"}},
        {"Domain Users with Modify",
         installed,
         std::string("O:SYD:(A;;0x1301bf;;;") + kDomainUsers + ")",
         {kDomainUsers}},
        {"Guests with write", installed, "O:SYD:(A;;FW;;;BG)", {"S-1-5-32-546"}},
        {"Users with delete only", installed, "O:BAD:(A;;SD;;;BU)", {"S-1-5-32-545"}},
        {"Users with generic write", installed, "O:BAD:(A;;GW;;;BU)", {"S-1-5-32-545"}},
        {"no access list", installed, "O:BA", {"S-1-1-0"}},
        {"CREATOR OWNER inherit-only",
         installed,
         "O:BAD:(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
         {}},
        {"a deny entry before the grant", installed, "O:BAD:(D;;FA;;;WD)(A;;FA;;;BU)", {}},
        {"a deny entry after the grant",
         installed,
         "O:BAD:(A;;FA;;;BU)(D;;FA;;;BU)",
         {"S-1-5-32-545"}},
        {"a writable .tlb", installed, "O:BAD:(A;;FA;;;BA)(A;;0x1201bf;;;WD)", {"S-1-1-0"}},
        {"a writable parent", parent, "O:BAD:(A;OICI;0x1301ff;;;WD)", {"S-1-1-0"}},
        {"a parent owned by a user", parent, "O:" + user + "D:(A;;FA;;;BA)", {user + " owner"}},
        // C:\ as Windows sets it up: every user may add folders, not take any away.
        {"a parent others may add to",
         parent,
         "O:SYD:(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         {}},
        {"SY, BA, TrustedInstaller and an administrator account",
         installed,
         std::string("O:") + kTrustedInstaller + "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" +
             kTrustedInstaller + ")(A;;FA;;;S-1-5-21-1-2-3-500)(A;;0x1200a9;;;BU)",
         {}},
    };
    for (const AccessCase &entry : cases)
        EXPECT_EQ(entry.untrusted, Untrusted(entry.sddl, entry.role)) << entry.what;
}

TEST(FolderVerdictTest, TrustsTheSystemAndItsAdministratorsOnly)
{
    // Under Wine the prefix's user, who runs the tests, is an administrator.
    KernelHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Place()));
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    const std::string self = SidText(reinterpret_cast<TOKEN_USER *>(user)->User.Sid);

    const TrustedAccounts trusted;
    const struct
    {
        std::string sid;
        bool trusted;
    } cases[] = {{"S-1-5-18", true},  {"S-1-5-32-544", true}, {kTrustedInstaller, true},
                 {self, true},        {"S-1-1-0", false},     {"S-1-5-32-545", false},
                 {"S-1-5-11", false}, {kUser, false}};
    for (const auto &entry : cases)
    {
        LocalMemory sid;
        ASSERT_TRUE(ConvertStringSidToSidA(entry.sid.c_str(), sid.Place())) << entry.sid;
        EXPECT_EQ(entry.trusted, trusted(sid.Get())) << entry.sid;
    }
}

TEST(CallBoundTest, AWorkThatDoesNotReturnIsLeftAtTheBound)
{
    KernelHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(never.Valid());
    HANDLE event = never.Get();
    EXPECT_EQ(WorkOutcome::StillRunning,
              RunWithin([event] { WaitForSingleObject(event, INFINITE); }, 100));
    SetEvent(event);  // lets the thread end
    bool ran = false;
    EXPECT_EQ(WorkOutcome::Returned, RunWithin([&ran] { ran = true; }, 10000));
    EXPECT_TRUE(ran);
}

}  // namespace
