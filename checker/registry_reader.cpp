#include "checker/registry_reader.h"

bool OnWin64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

RegistryView BrokerView()
{
    if (!OnWin64())
        return {"registry", 0, false};
    return {"32-bit view", KEY_WOW64_32KEY, false};
}

std::vector<RegistryView> AllViews()
{
    if (!OnWin64())
        return {BrokerView()};
    return {BrokerView(), {"64-bit view", KEY_WOW64_64KEY, true}};
}

ReadKey::~ReadKey()
{
    if (m_key != NULL)
        RegCloseKey(m_key);
}

LONG ReadKey::Open(HKEY root, const std::string &path, const RegistryView &view)
{
    if (m_key != NULL)
    {
        RegCloseKey(m_key);
        m_key = NULL;
    }
    HKEY key = NULL;
    LONG error = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view.flag, &key);
    if (error == ERROR_SUCCESS)
        m_key = key;
    return error;
}

LONG ReadKey::Open(const ReadKey &parent, const std::string &path, const RegistryView &view)
{
    if (parent.Get() == NULL)
        return ERROR_INVALID_HANDLE;
    return Open(parent.Get(), path, view);
}

LONG ReadKey::ReadString(const char *name, std::string *text) const
{
    text->clear();
    DWORD type = 0, size = 0;
    LONG error = RegQueryValueExA(m_key, name, NULL, &type, NULL, &size);
    // The value may grow between the two calls: try again with its new size.
    for (int attempt = 0; attempt < 3 && error == ERROR_SUCCESS; ++attempt)
    {
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return ERROR_INVALID_DATATYPE;
        std::vector<char> data(size + 1, '\0');
        DWORD read = size;
        error = RegQueryValueExA(m_key, name, NULL, &type, reinterpret_cast<BYTE *>(data.data()),
                                 &read);
        if (error == ERROR_MORE_DATA)
        {
            size = read;
            error = ERROR_SUCCESS;
            continue;
        }
        if (error == ERROR_SUCCESS)
        {
            // Stored text need not end in a NUL; it ends at the first one.
            text->assign(data.data(), read);
            text->resize(std::string(text->c_str()).size());
        }
        return error;
    }
    return error;
}

LONG ReadKey::ReadDword(const char *name, DWORD *number) const
{
    DWORD type = 0, size = sizeof *number;
    LONG error =
        RegQueryValueExA(m_key, name, NULL, &type, reinterpret_cast<BYTE *>(number), &size);
    if (error == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof *number))
        return ERROR_INVALID_DATATYPE;
    return error;
}

std::vector<std::string> ReadKey::Subkeys() const
{
    std::vector<std::string> names;
    char name[256];
    for (DWORD index = 0;; ++index)
    {
        DWORD size = sizeof name;
        LONG error = RegEnumKeyExA(m_key, index, name, &size, NULL, NULL, NULL, NULL);
        if (error == ERROR_MORE_DATA)
            continue;  // longer than any name looked for here
        if (error != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

std::string StringValue(HKEY root, const std::string &path, const char *name,
                        const RegistryView &view)
{
    ReadKey key;
    std::string text;
    if (key.Open(root, path, view) != ERROR_SUCCESS || key.ReadString(name, &text) != ERROR_SUCCESS)
        return std::string();
    return text;
}

bool SameText(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}
