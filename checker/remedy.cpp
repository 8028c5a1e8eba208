#include "checker/remedy.h"

#include "checker/registry_reader.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kProductName[] = "Kestor";

bool IsFile(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string WithBackslash(std::string folder)
{
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

// The product code of the Kestor package, "" when none is installed.
std::string InstalledProduct(const std::string &brokerFolder)
{
    std::string found;
    for (const RegistryView &view : AllViews())
    {
        ReadKey products;
        if (products.Open(HKEY_LOCAL_MACHINE, kUninstallKey, view) != ERROR_SUCCESS)
            continue;
        for (const std::string &code : products.Subkeys())
        {
            ReadKey product;
            DWORD installer = 0;
            std::string name;
            if (code.size() != 38 || code[0] != '{' ||
                product.Open(products, code, view) != ERROR_SUCCESS ||
                product.ReadString("DisplayName", &name) != ERROR_SUCCESS || name != kProductName ||
                product.ReadDword("WindowsInstaller", &installer) != ERROR_SUCCESS ||
                installer == 0)
                continue;
            std::string location;
            product.ReadString("InstallLocation", &location);
            if (!brokerFolder.empty() && SameText(WithBackslash(location), brokerFolder))
                return code;
            if (found.empty())
                found = code;
        }
    }
    return found;
}

}  // namespace

std::string FindRemedy(const Installation &installation)
{
    const std::string &folder = installation.brokerFolder;
    std::string product = InstalledProduct(folder);
    // Copies again only the files that are missing or older (the only
    // repair that may need the original package) and writes every
    // registration again; /fa would need the package for every file.
    if (!product.empty())
        return "msiexec /fomus " + product + " /qn";
    if (!folder.empty() && IsFile(folder + "install.cmd"))
        return "run \"" + folder + "install.cmd\" as an administrator";
    return "reinstall Kestor: install.cmd from its folder, or its Windows Installer package";
}
