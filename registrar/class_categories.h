// Component categories of one class, kept through the platform's category
// manager.
#ifndef KESTOR_REGISTRAR_CLASS_CATEGORIES_H
#define KESTOR_REGISTRAR_CLASS_CATEGORIES_H

#include <windows.h>
#include <comcat.h>

// Kinds of CategoryMapEntry rows.
enum
{
    CATEGORY_MAP_END = 0,
    CATEGORY_IMPLEMENTED = 1,
    CATEGORY_REQUIRED = 2
};

// One row of a class's component-category map; kind 0 ends the map.
struct CategoryMapEntry
{
    int kind;
    const CATID *categoryId;
};

// Registers (or removes) every row of categoryMap for classId; with no map
// or GUID_NULL it does nothing. Removing also deletes the class's
// "Implemented Categories" and "Required Categories" keys once empty.
// Without a category manager the categories are left out and the result is
// S_OK.
HRESULT UpdateClassCategories(REFCLSID classId, const CategoryMapEntry *categoryMap,
                              BOOL registerCategories);

#endif  // KESTOR_REGISTRAR_CLASS_CATEGORIES_H
