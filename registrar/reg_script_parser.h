// CRegScriptParser: one run of a registration script over the registry, in
// register or unregister mode. Created for each run; it reads the expanded
// text of its run and looks replacement variables up in its CRegObject.
#ifndef KESTOR_REGISTRAR_REG_SCRIPT_PARSER_H
#define KESTOR_REGISTRAR_REG_SCRIPT_PARSER_H

#include <windows.h>

class CRegObject;
class CRegistryKey;

// Key names that "ForceRemove" and "Delete" never delete (compared without
// regard to case with the key's own name).
extern const char *const ProtectedKeyNames[];
extern const int ProtectedKeyNameCount;

// Value name after "Val" and key name remembered for deletion: up to 259
// bytes and the NUL. Longer names are refused, never cut.
const int kRegistryNameSize = 260;

// Deeper nesting than the registry itself can hold is refused before the
// interpreter's own stack runs out.
const int kLongestKeyNesting = 512;

class CRegScriptParser
{
public:
    explicit CRegScriptParser(const CRegObject &owner);

    CRegScriptParser(const CRegScriptParser &) = delete;
    CRegScriptParser &operator=(const CRegScriptParser &) = delete;

    // Expands the replacement variables and applies every root block.
    HRESULT ApplyScript(LPCSTR script, BOOL registerScript);

    // Starts right after the "{" of a block and ends after its closing token;
    // token is the shared look-ahead buffer (kTokenBufferSize bytes).
    HRESULT ApplyKeyBlock(LPSTR token, HKEY parent, BOOL registerScript, BOOL skipping);

    // Starts after the "=", writes the typed value (valueName NULL for the
    // key's default value) and ends with the following token in token.
    HRESULT ApplyValue(HKEY key, LPCSTR valueName, LPSTR token);

    // Steps over "= type value" when token holds "=", leaving the token that
    // follows in token.
    HRESULT SkipAssignment(LPSTR token);

    // The predefined key a root-key name stands for, or NULL.
    static HKEY FindRootKey(LPCSTR name);
    static bool IsProtectedKeyName(LPCSTR name);

private:
    HRESULT ApplyKeyBlockAt(LPSTR token, HKEY parent, BOOL registerScript, BOOL skipping,
                            int depth);
    // Closes an unregistered key and deletes it when it may go and has no
    // subkeys left.
    HRESULT RemoveOpenedKey(CRegistryKey &key, HKEY parent, LPCSTR keyName, bool removable);

    const CRegObject &m_owner;
    LPCSTR m_position;
    // Set while a failed registration of a root block is taken back.
    bool m_cleaningUp;
};

#endif  // KESTOR_REGISTRAR_REG_SCRIPT_PARSER_H
