#include "checker/proxy_checks.h"

#include <oleauto.h>

#include "broker/kestor_interface.h"
#include "checker/registry_reader.h"

namespace {

const char kProxy[] = "proxy";
const char kTypeLib[] = "typelib";
const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;
const char kProxyServerKey[] = "CLSID\\" KESTOR_IID_TEXT "\\InprocServer32";
const char kClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;
const char kTypeLibKey[] = "TypeLib\\" KESTOR_LIBID_TEXT;
// The version the class is built against.
const char kTypeLibVersion[] = "1.0";
const char kReadRemedy[] = "run the check as a user who may read HKEY_CLASSES_ROOT";

// The folder of the same name under the 64-bit Program Files folder, for
// one under the 32-bit one (where the x64 package puts the 64-bit library);
// "" for any other folder.
std::string NativeProgramFilesTwin(const std::string &folder)
{
    const RegistryView native = AllViews().back();
    const char key[] = "Software\\Microsoft\\Windows\\CurrentVersion";
    std::string x86 = StringValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir (x86)", native);
    std::string x64 = StringValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", native);
    if (x86.empty() || x64.empty() || folder.size() <= x86.size() ||
        !SameText(folder.substr(0, x86.size() + 1), x86 + "\\"))
        return std::string();
    return x64 + folder.substr(x86.size());
}

// The library belongs to the broker's installation: beside it; a 64-bit
// one in its x64 folder (install.cmd) or in its 64-bit Program Files twin
// (the x64 package).
bool BesideTheBroker(const InstalledFile &library, const std::string &brokerFolder)
{
    const std::string folder = FolderOf(library.path);
    if (!library.native64)
        return SamePath(folder, brokerFolder);
    const std::string twin = NativeProgramFilesTwin(brokerFolder);
    return SamePath(folder, brokerFolder + "x64\\") || (!twin.empty() && SamePath(folder, twin));
}

// One view's registration; the library it names goes to installation.
void CheckProxyView(const RegistryView &view, Installation *installation, Findings *findings)
{
    const std::string where = view.label + std::string(": ");
    ReadKey interfaceKey;
    if (interfaceKey.Open(HKEY_CLASSES_ROOT, kInterfaceKey, view) != ERROR_SUCCESS)
    {
        findings->Add(where + "HKCR\\" + kInterfaceKey + " is missing");
        return;
    }
    std::string proxyClass = StringValue(interfaceKey.Get(), "ProxyStubClsid32", NULL, view);
    if (!SameText(proxyClass, KESTOR_IID_TEXT))
    {
        findings->Add(where + "IKestor's proxy/stub class is " +
                      (proxyClass.empty() ? std::string("missing") : proxyClass));
        return;
    }
    std::string library = StringValue(HKEY_CLASSES_ROOT, kProxyServerKey, NULL, view);
    if (library.size() >= 2 && library.front() == '"' && library.back() == '"')
        library = library.substr(1, library.size() - 2);
    const InstalledFile file = {library, view.native64};
    if (library.empty())
    {
        findings->Add(where + "the proxy/stub class names no library (HKCR\\" + kProxyServerKey +
                      ")");
        return;
    }
    if (!SameText(FileNameOf(library), KESTOR_CHECK_PROXY_FILE))
    {
        findings->Add(where + "the proxy/stub class names " + library +
                      ", not " KESTOR_CHECK_PROXY_FILE);
        return;
    }
    if (!FileExists(file))
    {
        findings->Add(where + library + " does not exist");
        return;
    }
    const WORD expected = view.native64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    if (ImageMachine(file) != expected)
        findings->Add(where + library + " is not a " + (view.native64 ? "64-bit" : "32-bit") +
                      " library");
    const std::string &brokerFolder = installation->brokerFolder;
    if (!brokerFolder.empty() && !BesideTheBroker(file, brokerFolder))
        findings->Add(where + "a split installation: " KESTOR_CHECK_PROGRAM_FILE " is in " +
                      brokerFolder + ", " KESTOR_CHECK_PROXY_FILE " in " + FolderOf(library));
    installation->proxies.push_back(file);
}

}  // namespace

