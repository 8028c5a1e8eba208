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
const char kReadRemedy[] = "run the check as a user who may read HKEY_CLASSES_ROOT";

// One view's registration; the library it names goes to installation.
void CheckProxyView(const RegistryView &view, Installation *installation, Findings *findings)
{
    const std::string where = view.label + std::string(": ");
    ReadKey interfaceKey;
    if (interfaceKey.Open(HKEY_CLASSES_ROOT, kInterfaceKey, view) != ERROR_SUCCESS) {
        findings->Add(where + "HKCR\\" + kInterfaceKey + " is missing");
        return;
    }
    std::string proxyClass = StringValue(interfaceKey.Get(), "ProxyStubClsid32", nullptr, view);
    if (!SameText(proxyClass, KESTOR_IID_TEXT)) {
        findings->Add(where + "IKestor's proxy/stub class is " +
                      (proxyClass.empty() ? std::string("missing") : proxyClass));
        return;
    }
    std::string library = StringValue(HKEY_CLASSES_ROOT, kProxyServerKey, nullptr, view);
    if (library.size() >= 2 && library.front() == '"' && library.back() == '"')
        library = library.substr(1, library.size() - 2);
    const InstalledFile file = {library, view.native64};
    if (library.empty()) {
        findings->Add(where + "the proxy/stub class names no library (HKCR\\" + kProxyServerKey +
                      ")");
        return;
    }
    if (!SameText(FileNameOf(library), KESTOR_CHECK_PROXY_FILE)) {
        findings->Add(where + "the proxy/stub class names " + library +
                      ", not " KESTOR_CHECK_PROXY_FILE);
        return;
    }
    if (!FileExists(file)) {
        findings->Add(where + library + " does not exist");
        return;
    }
    const WORD expected = view.native64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    if (ImageMachine(file) != expected)
        findings->Add(where + library + " is not a " +
                      (view.native64 ? "64-bit" : "32-bit") + " library");
    installation->proxies.push_back(file);
}

}  // namespace

CheckResult CheckProxy(Installation *installation)
{
    Findings findings;
    std::string libraries;
    for (const RegistryView &view : AllViews()) {
        size_t before = installation->proxies.size();
        CheckProxyView(view, installation, &findings);
        if (installation->proxies.size() > before)
            libraries += (libraries.empty() ? "" : ", ") + installation->proxies.back().path +
                         (OnWin64() ? std::string(" (") + view.label + ")" : std::string());
    }
    if (OnWin64() && installation->serviceMode) {
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

CheckResult CheckTypeLibrary()
{
    const RegistryView view = BrokerView();
    ReadKey libraryKey;
    LONG error = libraryKey.Open(HKEY_CLASSES_ROOT, kTypeLibKey, view);
    if (error == ERROR_FILE_NOT_FOUND)
        return Failed(kTypeLib, std::string("the type library is not registered: HKCR\\") +
                                    kTypeLibKey + " is missing");
    if (error != ERROR_SUCCESS)
        return NotChecked(kTypeLib, std::string("HKCR\\") + kTypeLibKey, error, kReadRemedy);

    // Any registered version will do; the broker registers one.
    Findings findings;
    for (const std::string &version : libraryKey.Subkeys()) {
        std::string path = StringValue(libraryKey.Get(), version + "\\0\\win32", nullptr, view);
        if (path.empty())
            continue;
        if (!FileExists({path, false})) {
            findings.Add("version " + version + " names " + path + ", which does not exist");
            continue;
        }
        std::wstring widePath(path.size() + 1, L'\0');
        int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &widePath[0],
                                         static_cast<int>(widePath.size()));
        ITypeLib *library = nullptr;
        HRESULT hr = length > 0 ? LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, &library)
                                : E_INVALIDARG;
        if (FAILED(hr)) {
            findings.Add(path + " does not load: " + HresultText(hr));
            continue;
        }
        TLIBATTR *attributes = nullptr;
        bool same = SUCCEEDED(library->GetLibAttr(&attributes)) &&
                    IsEqualGUID(attributes->guid, LIBID_ZovKestorLib);
        if (attributes != nullptr)
            library->ReleaseTLibAttr(attributes);
        library->Release();
        if (!same) {
            findings.Add(path + " is another type library");
            continue;
        }
        return Passed(kTypeLib, "version " + version + ": " + path);
    }
    if (findings.Empty())
        findings.Add("no version of HKCR\\" + std::string(kTypeLibKey) + " names a 32-bit file");
    return Failed(kTypeLib, findings.Text());
}
