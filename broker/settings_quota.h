// The bounds of the settings key (KESTOR_MAX_* in kestor_interface.h),
// checked before every write so that no caller can fill the registry
// through the broker. Results are Win32 codes, as the registry's are:
// ERROR_NOT_ENOUGH_QUOTA for a write past a bound.
#ifndef KESTOR_BROKER_SETTINGS_QUOTA_H
#define KESTOR_BROKER_SETTINGS_QUOTA_H

#include <windows.h>

// Whether one value of dataBytes may be stored at all; needs no key.
bool ValueSizeAllowed(ULONGLONG dataBytes);

// Whether storing dataBytes under name (up to its first NUL) keeps the open
// key within its bounds: ERROR_SUCCESS, ERROR_NOT_ENOUGH_QUOTA, or the
// registry's error when the key cannot be measured. The key needs
// KEY_QUERY_VALUE. Reads only.
LONG CheckKeyQuota(HKEY key, const WCHAR *name, ULONGLONG dataBytes);

// How many times this process has counted the settings key value by value.
ULONG SettingsKeyCounts();

#endif  // KESTOR_BROKER_SETTINGS_QUOTA_H
