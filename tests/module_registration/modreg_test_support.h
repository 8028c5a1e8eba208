// Helpers of the module-registration tests: the test program's module, a
// registry dump to compare whole trees, folders on the prefix's drive and
// running a copied program.
#ifndef KESTOR_TESTS_MODREG_TEST_SUPPORT_H
#define KESTOR_TESTS_MODREG_TEST_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

#include "broker/com_module.h"

// The module of this test program; its records point at the test program,
// which carries the program's scripts as resources.
extern CComModule g_testModule;

// Every key and value below root\subkey, one sorted line each:
// "key <path>" and "value <path> [<name>] <type> <data>", paths relative to
// subkey. REG_SZ data is shown as text.
std::vector<std::string> DumpRegistryTree(HKEY root, const std::string &subkey);

// The rows that registering both scripts writes, in DumpRegistryTree's
// form, for a program at programPath.
std::vector<std::string> ExpectedScriptRows(const std::string &programPath);

// The default or named REG_SZ value; "<missing>" when absent or of another
// type.
std::string ReadStringValue(HKEY root, const std::string &subkey, const char *name);

// Folder of this test program (with its trailing backslash), where the
// built binaries and the type library are.
std::string BuildBinFolder();

// Text in the ANSI code page and back; what the code page cannot spell
// comes out as the conversion makes it.
std::wstring WideText(const std::string &text);
std::string AnsiText(const std::wstring &text);

// A folder tree made for one test below C:\, removed with its files again.
// Its name may hold characters the ANSI code page cannot spell.
class TestFolder
{
public:
    explicit TestFolder(const std::string &path);
    explicit TestFolder(const std::wstring &path);
    ~TestFolder();
    TestFolder(const TestFolder &) = delete;
    TestFolder &operator=(const TestFolder &) = delete;

    // Full path with a trailing backslash.
    const std::string &Path() const { return m_path; }
    const std::wstring &WidePath() const { return m_widePath; }
    // Copies a file into the folder under the given name; true on success.
    bool CopyIn(const std::string &source, const char *name);

private:
    std::wstring m_widePath;
    std::string m_path;
    std::vector<std::wstring> m_created;  // folders, outermost first
    std::vector<std::wstring> m_files;
};

// Runs the command line and returns the program's full 32-bit exit code;
// 0xDEADDEAD when it could not be started, or when it ran past 120 s and was
// killed (which fails the test).
DWORD RunAndWait(const std::string &commandLine);
DWORD RunAndWait(const std::wstring &commandLine);

// Restores the module records and the object map after a test changed them.
class ModuleStateGuard
{
public:
    ModuleStateGuard();
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard &) = delete;
    ModuleStateGuard &operator=(const ModuleStateGuard &) = delete;

private:
    HINSTANCE m_instance;
    HINSTANCE m_typeLibraryInstance;
    ObjectMapEntry **m_autoBegin;
    ObjectMapEntry **m_autoEnd;
    ObjectMapEntry *m_objectMap;
};

#endif  // KESTOR_TESTS_MODREG_TEST_SUPPORT_H
