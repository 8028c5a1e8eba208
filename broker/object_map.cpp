#include "object_map.h"

#include "class_factory.h"
#include "kestor_obj.h"

namespace {

// REGISTRY resource that registers the class, its ProgIDs and its AppID link.
const UINT kClassScriptResource = 101;

LPCSTR WINAPI KestorObjDescription()
{
    return NULL;
}

const CategoryMapEntry *WINAPI KestorObjCategories()
{
    // The class implements and requires no component category.
    return NULL;
}

void WINAPI KestorObjMain(bool)
{}

}  // namespace

HRESULT WINAPI UpdateKestorObjRegistry(BOOL registerObject)
{
    if (g_atlModule == NULL)
        return E_UNEXPECTED;
    return g_atlModule->ApplyRegistryScript(kClassScriptResource, registerObject, NULL);
}

ObjectMapEntry g_objectMap[] = {
    {&CLSID_KestorObj, UpdateKestorObjRegistry, CreateClassFactory, CreateKestorObj, NULL, 0,
     KestorObjDescription, KestorObjCategories, KestorObjMain},
    {NULL, NULL, NULL, NULL, NULL, 0, NULL, NULL, NULL},
};
