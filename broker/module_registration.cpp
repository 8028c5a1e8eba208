// The module's registration: its own scripts with the extra and standard
// replacements, the classes of the object map (script and component
// categories) and the type library.
#include <new>

#include "broker/com_module.h"
#include "registrar/class_categories.h"
#include "registrar/module_script.h"
#include "registrar/reg_object.h"
#include "registrar/type_library.h"

namespace {

// Extra replacements come first: lookups take the first definition, so they
// override the standard ones. Their results are not examined.
HRESULT ApplyOwnScript(CComModule *module, LPCSTR resource, BOOL registerScript,
                       const ReplacementEntry *extra)
{
    CRegObject registrar;
    for (const ReplacementEntry *row = extra; row != NULL && row->name != NULL; ++row)
        registrar.DefineReplacement(row->name, row->value);

    HRESULT hr = module->AddStandardReplacements(&registrar);
    if (FAILED(hr))
        return hr;
    return ApplyModuleScript(registrar, g_baseModuleRecord.m_instance, resource, registerScript);
}

HRESULT UpdateClassRow(ObjectMapEntry *row, BOOL registerClass)
{
    const CategoryMapEntry *categories = row->getCategoryMap != NULL ? row->getCategoryMap() : NULL;
    if (registerClass)
    {
        HRESULT hr = row->updateRegistry != NULL ? row->updateRegistry(TRUE) : S_OK;
        if (FAILED(hr))
            return hr;
        return UpdateClassCategories(*row->clsid, categories, TRUE);
    }
    HRESULT hr = UpdateClassCategories(*row->clsid, categories, FALSE);
    if (FAILED(hr))
        return hr;
    return row->updateRegistry != NULL ? row->updateRegistry(FALSE) : S_OK;
}

// Walks the object map, then the automatically collected class rows, and
// stops at the first failure; nothing done before it is undone.
HRESULT UpdateClassRows(ObjectMapEntry *objectMap, BOOL registerClasses, const CLSID *onlyClass)
{
    HRESULT hr = S_OK;
    if (objectMap != NULL)
    {
        for (ObjectMapEntry *row = objectMap; row->clsid != NULL; ++row)
        {
            if (onlyClass != NULL && !IsEqualCLSID(*onlyClass, *row->clsid))
                continue;
            hr = UpdateClassRow(row, registerClasses);
            if (FAILED(hr))
                return hr;
        }
    }
    for (ObjectMapEntry **entry = g_comModuleRecord.m_autoObjectsBegin;
         entry != NULL && entry < g_comModuleRecord.m_autoObjectsEnd; ++entry)
    {
        ObjectMapEntry *row = *entry;
        if (row == NULL || row->clsid == NULL)
            continue;
        if (onlyClass != NULL && !IsEqualCLSID(*onlyClass, *row->clsid))
            continue;
        hr = UpdateClassRow(row, registerClasses);
        if (FAILED(hr))
            return hr;
    }
    return hr;
}

}  // namespace

HRESULT CComModule::AddStandardReplacements(IRegistrarBase *registrar)
{
    if (registrar == NULL)
        return E_POINTER;
    return registrar->DefineReplacement(L"APPID", L"");
}

HRESULT CComModule::ApplyRegistryScript(UINT resourceId, BOOL registerScript,
                                        const ReplacementEntry *extra)
{
    try
    {
        return ApplyOwnScript(this, MAKEINTRESOURCEA(resourceId), registerScript, extra);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

HRESULT CComModule::ApplyRegistryScriptByName(LPCSTR resourceName, BOOL registerScript,
                                              const ReplacementEntry *extra)
{
    // A null name would read as resource number 0; it is refused instead,
    // the way a name that cannot be converted is.
    if (resourceName == NULL)
        return E_OUTOFMEMORY;
    try
    {
        return ApplyOwnScript(this, resourceName, registerScript, extra);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

HRESULT CComModule::RegisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass)
{
    HRESULT hr = UpdateClassRows(m_objectMap, TRUE, onlyClass);
    if (FAILED(hr))
        return hr;
    if (withTypeLibrary)
        hr = RegisterModuleTypeLibrary(g_comModuleRecord.m_typeLibraryInstance, NULL);
    return hr;
}

HRESULT CComModule::UnregisterServerObjects(BOOL withTypeLibrary, const CLSID *onlyClass)
{
    HRESULT hr = UpdateClassRows(m_objectMap, FALSE, onlyClass);
    if (FAILED(hr))
        return hr;
    if (withTypeLibrary)
        hr = UnregisterModuleTypeLibrary(g_comModuleRecord.m_typeLibraryInstance, NULL);
    return hr;
}