CheckResult CheckProxy(Installation *installation)
{
    Findings findings;
    std::string libraries;
    for (const RegistryView &view : AllViews())
    {
        size_t before = installation->proxies.size();
        CheckProxyView(view, installation, &findings);
        if (installation->proxies.size() > before)
            libraries += (libraries.empty() ? "" : ", ") + installation->proxies.back().path +
                         (OnWin64() ? std::string(" (") + view.label + ")" : std::string());
    }
    if (OnWin64() && installation->serviceMode)
    {
        const RegistryView native = AllViews().back();
        if (!SameText(StringValue(HKEY_CLASSES_ROOT, kClassKey, "AppID", native),
                      KESTOR_APPID_TEXT))
            findings.Add(std::string("64-bit view: HKCR\\") + kClassKey +
                         " names no AppID, so 64-bit clients start a local server, not the "
                         "service");
    }
    if (!findings.Empty())
        return Failed(kProxy, findings.Text());
    return Passed(kProxy, "IKestor is marshalled by " + libraries);
}

CheckResult CheckTypeLibrary(Installation *installation)
{
    const RegistryView view = BrokerView();
    ReadKey libraryKey;
    LONG error = libraryKey.Open(HKEY_CLASSES_ROOT, kTypeLibKey, view);
    if (error == ERROR_FILE_NOT_FOUND)
        return Failed(kTypeLib, std::string("the type library is not registered: HKCR\\") +
                                    kTypeLibKey + " is missing");
    if (error != ERROR_SUCCESS)
        return NotChecked(kTypeLib, std::string("HKCR\\") + kTypeLibKey, error, kReadRemedy);

    const std::string path =
        StringValue(libraryKey.Get(), std::string(kTypeLibVersion) + "\\0\\win32", NULL, view);
    if (path.empty())
    {
        std::string others;
        for (const std::string &version : libraryKey.Subkeys())
            others += (others.empty() ? "" : ", ") + version;
        return Failed(kTypeLib, std::string("version ") + kTypeLibVersion + " is not registered" +
                                    (others.empty() ? std::string() : " (only " + others + ")"));
    }
    if (!FileExists({path, false}))
        return Failed(kTypeLib, std::string("version ") + kTypeLibVersion + " names " + path +
                                    ", which does not exist");
    installation->typeLibrary = {path, false};

    std::wstring widePath(path.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &widePath[0],
                                     static_cast<int>(widePath.size()));
    ITypeLib *library = NULL;
    HRESULT hr =
        length > 0 ? LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, &library) : E_INVALIDARG;
    if (FAILED(hr))
        return Failed(kTypeLib, path + " does not load: " + HresultText(hr));
    TLIBATTR *attributes = NULL;
    bool same = SUCCEEDED(library->GetLibAttr(&attributes)) &&
                IsEqualGUID(attributes->guid, LIBID_ZovKestorLib);
    if (attributes != NULL)
        library->ReleaseTLibAttr(attributes);
    library->Release();
    if (!same)
        return Failed(kTypeLib, path + " is another type library");

    // The broker registers the library in its file or the one beside it.
    const std::string &folder = installation->brokerFolder;
    if (!folder.empty() && !SamePath(path, folder + KESTOR_CHECK_PROGRAM_FILE) &&
        !SamePath(path, folder + KESTOR_CHECK_TYPELIB_FILE))
        return Failed(kTypeLib, std::string("version ") + kTypeLibVersion + " names " + path +
                                    ", not the " KESTOR_CHECK_TYPELIB_FILE " beside " +
                                    KESTOR_CHECK_PROGRAM_FILE " in " + folder);
    return Passed(kTypeLib, std::string("version ") + kTypeLibVersion + ": " + path);
}
