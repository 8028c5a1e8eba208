#include "registrar_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "scratch_registry.h"

std::string ScriptUnder(const std::string &scratchPath, const std::string &body)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t end = scratchPath.find('\\', start);
        parts.push_back(scratchPath.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::string script = "HKCU\n{\n";
    for (const std::string &part : parts)
        script += "NoRemove '" + part + "'\n{\n";
    script += body + "\n";
    for (size_t i = 0; i < parts.size(); ++i)
        script += "}\n";
    script += "}\n";
    return script;
}

namespace {

void DumpKey(HKEY key, const std::string &prefix, std::string *out)
{
    std::vector<std::string> lines;
    for (DWORD index = 0;; ++index)
    {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        BYTE data[8192];
        DWORD dataSize = sizeof data;
        if (RegEnumValueA(key, index, name, &nameSize, NULL, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        std::string line = prefix + " [" + std::string(name, nameSize) + "] type " +
                           std::to_string(type) + ":";
        for (DWORD i = 0; i < dataSize; ++i)
        {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", data[i]);
            line += hex;
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string &line : lines)
        *out += line + "\n";

    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index)
    {
        char name[512];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(std::string(name, nameSize));
    }
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string &subkey : subkeys)
    {
        HKEY child;
        if (RegOpenKeyExA(key, subkey.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
        {
            *out += prefix + "\\" + subkey + " (unreadable)\n";
            continue;
        }
        *out += prefix + "\\" + subkey + "\n";
        DumpKey(child, prefix + "\\" + subkey, out);
        RegCloseKey(child);
    }
}

}  // namespace

std::string DumpTree(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::string();
    std::string out = "(root)\n";
    DumpKey(key, "", &out);
    RegCloseKey(key);
    return out;
}

void CreateKey(HKEY root, const std::string &path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &key, NULL))
        << path;
    RegCloseKey(key);
}

void SetStringValue(HKEY root, const std::string &path, const char *name, const char *text)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &key, NULL))
        << path;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                 static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result);
}

bool KeyExists(const std::string &hkcuPath)
{
    return RegistryKeyExists(HKEY_CURRENT_USER, hkcuPath.c_str());
}

bool ReadValue(const std::string &hkcuPath, const char *name, DWORD *type, std::string *bytes)
{
    return ReadRegistryValue(HKEY_CURRENT_USER, hkcuPath.c_str(), name, type, bytes);
}
