// Read-only access to the registry, in either view on 64-bit Windows. Keys
// are opened with KEY_READ only, so the check needs no rights to write.
#ifndef KESTOR_CHECKER_REGISTRY_READER_H
#define KESTOR_CHECKER_REGISTRY_READER_H

#include <windows.h>

#include <string>
#include <vector>

// True on 64-bit Windows, whatever this program's own width.
bool OnWin64();

// A registry view. On 32-bit Windows there is one, and the flag stays 0.
struct RegistryView
{
    const char *label;  // "32-bit view", "64-bit view", or "registry"
    REGSAM flag;
    bool native64;  // the 64-bit view, where 64-bit programs' files are
};

// The view the 32-bit broker registers its class in.
RegistryView BrokerView();
// Every view there is: the 32-bit one first.
std::vector<RegistryView> AllViews();

class ReadKey
{
public:
    ReadKey() = default;
    ~ReadKey();
    ReadKey(const ReadKey &) = delete;
    ReadKey &operator=(const ReadKey &) = delete;

    // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key is missing, or why
    // it could not be read.
    LONG Open(HKEY root, const std::string &path, const RegistryView &view);
    LONG Open(const ReadKey &parent, const std::string &path, const RegistryView &view);
    HKEY Get() const { return m_key; }

    // A REG_SZ or REG_EXPAND_SZ value as stored (NULL: the default
    // value); ERROR_INVALID_DATATYPE for another type.
    LONG ReadString(const char *name, std::string *text) const;
    LONG ReadDword(const char *name, DWORD *number) const;
    // Names of the subkeys.
    std::vector<std::string> Subkeys() const;

private:
    HKEY m_key = NULL;
};

// The text of a value, or "" when it is missing or unreadable.
std::string StringValue(HKEY root, const std::string &path, const char *name,
                        const RegistryView &view);

// A value compared as COM compares names and identifiers: without case.
bool SameText(const std::string &a, const std::string &b);

#endif  // KESTOR_CHECKER_REGISTRY_READER_H
