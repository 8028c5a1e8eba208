// The QueryInterface walk shared by every object of the broker.
#include "com_module.h"

HRESULT WINAPI InternalQueryInterface(void *object, const InterfaceMapEntry *table, REFIID iid,
                                      void **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;
    if (object == NULL || table == NULL)
        return E_NOINTERFACE;

    const InterfaceMapEntry *answer = NULL;
    if (IsEqualIID(iid, IID_IUnknown))
    {
        // The first row stands for the object's identity.
        if (table[0].kind == INTERFACE_MAP_SIMPLE)
            answer = &table[0];
    }
    else
    {
        for (const InterfaceMapEntry *row = table; row->kind != INTERFACE_MAP_END; ++row)
        {
            if (row->kind == INTERFACE_MAP_SIMPLE && row->iid != NULL && IsEqualIID(*row->iid, iid))
            {
                answer = row;
                break;
            }
        }
    }
    if (answer == NULL)
        return E_NOINTERFACE;

    IUnknown *pointer = reinterpret_cast<IUnknown *>(static_cast<BYTE *>(object) + answer->offset);
    pointer->AddRef();
    *result = pointer;
    return S_OK;
}
