#include "checker/trusted_accounts.h"

#include <lm.h>
#include <sddl.h>

#include <memory>

#include "base/handle_owner.h"
#include "base/system_library.h"
#include "checker/write_access.h"

namespace {

const char kAdministrators[] = "S-1-5-32-544";
const char *const kWellKnown[] = {
    "S-1-5-18",  // LocalSystem
    kAdministrators,
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};

// The group's name in the system's language, which the member list asks for.
std::wstring AdministratorsName()
{
    LocalMemory sid;
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    wchar_t wide[256];
    if (!ConvertStringSidToSidA(kAdministrators, sid.Place()) ||
        !LookupAccountSidA(NULL, sid.Get(), name, &nameSize, domain, &domainSize, &use) ||
        MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 256) == 0)
        return std::wstring();
    return wide;
}

// netapi32 is not one of Windows' known DLLs: it comes from System32.
void AddGroupMembers(std::vector<std::string> *sids)
{
    typedef decltype(&NetLocalGroupGetMembers) GetMembers;
    typedef decltype(&NetApiBufferFree) FreeBuffer;
    const LibraryHandle netapi(LoadSystemLibrary(L"netapi32.dll"));
    const GetMembers getMembers = SystemFunction<GetMembers>(netapi, "NetLocalGroupGetMembers");
    const FreeBuffer freeBuffer = SystemFunction<FreeBuffer>(netapi, "NetApiBufferFree");
    const std::wstring group = AdministratorsName();
    if (getMembers == NULL || freeBuffer == NULL || group.empty())
        return;
    BYTE *buffer = NULL;
    DWORD read = 0, total = 0;
    NET_API_STATUS status =
        getMembers(NULL, group.c_str(), 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, NULL);
    const std::unique_ptr<BYTE, FreeBuffer> owned(buffer, freeBuffer);
    if (status != NERR_Success)
        return;
    const auto *members = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0 *>(buffer);
    for (DWORD index = 0; index < read; ++index)
        sids->push_back(SidText(members[index].lgrmi0_sid));
}

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, NULL, 0, &size);
    std::vector<BYTE> information(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size))
        information.clear();
    return information;
}

// The user of this process, when its token holds Administrators.
void AddAdministratorRunningTheCheck(std::vector<std::string> *sids)
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Place()))
        return;
    const std::vector<BYTE> groups = TokenInformation(token, TokenGroups);
    const std::vector<BYTE> user = TokenInformation(token, TokenUser);
    if (groups.empty() || user.empty())
        return;
    const auto *list = reinterpret_cast<const TOKEN_GROUPS *>(groups.data());
    for (DWORD index = 0; index < list->GroupCount; ++index)
    {
        if (SidText(list->Groups[index].Sid) == kAdministrators)
        {
            sids->push_back(SidText(reinterpret_cast<const TOKEN_USER *>(user.data())->User.Sid));
            return;
        }
    }
}

}  // namespace

TrustedAccounts::TrustedAccounts() : m_sids(std::begin(kWellKnown), std::end(kWellKnown))
{
    AddGroupMembers(&m_sids);
    AddAdministratorRunningTheCheck(&m_sids);
}

bool TrustedAccounts::operator()(PSID sid) const
{
    const std::string text = SidText(sid);
    for (const std::string &trusted : m_sids)
    {
        if (!text.empty() && lstrcmpiA(text.c_str(), trusted.c_str()) == 0)
            return true;
    }
    return false;
}
