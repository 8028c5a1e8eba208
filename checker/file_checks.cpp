#include "checker/file_checks.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>

#include "base/handle_owner.h"
#include "checker/registry_reader.h"
#include "checker/trusted_accounts.h"
#include "checker/write_access.h"

namespace {

const char kVersions[] = "versions";
const char kFolders[] = "folders";

}  // namespace

// The files there may already have been replaced: after the rights are
// taken away, they are installed again from a copy that can be trusted.
const char kFoldersRemedy[] =
    "take those rights away, or install into a folder only administrators can write; then "
    "install Kestor there again, since its files may have been replaced";

namespace {

std::vector<InstalledFile> InstalledFiles(const Installation &installation)
{
    std::vector<InstalledFile> files;
    if (!installation.server.path.empty())
        files.push_back(installation.server);
    files.insert(files.end(), installation.proxies.begin(), installation.proxies.end());
    return files;
}

// What an installation puts into its folders: install.cmd's folder holds
// them all, a package's some.
const char *const kShippedFiles[] = {"ZovKestor.exe",  "ZovKestor.tlb",    "KestorPr.dll",
                                     "kestor-set.exe", "kestor-check.exe", "install.cmd",
                                     "uninstall.cmd",  "kestor-common.cmd"};
// How many places the message names before it only counts the rest.
const size_t kFindingsShown = 6;

struct JudgedObject
{
    InstalledFile object;
    AccessRole role;
};

// Adds the object once; a folder that is both installed and above another
// installation folder is judged as installed, the stricter.
void AddObject(std::vector<JudgedObject> *objects, const InstalledFile &object, AccessRole role)
{
    for (JudgedObject &judged : *objects)
    {
        if (judged.object.native64 == object.native64 && SameText(judged.object.path, object.path))
        {
            if (role == AccessRole::Installed)
                judged.role = role;
            return;
        }
    }
    objects->push_back({object, role});
}

// "C:\a\b\" -> "C:\a\"; "" above the root of a drive or a share.
std::string ParentFolder(const std::string &folder)
{
    std::string trimmed = folder.substr(0, folder.find_last_not_of("\\/") + 1);
    std::string parent = FolderOf(trimmed);
    bool share = parent.compare(0, 2, "\\\\") == 0;
    if (parent.empty() || (share && std::count(parent.begin(), parent.end(), '\\') < 4))
        return std::string();
    return parent;
}

// The installation's folders (the broker's, and those of the libraries and
// the type library it uses when they lie elsewhere), the files shipped
// there, and every folder above them.
std::vector<JudgedObject> ObjectsToJudge(const Installation &installation)
{
    std::vector<InstalledFile> used = InstalledFiles(installation);
    if (!installation.typeLibrary.path.empty())
        used.push_back(installation.typeLibrary);
    std::vector<JudgedObject> objects;
    for (const InstalledFile &file : used)
    {
        InstalledFile folder = {FolderOf(file.path), file.native64};
        AddObject(&objects, folder, AccessRole::Installed);
        AddObject(&objects, file, AccessRole::Installed);
        for (const char *name : kShippedFiles)
        {
            InstalledFile shipped = {folder.path + name, file.native64};
            if (FileExists(shipped))
                AddObject(&objects, shipped, AccessRole::Installed);
        }
    }
    // Parents last, so that an installation folder among them stays one.
    const size_t installed = objects.size();
    for (size_t index = 0; index < installed; ++index)
    {
        const InstalledFile object = objects[index].object;
        for (std::string parent = ParentFolder(object.path); !parent.empty();
             parent = ParentFolder(parent))
            AddObject(&objects, {parent, object.native64}, AccessRole::Parent);
    }
    return objects;
}

// "BUILTIN\Users", "Everyone", or the SID when it has no name here.
std::string AccountName(const std::string &sidText)
{
    if (sidText.empty())
        return "an access entry of a kind not read here";
    LocalMemory sid;
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!ConvertStringSidToSidA(sidText.c_str(), sid.Place()) ||
        !LookupAccountSidA(NULL, sid.Get(), name, &nameSize, domain, &domainSize, &use))
        return sidText;
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
}

// Adds what is wrong with one object's permissions; false with the error
// when they could not be read.
bool JudgeObject(const JudgedObject &judged, const SidTrust &trusted, Findings *findings,
                 DWORD *error)
{
    LocalMemory descriptor;
    {
        FileSystemView view(judged.object.native64);
        *error = GetNamedSecurityInfoA(judged.object.path.c_str(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, NULL,
                                       NULL, NULL, NULL, descriptor.Place());
    }
    if (*error != ERROR_SUCCESS)
        return false;
    for (const UntrustedAccess &access : UntrustedChanges(descriptor.Get(), judged.role, trusted))
    {
        const std::string who = AccountName(access.sid);
        if (access.owner)
            findings->Add(judged.object.path + " is owned by " + who);
        if (access.rights != 0)
            findings->Add(who + " may " + ChangeRightsText(access.rights) + ": " +
                          judged.object.path);
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
    for (const InstalledFile &file : InstalledFiles(installation))
    {
        std::string version;
        if (!FileVersion(file, &version))
        {
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
    return Passed(kVersions,
                  common + " for " + KESTOR_CHECK_PROGRAM_FILE +
                      (installation.proxies.empty() ? "" : " and " KESTOR_CHECK_PROXY_FILE));
}

CheckResult CheckFolders(Installation *installation)
{
    if (installation->server.path.empty() && installation->proxies.empty())
        return NotChecked(kFolders, "no installed file to look at (see class and proxy)");
    const TrustedAccounts trusted;
    Findings findings;
    size_t problems = 0;
    std::string folders;
    for (const JudgedObject &judged : ObjectsToJudge(*installation))
    {
        DWORD error = ERROR_SUCCESS;
        Findings found;
        if (!JudgeObject(judged, std::cref(trusted), &found, &error))
            return NotChecked(kFolders, "the permissions of " + judged.object.path, error,
                              "run the check as a user who may read the permissions of the "
                              "installation folders");
        if (!found.Empty() && problems++ < kFindingsShown)
            findings.Add(found.Text());
        const std::string &path = judged.object.path;
        if (judged.role == AccessRole::Installed && FolderOf(path) == path)
            folders += (folders.empty() ? "" : ", ") + judged.object.path;
    }
    if (problems > kFindingsShown)
        findings.Add("and " + std::to_string(problems - kFindingsShown) + " more");
    if (!findings.Empty())
    {
        installation->foldersUntrusted = true;
        CheckResult result =
            Failed(kFolders, findings.Text() + ": they could replace what LocalSystem runs");
        result.remedy = kFoldersRemedy;
        return result;
    }
    return Passed(kFolders, "only administrators and LocalSystem can change " + folders +
                                ", the files there and the folders above");
}
