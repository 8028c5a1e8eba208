// Registry places of a test's own, removed again when the test ends.
#ifndef KESTOR_TESTS_SCRATCH_REGISTRY_H
#define KESTOR_TESTS_SCRATCH_REGISTRY_H

#include <windows.h>

#include <string>
#include <vector>

// A fresh, empty key HKEY_CURRENT_USER\Software\KestorTests\<tag>-<pid>-<n>,
// deleted with its whole tree by the destructor. Tests that run in parallel
// share one registry, so every scratch key has a name of its own.
class ScratchKey
{
public:
    explicit ScratchKey(const char *tag);
    ~ScratchKey();
    ScratchKey(const ScratchKey &) = delete;
    ScratchKey &operator=(const ScratchKey &) = delete;

    HKEY Handle() const { return m_key; }
    // Path below HKEY_CURRENT_USER, e.g. for scripts that name "HKCU".
    const std::string &Path() const { return m_path; }

private:
    HKEY m_key;
    std::string m_path;
};

// Points HKEY_CLASSES_ROOT of this process at a scratch key until the
// destructor restores it.
class ClassesRootOverride
{
public:
    explicit ClassesRootOverride(HKEY target);
    ~ClassesRootOverride();
    ClassesRootOverride(const ClassesRootOverride &) = delete;
    ClassesRootOverride &operator=(const ClassesRootOverride &) = delete;
};

// Reads a value of any type; false when it is missing. view (KEY_WOW64_64KEY
// or KEY_WOW64_32KEY) picks the registry view on 64-bit Windows; 0 is this
// process's own.
bool ReadRegistryValue(HKEY root, const char *subkey, const char *name, DWORD *type,
                       std::string *bytes, REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const char *subkey, REGSAM view = 0);

// One value of a key as the registry stores it.
struct RegistryValue
{
    std::string name;
    DWORD type;
    std::string bytes;
};
// The values of key in the registry's order, large ones read whole, up to
// the first that cannot be read.
std::vector<RegistryValue> ReadRegistryValues(HKEY key);
// The names of key's direct subkeys, in the registry's order.
std::vector<std::string> RegistrySubkeyNames(HKEY key);

#endif  // KESTOR_TESTS_SCRATCH_REGISTRY_H
