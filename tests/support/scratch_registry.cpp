#include "scratch_registry.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/handle_owner.h"

namespace {

LONG g_scratchCounter = 0;

}  // namespace

ScratchKey::ScratchKey(const char *tag) : m_key(NULL)
{
    char name[128];
    std::snprintf(name, sizeof name, "Software\\KestorTests\\%s-%lu-%ld", tag,
                  GetCurrentProcessId(), InterlockedIncrement(&g_scratchCounter));
    m_path = name;
    RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str());
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                  NULL, &m_key, NULL);
    EXPECT_EQ(ERROR_SUCCESS, result) << "creating " << m_path;
}

ScratchKey::~ScratchKey()
{
    if (m_key != NULL)
        RegCloseKey(m_key);
    RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
}

ClassesRootOverride::ClassesRootOverride(HKEY target)
{
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, target));
}

ClassesRootOverride::~ClassesRootOverride()
{
    RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);
}

bool ReadRegistryValue(HKEY root, const char *subkey, const char *name, DWORD *type,
                       std::string *bytes, REGSAM view)
{
    RegistryKeyHandle key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, key.Place()) != ERROR_SUCCESS)
    {
        *key.Place() = NULL;
        return false;
    }
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, NULL, type, NULL, &size);
    if (result == ERROR_SUCCESS)
    {
        bytes->assign(size, '\0');
        result =
            RegQueryValueExA(key, name, NULL, type, reinterpret_cast<BYTE *>(&(*bytes)[0]), &size);
        bytes->resize(size);
    }
    return result == ERROR_SUCCESS;
}

bool RegistryKeyExists(HKEY root, const char *subkey, REGSAM view)
{
    RegistryKeyHandle key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, key.Place()) != ERROR_SUCCESS)
    {
        *key.Place() = NULL;
        return false;
    }
    return true;
}

std::vector<RegistryValue> ReadRegistryValues(HKEY key)
{
    std::vector<RegistryValue> values;
    std::vector<BYTE> data(8192);
    for (DWORD index = 0;; ++index)
    {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        DWORD dataSize = static_cast<DWORD>(data.size());
        LONG result =
            RegEnumValueA(key, index, name, &nameSize, NULL, &type, data.data(), &dataSize);
        if (result == ERROR_MORE_DATA)
        {
            // A larger value: read it whole rather than end the list there.
            data.resize(dataSize);
            nameSize = sizeof name;
            result =
                RegEnumValueA(key, index, name, &nameSize, NULL, &type, data.data(), &dataSize);
        }
        if (result != ERROR_SUCCESS)
            break;
        values.push_back({std::string(name, nameSize), type,
                          std::string(reinterpret_cast<char *>(data.data()), dataSize)});
    }
    return values;
}

std::vector<std::string> RegistrySubkeyNames(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index)
    {
        char name[512];  // 255 characters, of two bytes each in a double-byte code page
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(std::string(name, nameSize));
    }
    return names;
}
