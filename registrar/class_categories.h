// Component categories of one class, kept through the platform's category
// manager.
#ifndef KESTOR_REGISTRAR_CLASS_CATEGORIES_H
#define KESTOR_REGISTRAR_CLASS_CATEGORIES_H

#include <windows.h>

#include "broker/com_module.h"

// Registers (or removes) every row of categoryMap for classId; with no map
// or GUID_NULL it does nothing. Removing also deletes the class's
// "Implemented Categories" and "Required Categories" keys once empty.
// Without a category manager the categories are left out and the result is
// S_OK.
HRESULT UpdateClassCategories(REFCLSID classId, const CategoryMapEntry *categoryMap,
                              BOOL registerCategories);

#endif  // KESTOR_REGISTRAR_CLASS_CATEGORIES_H
