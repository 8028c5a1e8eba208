#include "registrar_test_util.h"

#include <gtest/gtest.h>

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

std::string ValueLine(DWORD type, const std::string &bytes)
{
    std::string line = "type " + std::to_string(type) + ":";
    for (unsigned char c : bytes)
    {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", c);
        line += hex;
    }
    return line;
}

namespace {

void SnapshotKey(HKEY key, const std::string &path, RegistrySnapshot *out)
{
    for (const RegistryValue &value : ReadRegistryValues(key))
        (*out)[path + " [" + value.name + "]"] = ValueLine(value.type, value.bytes);
    for (const std::string &subkey : RegistrySubkeyNames(key))
    {
        const std::string here = path + "\\" + subkey;
        HKEY child;
        if (RegOpenKeyExA(key, subkey.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
        {
            (*out)[here] = "(unreadable)";
            continue;
        }
        (*out)[here] = "";
        SnapshotKey(child, here, out);
        RegCloseKey(child);
    }
}

}  // namespace

RegistrySnapshot TakeSnapshot(HKEY root, const std::string &path)
{
    RegistrySnapshot out;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        SnapshotKey(key, "", &out);
        RegCloseKey(key);
    }
    return out;
}

std::string RenderSnapshot(const RegistrySnapshot &snapshot)
{
    std::string out = "(root)\n";
    for (const auto &entry : snapshot)
        out += entry.second.empty() ? entry.first + "\n" : entry.first + " " + entry.second + "\n";
    return out;
}

std::string DumpTree(HKEY root, const std::string &path)
{
    if (!RegistryKeyExists(root, path.c_str()))
        return std::string();
    return RenderSnapshot(TakeSnapshot(root, path));
}

void CreateKey(HKEY root, const std::string &path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
        << path;
    RegCloseKey(key);
}

void SetStringValue(HKEY root, const std::string &path, const char *name, const char *text)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
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
