#include "registrar/reg_script_parser.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <new>

#include "registrar/reg_object.h"
#include "registrar/script_text.h"
#include "base/registry_key.h"

const char *const ProtectedKeyNames[] = {
    "AppID",    "CLSID",     "Component Categories",
    "FileType", "Interface", "Hardware",
    "Mime",     "SAM",       "SECURITY",
    "SYSTEM",   "Software",  "TypeLib",
};
const int ProtectedKeyNameCount = sizeof ProtectedKeyNames / sizeof ProtectedKeyNames[0];

namespace {

struct RootKeyName
{
    const char *name;
    HKEY key;
};

const RootKeyName kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Scratch areas of "M" and "B" values up to this size stay on the stack.
const size_t kLocalScratchSize = 256;

HRESULT FromWin32(LONG code)
{
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(code));
}

// A key entry names exactly one key below its parent: an empty name would
// stand for the parent itself (and a tree deletion of it would empty the
// parent), a backslash would reach further down.
bool IsUsableKeyName(LPCSTR token)
{
    return token[0] != '\0' && !ContainsCharacter(token, '\\');
}

bool IsKeyword(LPCSTR token, LPCSTR keyword)
{
    return lstrcmpiA(token, keyword) == 0;
}

// Lends a handle owned elsewhere to a CRegistryKey for the length of a
// scope and takes it back unclosed on every path.
class CBorrowedKey
{
public:
    explicit CBorrowedKey(HKEY key) { m_key.Attach(key); }
    ~CBorrowedKey() { m_key.Detach(); }
    CBorrowedKey(const CBorrowedKey &) = delete;
    CBorrowedKey &operator=(const CBorrowedKey &) = delete;
    CRegistryKey &Key() { return m_key; }

private:
    CRegistryKey m_key;
};

// A byte area that stays on the stack up to kLocalScratchSize bytes.
class CScratchArea
{
public:
    CScratchArea() : m_heap(NULL), m_data(NULL) {}
    ~CScratchArea() { delete[] m_heap; }
    CScratchArea(const CScratchArea &) = delete;
    CScratchArea &operator=(const CScratchArea &) = delete;

    char *Allocate(size_t size)
    {
        if (size <= kLocalScratchSize)
            m_data = m_local;
        else
            m_data = m_heap = new (std::nothrow) char[size];
        return m_data;
    }

private:
    char m_local[kLocalScratchSize];
    char *m_heap;
    char *m_data;
};

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// Copies a "M" value's text into list, turning each backslash-zero into a
// NUL, and returns the byte count of the strings up to and including the
// first empty one. list has room for the text and two NULs.
DWORD BuildMultiString(LPCSTR text, char *list)
{
    size_t out = 0;
    LPCSTR p = text;
    while (*p != '\0')
    {
        if (p[0] == '\\' && p[1] == '0')
        {
            list[out++] = '\0';
            p += 2;
            continue;
        }
        list[out++] = *p;
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)))
        {
            if (p[1] == '\0')
                break;  // a lead byte without its trail ends the text
            list[out++] = p[1];
            p += 2;
            continue;
        }
        ++p;
    }
    list[out++] = '\0';
    list[out++] = '\0';

    DWORD count = 0;
    for (const char *s = list;;)
    {
        const size_t length = std::strlen(s);
        count += static_cast<DWORD>(length + 1);
        if (length == 0)
            break;
        s += length + 1;
    }
    return count;
}

}  // namespace

CRegScriptParser::CRegScriptParser(const CRegObject &owner)
    : m_owner(owner), m_position(NULL), m_cleaningUp(false)
{}

HKEY CRegScriptParser::FindRootKey(LPCSTR name)
{
    for (const RootKeyName &entry : kRootKeys)
    {
        if (lstrcmpiA(name, entry.name) == 0)
            return entry.key;
    }
    return NULL;
}

bool CRegScriptParser::IsProtectedKeyName(LPCSTR name)
{
    for (int i = 0; i < ProtectedKeyNameCount; ++i)
    {
        if (lstrcmpiA(name, ProtectedKeyNames[i]) == 0)
            return true;
    }
    return false;
}

