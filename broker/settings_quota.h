// The bounds of the settings key (KESTOR_MAX_* in kestor_interface.h),
// checked before every write so that no caller can fill the registry
// through the broker. Results are Win32 codes, as the registry's are:
// ERROR_NOT_ENOUGH_QUOTA for a write past a bound.
//
// The size bound needs the sum over every value of the key. Reading it value
// by value costs one registry call per value, and a caller who fills the key
// with small values would make every later write pay that. So the process
// counts the key once, keeps the total itself, adds each of its own writes
// to it, and counts again only when the key shows that someone else changed
// it (settings_quota.cpp says how it tells).
#ifndef KESTOR_BROKER_SETTINGS_QUOTA_H
#define KESTOR_BROKER_SETTINGS_QUOTA_H

#include <windows.h>

// Whether one value of dataBytes may be stored at all; needs no key.
bool ValueSizeAllowed(ULONGLONG dataBytes);

// One write into the open settings key, within its bounds. The constructor
// checks whether storing dataBytes under name (up to its first NUL) keeps
// the key within them; Written tells the kept total that the write went
// through. Check and write are one step for this process: the object holds
// the process's lock on the total while it lives. The key needs
// KEY_QUERY_VALUE and KEY_NOTIFY.
class CSettingsKeyWrite
{
public:
    CSettingsKeyWrite(HKEY key, const WCHAR *name, ULONGLONG dataBytes);
    ~CSettingsKeyWrite();
    CSettingsKeyWrite(const CSettingsKeyWrite &) = delete;
    CSettingsKeyWrite &operator=(const CSettingsKeyWrite &) = delete;

    // ERROR_SUCCESS when the write may go ahead, ERROR_NOT_ENOUGH_QUOTA, or
    // the registry's error when the key cannot be measured.
    LONG Verdict() const { return m_verdict; }
    // Call once the write has succeeded, and only then.
    void Written();

private:
    LONG m_verdict;
};

// How many times this process has counted the settings key value by value.
ULONG SettingsKeyCounts();

#endif  // KESTOR_BROKER_SETTINGS_QUOTA_H
