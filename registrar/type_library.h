// The module's type library: found in the module file itself or, failing
// that, in a ".tlb" file of the same path, and (un)registered with the
// platform's OLE Automation routines.
#ifndef KESTOR_REGISTRAR_TYPE_LIBRARY_H
#define KESTOR_REGISTRAR_TYPE_LIBRARY_H

#include <windows.h>
#include <oaidl.h>

// Loads the type library of module (index: a resource index text appended
// to the module path, or null). Both outs are cleared first; a null out is
// E_POINTER. On success *path holds the path that loaded (free it with
// SysFreeString) and *library one reference.
HRESULT LoadModuleTypeLibrary(HINSTANCE module, LPCOLESTR index, BSTR *path, ITypeLib **library);

// Registers the library under HKEY_CLASSES_ROOT\TypeLib with the directory
// of its own help file as help directory.
HRESULT RegisterModuleTypeLibrary(HINSTANCE module, LPCOLESTR index);

// Removes the registration of the library's GUID, version, locale and
// system kind.
HRESULT UnregisterModuleTypeLibrary(HINSTANCE module, LPCOLESTR index);

#endif  // KESTOR_REGISTRAR_TYPE_LIBRARY_H
