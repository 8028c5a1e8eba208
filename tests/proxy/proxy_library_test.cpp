// KestorPr.dll as COM loads it: its entry points, the factory they hand
// out, the proxies and stubs the engine builds from the tables, and the
// version and manifest resources. Nothing here writes the registry.
#include <windows.h>
#include <objbase.h>

#include "broker/kestor_interface.h"
#include "build_version.h"
#include "proxy_test_util.h"
#include "test_hresult.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef HRESULT(STDAPICALLTYPE *GetClassObjectFn)(REFCLSID, REFIID, void **);
typedef HRESULT(STDAPICALLTYPE *PlainFn)();

// Loads the library for one test and unloads it afterwards, so that every
// test starts from a fresh load.
class ProxyLibrary : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_module = LoadLibraryA((BinDirectory() + "KestorPr.dll").c_str());
        ASSERT_NE(nullptr, m_module) << "error " << GetLastError();
        m_getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, "DllGetClassObject")));
        m_canUnloadNow = reinterpret_cast<PlainFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, "DllCanUnloadNow")));
        ASSERT_NE(nullptr, m_getClassObject);
        ASSERT_NE(nullptr, m_canUnloadNow);
    }
    void TearDown() override
    {
        if (m_module)
            FreeLibrary(m_module);
        CoUninitialize();
    }

    bool InImage(const void *p) const
    {
        const BYTE *base = reinterpret_cast<const BYTE *>(m_module);
        const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        const IMAGE_NT_HEADERS *nt =
            reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const BYTE *q = static_cast<const BYTE *>(p);
        return q >= base && q < base + nt->OptionalHeader.SizeOfImage;
    }

    IPSFactoryBuffer *Factory()
    {
        IPSFactoryBuffer *factory = nullptr;
        HRESULT hr = m_getClassObject(IID_IKestor, IID_IPSFactoryBuffer,
                                      reinterpret_cast<void **>(&factory));
        EXPECT_SUCCEEDED(hr);
        return SUCCEEDED(hr) ? factory : nullptr;
    }

    HMODULE m_module = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    PlainFn m_canUnloadNow = nullptr;
};

// The object a stub is connected to; never called here.
class Target : public IKestor
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IKestor)
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }
    HRESULT STDMETHODCALLTYPE SetSettingValue(SettingValueType, BSTR, BSTR, BSTR) override
    {
        return E_NOTIMPL;
    }
    LONG refs = 1;
};

// Controlling unknown of an aggregated proxy.
class Outer : public IUnknown
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }
    LONG refs = 1;
};

TEST_F(ProxyLibrary, UnloadableRightAfterLoad)
{
    EXPECT_HR(S_OK, m_canUnloadNow());
}

TEST_F(ProxyLibrary, NoObjectForOtherClasses)
{
    const CLSID *others[] = {&CLSID_KestorObj, &IID_IUnknown, &GUID_NULL};
    for (const CLSID *clsid : others)
    {
        void *object = reinterpret_cast<void *>(0x1234);
        EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE,
                  m_getClassObject(*clsid, IID_IPSFactoryBuffer, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_HR(S_OK, m_canUnloadNow());
}

TEST_F(ProxyLibrary, FactoryIsTheLibrarysOwnAndCounted)
{
    IPSFactoryBuffer *factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_TRUE(InImage(factory)) << "the factory is static data of the library";
    EXPECT_HR(S_FALSE, m_canUnloadNow());

    IPSFactoryBuffer *again = Factory();
    EXPECT_EQ(factory, again);
    if (again)
        again->Release();
    factory->Release();
    EXPECT_HR(S_OK, m_canUnloadNow());
}

TEST_F(ProxyLibrary, ProxyOnlyForIKestorWithStublessSlotFilled)
{
    IPSFactoryBuffer *factory = Factory();
    ASSERT_NE(nullptr, factory);
    Outer outer;

    IRpcProxyBuffer *buffer = nullptr;
    void *object = nullptr;
    EXPECT_FAILED_HR(factory->CreateProxy(&outer, IID_IUnknown, &buffer, &object));
    EXPECT_EQ(nullptr, buffer);

    ASSERT_SUCCEEDED(factory->CreateProxy(&outer, IID_IKestor, &buffer, &object));
    ASSERT_NE(nullptr, object);
    void *const *vtbl = *static_cast<void *const *const *>(object);
    EXPECT_TRUE(InImage(vtbl)) << "proxy vtable lives in the library";
    HMODULE rpcrt4 = GetModuleHandleA("rpcrt4.dll");
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(rpcrt4, "IUnknown_QueryInterface_Proxy")),
              Resolve(vtbl[0]));
    EXPECT_NE(reinterpret_cast<void *>(-1), vtbl[3]) << "marker replaced by the engine";
    EXPECT_NE(nullptr, vtbl[3]);

    static_cast<IUnknown *>(object)->Release();  // goes to the outer object
    buffer->Release();
    factory->Release();
    EXPECT_HR(S_OK, m_canUnloadNow());
}

