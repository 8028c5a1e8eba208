// The class object COM holds for each object map row: a factory bound to the
// row's instance creator. It takes no module lock for its own existence.
#ifndef KESTOR_BROKER_CLASS_FACTORY_H
#define KESTOR_BROKER_CLASS_FACTORY_H

#include "com_object.h"

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel>
{
public:
    CComClassFactory() : m_instanceCreator(NULL) {}

    STDMETHOD(CreateInstance)(IUnknown *outer, REFIID iid, void **result) override;
    STDMETHOD(LockServer)(BOOL lock) override;

    static const InterfaceMapEntry *GetInterfaceMap();

    CreatorFunction m_instanceCreator;
};

// Class-object creator of the object map: argument is the instance creator
// (a CreatorFunction) that the new factory binds.
HRESULT WINAPI CreateClassFactory(void *argument, REFIID iid, void **result);

#endif  // KESTOR_BROKER_CLASS_FACTORY_H
