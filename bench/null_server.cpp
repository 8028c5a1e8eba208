// KestorNullServer.exe: a local server that does nothing but what every COM
// local server must do (apartment, class object, message loop, end with the
// last object). It answers IKestor through the same proxy/stub and stores
// nothing, so its cold activation and its calls are the yardstick the
// benchmark holds ZovKestor against.
#include <windows.h>

#include <new>

// This program does not link the broker's library: it defines the
// interface identities itself.
#include <initguid.h>

#include "bench/null_server.h"
#include "broker/kestor_interface.h"

namespace {

DWORD g_loopThread;
LONG g_objects;

class NullObject : public IKestor
{
public:
    NullObject() : m_refs(1) { InterlockedIncrement(&g_objects); }
    virtual ~NullObject()
    {
        if (InterlockedDecrement(&g_objects) == 0)
            PostThreadMessageA(g_loopThread, WM_QUIT, 0, 0);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **result) override
    {
        if (result == NULL)
            return E_POINTER;
        *result = NULL;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IKestor))
            return E_NOINTERFACE;
        AddRef();
        *result = static_cast<IKestor *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE SetSettingValue(SettingValueType, BSTR, BSTR, BSTR) override
    {
        return S_OK;
    }

private:
    LONG m_refs;
};

class NullFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **result) override
    {
        if (result == NULL)
            return E_POINTER;
        *result = NULL;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return E_NOINTERFACE;
        *result = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    // Static object: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **result) override
    {
        if (result == NULL)
            return E_POINTER;
        *result = NULL;
        if (outer != NULL)
            return CLASS_E_NOAGGREGATION;
        NullObject *object = new (std::nothrow) NullObject();
        if (object == NULL)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(iid, result);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

NullFactory g_factory;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    g_loopThread = GetCurrentThreadId();
    CoInitialize(NULL);
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_KestorNullServer, &g_factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr))
    {
        MSG message;
        while (GetMessageA(&message, NULL, 0, 0) > 0)
            DispatchMessageA(&message);
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : hr;
}
