#include "base/registry_key.h"

LONG CRegistryKey::Open(HKEY parent, LPCSTR subkeyName, REGSAM access)
{
    HKEY opened = NULL;
    LONG result = RegOpenKeyExA(parent, subkeyName, 0, access, &opened);
    if (result != ERROR_SUCCESS)
        return result;
    Close();
    m_key = opened;
    return ERROR_SUCCESS;
}

LONG CRegistryKey::Close()
{
    if (m_key == NULL)
        return ERROR_SUCCESS;
    LONG result = RegCloseKey(m_key);
    m_key = NULL;
    return result;
}

namespace {

// A string value is usable only with its terminator(s) inside the bytes read.
bool IsTerminatedString(DWORD type, const char *bytes, DWORD count)
{
    switch (type)
    {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return bytes[count - 1] == '\0';
    case REG_MULTI_SZ:
        return bytes[count - 1] == '\0' && (count < 2 || bytes[count - 2] == '\0');
    default:
        return false;
    }
}

}  // namespace

LONG CRegistryKey::QueryStringValue(LPSTR buffer, LPCSTR valueName, DWORD *byteCount)
{
    if (byteCount == NULL)
        throw CAtlException(E_FAIL);

    const DWORD capacity = *byteCount;
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(m_key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(buffer),
                                   byteCount);
    if (buffer == NULL)
        return result;

    // On failure (a value larger than the buffer among them) the count names
    // bytes that were never written: empty the buffer and look no further.
    if (result != ERROR_SUCCESS || *byteCount == 0)
    {
        if (capacity > 0)
            buffer[0] = '\0';
        return result;
    }
    if (!IsTerminatedString(type, buffer, *byteCount))
    {
        buffer[0] = '\0';
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryKey::SetStringValue(LPCSTR value, LPCSTR valueName, bool multiString, int length)
{
    if (value == NULL)
        throw CAtlException(E_FAIL);
    if (length == -1)
    {
        if (multiString)
            return ERROR_INVALID_PARAMETER;
        length = lstrlenA(value) + 1;
    }
    return RegSetValueExA(m_key, valueName, 0, multiString ? REG_MULTI_SZ : REG_SZ,
                          reinterpret_cast<const BYTE *>(value), static_cast<DWORD>(length));
}

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
    return RegSetValueExA(m_key, valueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(list),
                          byteCount);
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
