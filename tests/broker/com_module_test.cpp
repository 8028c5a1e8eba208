// The module chain on modules of the test's own (construction, termination,
// the global interface table, class-object registration with the real COM
// runtime), the shared interface walk, the object map and the module records.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "broker/class_factory.h"
#include "broker/kestor_obj.h"
#include "broker/object_map.h"
#include "service/service_module.h"
#include "test_hresult.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Points the process-wide module back at the real one when a test's own
// module goes.
class ModuleTest : public testing::Test
{
protected:
    void TearDown() override { g_atlModule = m_saved; }
    CAtlModule *m_saved = g_atlModule;
};

class ComApartment
{
public:
    ComApartment() : m_hr(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    HRESULT m_hr;
};

TEST_F(ModuleTest, LockCountTerminationAndReach)
{
    {
        CComModule module;
        EXPECT_EQ(&module, g_atlModule);
        EXPECT_EQ(1, module.Lock());
        EXPECT_EQ(0, module.Unlock());
        EXPECT_EQ(-1, module.Unlock());  // nothing stops an unbalanced unlock
        EXPECT_EQ(-1, module.GetLockCount());
        EXPECT_HR(E_FAIL, module.ApplyExternalRegistrarScript(101, TRUE, NULL));
        EXPECT_HR(E_FAIL, module.ApplyExternalRegistrarScriptByName(L"REGISTRY", FALSE, NULL));

        EXPECT_NE(0u, module.m_sizeWord);
        module.Term();
        EXPECT_EQ(0u, module.m_sizeWord);
        module.Term();  // once only; the destructor's call is a third
    }
    // A module that is gone is no longer reachable.
    EXPECT_EQ(nullptr, g_atlModule);
}

TEST_F(ModuleTest, GlobalInterfaceTableIsCachedOnlyOnSuccess)
{
    CComModule module;
    IGlobalInterfaceTable *first = reinterpret_cast<IGlobalInterfaceTable *>(0x1000);
    // Without COM on the thread the creation fails and nothing is kept.
    EXPECT_TRUE(FAILED(module.GetGlobalInterfaceTable(&first)));
    EXPECT_EQ(nullptr, first);
    EXPECT_EQ(nullptr, module.m_globalInterfaceTable);

    ComApartment com;
    ASSERT_SUCCEEDED(com.m_hr);
    EXPECT_HR(E_POINTER, module.GetGlobalInterfaceTable(NULL));
    ASSERT_SUCCEEDED(module.GetGlobalInterfaceTable(&first));
    IGlobalInterfaceTable *second = NULL;
    ASSERT_SUCCEEDED(module.GetGlobalInterfaceTable(&second));
    EXPECT_EQ(first, second);
    first->Release();
    second->Release();
    // Termination gives the cached reference back.
    module.Term();
    EXPECT_EQ(nullptr, module.m_globalInterfaceTable);
}

// A module whose registration slot records its calls instead.
class RecordingModule : public CComModule
{
public:
    HRESULT ApplyRegistryScript(UINT resourceId, BOOL registerScript,
                                const ReplacementEntry *extra) override
    {
        m_calls.push_back(resourceId);
        m_calls.push_back(registerScript);
        EXPECT_EQ(nullptr, extra);
        return S_FALSE;
    }
    std::vector<UINT> m_calls;
};

TEST_F(ModuleTest, ObjectMapRowRegistersThroughTheClassScript)
{
    ASSERT_EQ(nullptr, g_objectMap[1].clsid);  // one row and the end
    RecordingModule module;
    EXPECT_HR(S_FALSE, g_objectMap[0].updateRegistry(TRUE));
    EXPECT_HR(S_FALSE, g_objectMap[0].updateRegistry(FALSE));
    EXPECT_EQ((std::vector<UINT>{101, TRUE, 101, FALSE}), module.m_calls);
    EXPECT_EQ(nullptr, g_objectMap[0].getCategoryMap());
}

int g_objectMainCalls[2];

void WINAPI CountObjectMain0(bool starting)
{
    EXPECT_TRUE(starting);
    EXPECT_EQ(0, g_objectMainCalls[1]);  // rows are visited in map order
    ++g_objectMainCalls[0];
}

void WINAPI CountObjectMain1(bool starting)
{
    EXPECT_TRUE(starting);
    ++g_objectMainCalls[1];
}

TEST_F(ModuleTest, ServiceModuleInitialisation)
{
    static const GUID libid = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ObjectMapEntry map[3] = {};
    map[0].clsid = &CLSID_KestorObj;
    map[0].objectMain = CountObjectMain0;
    map[1].clsid = &IID_IKestor;
    map[1].objectMain = CountObjectMain1;

    CServiceModule module{};
    module.m_loopThreadId = 77;  // set by the run loop, left alone here
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    module.InitServiceModule(map, instance, 100, &libid);

    EXPECT_EQ(1, g_objectMainCalls[0]);
    EXPECT_EQ(1, g_objectMainCalls[1]);
    EXPECT_EQ(map, module.m_objectMap);
    EXPECT_TRUE(IsEqualGUID(libid, module.m_libid));
    EXPECT_STREQ("KestorBrokerTest", module.m_serviceName);
    EXPECT_TRUE(module.m_isService);
    EXPECT_EQ(77u, module.m_loopThreadId);
    const SERVICE_STATUS initial = {
        SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(&initial, &module.m_status, sizeof initial));

    // A missing string leaves the name empty.
    module.InitServiceModule(map + 2, instance, 4321, &libid);
    EXPECT_STREQ("", module.m_serviceName);
}

// Class-object creator that keeps a reference of the test's own on each
// factory it makes, so the test can see who else still holds one.
std::vector<IUnknown *> g_madeFactories;

HRESULT WINAPI WatchedClassFactory(void *argument, REFIID iid, void **result)
{
    HRESULT hr = CreateClassFactory(argument, iid, result);
    if (SUCCEEDED(hr))
    {
        IUnknown *factory = static_cast<IUnknown *>(*result);
        factory->AddRef();
        g_madeFactories.push_back(factory);
    }
    return hr;
}

int g_failingCreatorCalls = 0;

HRESULT WINAPI FailingClassFactory(void *, REFIID, void **result)
{
    ++g_failingCreatorCalls;
    *result = NULL;
    return E_OUTOFMEMORY;
}

class ClassObjectTest : public ModuleTest
{
protected:
    void SetUp() override
    {
        ASSERT_SUCCEEDED(m_com.m_hr);
        g_madeFactories.clear();
        g_failingCreatorCalls = 0;
    }

