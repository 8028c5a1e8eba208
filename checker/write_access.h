// Who besides the system's administrators can change a file or folder of
// the installation: decided on its security descriptor alone, so that any
// descriptor can be judged, whatever file system it came from.
#ifndef KESTOR_CHECKER_WRITE_ACCESS_H
#define KESTOR_CHECKER_WRITE_ACCESS_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum class AccessRole
{
    // The installation folder, or a file in it: any right to change it
    // counts, since LocalSystem runs what is there.
    Installed,
    // A folder above it, up to the root: what counts is taking away or
    // renaming what it holds (FILE_DELETE_CHILD), taking away or renaming
    // the folder itself (DELETE), and giving oneself those rights
    // (WRITE_DAC, WRITE_OWNER, ownership). Adding files or folders to it
    // changes nothing of ours: every user may add folders to C:\.
    Parent
};

// Whether the holders of a SID may change the installation anyway.
typedef std::function<bool(PSID)> SidTrust;

// Rights of changing, granted to an account or group that is not trusted.
struct UntrustedAccess
{
    std::string sid;     // "S-1-..."; "" for an access entry of a kind not known here
    bool owner = false;  // it owns the object, and so may rewrite its access list
    DWORD rights = 0;    // the rights of changing its entries grant (file rights)
};

// The untrusted owner and every untrusted account or group that an access
// entry lets change the object in the role given. An entry counts with
// the rights that no earlier deny entry for the same SID or for Everyone
// took away; inherit-only entries grant nothing on the object itself; no
// access list at all lets Everyone do anything.
std::vector<UntrustedAccess> UntrustedChanges(PSECURITY_DESCRIPTOR descriptor, AccessRole role,
                                              const SidTrust &trusted);

// "S-1-5-18" for LocalSystem's SID; "" for none.
std::string SidText(PSID sid);

// "write, delete or rename it" for the rights in mask.
std::string ChangeRightsText(DWORD mask);

#endif  // KESTOR_CHECKER_WRITE_ACCESS_H
