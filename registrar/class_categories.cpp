#include "registrar/class_categories.h"

#include <comcat.h>

#include <cstdio>

#include "base/registry_key.h"

namespace {

// Deletes HKEY_CLASSES_ROOT\<path> when it has no subkeys left; values
// alone do not keep it.
void DeleteKeyIfEmpty(const char *path)
{
    DWORD subkeys = 0;
    LONG result;
    {
        CRegistryKey key;
        if (key.Open(HKEY_CLASSES_ROOT, path, KEY_READ) != ERROR_SUCCESS)
            return;
        result = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL,
                                  NULL, NULL);
    }
    if (result == ERROR_SUCCESS && subkeys == 0)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, path);
}

void DeleteEmptyCategoryKeys(REFCLSID classId)
{
    WCHAR wideId[64];
    if (StringFromGUID2(classId, wideId, 64) == 0)
        return;
    char classText[64];
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, wideId, -1, classText, sizeof classText, NULL,
                            NULL) == 0)
        return;
    const char *const kinds[] = {"Required Categories", "Implemented Categories"};
    for (const char *kind : kinds)
    {
        char path[128];
        int written = std::snprintf(path, sizeof path, "CLSID\\%s\\%s", classText, kind);
        if (written > 0 && static_cast<size_t>(written) < sizeof path)
            DeleteKeyIfEmpty(path);
    }
}

}  // namespace

HRESULT UpdateClassCategories(REFCLSID classId, const CategoryMapEntry *categoryMap,
                              BOOL registerCategories)
{
    if (categoryMap == NULL || IsEqualGUID(classId, GUID_NULL))
        return S_OK;

    ICatRegister *manager = NULL;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, NULL, CLSCTX_INPROC_SERVER,
                                IID_ICatRegister, reinterpret_cast<void **>(&manager))))
        return S_OK;  // no category manager: categories are left out

    HRESULT hr = S_OK;
    for (const CategoryMapEntry *row = categoryMap; row->kind != CATEGORY_MAP_END; ++row)
    {
        // A row without its identifier cannot name a category; registering
        // refuses it rather than following a null pointer.
        if (row->categoryId == NULL)
        {
            if (registerCategories)
            {
                hr = E_INVALIDARG;
                break;
            }
            continue;
        }
        CATID category = *row->categoryId;
        if (registerCategories)
        {
            hr = row->kind == CATEGORY_IMPLEMENTED
                     ? manager->RegisterClassImplCategories(classId, 1, &category)
                     : manager->RegisterClassReqCategories(classId, 1, &category);
            if (FAILED(hr))
                break;
        }
        else if (row->kind == CATEGORY_IMPLEMENTED)
        {
            manager->UnRegisterClassImplCategories(classId, 1, &category);
        }
        else
        {
            manager->UnRegisterClassReqCategories(classId, 1, &category);
        }
    }

    if (SUCCEEDED(hr) && !registerCategories)
        DeleteEmptyCategoryKeys(classId);
    manager->Release();
    return FAILED(hr) ? hr : S_OK;
}
