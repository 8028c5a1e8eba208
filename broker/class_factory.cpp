#include "class_factory.h"

const InterfaceMapEntry *CComClassFactory::GetInterfaceMap()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IClassFactory, InterfaceOffset<IClassFactory, CComClassFactory>(),
         INTERFACE_MAP_SIMPLE},
        {NULL, 0, INTERFACE_MAP_END},
    };
    return table;
}

HRESULT STDMETHODCALLTYPE CComClassFactory::CreateInstance(IUnknown *outer, REFIID iid,
                                                           void **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;
    if (outer != NULL && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    if (m_instanceCreator == NULL)
        return E_UNEXPECTED;
    return m_instanceCreator(outer, iid, result);
}

HRESULT STDMETHODCALLTYPE CComClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

HRESULT WINAPI CreateClassFactory(void *argument, REFIID iid, void **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;

    CComObjectNoLock<CComClassFactory> *factory =
        new (std::nothrow) CComObjectNoLock<CComClassFactory>();
    if (factory == NULL)
        return E_OUTOFMEMORY;
    factory->m_instanceCreator = reinterpret_cast<CreatorFunction>(argument);

    HRESULT hr = factory->InitObjectLock();
    if (hr == S_OK)
        hr = factory->QueryInterface(iid, result);
    if (hr != S_OK)
    {
        *result = NULL;
        delete factory;
    }
    return hr;
}
