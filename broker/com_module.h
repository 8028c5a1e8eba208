// The COM-server module of ZovKestor: object map rows, interface tables, the
// module class chain (CAtlModule -> CAtlModuleT -> CComModule) and the three
// module records that live for the whole process.
//
// Lock count, class objects and the global interface table live in
// com_module.cpp, the module's registration in module_registration.cpp
// (which leaves the scripts, categories and type library to registrar/).
#ifndef KESTOR_BROKER_COM_MODULE_H
#define KESTOR_BROKER_COM_MODULE_H

#include <objbase.h>
#include <comcat.h>
#include <oaidl.h>

#include "registrar/class_categories.h"
#include "registrar/registrar_base.h"

// Creators share one shape: (argument, IID, result place). For a
// class-object creator the argument is the instance creator to bind, for an
// instance creator it is the outer object.
typedef HRESULT(WINAPI *CreatorFunction)(void *argument, REFIID iid, void **result);

// One row of the object map; a row with a null clsid ends the map.
struct ObjectMapEntry
{
    const CLSID *clsid;
    HRESULT(WINAPI *updateRegistry)(BOOL registerObject);
    CreatorFunction getClassObject;
    CreatorFunction createInstance;
    IUnknown *classFactory;
    DWORD registerCookie;
    LPCSTR(WINAPI *getObjectDescription)();
    const CategoryMapEntry *(WINAPI *getCategoryMap)();
    void(WINAPI *objectMain)(bool starting);
};

// Kinds of InterfaceMapEntry rows: 0 ends the table; "simple" rows answer
// with the object start plus the row's offset.
enum
{
    INTERFACE_MAP_END = 0,
    INTERFACE_MAP_SIMPLE = 1
};

struct InterfaceMapEntry
{
    const IID *iid;
    DWORD_PTR offset;
    int kind;
};

// The shared QueryInterface walk over an interface table.
HRESULT WINAPI InternalQueryInterface(void *object, const InterfaceMapEntry *table, REFIID iid,
                                      void **result);

// Base of the module chain: the size word, the lock count and the module
// critical section.
class CAtlModule
{
public:
    CAtlModule();
    virtual ~CAtlModule();

    virtual LONG Lock();
    virtual LONG Unlock();
    virtual LONG GetLockCount();
    virtual HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable **result) = 0;
    virtual HRESULT AddStandardReplacements(IRegistrarBase *registrar) = 0;
    // Entry points for a registrar outside the program; this program has
    // none, so both refuse at once with E_FAIL.
    virtual HRESULT ApplyExternalRegistrarScriptByName(LPCOLESTR resourceName, BOOL registerScript,
                                                       const ReplacementEntry *extra);
    virtual HRESULT ApplyExternalRegistrarScript(UINT resourceId, BOOL registerScript,
                                                 const ReplacementEntry *extra);
    virtual HRESULT ApplyRegistryScript(UINT resourceId, BOOL registerScript,
                                        const ReplacementEntry *extra) = 0;
    virtual HRESULT ApplyRegistryScriptByName(LPCSTR resourceName, BOOL registerScript,
                                              const ReplacementEntry *extra) = 0;

    // Tears the module down once; a second call does nothing.
    void Term();

    UINT m_sizeWord;
    LONG m_lockCount;
    CRITICAL_SECTION m_moduleLock;

private:
    CAtlModule(const CAtlModule &) = delete;
    CAtlModule &operator=(const CAtlModule &) = delete;
};

template <class T>
class CAtlModuleT : public CAtlModule
{};

class CComModule : public CAtlModuleT<CComModule>
{
public:
    CComModule();
    ~CComModule() override;

    // Attaches the object map, records the LIBID and calls each row's
    // objectMain with true.
    HRESULT InitComModule(ObjectMapEntry *objectMap, HINSTANCE instance, const GUID *libid);

    HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable **result) override;

    HRESULT RegisterClassObjects(DWORD classContext, DWORD flags);
    HRESULT RevokeClassObjects();
    static HRESULT RegisterClassObject(ObjectMapEntry *row, DWORD classContext, DWORD flags);
    static HRESULT RevokeClassObject(ObjectMapEntry *row);

    // Registration (registrar/module_registration.cpp).
    HRESULT AddStandardReplacements(IRegistrarBase *registrar) override;
    HRESULT ApplyRegistryScript(UINT resourceId, BOOL registerScript,
                                const ReplacementEntry *extra) override;
    HRESULT ApplyRegistryScriptByName(LPCSTR resourceName, BOOL registerScript,
                                      const ReplacementEntry *extra) override;
    HRESULT RegisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass);
    HRESULT UnregisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass);

    // Releases the cached global interface table, then the base's
    // termination; once only, like the base's.
    void Term();

    IGlobalInterfaceTable *m_globalInterfaceTable;
    ObjectMapEntry *m_objectMap;
    GUID m_libid;
};

// The process-wide module: objects and class factories reach Lock and Unlock
// through it, so the most derived module's Unlock is the one in force.
extern CAtlModule *g_atlModule;

// The three module records, constructed before the entry point runs.
struct CBaseModuleRecord
{
    CBaseModuleRecord();
    ~CBaseModuleRecord();
    HINSTANCE m_instance;          // finds the program's resources and file name
    HINSTANCE m_resourceInstance;  // same module; kept apart as the record has it
    CRITICAL_SECTION m_lock;       // never entered
    bool m_lockInitialised;        // m_lock exists and is deleted at tear-down
};

struct CComModuleRecord
{
    CComModuleRecord();
    ~CComModuleRecord();
    HINSTANCE m_typeLibraryInstance;      // where the type library is looked for
    ObjectMapEntry **m_autoObjectsBegin;  // automatically collected class rows:
    ObjectMapEntry **m_autoObjectsEnd;    // always empty in this program
    CRITICAL_SECTION m_lock;
    bool m_lockInitialised;
};

struct CWindowModuleRecord
{
    CWindowModuleRecord();
    ~CWindowModuleRecord();
    ATOM *m_classesToUnregister;  // window classes; none in this program
    int m_classCount;
    CRITICAL_SECTION m_lock;
    bool m_lockInitialised;
};

extern CBaseModuleRecord g_baseModuleRecord;
extern CComModuleRecord g_comModuleRecord;
extern CWindowModuleRecord g_windowModuleRecord;

#endif  // KESTOR_BROKER_COM_MODULE_H