HRESULT CRegScriptParser::ApplyScript(LPCSTR script, BOOL registerScript)
{
    LPSTR expanded = NULL;
    HRESULT hr = ExpandReplacements(script, m_owner.Replacements(), &expanded);
    if (FAILED(hr))
        return hr;

    char token[kTokenBufferSize];
    m_position = expanded;
    SkipBlanks(m_position);
    while (*m_position != '\0')
    {
        hr = ReadToken(m_position, token);
        if (FAILED(hr))
            break;
        HKEY root = FindRootKey(token);
        if (root == NULL)
        {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(m_position, token);
        if (FAILED(hr))
            break;
        if (token[0] != '{')
        {
            hr = DISP_E_EXCEPTION;
            break;
        }

        if (registerScript)
        {
            LPCSTR blockStart = m_position;
            hr = ApplyKeyBlock(token, root, TRUE, FALSE);
            if (FAILED(hr))
            {
                // Take back what this root block wrote; the register failure
                // is what the caller learns.
                m_position = blockStart;
                m_cleaningUp = true;
                ApplyKeyBlock(token, root, FALSE, FALSE);
                m_cleaningUp = false;
                break;
            }
        }
        else
        {
            hr = ApplyKeyBlock(token, root, FALSE, FALSE);
            if (FAILED(hr))
                break;
        }
        SkipBlanks(m_position);
    }

    m_position = NULL;
    CoTaskMemFree(expanded);
    return hr;
}

HRESULT CRegScriptParser::ApplyKeyBlock(LPSTR token, HKEY parent, BOOL registerScript,
                                        BOOL skipping)
{
    return ApplyKeyBlockAt(token, parent, registerScript, skipping, 1);
}

HRESULT CRegScriptParser::ApplyKeyBlockAt(LPSTR token, HKEY parent, BOOL registerScript,
                                          BOOL skipping, int depth)
{
    if (depth > kLongestKeyNesting)
        return DISP_E_EXCEPTION;

    CRegistryKey current;
    HRESULT hr = ReadToken(m_position, token);
    if (FAILED(hr))
        return hr;

    while (token[0] != '}')
    {
        bool removable = true;

        const bool isDelete = IsKeyword(token, "Delete");
        if (isDelete || IsKeyword(token, "ForceRemove"))
        {
            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
            // "NoRemove" may follow; the key name comes after it, and a key
            // of that name could never have been written by a script.
            if (IsKeyword(token, "NoRemove"))
            {
                removable = false;
                hr = ReadToken(m_position, token);
                if (FAILED(hr))
                    return hr;
            }
            if (registerScript)
            {
                if (!IsUsableKeyName(token))
                    return DISP_E_EXCEPTION;
                if (!IsProtectedKeyName(token))
                {
                    // A failed deletion is no failure: the entry writes over
                    // whatever is left.
                    CBorrowedKey borrowed(parent);
                    borrowed.Key().DeleteKeyTree(token);
                }
                if (isDelete)
                {
                    hr = ReadToken(m_position, token);
                    if (SUCCEEDED(hr))
                        hr = SkipAssignment(token);
                    if (FAILED(hr))
                        return hr;
                    // A "Delete" entry has no block of its own.
                    if (lstrcmpA(token, "{") == 0)
                        return DISP_E_EXCEPTION;
                    continue;
                }
            }
        }

        if (removable && IsKeyword(token, "NoRemove"))
        {
            removable = false;
            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
        }

        if (IsKeyword(token, "Val"))
        {
            char valueName[kRegistryNameSize];
            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
            const size_t nameLength = std::strlen(token);
            if (nameLength >= sizeof valueName)
                return DISP_E_EXCEPTION;
            std::memcpy(valueName, token, nameLength + 1);

            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
            if (token[0] != '=')
                return DISP_E_EXCEPTION;

            if (registerScript)
            {
                hr = ApplyValue(parent, valueName, token);
                if (FAILED(hr))
                    return hr;
            }
            else
            {
                if (!skipping && removable)
                {
                    CRegistryKey valueKey;
                    LONG result = valueKey.Open(parent, NULL, KEY_WRITE);
                    if (result != ERROR_SUCCESS)
                        return FromWin32(result);
                    result = RegDeleteValueA(valueKey, valueName);
                    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
                        return FromWin32(result);
                    valueKey.Close();
                }
                hr = SkipAssignment(token);
                if (FAILED(hr))
                    return hr;
            }
            // A value has no block of its own.
            if (lstrcmpA(token, "{") == 0)
                return DISP_E_EXCEPTION;
            continue;
        }

        // A key entry: one level down per entry.
        if (!IsUsableKeyName(token))
            return DISP_E_EXCEPTION;

        if (registerScript)
        {
            if (current.Open(parent, token, KEY_READ | KEY_WRITE) != ERROR_SUCCESS &&
                current.Open(parent, token, KEY_READ) != ERROR_SUCCESS)
            {
                LONG result = current.Create(parent, token, KEY_READ | KEY_WRITE);
                if (result != ERROR_SUCCESS)
                    return FromWin32(result);
            }

            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
            if (token[0] == '=')
            {
                hr = ApplyValue(current, NULL, token);
                if (FAILED(hr))
                    return hr;
            }
            if (lstrcmpA(token, "{") == 0)
            {
                hr = ApplyKeyBlockAt(token, current, TRUE, FALSE, depth + 1);
                if (FAILED(hr))
                    return hr;
                hr = ReadToken(m_position, token);
                if (FAILED(hr))
                    return hr;
            }
            continue;
        }

        // Unregister. The name is refused rather than cut, so a longer name
        // never deletes a different key.
        const size_t nameLength = std::strlen(token);
        if (nameLength >= kRegistryNameSize)
            return DISP_E_EXCEPTION;
        char keyName[kRegistryNameSize];
        std::memcpy(keyName, token, nameLength + 1);

        current.Close();
        const LONG openResult =
            skipping ? ERROR_FILE_NOT_FOUND : current.Open(parent, keyName, KEY_READ);

        hr = ReadToken(m_position, token);
        if (SUCCEEDED(hr))
            hr = SkipAssignment(token);  // a default value goes with its key only
        if (FAILED(hr))
            return hr;
        if (isDelete && lstrcmpA(token, "{") == 0)
            return DISP_E_EXCEPTION;

        if (lstrcmpA(token, "{") == 0)
        {
            // Also a skipping block's failure ends this one: the read
            // position is then somewhere inside that block, and reading on
            // from there would take its entries for this block's.
            hr = ApplyKeyBlockAt(token, current, FALSE, skipping || openResult != ERROR_SUCCESS,
                                 depth + 1);
            if (FAILED(hr))
            {
                // Taking back a failed registration stops where the
                // registration stopped; the keys around that point were
                // created by it and go as they would at the block's end.
                if (m_cleaningUp && openResult == ERROR_SUCCESS)
                    RemoveOpenedKey(current, parent, keyName, removable);
                return hr;
            }
            hr = ReadToken(m_position, token);
            if (FAILED(hr))
                return hr;
        }

        if (openResult == ERROR_FILE_NOT_FOUND)
            continue;  // nothing to remove
        if (openResult != ERROR_SUCCESS)
            return FromWin32(openResult);

        hr = RemoveOpenedKey(current, parent, keyName, removable);
        if (FAILED(hr))
            return hr;
    }

    current.Close();
    return S_OK;
}

HRESULT CRegScriptParser::RemoveOpenedKey(CRegistryKey &key, HKEY parent, LPCSTR keyName,
                                          bool removable)
{
    DWORD subkeyCount = 0;
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeyCount, NULL, NULL, NULL, NULL, NULL, NULL,
                         NULL) != ERROR_SUCCESS)
        subkeyCount = 0;
    LONG result = key.Close();
    if (result != ERROR_SUCCESS)
        return FromWin32(result);
    if (removable && subkeyCount == 0)
    {
        result = RegDeleteKeyA(parent, keyName);
        if (result != ERROR_SUCCESS)
            return FromWin32(result);
    }
    return S_OK;
}

