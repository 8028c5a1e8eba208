// A module's file name as the narrow ("A") functions give it, checked
// against the file's own name. GetModuleFileNameA spells a character the
// ANSI code page lacks as '?' or as a look-alike; such a path names no file,
// or another one, and whatever is registered by it points there.
#ifndef KESTOR_REGISTRAR_MODULE_FILE_NAME_H
#define KESTOR_REGISTRAR_MODULE_FILE_NAME_H

#include <windows.h>

// S_OK when GetModuleFileNameA's path for the module, widened in the
// process's and in the thread's ANSI code page, is GetModuleFileNameW's
// path; HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION) when it is not;
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when a path fills MAX_PATH;
// the last error's HRESULT when a path cannot be read.
HRESULT CheckNarrowModuleFileName(HINSTANCE module);

// GetModuleFileNameW's path for the module into capacity characters, with
// the failures above.
HRESULT GetWideModuleFileName(HINSTANCE module, WCHAR *path, DWORD capacity);

// GetModuleFileNameA's path into capacity bytes, with the same failures;
// *length is its length.
HRESULT GetNarrowModuleFileName(HINSTANCE module, char *path, DWORD capacity, DWORD *length);

#endif  // KESTOR_REGISTRAR_MODULE_FILE_NAME_H