    // Releases the test's own reference; 0 means nobody else holds one.
    static ULONG ReleaseWatched(size_t index) { return g_madeFactories.at(index)->Release(); }

    ComApartment m_com;
    CComModule m_module;
};

TEST_F(ClassObjectTest, RegisteredFactoryServesActivationUntilRevoked)
{
    ObjectMapEntry map[2] = {g_objectMap[0], {}};
    map[0].getClassObject = WatchedClassFactory;
    map[0].registerCookie = 0;
    m_module.InitComModule(map, NULL, NULL);

    ASSERT_SUCCEEDED(m_module.RegisterClassObjects(CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                                   REGCLS_MULTIPLEUSE));
    EXPECT_NE(0u, map[0].registerCookie);
    ASSERT_EQ(1u, g_madeFactories.size());

    // COM hands out the registered factory, which makes working objects.
    IClassFactory *factory = NULL;
    ASSERT_SUCCEEDED(CoGetClassObject(CLSID_KestorObj, CLSCTX_LOCAL_SERVER, NULL, IID_IClassFactory,
                                      reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(static_cast<void *>(g_madeFactories[0]), static_cast<void *>(factory));
    IKestor *object = NULL;
    ASSERT_SUCCEEDED(
        factory->CreateInstance(NULL, IID_IKestor, reinterpret_cast<void **>(&object)));
    EXPECT_EQ(1, m_module.GetLockCount());
    object->Release();
    EXPECT_EQ(0, m_module.GetLockCount());
    factory->Release();

    const DWORD cookie = map[0].registerCookie;
    EXPECT_SUCCEEDED(m_module.RevokeClassObjects());
    EXPECT_EQ(cookie, map[0].registerCookie);
    // COM dropped its reference and registration kept no local one.
    EXPECT_EQ(0u, ReleaseWatched(0));
}

TEST_F(ClassObjectTest, RegistrationStopsAtTheFirstFailingRow)
{
    ObjectMapEntry map[4] = {g_objectMap[0], g_objectMap[0], g_objectMap[0], {}};
    map[0].getClassObject = NULL;  // skipped as a success
    map[0].registerCookie = 0;
    map[1].getClassObject = FailingClassFactory;
    map[1].registerCookie = 0;
    map[2].getClassObject = WatchedClassFactory;
    map[2].registerCookie = 0;
    m_module.InitComModule(map, NULL, NULL);

    EXPECT_HR(E_OUTOFMEMORY,
              m_module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE));
    EXPECT_EQ(1, g_failingCreatorCalls);
    EXPECT_TRUE(g_madeFactories.empty());
    EXPECT_EQ(0u, map[1].registerCookie);
    EXPECT_SUCCEEDED(m_module.RevokeClassObjects());  // no cookies: nothing to do
}

TEST_F(ModuleTest, RefusedRegistrationDestroysTheNewFactory)
{
    // Without COM on this thread the registration is refused.
    g_madeFactories.clear();
    ObjectMapEntry map[2] = {g_objectMap[0], {}};
    map[0].getClassObject = WatchedClassFactory;
    map[0].registerCookie = 0;
    CComModule module;
    module.InitComModule(map, NULL, NULL);
    EXPECT_HR(CO_E_NOTINITIALIZED,
              module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE));
    EXPECT_EQ(0u, map[0].registerCookie);
    ASSERT_EQ(1u, g_madeFactories.size());
    EXPECT_EQ(0u, g_madeFactories[0]->Release());
}

TEST_F(ClassObjectTest, RevocationStopsAtTheFirstFailure)
{
    ObjectMapEntry map[3] = {g_objectMap[0], g_objectMap[0], {}};
    map[0].getClassObject = WatchedClassFactory;
    map[0].registerCookie = 0;
    ASSERT_SUCCEEDED(
        CComModule::RegisterClassObject(&map[0], CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE));
    const DWORD good = map[0].registerCookie;

    // A first row with a cookie COM never issued stops the walk before the
    // registered one.
    ObjectMapEntry bogus[3] = {g_objectMap[0], map[0], {}};
    bogus[0].registerCookie = good + 1000;
    m_module.InitComModule(bogus, NULL, NULL);
    EXPECT_TRUE(FAILED(m_module.RevokeClassObjects()));
    EXPECT_EQ(1u, ReleaseWatched(0));  // COM still holds the factory
    g_madeFactories[0]->AddRef();

    EXPECT_SUCCEEDED(CComModule::RevokeClassObject(&map[0]));
    EXPECT_EQ(0u, ReleaseWatched(0));
    // An unset cookie is left alone.
    map[1].registerCookie = 0;
    EXPECT_SUCCEEDED(CComModule::RevokeClassObject(&map[1]));
}

// Two interfaces at different offsets within one object.
struct TwoFaced
{
    struct Face : IUnknown
    {
        STDMETHOD(QueryInterface)(REFIID, void **) override { return E_NOTIMPL; }
        STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
        STDMETHOD_(ULONG, Release)() override { return --refs; }
        ULONG refs = 0;
    };
    int padding[3];
    Face first;
    Face second;
};

TEST(InterfaceWalk, AnswersByOffsetAndComparesWholeIdentifiers)
{
    static const IID kFirst = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    static const IID kSecond = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
    static const IID kThird = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};
    TwoFaced object;
    const BYTE *start = reinterpret_cast<const BYTE *>(&object);
    const InterfaceMapEntry table[] = {
        {&kFirst, static_cast<DWORD_PTR>(reinterpret_cast<const BYTE *>(&object.first) - start),
         INTERFACE_MAP_SIMPLE},
        {&kSecond, static_cast<DWORD_PTR>(reinterpret_cast<const BYTE *>(&object.second) - start),
         INTERFACE_MAP_SIMPLE},
        {NULL, 0, INTERFACE_MAP_END},
    };

