// Lock counting and lifetime of the settings object and its class factory,
// with the process's own module in local-server and in service mode, and the
// idle end of an unused local server. The test thread stands in for the run
// loop: the module's idle notice and WM_QUIT are looked for in its queue.
#include <gtest/gtest.h>

#include "broker/class_factory.h"
#include "broker/kestor_obj.h"
#include "broker/object_map.h"
#include "service/idle_end.h"
#include "service/service_module.h"
#include "test_hresult.h"

namespace {

// Any non-null pointer will do as an outer object: it must never be used.
IUnknown *const kOuter = reinterpret_cast<IUnknown *>(0x1000);
void *const kGarbage = reinterpret_cast<void *>(0xBAADF00D);

class LifetimeTest : public testing::Test
{
protected:
    void SetUp() override
    {
        MSG msg;
        // Gives the thread its queue, then drops anything an earlier test left.
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        Posted(WM_SERVER_IDLE);
        Posted(WM_QUIT);

        ASSERT_EQ(&g_serviceModule, g_atlModule);
        m_savedIsService = g_serviceModule.m_isService;
        m_savedThread = g_serviceModule.m_loopThreadId;
        g_serviceModule.m_isService = FALSE;
        g_serviceModule.m_loopThreadId = GetCurrentThreadId();
        ASSERT_EQ(0, g_serviceModule.GetLockCount());

        ASSERT_SUCCEEDED(CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj),
                                            IID_IClassFactory,
                                            reinterpret_cast<void **>(&m_factory)));
    }

    void TearDown() override
    {
        if (m_factory != NULL)
        {
            EXPECT_EQ(0u, m_factory->Release());
        }
        EXPECT_EQ(0, g_serviceModule.GetLockCount());
        g_serviceModule.m_isService = m_savedIsService;
        g_serviceModule.m_loopThreadId = m_savedThread;
        Posted(WM_SERVER_IDLE);
        Posted(WM_QUIT);
    }

    // Removes and counts the messages of that kind waiting in this thread's
    // queue. The last release of a local server posts the idle notice and
    // never WM_QUIT itself: the loop ends it later (IdleEndTest below).
    static int Posted(UINT message)
    {
        int count = 0;
        MSG msg;
        while (PeekMessageA(&msg, NULL, message, message, PM_REMOVE))
        {
            EXPECT_EQ(0u, msg.wParam);
            EXPECT_EQ(0, msg.lParam);
            ++count;
        }
        return count;
    }

    IKestor *NewObject()
    {
        IKestor *object = NULL;
        EXPECT_SUCCEEDED(
            m_factory->CreateInstance(NULL, IID_IKestor, reinterpret_cast<void **>(&object)));
        return object;
    }

    IClassFactory *m_factory = NULL;
    BOOL m_savedIsService = FALSE;
    DWORD m_savedThread = 0;
};

TEST_F(LifetimeTest, EachObjectHoldsOneLockAndTheLastReleaseTellsALocalServerItIsIdle)
{
    EXPECT_EQ(0, g_serviceModule.GetLockCount());  // the factory holds none

    IKestor *first = NewObject();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(1, g_serviceModule.GetLockCount());
    IKestor *second = NewObject();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(2, g_serviceModule.GetLockCount());

    // References move the object's count, never the module's.
    EXPECT_EQ(2u, first->AddRef());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(2, g_serviceModule.GetLockCount());

    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(1, g_serviceModule.GetLockCount());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));

    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(1, Posted(WM_SERVER_IDLE));
    EXPECT_EQ(0, Posted(WM_QUIT));
}

TEST_F(LifetimeTest, ServiceModeIgnoresTheCount)
{
    g_serviceModule.m_isService = TRUE;
    IKestor *object = NewObject();
    ASSERT_NE(nullptr, object);
    ASSERT_SUCCEEDED(m_factory->LockServer(TRUE));
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    object->Release();
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));
    EXPECT_EQ(0, Posted(WM_QUIT));
}

TEST_F(LifetimeTest, LockServerKeepsALocalServerAliveUntilUnlocked)
{
    ASSERT_SUCCEEDED(m_factory->LockServer(TRUE));
    EXPECT_EQ(1, g_serviceModule.GetLockCount());
    IKestor *object = NewObject();
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(2, g_serviceModule.GetLockCount());
    object->Release();
    EXPECT_EQ(1, g_serviceModule.GetLockCount());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));

    // Any nonzero flag locks.
    ASSERT_SUCCEEDED(m_factory->LockServer(2));
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(1, Posted(WM_SERVER_IDLE));
}

