// The built type library against the contract header, and its loading,
// registration and removal through the module.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "broker/kestor_interface.h"
#include "modreg_test_support.h"
#include "registrar/type_library.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const std::string kTypeLibKey = "TypeLib\\" KESTOR_LIBID_TEXT;
const std::string kInterfaceKey = "Interface\\" KESTOR_IID_TEXT;

// COM for the test's thread, balanced on every path.
class ComApartment
{
public:
    ComApartment() : m_hr(CoInitialize(NULL)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    HRESULT m_hr;
};

std::string Narrow(const wchar_t *text)
{
    std::string out;
    for (; text != NULL && *text != L'\0'; ++text)
        out += static_cast<char>(*text);
    return out;
}

std::wstring Widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

// The type library beside the built program.
class BuiltTypeLibraryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_SUCCEEDED(m_com.m_hr);
        std::wstring path = Widen(BuildBinFolder() + "ZovKestor.tlb");
        ASSERT_SUCCEEDED(LoadTypeLib(path.c_str(), &m_library));
    }
    void TearDown() override
    {
        if (m_library != NULL)
            m_library->Release();
    }

    ComApartment m_com;
    ITypeLib *m_library = NULL;
};

TEST_F(BuiltTypeLibraryTest, DescribesTheLibraryOfTheContractHeader)
{
    TLIBATTR *attributes = NULL;
    ASSERT_SUCCEEDED(m_library->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(LIBID_ZovKestorLib, attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(SYS_WIN32, attributes->syskind);
    m_library->ReleaseTLibAttr(attributes);

    ITypeInfo *coclass = NULL;
    ASSERT_SUCCEEDED(m_library->GetTypeInfoOfGuid(CLSID_KestorObj, &coclass));
    TYPEATTR *classAttributes = NULL;
    ASSERT_SUCCEEDED(coclass->GetTypeAttr(&classAttributes));
    EXPECT_EQ(TKIND_COCLASS, classAttributes->typekind);
    EXPECT_EQ(1, classAttributes->cImplTypes);
    coclass->ReleaseTypeAttr(classAttributes);
    HREFTYPE reference = 0;
    ASSERT_SUCCEEDED(coclass->GetRefTypeOfImplType(0, &reference));
    ITypeInfo *implemented = NULL;
    ASSERT_SUCCEEDED(coclass->GetRefTypeInfo(reference, &implemented));
    TYPEATTR *implementedAttributes = NULL;
    ASSERT_SUCCEEDED(implemented->GetTypeAttr(&implementedAttributes));
    EXPECT_TRUE(IsEqualGUID(IID_IKestor, implementedAttributes->guid));
    implemented->ReleaseTypeAttr(implementedAttributes);
    implemented->Release();
    coclass->Release();
}

TEST_F(BuiltTypeLibraryTest, IKestorMatchesTheContractHeader)
{
    ITypeInfo *info = NULL;
    ASSERT_SUCCEEDED(m_library->GetTypeInfoOfGuid(IID_IKestor, &info));
    TYPEATTR *attributes = NULL;
    ASSERT_SUCCEEDED(info->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_INTERFACE, attributes->typekind);
    // A custom interface: registering the library leaves its marshalling
    // to the proxy library.
    EXPECT_EQ(0, attributes->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL));
    EXPECT_EQ(IKESTOR_METHOD_COUNT - 3, attributes->cFuncs);
    EXPECT_EQ(IKESTOR_METHOD_COUNT * sizeof(void *), attributes->cbSizeVft);
    EXPECT_EQ(1, attributes->cImplTypes);
    int functionCount = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);

    // The base is IUnknown.
    HREFTYPE reference = 0;
    ASSERT_SUCCEEDED(info->GetRefTypeOfImplType(0, &reference));
    ITypeInfo *base = NULL;
    ASSERT_SUCCEEDED(info->GetRefTypeInfo(reference, &base));
    TYPEATTR *baseAttributes = NULL;
    ASSERT_SUCCEEDED(base->GetTypeAttr(&baseAttributes));
    EXPECT_TRUE(IsEqualGUID(IID_IUnknown, baseAttributes->guid));
    base->ReleaseTypeAttr(baseAttributes);
    base->Release();

    // SetSettingValue in slot 3: an enumeration and three BSTRs, all in.
    ASSERT_EQ(1, functionCount);
    FUNCDESC *function = NULL;
    ASSERT_SUCCEEDED(info->GetFuncDesc(0, &function));
    EXPECT_EQ(3 * static_cast<int>(sizeof(void *)), function->oVft);
    EXPECT_EQ(VT_HRESULT, function->elemdescFunc.tdesc.vt);
    ASSERT_EQ(4, function->cParams);
    EXPECT_EQ(VT_USERDEFINED, function->lprgelemdescParam[0].tdesc.vt);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(PARAMFLAG_FIN, function->lprgelemdescParam[i].paramdesc.wParamFlags & 3) << i;
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(VT_BSTR, function->lprgelemdescParam[i].tdesc.vt) << i;
    BSTR name = NULL;
    ASSERT_SUCCEEDED(info->GetDocumentation(function->memid, &name, NULL, NULL, NULL));
    EXPECT_EQ("SetSettingValue", Narrow(name));
    SysFreeString(name);
    info->ReleaseFuncDesc(function);
    info->Release();
}

