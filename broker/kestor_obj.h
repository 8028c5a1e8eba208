// CKestorObj: the settings object behind IKestor. It writes one REG_SZ value
// under HKEY_CLASSES_ROOT\GPI\Settings per call and keeps no state between
// calls. Created only through CreateKestorObj, as CComObject<CKestorObj>.
#ifndef KESTOR_BROKER_KESTOR_OBJ_H
#define KESTOR_BROKER_KESTOR_OBJ_H

#include "com_object.h"
#include "kestor_interface.h"

class CKestorObj : public CComObjectRootEx<CComMultiThreadModel>,
                   public CComCoClass<CKestorObj, &CLSID_KestorObj>,
                   public IKestor
{
public:
    STDMETHOD(SetSettingValue)
    (SettingValueType valueType, BSTR keyPath, BSTR valueName, BSTR valueData) override;

    static const InterfaceMapEntry *GetInterfaceMap();
};

// Instance creator of the object map: refuses every outer object with
// CLASS_E_NOAGGREGATION, else makes a CComObject<CKestorObj> and asks it
// for iid.
HRESULT WINAPI CreateKestorObj(void *outer, REFIID iid, void **result);

#endif  // KESTOR_BROKER_KESTOR_OBJ_H
