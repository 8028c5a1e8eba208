#include "checker/file_checks.h"

#include <aclapi.h>
#include <sddl.h>

#include "checker/registry_reader.h"

namespace {

const char kVersions[] = "versions";
const char kFolders[] = "folders";

std::vector<InstalledFile> InstalledFiles(const Installation &installation)
{
    std::vector<InstalledFile> files;
    if (!installation.server.path.empty())
        files.push_back(installation.server);
    files.insert(files.end(), installation.proxies.begin(), installation.proxies.end());
    return files;
}

// "write, append" for the rights in mask.
std::string RightsText(DWORD mask)
{
    static const struct
    {
        DWORD right;
        const char *name;
    } kNames[] = {{FILE_WRITE_DATA, "write"},           {FILE_APPEND_DATA, "append"},
                  {FILE_DELETE_CHILD, "delete children"}, {WRITE_DAC, "change permissions"},
                  {WRITE_OWNER, "take ownership"},       {GENERIC_WRITE, "generic write"},
                  {GENERIC_ALL, "full control"}};
    std::string text;
    for (const auto &entry : kNames) {
        if ((mask & entry.right) != 0)
            text += (text.empty() ? "" : ", ") + std::string(entry.name);
    }
    return text;
}

// Owns what GetNamedSecurityInfoA hands out.
class SecurityDescriptor
{
public:
    SecurityDescriptor() = default;
    ~SecurityDescriptor() { LocalFree(m_descriptor); }
    SecurityDescriptor(const SecurityDescriptor &) = delete;
    SecurityDescriptor &operator=(const SecurityDescriptor &) = delete;
    PSECURITY_DESCRIPTOR *Place() { return &m_descriptor; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};

// The well-known groups that hold every ordinary user.
struct Group
{
    const char *name;
    const char *sid;
};
const Group kUnprivileged[] = {{"Everyone", "S-1-1-0"},
                               {"Users", "S-1-5-32-545"},
                               {"Authenticated Users", "S-1-5-11"},
                               {"INTERACTIVE", "S-1-5-4"}};
const char kEveryone[] = "S-1-1-0";

// Rights that let a holder replace a file or put another beside it.
const DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC |
                           WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::string SidText(PSID sid)
{
    char *text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidA(sid, &text))
        return std::string();
    std::string result(text);
    LocalFree(text);
    return result;
}

// The write rights that this DACL leaves to the group, ACE by ACE in order:
// a denial to the group or to Everyone (which holds it) takes rights away
// before a later grant can give them. Rights that only children inherit are
// not the object's.
DWORD GroupWriteRights(PACL dacl, const char *groupSid)
{
    DWORD denied = 0, granted = 0;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER *header = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void **>(&header)) ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
            if (SidText(&ace->SidStart) == groupSid)
                granted |= ace->Mask & kWriteRights & ~denied;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto *ace = reinterpret_cast<ACCESS_DENIED_ACE *>(header);
            std::string sid = SidText(&ace->SidStart);
            if (sid == groupSid || sid == kEveryone)
                denied |= ace->Mask;
        }
    }
    return granted;
}

// Adds what is wrong with one file's or folder's permissions; false with
// the error when they could not be read.
bool CheckWriters(const InstalledFile &object, Findings *findings, DWORD *error)
{
    FileSystemView view(object.native64);
    SecurityDescriptor descriptor;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    *error = GetNamedSecurityInfoA(object.path.c_str(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, &dacl, nullptr, descriptor.Place());
    if (*error != ERROR_SUCCESS)
        return false;
    if (dacl == nullptr) {
        findings->Add(object.path + " has no access list: everyone may write it");
        return true;
    }
    std::string ownerSid = SidText(owner);
    for (const Group &group : kUnprivileged) {
        if (ownerSid == group.sid)
            findings->Add(object.path + " is owned by " + group.name);
        DWORD rights = GroupWriteRights(dacl, group.sid);
        if (rights != 0)
            findings->Add(std::string(group.name) + " may change " + object.path + " (" +
                          RightsText(rights) + ")");
    }
    return true;
}

}  // namespace

CheckResult CheckVersions(const Installation &installation)
{
    if (installation.server.path.empty())
        return NotChecked(kVersions, "no " KESTOR_CHECK_PROGRAM_FILE " to compare (see class)");
    Findings findings;
    std::string list, common;
    bool agree = true;
    for (const InstalledFile &file : InstalledFiles(installation)) {
        std::string version;
        if (!FileVersion(file, &version)) {
            findings.Add(file.path + " has no version");
            continue;
        }
        list += (list.empty() ? "" : ", ") + file.path + " " + version;
        if (common.empty())
            common = version;
        else if (version != common)
            agree = false;
    }
    if (!agree)
        findings.Add("the versions disagree: " + list);
    if (!findings.Empty())
        return Failed(kVersions, findings.Text());
    return Passed(kVersions, common + " for " + KESTOR_CHECK_PROGRAM_FILE +
                                 (installation.proxies.empty() ? "" : " and " KESTOR_CHECK_PROXY_FILE));
}

CheckResult CheckFolders(const Installation &installation)
{
    if (installation.server.path.empty() && installation.proxies.empty())
        return NotChecked(kFolders, "no installed file to look at (see class and proxy)");
    std::vector<InstalledFile> objects;
    for (const InstalledFile &file : InstalledFiles(installation)) {
        InstalledFile folder = {FolderOf(file.path), file.native64};
        bool seen = false;
        for (const InstalledFile &object : objects)
            seen = seen || (SameText(object.path, folder.path) && object.native64 == folder.native64);
        if (!seen)
            objects.push_back(folder);
        objects.push_back(file);
    }

    Findings findings;
    std::string folders;
    for (const InstalledFile &object : objects) {
        DWORD error = ERROR_SUCCESS;
        if (!CheckWriters(object, &findings, &error))
            return NotChecked(kFolders, "the permissions of " + object.path, error,
                              "run the check as a user who may read the permissions of the "
                              "installation folders");
        if (FolderOf(object.path) == object.path)
            folders += (folders.empty() ? "" : ", ") + object.path;
    }
    if (!findings.Empty()) {
        CheckResult result = Failed(kFolders, findings.Text() +
                                                  ": anyone could replace or plant a file that "
                                                  "LocalSystem loads");
        result.remedy = "take those rights away, or install into a folder only administrators "
                        "can write";
        return result;
    }
    return Passed(kFolders, "only administrators and LocalSystem can write " + folders);
}