    void *result = NULL;
    ASSERT_SUCCEEDED(InternalQueryInterface(&object, table, kSecond, &result));
    EXPECT_EQ(&object.second, result);
    EXPECT_EQ(1u, object.second.refs);
    ASSERT_SUCCEEDED(InternalQueryInterface(&object, table, IID_IUnknown, &result));
    EXPECT_EQ(&object.first, result);
    EXPECT_EQ(1u, object.first.refs);

    result = &object;
    EXPECT_HR(E_NOINTERFACE, InternalQueryInterface(&object, table, kThird, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_HR(E_POINTER, InternalQueryInterface(&object, table, kFirst, NULL));
    const InterfaceMapEntry empty[] = {{NULL, 0, INTERFACE_MAP_END}};
    EXPECT_HR(E_NOINTERFACE, InternalQueryInterface(&object, empty, IID_IUnknown, &result));
    // Refusals took no reference.
    EXPECT_EQ(1u, object.first.refs);
    EXPECT_EQ(1u, object.second.refs);
}

TEST(ModuleRecords, HoldThisImage)
{
    // Registration finds the program's resources through this handle.
    EXPECT_EQ(GetModuleHandleA(NULL), g_baseModuleRecord.m_instance);
    EXPECT_EQ(g_comModuleRecord.m_autoObjectsBegin, g_comModuleRecord.m_autoObjectsEnd);
}

}  // namespace
