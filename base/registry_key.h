// CRegistryKey: owner of one open registry key, closed on every path by the
// destructor. All results are Win32 error codes (ERROR_SUCCESS = 0). The
// service reads and writes its settings with it, the script interpreter
// builds and removes whole trees.
#ifndef KESTOR_BASE_REGISTRY_KEY_H
#define KESTOR_BASE_REGISTRY_KEY_H

#include <windows.h>

#include "base/hresult.h"

class CRegistryKey
{
public:
    CRegistryKey() : m_key(NULL) {}
    ~CRegistryKey() { Close(); }

    CRegistryKey(const CRegistryKey &) = delete;
    CRegistryKey &operator=(const CRegistryKey &) = delete;

    // Opens subkeyName under parent. On failure the key held so far stays.
    LONG Open(HKEY parent, LPCSTR subkeyName, REGSAM access);
    LONG Close();

    // Reads a string value into buffer. byteCount is in/out and mandatory
    // (CAtlException(E_FAIL) without it). A value that is not a terminated
    // REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ empties the buffer and fails.
    LONG QueryStringValue(LPSTR buffer, LPCSTR valueName, DWORD *byteCount);

    // Writes REG_SZ (or REG_MULTI_SZ with multiString). length -1 means
    // lstrlenA + 1 for REG_SZ and is refused for REG_MULTI_SZ.
    LONG SetStringValue(LPCSTR value, LPCSTR valueName, bool multiString = false, int length = -1);

    // Creates or opens subkeyName under parent (no class, non-volatile,
    // default security) and holds it instead of the key held so far. On
    // failure the object is unchanged.
    LONG Create(HKEY parent, LPCSTR subkeyName, REGSAM access);

    // Value writes on the held key; a null valueName is the default value.
    LONG SetDWORDValue(LPCSTR valueName, DWORD value);
    LONG SetBinaryValue(LPCSTR valueName, const void *bytes, DWORD byteCount);
    LONG SetMultiStringValue(LPCSTR valueName, const char *list, DWORD byteCount);

    // Deletes subkeyName under the held key together with all its subkeys.
    // The first failure is returned at once.
    LONG DeleteKeyTree(LPCSTR subkeyName);

    // Lets a borrowed handle (a predefined root key, a key owned elsewhere)
    // use the operations above; Detach gives it back unclosed.
    void Attach(HKEY key);
    HKEY Detach();

    HKEY Handle() const { return m_key; }
    operator HKEY() const { return m_key; }

private:
    HKEY m_key;
};

#endif  // KESTOR_BASE_REGISTRY_KEY_H
