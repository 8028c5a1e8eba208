#include "checker/write_access.h"

#include <sddl.h>

#include "base/handle_owner.h"

namespace {

const char kEveryone[] = "S-1-1-0";

const DWORD kReplaceRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
const DWORD kChangeRights =
    kReplaceRights | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES;

// Generic rights (GENERIC_ALL in an entry, say) as the file rights they are.
DWORD FileRights(DWORD mask)
{
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    MapGenericMask(&mask, &mapping);
    return mask;
}

void Add(std::vector<UntrustedAccess> *found, const std::string &sid, bool owner, DWORD rights)
{
    for (UntrustedAccess &access : *found)
    {
        if (access.sid == sid)
        {
            access.owner = access.owner || owner;
            access.rights |= rights;
            return;
        }
    }
    UntrustedAccess access;
    access.sid = sid;
    access.owner = owner;
    access.rights = rights;
    found->push_back(access);
}

}  // namespace

std::vector<UntrustedAccess> UntrustedChanges(PSECURITY_DESCRIPTOR descriptor, AccessRole role,
                                              const SidTrust &trusted)
{
    const DWORD counted = role == AccessRole::Installed ? kChangeRights : kReplaceRights;
    std::vector<UntrustedAccess> found;

    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != NULL &&
        !trusted(owner))
        Add(&found, SidText(owner), true, 0);

    PACL dacl = NULL;
    BOOL present = FALSE;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        dacl == NULL)
    {
        Add(&found, kEveryone, false, counted);
        return found;
    }

    // Denials by SID, in the order Windows reads the entries: a right denied
    // before a grant is not granted by it.
    std::vector<std::pair<std::string, DWORD>> denied;
    auto deniedTo = [&denied](const std::string &sid) {
        DWORD rights = 0;
        for (const auto &entry : denied)
        {
            if (entry.first == sid || entry.first == kEveryone)
                rights |= entry.second;
        }
        return rights;
    };
    for (DWORD index = 0; index < dacl->AceCount; ++index)
    {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, index, reinterpret_cast<void **>(&header)) ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        switch (header->AceType)
        {
        case ACCESS_DENIED_ACE_TYPE:
        {
            auto *ace = reinterpret_cast<ACCESS_DENIED_ACE *>(header);
            denied.emplace_back(SidText(&ace->SidStart), FileRights(ace->Mask));
            break;
        }
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        {
            // A callback entry's condition may hold: it counts as granted.
            auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
            const std::string sid = SidText(&ace->SidStart);
            DWORD rights = FileRights(ace->Mask) & counted & ~deniedTo(sid);
            if (rights != 0 && !trusted(&ace->SidStart))
                Add(&found, sid, false, rights);
            break;
        }
        case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        {
            // Not written for files; whom they name is not read here. The
            // mask is where it is in every allowing entry.
            DWORD rights =
                FileRights(reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->Mask) & counted;
            if (rights != 0)
                Add(&found, std::string(), false, rights);
            break;
        }
        default:
            // Conditional denials may not apply; the other kinds grant nothing.
            break;
        }
    }
    return found;
}

std::string SidText(PSID sid)
{
    LocalMemory text;
    if (sid == NULL || !ConvertSidToStringSidA(sid, reinterpret_cast<char **>(text.Place())))
        return std::string();
    return static_cast<const char *>(text.Get());
}

std::string ChangeRightsText(DWORD mask)
{
    static const struct
    {
        DWORD rights;
        const char *name;
    } kNames[] = {{FILE_WRITE_DATA, "write"},
                  {FILE_APPEND_DATA, "append"},
                  {FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES, "write attributes"},
                  {FILE_DELETE_CHILD, "delete or rename what it holds"},
                  {DELETE, "delete or rename it"},
                  {WRITE_DAC, "change its permissions"},
                  {WRITE_OWNER, "take ownership"}};
    if ((mask & kChangeRights) == kChangeRights)
        return "full control";
    std::string text;
    for (const auto &entry : kNames)
    {
        if ((mask & entry.rights) != 0)
            text += (text.empty() ? "" : ", ") + std::string(entry.name);
    }
    return text;
}
