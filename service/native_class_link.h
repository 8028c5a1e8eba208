// The class's AppID where 64-bit COM looks for it.
//
// On 64-bit Windows this 32-bit program's class registration lands in the
// 32-bit registry view only, while the AppID key is shared by both views.
// COM in a 64-bit client looks for the class's AppID value in the 64-bit
// view; finding no class there, it never learns that the class is a service
// and starts the program as a plain local server instead (it does find the
// 32-bit LocalServer32 entry). A class key in the 64-bit view that holds just
// the AppID value closes that gap; COM still falls back to the 32-bit entry
// when the service cannot be started.
#ifndef KESTOR_SERVICE_NATIVE_CLASS_LINK_H
#define KESTOR_SERVICE_NATIVE_CLASS_LINK_H

#include <windows.h>

// Writes CLSID\{KestorObj} with the one value AppID into the 64-bit view of
// HKEY_CLASSES_ROOT. Outside WOW64 there is one view only: nothing to do.
LONG WriteNativeClassAppId();

// Deletes that key again when it holds no subkeys (a key with subkeys is a
// registration this program did not write). Nothing to do outside WOW64.
LONG RemoveNativeClassAppId();

#endif  // KESTOR_SERVICE_NATIVE_CLASS_LINK_H