TEST_F(ProxyLibrary, StubReleaseLetsGoOfTheFactory)
{
    IPSFactoryBuffer *factory = Factory();
    ASSERT_NE(nullptr, factory);
    Target target;

    IRpcStubBuffer *stub = reinterpret_cast<IRpcStubBuffer *>(0x1234);
    EXPECT_FAILED_HR(factory->CreateStub(IID_IUnknown, &target, &stub));

    stub = nullptr;
    ASSERT_SUCCEEDED(factory->CreateStub(IID_IKestor, &target, &stub));
    ASSERT_NE(nullptr, stub);
    EXPECT_EQ(stub, stub->IsIIDSupported(IID_IKestor));
    factory->Release();
    // The stub alone keeps the library in use...
    EXPECT_HR(S_FALSE, m_canUnloadNow());
    stub->Disconnect();
    // ...until its last Release, the library's own, hands the factory back.
    EXPECT_EQ(0u, stub->Release());
    EXPECT_HR(S_OK, m_canUnloadNow());
    EXPECT_EQ(1, target.refs);
}

std::string VersionString(const std::vector<char> &block, const char *name)
{
    std::string query = std::string("\\StringFileInfo\\040404b0\\") + name;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), &value, &length) || !value)
        return "<missing>";
    return std::string(static_cast<const char *>(value));
}

TEST(ProxyResources, VersionBlock)
{
    std::string path = BinDirectory() + "KestorPr.dll";
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, size) << "error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(BuildVersionHigh(), fixed->dwFileVersionMS);
    EXPECT_EQ(BuildVersionLow(), fixed->dwFileVersionLS);
    EXPECT_EQ(BuildVersionHigh(), fixed->dwProductVersionMS);
    EXPECT_EQ(BuildVersionLow(), fixed->dwProductVersionLS);
    EXPECT_EQ(0x17u, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);

    EXPECT_EQ("KestorPr Dynamic Link Library", VersionString(block, "FileDescription"));
    EXPECT_EQ(BuildVersionText(), VersionString(block, "FileVersion"));
    EXPECT_EQ("KestorPr", VersionString(block, "InternalName"));
    EXPECT_EQ("KestorPr.dll", VersionString(block, "OriginalFilename"));
    EXPECT_EQ(" KestorPr Dynamic Link Library", VersionString(block, "ProductName"));
    EXPECT_EQ(BuildVersionText(), VersionString(block, "ProductVersion"));

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0404, translation[0]);
    EXPECT_EQ(1200, translation[1]);
}

TEST(ProxyResources, ManifestIsResourceTwo)
{
    HMODULE module = LoadLibraryExA((BinDirectory() + "KestorPr.dll").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found);
    HGLOBAL loaded = LoadResource(module, found);
    const char *text = static_cast<const char *>(LockResource(loaded));
    std::string manifest(text, SizeofResource(module, found));
    EXPECT_NE(std::string::npos, manifest.find("<assembly "));
    EXPECT_NE(std::string::npos, manifest.find("manifestVersion=\"1.0\""));
    EXPECT_NE(std::string::npos, manifest.find("/>")) << "an empty assembly element";
    EXPECT_EQ(std::string::npos, manifest.find("<assemblyIdentity"));
    FreeLibrary(module);
}

}  // namespace
