#include "settings_quota.h"

#include <memory>
#include <new>

#include "kestor_interface.h"

static_assert((0x80070000u | ERROR_NOT_ENOUGH_QUOTA) == static_cast<unsigned>(KESTOR_E_QUOTA),
              "the refusal code is the quota error as an HRESULT");

namespace {

ULONG g_keyCounts = 0;

// The longest value name the registry accepts, in characters.
const DWORD kLongestValueName = 16383;

struct KeyFigures
{
    DWORD values;
    DWORD longestName;  // characters, no terminator
    DWORD largestData;  // bytes
};

LONG QueryFigures(HKEY key, KeyFigures *figures)
{
    return RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &figures->values,
                            &figures->longestName, &figures->largestData, NULL, NULL);
}

// Whether count values of at most eachBytes, and added bytes on top, fit in
// the key's size. Divides rather than multiplies, so nothing overflows.
bool FitsInKey(ULONGLONG count, ULONGLONG eachBytes, ULONGLONG added)
{
    if (added > KESTOR_MAX_KEY_BYTES)
        return false;
    return eachBytes == 0 || count <= (KESTOR_MAX_KEY_BYTES - added) / eachBytes;
}

// The data size of the value already stored under name; false when there is
// none, or when it cannot be read (then the write counts as a new value,
// the larger of the two cases).
bool StoredDataBytes(HKEY key, const WCHAR *name, ULONGLONG *bytes)
{
    DWORD size = 0;
    if (RegQueryValueExW(key, name, NULL, NULL, NULL, &size) != ERROR_SUCCESS)
        return false;
    *bytes = size;
    return true;
}

// The key's exact size, value by value. Stops as soon as it is past
// stopAbove, since the caller needs no more than that.
LONG MeasureKey(HKEY key, DWORD longestName, ULONGLONG stopAbove, ULONGLONG *total)
{
    // Room for any name the registry can hold, so a name written meanwhile
    // still fits.
    const DWORD capacity = (longestName > kLongestValueName ? longestName : kLongestValueName) + 1;
    std::unique_ptr<WCHAR[]> name(new (std::nothrow) WCHAR[capacity]);
    if (!name)
        return ERROR_OUTOFMEMORY;
    ++g_keyCounts;
    LONG result = ERROR_SUCCESS;
    *total = 0;
    for (DWORD index = 0; *total <= stopAbove; ++index)
    {
        DWORD nameLength = capacity;
        DWORD dataBytes = 0;
        result =
            RegEnumValueW(key, index, name.get(), &nameLength, NULL, NULL, NULL, &dataBytes);
        if (result != ERROR_SUCCESS)
            break;
        *total += static_cast<ULONGLONG>(nameLength) * sizeof(WCHAR) + dataBytes;
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

}  // namespace

bool ValueSizeAllowed(ULONGLONG dataBytes)
{
    return dataBytes <= KESTOR_MAX_VALUE_BYTES;
}

LONG CheckKeyQuota(HKEY key, const WCHAR *name, ULONGLONG dataBytes)
{
    KeyFigures figures;
    LONG result = QueryFigures(key, &figures);
    if (result != ERROR_SUCCESS)
        return result;
    const ULONGLONG nameBytes = static_cast<ULONGLONG>(lstrlenW(name)) * sizeof(WCHAR);
    const ULONGLONG newBytes = nameBytes + dataBytes;

    // The common case, answered without reading any value: even if every
    // value were as long as the longest name and the largest data, and this
    // one a new value, the key would stay within its bounds.
    const ULONGLONG largestValue =
        static_cast<ULONGLONG>(figures.longestName) * sizeof(WCHAR) + figures.largestData;
    if (figures.values < KESTOR_MAX_VALUES && FitsInKey(figures.values, largestValue, newBytes))
        return ERROR_SUCCESS;

    // Near a bound: an overwrite adds no value and only its growth counts,
    // so a value that does not grow can always be written.
    ULONGLONG oldDataBytes = 0;
    const bool overwrite = StoredDataBytes(key, name, &oldDataBytes);
    if (!overwrite && figures.values >= KESTOR_MAX_VALUES)
        return ERROR_NOT_ENOUGH_QUOTA;
    const ULONGLONG oldBytes = overwrite ? nameBytes + oldDataBytes : 0;
    if (newBytes <= oldBytes)
        return ERROR_SUCCESS;
    const ULONGLONG growth = newBytes - oldBytes;
    if (FitsInKey(figures.values, largestValue, growth))
        return ERROR_SUCCESS;
    if (growth > KESTOR_MAX_KEY_BYTES)
        return ERROR_NOT_ENOUGH_QUOTA;

    // Only now count exactly. This reads every value, which the registry
    // may do by copying its data.
    ULONGLONG total = 0;
    result = MeasureKey(key, figures.longestName, KESTOR_MAX_KEY_BYTES - growth, &total);
    if (result != ERROR_SUCCESS)
        return result;
    return total <= KESTOR_MAX_KEY_BYTES - growth ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_QUOTA;
}

ULONG SettingsKeyCounts()
{
    return g_keyCounts;
}
