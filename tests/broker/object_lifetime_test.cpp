// Lock counting and lifetime of the settings object and its class factory,
// with the process's own module in local-server and in service mode. The
// test thread stands in for the run loop: WM_QUIT is looked for in its
// queue.
#include <gtest/gtest.h>

#include "broker/class_factory.h"
#include "broker/kestor_obj.h"
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
        QuitMessagesPosted();

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
        QuitMessagesPosted();
    }

    // Removes and counts the WM_QUIT messages waiting in this thread's queue.
    static int QuitMessagesPosted()
    {
        int count = 0;
        MSG msg;
        while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
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

TEST_F(LifetimeTest, EachObjectHoldsOneLockAndTheLastReleaseEndsALocalServer)
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
    EXPECT_EQ(0, QuitMessagesPosted());

    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(1, QuitMessagesPosted());
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
    EXPECT_EQ(0, QuitMessagesPosted());
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
    EXPECT_EQ(0, QuitMessagesPosted());

    // Any nonzero flag locks.
    ASSERT_SUCCEEDED(m_factory->LockServer(2));
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(0, QuitMessagesPosted());
    ASSERT_SUCCEEDED(m_factory->LockServer(FALSE));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(1, QuitMessagesPosted());
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
    EXPECT_EQ(0, QuitMessagesPosted());

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
    EXPECT_EQ(0, QuitMessagesPosted());
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
        EXPECT_EQ(1, QuitMessagesPosted());
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
    EXPECT_HR(E_NOINTERFACE, CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj),
                                                IID_IKestor, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_HR(E_POINTER, CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj),
                                            IID_IClassFactory, NULL));

    IUnknown *factory = NULL;
    ASSERT_SUCCEEDED(CreateClassFactory(reinterpret_cast<void *>(&CreateKestorObj), IID_IUnknown,
                                        reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(0, g_serviceModule.GetLockCount());
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0, QuitMessagesPosted());
}

}  // namespace
