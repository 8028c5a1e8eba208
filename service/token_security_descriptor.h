// CTokenSecurityDescriptor: the absolute security descriptor the server
// hands to CoInitializeSecurity. Owner and group come from a token; it never
// carries a DACL or a SACL, so every caller that COM lets through is served.
#ifndef KESTOR_SERVICE_TOKEN_SECURITY_DESCRIPTOR_H
#define KESTOR_SERVICE_TOKEN_SECURITY_DESCRIPTOR_H

#include <windows.h>

class CTokenSecurityDescriptor
{
public:
    CTokenSecurityDescriptor() : m_descriptor(NULL), m_owner(NULL), m_group(NULL) {}
    ~CTokenSecurityDescriptor() { Free(); }

    CTokenSecurityDescriptor(const CTokenSecurityDescriptor &) = delete;
    CTokenSecurityDescriptor &operator=(const CTokenSecurityDescriptor &) = delete;

    // Frees everything held and starts over with a new, empty descriptor.
    HRESULT Reset();

    // Owner and group from the thread token, or from the process token when
    // the thread has none and fallBackToProcess is set.
    HRESULT BuildFromToken(BOOL defaulted = FALSE, BOOL fallBackToProcess = TRUE);

    // Replace the owner or group with the descriptor's own copy of sid
    // (NULL clears it).
    HRESULT AssignOwner(PSID sid, BOOL defaulted = FALSE);
    HRESULT AssignGroup(PSID sid, BOOL defaulted = FALSE);

    // Copies of the user and primary-group SIDs of an open token, to be freed
    // with FreeSid; on failure both are NULL.
    static HRESULT ReadTokenSids(HANDLE token, PSID *user, PSID *group);
    // A copy of sid into *destination, which must be empty.
    static HRESULT CopySidTo(PSID *destination, PSID sid);
    static void FreeSidCopy(PSID sid);

    operator PSECURITY_DESCRIPTOR() const { return m_descriptor; }
    PSID Owner() const { return m_owner; }
    PSID Group() const { return m_group; }

private:
    typedef BOOL(WINAPI *SetSidFunction)(PSECURITY_DESCRIPTOR, PSID, BOOL);

    void Free();
    HRESULT Assign(SetSidFunction setSid, PSID *held, PSID sid, BOOL defaulted);

    SECURITY_DESCRIPTOR *m_descriptor;
    PSID m_owner;
    PSID m_group;
};

#endif  // KESTOR_SERVICE_TOKEN_SECURITY_DESCRIPTOR_H
