#include "settings_quota.h"

#include <memory>
#include <new>

#include "base/handle_owner.h"
#include "kestor_interface.h"

static_assert((0x80070000u | ERROR_NOT_ENOUGH_QUOTA) == static_cast<unsigned>(KESTOR_E_QUOTA),
              "the refusal code is the quota error as an HRESULT");

namespace {

// The longest value name the registry accepts, in characters.
const DWORD kLongestValueName = 16383;

// What one call tells about the key's values.
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

// The figures the key must show next if only this process wrote it. The
// largest data is a range: the registry may lower that figure when the
// value replaced was the largest (Wine does), or keep it (Windows may).
struct ExpectedFigures
{
    DWORD values;
    DWORD longestName;
    DWORD largestDataAtLeast, largestDataAtMost;

    bool Shown(const KeyFigures &now) const
    {
        return now.values == values && now.longestName == longestName &&
               now.largestData >= largestDataAtLeast && now.largestData <= largestDataAtMost;
    }
};

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

// The key's exact size, value by value: names in bytes plus data.
LONG MeasureKey(HKEY key, DWORD longestName, ULONGLONG *total)
{
    // Room for any name the registry can hold, so a name written meanwhile
    // still fits.
    const DWORD capacity = (longestName > kLongestValueName ? longestName : kLongestValueName) + 1;
    std::unique_ptr<WCHAR[]> name(new (std::nothrow) WCHAR[capacity]);
    if (!name)
        return ERROR_OUTOFMEMORY;
    LONG result = ERROR_SUCCESS;
    *total = 0;
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = capacity;
        DWORD dataBytes = 0;
        result = RegEnumValueW(key, index, name.get(), &nameLength, NULL, NULL, NULL, &dataBytes);
        if (result != ERROR_SUCCESS)
            break;
        *total += static_cast<ULONGLONG>(nameLength) * sizeof(WCHAR) + dataBytes;
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

// What the write being checked does to the key.
struct PendingWrite
{
    KeyFigures before;  // the key as the check found it
    bool newValue;
    DWORD nameLength;  // characters
    ULONGLONG dataBytes;
    ULONGLONG oldBytes;  // name and data of the value replaced; 0 for a new one
    ULONGLONG newBytes;  // name and data stored
};

// The settings key's exact size, kept across calls.
//
// The total is trusted only while the key shows no change but this
// process's own writes, by two signs, read before every write:
// - A change notification on the key, armed when the key is counted and
//   again right after each own write: it is set by any change since, by
//   anyone, whatever its time. The key's last-write time could not do
//   that: Windows stamps it with the timer's granularity, so a change by
//   someone else in the same tick as an own write leaves the time as it was
//   (and reading the time back after each write would cost one more call
//   that, under Wine, walks every value).
// - The figures of one RegQueryInfoKeyW call (value count, longest name,
//   largest data), which the check reads anyway for the count bound,
//   against what the own writes alone can have made of them. They tell
//   when the key is another one (deleted and made again: Wine sets no
//   notification for that), and catch most changes in the gap between an
//   own write and the re-arming.
// Without a notification the total is not trusted at all. What stays
// unseen is a change by someone else that lands in that gap, a few calls
// long, and keeps count, longest name and largest data; and the check and
// the write are not one step across processes. Only privileged writers and
// other broker processes can write the key directly, so no caller of the
// broker can bring either about.
class CKeyTotals
{
public:
    CKeyTotals()
        : m_known(false), m_bytes(0), m_expected(), m_watching(false), m_counts(0), m_pending()
    {
        InitializeCriticalSection(&m_lock);
    }
    ~CKeyTotals() { DeleteCriticalSection(&m_lock); }
    CKeyTotals(const CKeyTotals &) = delete;
    CKeyTotals &operator=(const CKeyTotals &) = delete;

    void Enter() { EnterCriticalSection(&m_lock); }
    void Leave() { LeaveCriticalSection(&m_lock); }

    LONG Check(HKEY key, const WCHAR *name, ULONGLONG dataBytes);
    void Written();
    ULONG Counts() const { return m_counts; }

private:
    bool StillHolds(const KeyFigures &now);
    LONG Count(HKEY key, const KeyFigures &now);
    void Watch();

    CRITICAL_SECTION m_lock;
    bool m_known;  // m_bytes is the key's size, m_expected its next figures
    ULONGLONG m_bytes;
    ExpectedFigures m_expected;
    RegistryKeyHandle m_watched;
    KernelHandle m_changed;  // set by the notification armed on m_watched
    bool m_watching;         // false when no notification could be armed
    ULONG m_counts;
    PendingWrite m_pending;
};

LONG CKeyTotals::Check(HKEY key, const WCHAR *name, ULONGLONG dataBytes)
{
    KeyFigures now;
    LONG result = QueryFigures(key, &now);
    if (result != ERROR_SUCCESS)
        return result;

    // An overwrite adds no value, and only its growth counts towards the size.
    ULONGLONG oldDataBytes = 0;
    const bool overwrite = StoredDataBytes(key, name, &oldDataBytes);
    if (!overwrite && now.values >= KESTOR_MAX_VALUES)
        return ERROR_NOT_ENOUGH_QUOTA;
    const DWORD nameLength = static_cast<DWORD>(lstrlenW(name));
    const ULONGLONG nameBytes = static_cast<ULONGLONG>(nameLength) * sizeof(WCHAR);
    m_pending = {now,
                 !overwrite,
                 nameLength,
                 dataBytes,
                 overwrite ? nameBytes + oldDataBytes : 0,
                 nameBytes + dataBytes};

    const bool known = StillHolds(now);
    // A write that does not grow the key always fits, counted or not.
    if (m_pending.newBytes <= m_pending.oldBytes)
        return ERROR_SUCCESS;
    if (!known)
    {
        result = Count(key, now);
        if (result != ERROR_SUCCESS)
            return result;
    }
    const ULONGLONG growth = m_pending.newBytes - m_pending.oldBytes;
    if (growth > KESTOR_MAX_KEY_BYTES || m_bytes > KESTOR_MAX_KEY_BYTES - growth)
        return ERROR_NOT_ENOUGH_QUOTA;
    return ERROR_SUCCESS;
}

// Whether the kept total still describes the key: no change notified since
// the last own write or count, and the figures these leave.
bool CKeyTotals::StillHolds(const KeyFigures &now)
{
    m_known = m_known && m_watching && m_expected.Shown(now) &&
              WaitForSingleObject(m_changed, 0) == WAIT_TIMEOUT;
    return m_known;
}

LONG CKeyTotals::Count(HKEY key, const KeyFigures &now)
{
    // Watch first, so that a change made while counting shows next time.
    m_watched.Close();
    if (RegOpenKeyExW(key, NULL, 0, KEY_NOTIFY, m_watched.Place()) != ERROR_SUCCESS)
        *m_watched.Place() = NULL;
    if (m_changed == NULL)
        *m_changed.Place() = CreateEventW(NULL, FALSE, FALSE, NULL);
    else
        WaitForSingleObject(m_changed, 0);  // set by closing the old handle, perhaps
    Watch();

    ULONGLONG total = 0;
    const LONG result = MeasureKey(key, now.longestName, &total);
    if (result != ERROR_SUCCESS)
        return result;
    ++m_counts;
    m_bytes = total;
    m_expected = {now.values, now.longestName, now.largestData, now.largestData};
    m_known = true;
    return ERROR_SUCCESS;
}

// Arms the notification: the next change to the key's values, by anyone
// (this process included), sets m_changed. The event resets itself when a
// wait sees it set, so one wait both tests and clears it.
void CKeyTotals::Watch()
{
    m_watching = m_watched != NULL && m_changed != NULL &&
                 RegNotifyChangeKeyValue(m_watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_changed,
                                         TRUE) == ERROR_SUCCESS;
}

void CKeyTotals::Written()
{
    if (!m_known || m_bytes < m_pending.oldBytes)
    {
        m_known = false;
        return;
    }
    m_bytes = m_bytes - m_pending.oldBytes + m_pending.newBytes;
    // The write has set the notification: arm it again at once, which leaves
    // as short a gap as can be. A write that changed nothing (the same data
    // again) sets nothing, and the armed notification stays as it is.
    if (WaitForSingleObject(m_changed, 0) != WAIT_TIMEOUT)
        Watch();

    // One value more unless it replaced one; the longest name as long as
    // before or as the name written; the largest data at least the data
    // written.
    const KeyFigures &before = m_pending.before;
    const DWORD written = static_cast<DWORD>(m_pending.dataBytes);
    m_expected = {
        before.values + (m_pending.newValue ? 1 : 0),
        before.longestName > m_pending.nameLength ? before.longestName : m_pending.nameLength,
        written, before.largestData > written ? before.largestData : written};
}

CKeyTotals &TheKeyTotals()
{
    static CKeyTotals totals;
    return totals;
}

}  // namespace

bool ValueSizeAllowed(ULONGLONG dataBytes)
{
    return dataBytes <= KESTOR_MAX_VALUE_BYTES;
}

CSettingsKeyWrite::CSettingsKeyWrite(HKEY key, const WCHAR *name, ULONGLONG dataBytes)
{
    TheKeyTotals().Enter();
    m_verdict = TheKeyTotals().Check(key, name, dataBytes);
}

CSettingsKeyWrite::~CSettingsKeyWrite()
{
    TheKeyTotals().Leave();
}

void CSettingsKeyWrite::Written()
{
    if (m_verdict == ERROR_SUCCESS)
        TheKeyTotals().Written();
}

ULONG SettingsKeyCounts()
{
    CKeyTotals &totals = TheKeyTotals();
    totals.Enter();
    const ULONG counts = totals.Counts();
    totals.Leave();
    return counts;
}