// A copy of the probe program in a folder of its own, loaded as an image so
// that its handle names that copy; a ".tlb" beside it only when asked.
class ModuleTypeLibraryTest : public testing::Test
{
protected:
    ModuleTypeLibraryTest()
        : m_folder("C:\\KestorModRegTlb-" + std::to_string(GetCurrentProcessId()) + "\\lib.v2"),
          m_root("modreg-tlb"),
          m_override(m_root.Handle())
    {}
    void SetUp() override
    {
        ASSERT_SUCCEEDED(m_com.m_hr);
        ASSERT_TRUE(m_folder.CopyIn(BuildBinFolder() + "modreg_probe.exe", "server.exe"));
        m_module = LoadLibraryExA((m_folder.Path() + "server.exe").c_str(), NULL,
                                  DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(nullptr, m_module);
    }
    void TearDown() override
    {
        if (m_module != NULL)
            FreeLibrary(m_module);
    }
    void AddTypeLibrary()
    {
        ASSERT_TRUE(m_folder.CopyIn(BuildBinFolder() + "ZovKestor.tlb", "server.tlb"));
    }

    ComApartment m_com;
    TestFolder m_folder;
    ScratchKey m_root;
    ClassesRootOverride m_override;
    HMODULE m_module = NULL;
};

TEST_F(ModuleTypeLibraryTest, LoadsTheTlbBesideTheModule)
{
    BSTR path = reinterpret_cast<BSTR>(1);
    ITypeLib *library = reinterpret_cast<ITypeLib *>(1);
    HRESULT missing = LoadModuleTypeLibrary(m_module, NULL, &path, &library);
    EXPECT_TRUE(FAILED(missing));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(nullptr, library);

    AddTypeLibrary();
    ASSERT_SUCCEEDED(LoadModuleTypeLibrary(m_module, NULL, &path, &library));
    EXPECT_EQ(m_folder.Path() + "server.tlb", Narrow(path));
    library->Release();
    SysFreeString(path);

    // An index appended to the module path goes with the extension when
    // the ".tlb" is tried; the dot in the folder name is no extension.
    ASSERT_SUCCEEDED(LoadModuleTypeLibrary(m_module, L"\\2", &path, &library));
    EXPECT_EQ(m_folder.Path() + "server.tlb", Narrow(path));
    library->Release();
    SysFreeString(path);
}

TEST_F(ModuleTypeLibraryTest, RefusesMissingOutPointersAndOverlongIndexes)
{
    BSTR path = reinterpret_cast<BSTR>(1);
    ITypeLib *library = reinterpret_cast<ITypeLib *>(1);
    EXPECT_HR(E_POINTER, LoadModuleTypeLibrary(m_module, NULL, &path, NULL));
    EXPECT_EQ(nullptr, path);
    EXPECT_HR(E_POINTER, LoadModuleTypeLibrary(m_module, NULL, NULL, &library));
    EXPECT_EQ(nullptr, library);

    std::wstring longIndex(300, L'x');
    EXPECT_HR(E_FAIL, LoadModuleTypeLibrary(m_module, longIndex.c_str(), &path, &library));
}

TEST_F(ModuleTypeLibraryTest, RegistersAndUnregistersWithoutTouchingTheInterfaceKey)
{
    AddTypeLibrary();
    // The proxy library's registration of the interface, as it would be.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CLASSES_ROOT, (kInterfaceKey + "\\ProxyStubClsid32").c_str(), 0,
                              NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(KESTOR_IID_TEXT),
                   sizeof KESTOR_IID_TEXT);
    RegCloseKey(key);
    const std::vector<std::string> interfaceBefore =
        DumpRegistryTree(HKEY_CLASSES_ROOT, kInterfaceKey);

    ASSERT_SUCCEEDED(RegisterModuleTypeLibrary(m_module, NULL));
    EXPECT_EQ("ZovKestor 1.0 Type Library",
              ReadStringValue(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0", NULL));
    EXPECT_EQ(m_folder.Path() + "server.tlb",
              ReadStringValue(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0\\0\\win32", NULL));
    EXPECT_EQ(interfaceBefore, DumpRegistryTree(HKEY_CLASSES_ROOT, kInterfaceKey));

    ASSERT_SUCCEEDED(UnregisterModuleTypeLibrary(m_module, NULL));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, (kTypeLibKey + "\\1.0").c_str()));
    EXPECT_EQ(interfaceBefore, DumpRegistryTree(HKEY_CLASSES_ROOT, kInterfaceKey));
}

TEST_F(ModuleTypeLibraryTest, WithoutTheTlbBothDirectionsReportTheLoadFailure)
{
    // What the platform says for the missing file is what comes back.
    ITypeLib *none = NULL;
    HRESULT loadFailure = LoadTypeLib(Widen(m_folder.Path() + "server.tlb").c_str(), &none);
    EXPECT_TRUE(FAILED(loadFailure));
    EXPECT_HR(loadFailure, RegisterModuleTypeLibrary(m_module, NULL));
    EXPECT_HR(loadFailure, UnregisterModuleTypeLibrary(m_module, NULL));
    EXPECT_TRUE(DumpRegistryTree(m_root.Handle(), "").empty());
}

}  // namespace
