// CRegistryKey operations used by the registration-script interpreter: key
// creation, the typed value writes and the deletion of a whole key tree.
#include "service/registry_key.h"

LONG CRegistryKey::Create(HKEY parent, LPCSTR subkeyName, REGSAM access)
{
    HKEY created = NULL;
    LONG result = RegCreateKeyExA(parent, subkeyName, 0, NULL, REG_OPTION_NON_VOLATILE, access,
                                  NULL, &created, NULL);
    if (result != ERROR_SUCCESS)
        return result;
    Close();
    m_key = created;
    return ERROR_SUCCESS;
}

LONG CRegistryKey::SetDWORDValue(LPCSTR valueName, DWORD value)
{
    return RegSetValueExA(m_key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                          sizeof value);
}

LONG CRegistryKey::SetBinaryValue(LPCSTR valueName, const void *bytes, DWORD byteCount)
{
    return RegSetValueExA(m_key, valueName, 0, REG_BINARY, static_cast<const BYTE *>(bytes),
                          byteCount);
}

LONG CRegistryKey::SetMultiStringValue(LPCSTR valueName, const char *list, DWORD byteCount)
{
    return RegSetValueExA(m_key, valueName, 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE *>(list), byteCount);
}

LONG CRegistryKey::DeleteKeyTree(LPCSTR subkeyName)
{
    CRegistryKey opened;
    LONG result = opened.Open(m_key, subkeyName, KEY_READ | KEY_WRITE);
    if (result != ERROR_SUCCESS)
        return result;

    // Always ask for index 0: each deletion moves the next subkey there.
    for (;;)
    {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(opened, 0, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        result = opened.DeleteKeyTree(name);
        if (result != ERROR_SUCCESS)
            return result;  // the destructor closes the key
    }
    opened.Close();
    return RegDeleteKeyA(m_key, subkeyName);
}

void CRegistryKey::Attach(HKEY key)
{
    Close();
    m_key = key;
}

HKEY CRegistryKey::Detach()
{
    HKEY key = m_key;
    m_key = NULL;
    return key;
}
