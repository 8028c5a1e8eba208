// The accounts that may change an installation because they may change the
// whole machine anyway.
#ifndef KESTOR_CHECKER_TRUSTED_ACCOUNTS_H
#define KESTOR_CHECKER_TRUSTED_ACCOUNTS_H

#include <windows.h>

#include <string>
#include <vector>

// LocalSystem, Administrators, TrustedInstaller, and each account or group
// that is itself a member of the local Administrators group: as the group's
// member list gives them (only direct members: a user who is an
// administrator through a domain group is not found there, unless the
// entry names that group), and the user running the check when its own
// token holds Administrators (enabled or, under UAC, for denying only).
class TrustedAccounts
{
public:
    TrustedAccounts();
    bool operator()(PSID sid) const;

private:
    std::vector<std::string> m_sids;
};

#endif  // KESTOR_CHECKER_TRUSTED_ACCOUNTS_H
