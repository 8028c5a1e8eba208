#include "kestor_obj.h"

#include "base/handle_owner.h"
#include "settings_quota.h"

namespace {

// The only key the object writes, and the text a key path is tested against.
const WCHAR kSettingsKey[] = KESTOR_SETTINGS_KEY_W;
const size_t kSettingsKeyLength = sizeof kSettingsKey / sizeof kSettingsKey[0] - 1;

const REGSAM kSettingsAccess = KEY_READ | KEY_WRITE;

// A key path passes when, over the shorter of itself and the fixed key
// name, it agrees with that name code unit for code unit. A null path is
// the empty string, as COM takes a null BSTR.
bool KeyPathAccepted(const WCHAR *keyPath)
{
    if (keyPath == NULL)
        return true;
    for (size_t i = 0; i < kSettingsKeyLength; ++i)
    {
        if (keyPath[i] == L'\0')
            return true;
        if (keyPath[i] != kSettingsKey[i])
            return false;
    }
    return true;
}

HRESULT FromWin32(LONG code)
{
    if (code > 0)
        return static_cast<HRESULT>(0x80070000u | (static_cast<DWORD>(code) & 0xFFFFu));
    return static_cast<HRESULT>(code);
}

}  // namespace

const InterfaceMapEntry *CKestorObj::GetInterfaceMap()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IKestor, InterfaceOffset<IKestor, CKestorObj>(), INTERFACE_MAP_SIMPLE},
        {NULL, 0, INTERFACE_MAP_END},
    };
    return table;
}

HRESULT STDMETHODCALLTYPE CKestorObj::SetSettingValue(SettingValueType valueType, BSTR keyPath,
                                                      BSTR valueName, BSTR valueData)
{
    // Argument tests first: a refused call touches no key.
    if (valueName == NULL || valueData == NULL)
        return E_INVALIDARG;
    if (valueType != SettingValueString)
        return E_INVALIDARG;
    if (!KeyPathAccepted(keyPath))
        return E_INVALIDARG;

    // The length prefix, not the first NUL, decides how much is stored, so
    // embedded NULs and the terminator are all written. A value too large
    // is refused before the key is even created.
    const ULONGLONG byteCount =
        (static_cast<ULONGLONG>(SysStringLen(valueData)) + 1) * sizeof(WCHAR);
    if (!ValueSizeAllowed(byteCount))
        return FromWin32(ERROR_NOT_ENOUGH_QUOTA);

    RegistryKeyHandle key;
    LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, kSettingsKey, 0, kSettingsAccess, key.Place());
    if (result != ERROR_SUCCESS)
    {
        *key.Place() = NULL;
        result = RegCreateKeyExW(HKEY_CLASSES_ROOT, kSettingsKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 kSettingsAccess, NULL, key.Place(), NULL);
        if (result != ERROR_SUCCESS)
        {
            *key.Place() = NULL;
            return FromWin32(result);
        }
    }

    // Check, then write. Nothing of this process comes between the two: the
    // server's calls all arrive on the one thread of its single-threaded
    // apartment, which runs them one after the other, and the bounded write
    // also holds the process's lock on the key's total until it ends. Keep
    // it so: a call must not let another in (no message loop, no outgoing
    // COM call) between the check and the write.
    CSettingsKeyWrite bounded(key.Get(), valueName, byteCount);
    if (bounded.Verdict() != ERROR_SUCCESS)
        return FromWin32(bounded.Verdict());
    result =
        RegSetValueExW(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(valueData),
                       static_cast<DWORD>(byteCount));
    if (result != ERROR_SUCCESS)
        return FromWin32(result);
    bounded.Written();
    return S_OK;
}

HRESULT WINAPI CreateKestorObj(void *outer, REFIID iid, void **result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;
    // The object cannot be aggregated.
    if (outer != NULL)
        return CLASS_E_NOAGGREGATION;
    return CComObject<CKestorObj>::Create(iid, result);
}
