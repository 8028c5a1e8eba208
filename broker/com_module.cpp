// The module chain's own bodies: construction and termination, the lock
// count, the global interface table and class-object registration. The
// registration slots live in registrar/.
#include "com_module.h"

CAtlModule *g_atlModule = NULL;

CAtlModule::CAtlModule() : m_sizeWord(0), m_lockCount(0)
{
    g_atlModule = this;
    // The size word doubles as "the critical section exists": termination
    // deletes it only then.
    if (InitializeCriticalSectionEx(&m_moduleLock, 0, 0))
        m_sizeWord = sizeof(CAtlModule);
}

CAtlModule::~CAtlModule()
{
    Term();
    // Nothing may reach a module that is gone.
    if (g_atlModule == this)
        g_atlModule = NULL;
}

void CAtlModule::Term()
{
    if (m_sizeWord == 0)
        return;
    DeleteCriticalSection(&m_moduleLock);
    m_sizeWord = 0;
}

LONG CAtlModule::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CAtlModule::Unlock()
{
    return InterlockedDecrement(&m_lockCount);
}

LONG CAtlModule::GetLockCount()
{
    return m_lockCount;
}

HRESULT CAtlModule::ApplyExternalRegistrarScriptByName(LPCOLESTR, BOOL, const ReplacementEntry *)
{
    return E_FAIL;
}

HRESULT CAtlModule::ApplyExternalRegistrarScript(UINT, BOOL, const ReplacementEntry *)
{
    return E_FAIL;
}

CComModule::CComModule() : m_globalInterfaceTable(NULL), m_objectMap(NULL), m_libid(GUID_NULL)
{}

CComModule::~CComModule()
{
    Term();
}

void CComModule::Term()
{
    if (m_sizeWord == 0)
        return;
    IGlobalInterfaceTable *table = m_globalInterfaceTable;
    m_globalInterfaceTable = NULL;
    if (table != NULL)
        table->Release();
    CAtlModule::Term();
}

HRESULT CComModule::InitComModule(ObjectMapEntry *objectMap, HINSTANCE, const GUID *libid)
{
    if (libid != NULL)
        m_libid = *libid;
    m_objectMap = objectMap;
    if (objectMap != NULL)
    {
        for (ObjectMapEntry *row = objectMap; row->clsid != NULL; ++row)
        {
            if (row->objectMain != NULL)
                row->objectMain(true);
        }
    }
    return S_OK;
}

HRESULT CComModule::GetGlobalInterfaceTable(IGlobalInterfaceTable **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;

    HRESULT hr = S_OK;
    if (m_globalInterfaceTable == NULL)
    {
        IGlobalInterfaceTable *created = NULL;
        hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, NULL, CLSCTX_INPROC_SERVER,
                              IID_IGlobalInterfaceTable, reinterpret_cast<void **>(&created));
        if (FAILED(hr))
            return hr;
        // Two first callers on different threads must not leak one table.
        if (InterlockedCompareExchangePointer(reinterpret_cast<void **>(&m_globalInterfaceTable),
                                              created, NULL) != NULL)
            created->Release();
    }
    *result = m_globalInterfaceTable;
    (*result)->AddRef();
    return hr;
}

HRESULT CComModule::RegisterClassObjects(DWORD classContext, DWORD flags)
{
    HRESULT hr = S_OK;
    if (m_objectMap == NULL)
        return hr;
    for (ObjectMapEntry *row = m_objectMap; row->clsid != NULL && hr == S_OK; ++row)
        hr = RegisterClassObject(row, classContext, flags);
    return hr;
}

HRESULT CComModule::RevokeClassObjects()
{
    HRESULT hr = S_OK;
    if (m_objectMap == NULL)
        return hr;
    for (ObjectMapEntry *row = m_objectMap; row->clsid != NULL && hr == S_OK; ++row)
        hr = RevokeClassObject(row);
    return hr;
}

HRESULT CComModule::RegisterClassObject(ObjectMapEntry *row, DWORD classContext, DWORD flags)
{
    if (row->getClassObject == NULL)
        return S_OK;

    IUnknown *factory = NULL;
    HRESULT hr = row->getClassObject(reinterpret_cast<void *>(row->createInstance), IID_IUnknown,
                                     reinterpret_cast<void **>(&factory));
    if (SUCCEEDED(hr))
        hr = CoRegisterClassObject(*row->clsid, factory, classContext, flags, &row->registerCookie);
    // COM's own reference, when it took one, is the only one left.
    if (factory != NULL)
        factory->Release();
    return hr;
}

HRESULT CComModule::RevokeClassObject(ObjectMapEntry *row)
{
    if (row->registerCookie == 0)
        return S_OK;
    return CoRevokeClassObject(row->registerCookie);
}