TEST_F(LifetimeTest, UnbalancedUnlockGoesNegativeAndPostsNothing)
{
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(-1, g_serviceModule.GetLockCount());
    // The server no longer ends when its objects go: -1 -> 0 -> -1.
    IKestor *object = NewObject();
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    object->Release();
    EXPECT_EQ(-1, g_serviceModule.GetLockCount());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));

    g_serviceModule.Lock();
}

TEST_F(LifetimeTest, AggregationIsRefusedForEveryInterfaceWithoutALock)
{
    for (const IID *iid : {&IID_IUnknown, &IID_IKestor, &IID_IClassFactory, &IID_IDispatch})
    {
        void *result = kGarbage;
        EXPECT_HR(CLASS_E_NOAGGREGATION, m_factory->CreateInstance(kOuter, *iid, &result));
        EXPECT_EQ(nullptr, result);
        result = kGarbage;
        EXPECT_HR(CLASS_E_NOAGGREGATION, CreateKestorObj(kOuter, *iid, &result));
        EXPECT_EQ(nullptr, result);
    }
    EXPECT_HR(E_POINTER, CreateKestorObj(kOuter, IID_IUnknown, NULL));
    EXPECT_HR(E_POINTER, m_factory->CreateInstance(kOuter, IID_IUnknown, NULL));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));
}

TEST_F(LifetimeTest, UnknownInterfaceDestroysTheNewObjectAgain)
{
    for (const IID *iid : {&IID_IClassFactory, &IID_IDispatch, &IID_IMarshal})
    {
        void *result = kGarbage;
        EXPECT_HR(E_NOINTERFACE, m_factory->CreateInstance(NULL, *iid, &result));
        EXPECT_EQ(nullptr, result);
        EXPECT_EQ(0, g_serviceModule.GetLockCount());
        // The object existed for a moment: its release was the last one.
        EXPECT_EQ(1, Posted(WM_SERVER_IDLE));
    }
    EXPECT_HR(E_POINTER, m_factory->CreateInstance(NULL, IID_IKestor, NULL));
    EXPECT_HR(E_POINTER, CreateKestorObj(NULL, IID_IKestor, NULL));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
}

TEST_F(LifetimeTest, ObjectAnswersIUnknownAndIKestorWithOnePointer)
{
    IUnknown *unknown = NULL;
    ASSERT_SUCCEEDED(
        m_factory->CreateInstance(NULL, IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    IKestor *kestor = NULL;
    ASSERT_SUCCEEDED(unknown->QueryInterface(IID_IKestor, reinterpret_cast<void **>(&kestor)));
    EXPECT_EQ(static_cast<void *>(unknown), static_cast<void *>(kestor));
    IUnknown *again = NULL;
    ASSERT_SUCCEEDED(kestor->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&again)));
    EXPECT_EQ(unknown, again);
    EXPECT_EQ(4u, again->AddRef());
    again->Release();

    void *result = kGarbage;
    EXPECT_HR(E_NOINTERFACE, kestor->QueryInterface(IID_IClassFactory, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_HR(E_POINTER, kestor->QueryInterface(IID_IKestor, NULL));

    again->Release();
    kestor->Release();
    EXPECT_EQ(0u, unknown->Release());
}

TEST_F(LifetimeTest, FactoryAnswersOnlyIUnknownAndIClassFactory)
{
    IUnknown *unknown = NULL;
    ASSERT_SUCCEEDED(m_factory->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    EXPECT_EQ(static_cast<void *>(m_factory), static_cast<void *>(unknown));
    unknown->Release();
    IClassFactory *same = NULL;
    ASSERT_SUCCEEDED(
        m_factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void **>(&same)));
    EXPECT_EQ(m_factory, same);
    EXPECT_EQ(1u, same->Release());

    for (const IID *iid : {&IID_IKestor, &IID_IDispatch, &IID_IMarshal, &IID_IPersist})
    {
        void *result = kGarbage;
        EXPECT_HR(E_NOINTERFACE, m_factory->QueryInterface(*iid, &result));
        EXPECT_EQ(nullptr, result);
    }
    EXPECT_HR(E_POINTER, m_factory->QueryInterface(IID_IUnknown, NULL));
}

TEST_F(LifetimeTest, FactoryCreationTakesNoLockAndRefusesWhatItIsNot)
{
    void *result = kGarbage;
    EXPECT_HR(E_NOINTERFACE,
              CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj), IID_IKestor, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_HR(E_POINTER, CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj),
                                            IID_IClassFactory, NULL));

    IUnknown *factory = NULL;
    ASSERT_SUCCEEDED(CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj), IID_IUnknown,
                                        reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0, Posted(WM_SERVER_IDLE));
}

