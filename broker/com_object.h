// Object roots and the creatable wrappers of the broker's COM objects.
//
// A class T derives from CComObjectRootEx<CComMultiThreadModel> (reference
// count, object lock) and from its interfaces, and names its interface table
// with a static GetInterfaceMap(). CComObject<T> adds IUnknown, a virtual
// destructor and one module lock for its lifetime; CComObjectNoLock<T> is the
// same without the module lock (the class factory's form).
#ifndef KESTOR_BROKER_COM_OBJECT_H
#define KESTOR_BROKER_COM_OBJECT_H

#include <windows.h>

#include <new>

#include "com_module.h"

// Reference counts of objects that may be reached from several threads.
class CComMultiThreadModel
{
public:
    static LONG Increment(LONG *value) { return InterlockedIncrement(value); }
    static LONG Decrement(LONG *value) { return InterlockedDecrement(value); }
};

// Written into the count of an object being destroyed, so a stray AddRef or
// Release on it can never reach 0 again.
const LONG DESTROYED_REFERENCE_COUNT = static_cast<LONG>(0xC0000001u);

// A critical section with a flag that says whether it was initialised, so
// that destruction deletes only what initialisation created.
struct CComFlaggedCriticalSection
{
    CRITICAL_SECTION m_section;
    bool m_initialised;

    void Clear()
    {
        ZeroMemory(&m_section, sizeof m_section);
        m_initialised = false;
    }

    // InitializeCriticalSectionEx can report low memory where the plain form
    // cannot; that failure becomes E_OUTOFMEMORY.
    HRESULT Init()
    {
        if (!InitializeCriticalSectionEx(&m_section, 0, 0))
            return E_OUTOFMEMORY;
        m_initialised = true;
        return S_OK;
    }

    void Term()
    {
        if (m_initialised)
        {
            DeleteCriticalSection(&m_section);
            m_initialised = false;
        }
    }
};

class CComObjectRootBase
{
public:
    static HRESULT WINAPI QueryThroughMap(void *object, const InterfaceMapEntry *table, REFIID iid,
                                          void **result)
    {
        return ::InternalQueryInterface(object, table, iid, result);
    }
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase
{
public:
    CComObjectRootEx() : m_refCount(0) { m_objectLock.Clear(); }

    LONG InternalAddRef() { return ThreadModel::Increment(&m_refCount); }
    LONG InternalRelease() { return ThreadModel::Decrement(&m_refCount); }

    HRESULT InitObjectLock() { return m_objectLock.Init(); }
    void TermObjectLock() { m_objectLock.Term(); }

    LONG m_refCount;
    CComFlaggedCriticalSection m_objectLock;
};

// Identity of a creatable class.
template <class T, const CLSID *classId>
class CComCoClass
{
public:
    static const CLSID &GetObjectCLSID() { return *classId; }
};

// Offset of interface I within class T, for interface tables.
template <class I, class T>
DWORD_PTR InterfaceOffset()
{
    // Any suitably aligned non-null address works: only the difference counts.
    const DWORD_PTR base = 0x100;
    return reinterpret_cast<DWORD_PTR>(static_cast<I *>(reinterpret_cast<T *>(base))) - base;
}

// A process without a module (a tool linking the broker alone) has no lock
// count to keep.
inline void ModuleLock()
{
    if (g_atlModule != NULL)
        g_atlModule->Lock();
}

inline void ModuleUnlock()
{
    if (g_atlModule != NULL)
        g_atlModule->Unlock();
}

// IUnknown over Base's interface table, without a module lock: the class
// factory's form.
template <class Base>
class CComObjectNoLock : public Base
{
public:
    CComObjectNoLock() {}

    virtual ~CComObjectNoLock()
    {
        this->m_refCount = DESTROYED_REFERENCE_COUNT;
        this->TermObjectLock();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void **result) override
    {
        return CComObjectRootBase::QueryThroughMap(static_cast<Base *>(this),
                                                   Base::GetInterfaceMap(), iid, result);
    }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        LONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return count;
    }
};

// The creatable form: the same, holding one module lock while it exists.
// The lock goes before the object's critical section is deleted.
template <class Base>
class CComObject : public CComObjectNoLock<Base>
{
public:
    CComObject() { ModuleLock(); }

    ~CComObject() override
    {
        this->m_refCount = DESTROYED_REFERENCE_COUNT;
        ModuleUnlock();
    }

    // Allocates, sets up and asks for iid; on any failure the new object is
    // destroyed again and *result stays null.
    static HRESULT Create(REFIID iid, void **result);
};

template <class Base>
HRESULT CComObject<Base>::Create(REFIID iid, void **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;

    CComObject<Base> *object = new (std::nothrow) CComObject<Base>();
    if (object == NULL)
        return E_OUTOFMEMORY;

    // Held up during set-up so nothing in it can release the object early.
    object->InternalAddRef();
    HRESULT hr = object->InitObjectLock();
    object->InternalRelease();

    if (hr == S_OK)
        hr = object->QueryInterface(iid, result);
    if (hr != S_OK)
    {
        *result = NULL;
        delete object;
    }
    return hr;
}

#endif  // KESTOR_BROKER_COM_OBJECT_H
