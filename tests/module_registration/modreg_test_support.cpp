#include "modreg_test_support.h"

#include <gtest/gtest.h>

#include "base/handle_owner.h"
#include "broker/kestor_interface.h"
#include "scratch_registry.h"

#include <algorithm>
#include <cstdio>
#include <vector>

CComModule g_testModule;

namespace {

std::string TypeName(DWORD type)
{
    switch (type)
    {
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_BINARY:
        return "REG_BINARY";
    default:
        return "type" + std::to_string(type);
    }
}

std::string ShowData(DWORD type, const std::string &bytes)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ)
    {
        // Stored text without its terminator; a missing terminator shows.
        if (!bytes.empty() && bytes.back() == '\0')
            return bytes.substr(0, bytes.size() - 1);
        return bytes + "<no terminator>";
    }
    std::string hex;
    char pair[4];
    for (unsigned char c : bytes)
    {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

void DumpKey(HKEY key, const std::string &relative, std::vector<std::string> *lines)
{
    if (!relative.empty())
        lines->push_back("key " + relative);
    for (const RegistryValue &value : ReadRegistryValues(key))
        lines->push_back("value " + relative + " [" + value.name + "] " + TypeName(value.type) +
                         " " + ShowData(value.type, value.bytes));
    for (const std::string &name : RegistrySubkeyNames(key))
    {
        HKEY child;
        if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
            continue;
        DumpKey(child, relative.empty() ? name : relative + "\\" + name, lines);
        RegCloseKey(child);
    }
}

}  // namespace

std::vector<std::string> DumpRegistryTree(HKEY root, const std::string &subkey)
{
    std::vector<std::string> lines;
    HKEY key;
    if (RegOpenKeyExA(root, subkey.empty() ? NULL : subkey.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return lines;
    DumpKey(key, "", &lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string ReadStringValue(HKEY root, const std::string &subkey, const char *name)
{
    DWORD type = REG_NONE;
    std::string bytes;
    if (!ReadRegistryValue(root, subkey.c_str(), name, &type, &bytes) || type != REG_SZ)
        return "<missing>";
    return ShowData(type, bytes);
}

std::string BuildBinFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::wstring WideText(const std::string &text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return wide.data();
}

std::string AnsiText(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::vector<char> narrow(length > 0 ? length : 1);
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), static_cast<int>(narrow.size()),
                        NULL, NULL);
    return narrow.data();
}

TestFolder::TestFolder(const std::string &path) : TestFolder(WideText(path))
{}

TestFolder::TestFolder(const std::wstring &path)
{
    // Create each missing level, remembering it for removal.
    std::wstring built;
    size_t start = 0;
    while (start < path.size())
    {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        built = path.substr(0, end);
        if (end > 2 && GetFileAttributesW(built.c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            // Wine spells a file name for Unix in the locale's character set:
            // a Japanese one needs the ja_JP.UTF-8 locale installed.
            EXPECT_TRUE(CreateDirectoryW(built.c_str(), NULL))
                << "creating " << AnsiText(built) << " failed with " << GetLastError();
            m_created.push_back(built);
        }
        start = end + 1;
    }
    m_widePath = built + L"\\";
    m_path = AnsiText(m_widePath);
}

TestFolder::~TestFolder()
{
    for (const std::wstring &file : m_files)
        DeleteFileW(file.c_str());
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it)
        RemoveDirectoryW(it->c_str());
}

bool TestFolder::CopyIn(const std::string &source, const char *name)
{
    std::wstring target = m_widePath + WideText(name);
    if (!CopyFileW(WideText(source).c_str(), target.c_str(), FALSE))
        return false;
    m_files.push_back(target);
    return true;
}

DWORD RunAndWait(const std::string &commandLine)
{
    return RunAndWait(WideText(commandLine));
}

DWORD RunAndWait(const std::wstring &commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 0xDEADDEAD;
    KernelHandle thread(process.hThread);
    KernelHandle program(process.hProcess);
    // Longer than the 30 s the program may wait for an old service entry.
    if (WaitForSingleObject(program, 120000) != WAIT_OBJECT_0)
    {
        ADD_FAILURE() << "still running after 120 s, killed: " << AnsiText(commandLine);
        TerminateProcess(program, 0xDEADDEAD);
        WaitForSingleObject(program, 10000);
    }
    DWORD exitCode = 0xDEADDEAD;
    GetExitCodeProcess(program, &exitCode);
    return exitCode;
}

ModuleStateGuard::ModuleStateGuard()
    : m_instance(g_baseModuleRecord.m_instance),
      m_typeLibraryInstance(g_comModuleRecord.m_typeLibraryInstance),
      m_autoBegin(g_comModuleRecord.m_autoObjectsBegin),
      m_autoEnd(g_comModuleRecord.m_autoObjectsEnd),
      m_objectMap(g_testModule.m_objectMap)
{}

ModuleStateGuard::~ModuleStateGuard()
{
    g_baseModuleRecord.m_instance = m_instance;
    g_comModuleRecord.m_typeLibraryInstance = m_typeLibraryInstance;
    g_comModuleRecord.m_autoObjectsBegin = m_autoBegin;
    g_comModuleRecord.m_autoObjectsEnd = m_autoEnd;
    g_testModule.m_objectMap = m_objectMap;
}

std::vector<std::string> ExpectedScriptRows(const std::string &programPath)
{
    const std::string classKey = "CLSID\\" KESTOR_CLSID_TEXT;
    std::vector<std::string> rows = {
        "key AppID",
        "key AppID\\" KESTOR_APPID_TEXT,
        "value AppID\\" KESTOR_APPID_TEXT " [] REG_SZ ZovKestor",
        "key AppID\\ZovKestor.EXE",
        "value AppID\\ZovKestor.EXE [AppID] REG_SZ " KESTOR_APPID_TEXT,
        "key ZovKestor.KestorObj.1",
        "value ZovKestor.KestorObj.1 [] REG_SZ KestorObj Class",
        "key ZovKestor.KestorObj.1\\CLSID",
        "value ZovKestor.KestorObj.1\\CLSID [] REG_SZ " KESTOR_CLSID_TEXT,
        "key ZovKestor.KestorObj",
        "value ZovKestor.KestorObj [] REG_SZ KestorObj Class",
        "key ZovKestor.KestorObj\\CLSID",
        "value ZovKestor.KestorObj\\CLSID [] REG_SZ " KESTOR_CLSID_TEXT,
        "key ZovKestor.KestorObj\\CurVer",
        "value ZovKestor.KestorObj\\CurVer [] REG_SZ ZovKestor.KestorObj.1",
        "key CLSID",
        "key " + classKey,
        "value " + classKey + " [] REG_SZ KestorObj Class",
        "value " + classKey + " [AppID] REG_SZ " KESTOR_APPID_TEXT,
        "key " + classKey + "\\ProgID",
        "value " + classKey + "\\ProgID [] REG_SZ ZovKestor.KestorObj.1",
        "key " + classKey + "\\VersionIndependentProgID",
        "value " + classKey + "\\VersionIndependentProgID [] REG_SZ ZovKestor.KestorObj",
        "key " + classKey + "\\LocalServer32",
        "value " + classKey + "\\LocalServer32 [] REG_SZ \"" + programPath + "\"",
        "key " + classKey + "\\TypeLib",
        "value " + classKey + "\\TypeLib [] REG_SZ " KESTOR_LIBID_TEXT,
    };
    std::sort(rows.begin(), rows.end());
    return rows;
}