// The run loop's part of a local server's end, with periods short enough for
// a test. The module serves a class of the test's own, registered with COM
// in this thread's apartment as the run loop registers KestorObj.
const CLSID kIdleTestClass = {
    0x6a1c9e2b, 0x3f0d, 0x4e58, {0x9b, 0x7a, 0x2c, 0x4d, 0x5e, 0x6f, 0x70, 0x81}};
const DWORD kTestIdleMs = 50;
const DWORD kTestGraceMs = 100;

class IdleEndTest : public LifetimeTest
{
protected:
    void SetUp() override
    {
        LifetimeTest::SetUp();
        ASSERT_SUCCEEDED(m_com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED));
        m_map[0] = g_objectMap[0];
        m_map[0].clsid = &kIdleTestClass;
        m_map[0].registerCookie = 0;
        m_savedMap = g_serviceModule.m_objectMap;
        g_serviceModule.m_objectMap = m_map;
        ASSERT_SUCCEEDED(
            g_serviceModule.RegisterClassObjects(kClassObjectContext, kClassObjectFlags));
    }

    void TearDown() override
    {
        if (!m_idle.Withdrawn())
            g_serviceModule.RevokeClassObjects();
        g_serviceModule.m_objectMap = m_savedMap;
        if (SUCCEEDED(m_com))
            CoUninitialize();
        LifetimeTest::TearDown();
    }

    enum Outcome
    {
        TIMED_OUT,
        WITHDREW,
        QUIT
    };

    // Runs this thread's loop for up to ms, offering every message to the
    // idle end first, until the loop would end (WM_QUIT) or, when asked,
    // until the class objects are withdrawn.
    Outcome Pump(DWORD ms, bool untilWithdrawn = false)
    {
        const DWORD start = GetTickCount();
        do
        {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            {
                if (msg.message == WM_QUIT)
                    return QUIT;
                if (!m_idle.Handle(msg))
                    DispatchMessageA(&msg);
            }
            if (untilWithdrawn && m_idle.Withdrawn())
                return WITHDREW;
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        } while (GetTickCount() - start < ms);
        return TIMED_OUT;
    }

    // What COM answers a new client of the class now.
    static bool ClassOffered()
    {
        IClassFactory *factory = NULL;
        HRESULT hr = CoGetClassObject(kIdleTestClass, CLSCTX_LOCAL_SERVER, NULL, IID_IClassFactory,
                                      reinterpret_cast<void **>(&factory));
        if (SUCCEEDED(hr))
            factory->Release();
        return SUCCEEDED(hr);
    }

    HRESULT m_com = E_FAIL;
    ObjectMapEntry m_map[2] = {};
    ObjectMapEntry *m_savedMap = NULL;
    CIdleEnd m_idle{g_serviceModule, kTestIdleMs, kTestGraceMs};
};

TEST_F(IdleEndTest, AServerComStartedThatNoClientReachesWithdrawsThenEnds)
{
    m_idle.Begin(true);
    EXPECT_TRUE(ClassOffered());
    ASSERT_EQ(WITHDREW, Pump(5000, true));
    EXPECT_FALSE(ClassOffered());
    EXPECT_EQ(QUIT, Pump(5000));
    EXPECT_TRUE(m_idle.Withdrawn());
}

TEST_F(IdleEndTest, ServerStartedByHandWaitsAndALockCallsTheEndOff)
{
    m_idle.Begin(false);
    EXPECT_EQ(TIMED_OUT, Pump(2 * (kTestIdleMs + kTestGraceMs), true));

    // A client comes and goes: the idle period starts, and a lock taken in it
    // keeps the server, registered, for as long as it is held.
    NewObject()->Release();
    ASSERT_SUCCEEDED(m_factory->LockServer(TRUE));
    EXPECT_EQ(TIMED_OUT, Pump(2 * (kTestIdleMs + kTestGraceMs), true));
    EXPECT_TRUE(ClassOffered());
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(WITHDREW, Pump(5000, true));
    EXPECT_EQ(QUIT, Pump(5000));
}

TEST_F(IdleEndTest, AClientThatReachesTheWithdrawnServerKeepsIt)
{
    m_idle.Begin(true);
    ASSERT_EQ(WITHDREW, Pump(5000, true));
    // It was handed the class object before the withdrawal.
    IKestor *object = NewObject();
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(TIMED_OUT, Pump(2 * (kTestIdleMs + kTestGraceMs)));
    EXPECT_FALSE(m_idle.Withdrawn());
    EXPECT_TRUE(ClassOffered());
    object->Release();
    EXPECT_EQ(WITHDREW, Pump(5000, true));
    EXPECT_EQ(QUIT, Pump(5000));
}

}  // namespace