HRESULT CRegScriptParser::ApplyValue(HKEY key, LPCSTR valueName, LPSTR token)
{
    HRESULT hr = ReadToken(m_position, token);
    if (FAILED(hr))
        return hr;
    char type;
    if (IsKeyword(token, "S"))
        type = 'S';
    else if (IsKeyword(token, "M"))
        type = 'M';
    else if (IsKeyword(token, "D"))
        type = 'D';
    else if (IsKeyword(token, "B"))
        type = 'B';
    else
        return DISP_E_EXCEPTION;

    SkipBlanks(m_position);
    hr = ReadToken(m_position, token);
    if (FAILED(hr))
        return hr;

    CBorrowedKey borrowed(key);
    CRegistryKey &target = borrowed.Key();
    LONG result = ERROR_SUCCESS;
    switch (type)
    {
    case 'S':
        result = target.SetStringValue(token, valueName);
        break;

    case 'M':
    {
        CScratchArea scratch;
        char *list = scratch.Allocate(std::strlen(token) + 2);
        if (list == NULL)
            result = ERROR_OUTOFMEMORY;
        else
            result = target.SetMultiStringValue(valueName, list, BuildMultiString(token, list));
        break;
    }

    case 'D':
    {
        CWideText wide;
        if (!wide.Convert(token))
            return E_OUTOFMEMORY;
        ULONG number = 0;
        // A text the conversion refuses is a failure, not a made-up number.
        hr = VarUI4FromStr(const_cast<LPOLESTR>(wide.Text()), 0, 0, &number);
        if (FAILED(hr))
            return hr;
        result = target.SetDWORDValue(valueName, number);
        break;
    }

    case 'B':
    {
        const size_t length = std::strlen(token);
        if (length % 2 != 0)
            return E_FAIL;
        const size_t byteCount = length / 2;
        CScratchArea scratch;
        char *bytes = scratch.Allocate(byteCount == 0 ? 1 : byteCount);
        if (bytes == NULL)
            return E_FAIL;
        std::memset(bytes, 0, byteCount);
        for (size_t i = 0; i < length; ++i)
        {
            const int digit = HexDigitValue(token[i]);
            bytes[i / 2] = static_cast<char>(bytes[i / 2] | (i % 2 == 0 ? digit << 4 : digit));
        }
        result = target.SetBinaryValue(valueName, bytes, static_cast<DWORD>(byteCount));
        break;
    }
    }
    if (result != ERROR_SUCCESS)
        return FromWin32(result);

    return ReadToken(m_position, token);
}

HRESULT CRegScriptParser::SkipAssignment(LPSTR token)
{
    if (token[0] != '=')
        return S_OK;
    HRESULT hr = ReadToken(m_position, token);  // the type, not checked here
    if (FAILED(hr))
        return hr;
    SkipBlanks(m_position);
    hr = ReadToken(m_position, token);  // the value
    if (FAILED(hr))
        return hr;
    return ReadToken(m_position, token);
}
