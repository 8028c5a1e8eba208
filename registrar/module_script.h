// A module's own registration script: the Module and Module_Raw
// replacements for the module's file, and the script read from the module's
// "REGISTRY" resources.
#ifndef KESTOR_REGISTRAR_MODULE_SCRIPT_H
#define KESTOR_REGISTRAR_MODULE_SCRIPT_H

#include <windows.h>

#include "registrar/reg_object.h"

// Defines Module (quoted when the module is the program) and Module_Raw on
// registrar, then applies the script resource of module: a number
// (MAKEINTRESOURCEA) or a narrow name. Registering refuses a module whose
// narrow path does not name its file; the script itself is read by the
// file's wide name.
HRESULT ApplyModuleScript(CRegObject &registrar, HINSTANCE module, LPCSTR resource,
                          BOOL registerScript);

#endif  // KESTOR_REGISTRAR_MODULE_SCRIPT_H
