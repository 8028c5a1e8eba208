#include "bench/null_class.h"

#include <new>

// These programs do not link the broker's library: they define the
// interface identities themselves.
#include <initguid.h>

#include "broker/kestor_interface.h"

namespace {

DWORD g_quitThread;
LONG g_objects;

class NullObject : public IKestor
{
public:
    NullObject() : m_refs(1) { InterlockedIncrement(&g_objects); }
    virtual ~NullObject()
    {
        if (InterlockedDecrement(&g_objects) == 0 && g_quitThread != 0)
            PostThreadMessageA(g_quitThread, WM_QUIT, 0, 0);
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

HRESULT RegisterNullClass(REFCLSID clsid, DWORD *cookie)
{
    return CoRegisterClassObject(clsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                 cookie);
}

void EndWithLastObject(DWORD loopThreadId)
{
    g_quitThread = loopThreadId;
}
