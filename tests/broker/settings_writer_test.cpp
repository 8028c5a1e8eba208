// SetSettingValue against the real registry. HKEY_CLASSES_ROOT is pointed
// at a scratch key of the test's own, so parallel programs never collide;
// one test checks the unredirected path and restores what it found.
#include "broker/kestor_obj.h"
#include "broker/settings_quota.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

// Owner of one BSTR; the length is explicit so embedded NULs survive.
class Bstr
{
public:
    explicit Bstr(const std::wstring &text)
        : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return m_value; }

private:
    BSTR m_value;
};

// A value read back through the wide functions, bytes exactly as stored.
struct StoredValue
{
    bool found = false;
    DWORD type = REG_NONE;
    std::wstring data;  // every stored code unit, terminator included
    DWORD byteCount = 0;
};

StoredValue ReadWide(HKEY root, const wchar_t *subkey, const wchar_t *name)
{
    StoredValue value;
    HKEY key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS)
    {
        std::wstring bytes((size + 1) / 2, L'\0');
        if (RegQueryValueExW(key, name, NULL, &value.type, reinterpret_cast<BYTE *>(&bytes[0]),
                             &size) == ERROR_SUCCESS)
        {
            value.found = true;
            value.byteCount = size;
            value.data = bytes;
        }
    }
    RegCloseKey(key);
    return value;
}

class SettingsWriterTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_SUCCEEDED(CreateKestorObj(NULL, IID_IKestor, reinterpret_cast<void **>(&m_object)));
    }
    void TearDown() override
    {
        if (m_object != NULL)
            m_object->Release();
    }

    HRESULT Set(int type, const wchar_t *path, const wchar_t *name, const wchar_t *data)
    {
        BSTR pathB = path ? SysAllocString(path) : NULL;
        BSTR nameB = name ? SysAllocString(name) : NULL;
        BSTR dataB = data ? SysAllocString(data) : NULL;
        HRESULT hr =
            m_object->SetSettingValue(static_cast<SettingValueType>(type), pathB, nameB, dataB);
        SysFreeString(pathB);
        SysFreeString(nameB);
        SysFreeString(dataB);
        return hr;
    }

    StoredValue Read(const wchar_t *name)
    {
        return ReadWide(m_root.Handle(), L"GPI\\Settings", name);
    }

    bool SettingsKeyExists() { return RegistryKeyExists(m_root.Handle(), "GPI"); }

    ScratchKey m_root{"Settings"};
    ClassesRootOverride m_override{m_root.Handle()};
    IKestor *m_object = NULL;
};

TEST_F(SettingsWriterTest, KeyPathMustAgreeWithTheFixedKeyOverItsOwnLength)
{
    struct Case
    {
        const wchar_t *path;
        bool accepted;
    };
    const Case cases[] = {
        {L"", true},
        {NULL, true},  // a null BSTR is the empty string
        {L"G", true},
        {L"GPI", true},
        {L"GPI\\Set", true},
        {L"GPI\\Settings", true},
        {L"GPI\\Settings\\Audio", true},
        {L"GPI\\SettingsX", true},
        {L"GPX", false},
        {L"gpi\\settings", false},
        {L"GPI\\SETTINGS", false},
        {L"GPI/Settings", false},
        {L"HKEY_CLASSES_ROOT\\GPI\\Settings", false},
        {L" GPI\\Settings", false},
        {L"GPI\\Settings\\..\\..\\Other", true},  // only the first 12 units count
        {L"GPI\\Setting/", false},
    };
    int index = 0;
    for (const Case &c : cases)
    {
        const std::wstring name = L"path" + std::to_wstring(index++);
        SCOPED_TRACE(testing::Message() << "case " << index - 1);
        if (c.accepted)
        {
            EXPECT_SUCCEEDED(Set(SettingValueString, c.path, name.c_str(), L"yes"));
            EXPECT_TRUE(Read(name.c_str()).found);
        }
        else
        {
            EXPECT_HR(E_INVALIDARG, Set(SettingValueString, c.path, name.c_str(), L"no"));
            EXPECT_FALSE(Read(name.c_str()).found);
        }
    }
    // A deeper path still writes into GPI\Settings itself and creates nothing.
    EXPECT_FALSE(RegistryKeyExists(m_root.Handle(), "GPI\\Settings\\Audio"));
    EXPECT_FALSE(RegistryKeyExists(m_root.Handle(), "Other"));
}

TEST_F(SettingsWriterTest, RefusedArgumentsTouchNoKey)
{
    for (int type : {0, 2, 3, 4, -1, 0x10001, INT_MIN, INT_MAX})
    {
        SCOPED_TRACE(type);
        EXPECT_HR(E_INVALIDARG, Set(type, L"GPI\\Settings", L"v", L"d"));
    }
    // Missing name or data is refused whatever the key path holds.
    for (const wchar_t *path : {L"GPI\\Settings", L"elsewhere", static_cast<const wchar_t *>(NULL)})
    {
        EXPECT_HR(E_INVALIDARG, Set(SettingValueString, path, NULL, L"d"));
        EXPECT_HR(E_INVALIDARG, Set(SettingValueString, path, L"v", NULL));
        EXPECT_HR(E_INVALIDARG, Set(0, path, NULL, NULL));
    }
    EXPECT_HR(E_INVALIDARG, Set(SettingValueString, L"GPX", L"v", L"d"));
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(SettingsWriterTest, CreatesTheKeyOnceThenOverwritesInPlace)
{
    ASSERT_FALSE(SettingsKeyExists());
    ASSERT_SUCCEEDED(Set(SettingValueString, L"", L"Volume", L"7"));
    StoredValue first = Read(L"Volume");
    ASSERT_TRUE(first.found);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), first.type);
    EXPECT_EQ(std::wstring(L"7", 2), first.data);

    ASSERT_SUCCEEDED(Set(SettingValueString, L"GPI", L"Other", L"kept"));
    ASSERT_SUCCEEDED(Set(SettingValueString, L"GPI\\Settings", L"Volume", L"eleven"));
    StoredValue second = Read(L"Volume");
    EXPECT_EQ(std::wstring(L"eleven", 7), second.data);
    EXPECT_EQ(14u, second.byteCount);
    EXPECT_EQ(std::wstring(L"kept", 5), Read(L"Other").data);
}

TEST_F(SettingsWriterTest, ExistingKeyIsOpenedAndItsOtherContentsLeftAlone)
{
    HKEY settings;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_root.Handle(), L"GPI\\Settings\\Child", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &settings, NULL));
    const DWORD sentinel = 42;
    RegSetValueExW(settings, L"n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&sentinel),
                   sizeof sentinel);
    RegCloseKey(settings);

    ASSERT_SUCCEEDED(Set(SettingValueString, L"GPI\\Settings\\Child", L"n", L"text"));
    EXPECT_EQ(std::wstring(L"text", 5), Read(L"n").data);
    // The child's value of the same name is not the one written.
    StoredValue child = ReadWide(m_root.Handle(), L"GPI\\Settings\\Child", L"n");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), child.type);
}

TEST_F(SettingsWriterTest, ByteCountComesFromTheLengthPrefix)
{
    // Empty name: the key's default value. Empty data: one terminator.
    ASSERT_SUCCEEDED(Set(SettingValueString, L"", L"", L""));
    StoredValue byDefault = Read(L"");
    ASSERT_TRUE(byDefault.found);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), byDefault.type);
    EXPECT_EQ(2u, byDefault.byteCount);

    // Embedded NULs are stored whole: (5 + 1) * 2 bytes.
    const std::wstring withNul(L"ab\0cd", 5);
    Bstr path(L"GPI\\Settings");
    Bstr name(L"Embedded");
    Bstr data(withNul);
    ASSERT_SUCCEEDED(m_object->SetSettingValue(SettingValueString, path, name, data));
    StoredValue stored = Read(L"Embedded");
    EXPECT_EQ(12u, stored.byteCount);
    EXPECT_EQ(std::wstring(L"ab\0cd\0", 6), stored.data);

    // The value name ends at its first NUL.
    Bstr cutName(std::wstring(L"Cut\0tail", 8));
    ASSERT_SUCCEEDED(m_object->SetSettingValue(SettingValueString, path, cutName, data));
    EXPECT_TRUE(Read(L"Cut").found);

    // Non-ASCII text round-trips unchanged.
    ASSERT_SUCCEEDED(Set(SettingValueString, L"", L"Wide", L"\x00e9\x4e2d\xd83d\xde00"));
    EXPECT_EQ(std::wstring(L"\x00e9\x4e2d\xd83d\xde00", 5), Read(L"Wide").data);
}

TEST_F(SettingsWriterTest, RegistryFailuresComeBackAsWin32Results)
{
    // A volatile parent cannot hold the non-volatile settings key, so the open
    // and the create both fail and the create's code is reported.
    HKEY volatileRoot;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(m_root.Handle(), L"Volatile", 0, NULL, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, NULL, &volatileRoot, NULL));
    {
        ClassesRootOverride inner(volatileRoot);
        EXPECT_HR(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE),
                  Set(SettingValueString, L"", L"v", L"d"));
    }
    RegCloseKey(volatileRoot);
    // The outer override was replaced, not stacked: put it back.
    RegOverridePredefKey(HKEY_CLASSES_ROOT, m_root.Handle());
    EXPECT_FALSE(RegistryKeyExists(m_root.Handle(), "Volatile\\GPI"));

    // A value name beyond the registry's limit is refused by the write.
    const std::wstring longName(20000, L'n');
    HRESULT hr = Set(SettingValueString, L"", longName.c_str(), L"d");
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(FACILITY_WIN32, HRESULT_FACILITY(hr));
    // The call leaves nothing open behind it: the next one works.
    EXPECT_SUCCEEDED(Set(SettingValueString, L"", L"after", L"d"));
}

// ---- Bounds on what the key may hold ----------------------------------------

// The longest string a value may hold: its bytes, terminator included, are
// exactly the per-value limit.
const size_t kLongestString = KESTOR_MAX_VALUE_BYTES / sizeof(WCHAR) - 1;

// One write of a sequence and what it must give: S_OK and the value stored
// whole, or KESTOR_E_QUOTA with the key exactly as it was.
struct BoundedWrite
{
    const char *what;
    const wchar_t *name;
    size_t dataChars;
    HRESULT expected;
};

class SettingsBoundsTest : public SettingsWriterTest
{
protected:
    // Filled to its bounds the key holds 64 MiB: made beforehand as a
    // volatile key, so that the registry never writes it to disk.
    void PrepareKey()
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(m_root.Handle(), L"GPI\\Settings", 0, NULL, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, NULL, &m_settings, NULL));
    }
    void TearDown() override
    {
        if (m_settings != NULL)
            RegCloseKey(m_settings);
        SettingsWriterTest::TearDown();
    }

    // Values the broker did not write count as well: binary ones here, so
    // that any size can be made.
    void AddRaw(const std::wstring &name, DWORD bytes)
    {
        static const std::string filler(KESTOR_MAX_VALUE_BYTES, '\x5a');
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(m_settings, name.c_str(), 0, REG_BINARY,
                                 reinterpret_cast<const BYTE *>(filler.data()), bytes));
    }

    DWORD ValueCount()
    {
        DWORD values = 0;
        HKEY key;
        if (RegOpenKeyExW(m_root.Handle(), L"GPI\\Settings", 0, KEY_READ, &key) == ERROR_SUCCESS)
        {
            RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL,
                             NULL);
            RegCloseKey(key);
        }
        return values;
    }

    template <size_t N>
    void Run(const BoundedWrite (&writes)[N])
    {
        for (const BoundedWrite &write : writes)
        {
            SCOPED_TRACE(write.what);
            const StoredValue before = Read(write.name);
            const DWORD valuesBefore = ValueCount();
            const std::wstring data(write.dataChars, L'x');
            HRESULT hr = Set(SettingValueString, L"", write.name, data.c_str());
            EXPECT_HR(write.expected, hr);
            const StoredValue after = Read(write.name);
            if (write.expected == S_OK)
            {
                EXPECT_EQ((write.dataChars + 1) * sizeof(WCHAR), after.byteCount);
                continue;
            }
            EXPECT_EQ(before.found, after.found);
            EXPECT_EQ(before.byteCount, after.byteCount);
            EXPECT_EQ(valuesBefore, ValueCount());
        }
    }

    HKEY m_settings = NULL;
};

TEST_F(SettingsBoundsTest, OneValueHoldsAtMostTheValueLimit)
{
    const BoundedWrite first[] = {
        {"past the limit, no key yet", L"big", kLongestString + 1, KESTOR_E_QUOTA},
    };
    Run(first);
    EXPECT_FALSE(SettingsKeyExists());
    const BoundedWrite writes[] = {
        {"just under the limit", L"big", kLongestString - 1, S_OK},
        {"at the limit", L"big", kLongestString, S_OK},
        {"past the limit, overwriting", L"big", kLongestString + 1, KESTOR_E_QUOTA},
        {"past the limit, default value", L"", kLongestString + 1, KESTOR_E_QUOTA},
    };
    Run(writes);
}

TEST_F(SettingsBoundsTest, TheKeyHoldsAtMostTheValueCount)
{
    PrepareKey();
    for (DWORD i = 0; i < KESTOR_MAX_VALUES - 2; ++i)
        AddRaw(L"f" + std::to_wstring(i), 0);
    const BoundedWrite writes[] = {
        {"just under the count", L"a", 0, S_OK},
        {"at the count", L"b", 0, S_OK},
        {"past the count", L"c", 0, KESTOR_E_QUOTA},
        {"past the count, default value", L"", 0, KESTOR_E_QUOTA},
        {"overwriting at the count", L"a", 0, S_OK},
        {"overwriting at the count, growing", L"B", 100, S_OK},
    };
    Run(writes);
    EXPECT_EQ(KESTOR_MAX_VALUES, ValueCount());
}

TEST_F(SettingsBoundsTest, TheKeyHoldsAtMostTheKeySizeNamesIncluded)
{
    // Full values of three-character names, then one that leaves 64 bytes:
    // a value named "a" takes 2 bytes of name and (characters + 1) * 2 of data.
    PrepareKey();
    const DWORD fullValue = 3 * sizeof(WCHAR) + KESTOR_MAX_VALUE_BYTES;
    DWORD left = KESTOR_MAX_KEY_BYTES - 64;
    for (int i = 0; left >= fullValue; ++i, left -= fullValue)
        AddRaw(L"f" + std::to_wstring(10 + i), KESTOR_MAX_VALUE_BYTES);
    int pad = static_cast<int>(left - 3 * sizeof(WCHAR));
    AddRaw(L"pad", static_cast<DWORD>(pad));
    const ULONG countsBefore = SettingsKeyCounts();
    const BoundedWrite writes[] = {
        {"just under the size", L"a", 28, S_OK},
        {"at the size", L"a", 30, S_OK},
        {"past the size, growing", L"a", 31, KESTOR_E_QUOTA},
        {"past the size, new value", L"b", 0, KESTOR_E_QUOTA},
        {"overwriting at the size", L"A", 30, S_OK},
        {"overwriting at the size, shrinking", L"a", 10, S_OK},
    };
    Run(writes);

    // Then another writer grows or shrinks the pad between brokered writes,
    // which leaves the value count, the longest name and the largest value
    // as they were: the size still holds to the byte, each way.
    struct Step
    {
        int padChange;  // bytes, made directly before the write
        BoundedWrite write;
    };
    const Step steps[] = {
        {20, {"24 of the 20 bytes left after the pad grew", L"b", 10, KESTOR_E_QUOTA}},
        {0, {"the 20 left", L"b", 8, S_OK}},
        {-30, {"the 30 left after the pad shrank", L"c", 13, S_OK}},
        {0, {"4 of none left", L"d", 0, KESTOR_E_QUOTA}},
    };
    for (const Step &step : steps)
    {
        if (step.padChange != 0)
        {
            pad += step.padChange;
            AddRaw(L"pad", static_cast<DWORD>(pad));
        }
        const BoundedWrite write[] = {step.write};
        Run(write);
    }
    // Once at the first write, once after each change.
    EXPECT_EQ(countsBefore + 3, SettingsKeyCounts());
}

TEST_F(SettingsBoundsTest, ALargeValueAmongManySmallOnesIsCountedExactly)
{
    // 201 values and a largest one of 1 MiB: by count and largest value the
    // key might hold 200 MiB, but it holds 1 MiB and takes another.
    PrepareKey();
    AddRaw(L"large", KESTOR_MAX_VALUE_BYTES);
    for (int i = 0; i < 200; ++i)
        AddRaw(L"small" + std::to_wstring(i), 4);
    const BoundedWrite writes[] = {{"another large value", L"next", kLongestString, S_OK}};
    Run(writes);
}

TEST_F(SettingsBoundsTest, TheKeyIsCountedOnceWhileOnlyTheBrokerWritesIt)
{
    // Every growing write here needs the key's exact size, which by count and
    // largest value might be 200 MiB. Two objects write: new names, and one
    // name alternately 8 and 9 characters long.
    PrepareKey();
    AddRaw(L"large", KESTOR_MAX_VALUE_BYTES);
    for (int i = 0; i < 200; ++i)
        AddRaw(L"small" + std::to_wstring(i), 4);
    IKestor *second = NULL;
    ASSERT_SUCCEEDED(CreateKestorObj(NULL, IID_IKestor, reinterpret_cast<void **>(&second)));
    const ULONG countsBefore = SettingsKeyCounts();
    Bstr path(L"");
    Bstr name(L"shared");
    Bstr eight(L"12345678");
    Bstr nine(L"123456789");
    for (int i = 0; i < 10; ++i)
    {
        EXPECT_SUCCEEDED(Set(SettingValueString, L"", (L"new" + std::to_wstring(i)).c_str(), L"x"));
        const Bstr &data = i % 2 ? eight : nine;
        EXPECT_SUCCEEDED(second->SetSettingValue(SettingValueString, path, name, data));
    }
    second->Release();
    // A write the registry refuses changes nothing: no count follows it.
    const std::wstring longName(20000, L'n');
    EXPECT_TRUE(FAILED(Set(SettingValueString, L"", longName.c_str(), L"x")));
    EXPECT_SUCCEEDED(Set(SettingValueString, L"", L"after", L"x"));
    EXPECT_EQ(countsBefore + 1, SettingsKeyCounts());

    // Deleted and made again by someone else, it is another key, which sends
    // Wine no notification: counted afresh.
    RegCloseKey(m_settings);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(m_root.Handle(), L"GPI\\Settings"));
    PrepareKey();
    AddRaw(L"large", KESTOR_MAX_VALUE_BYTES);
    AddRaw(L"small", 4);
    EXPECT_SUCCEEDED(Set(SettingValueString, L"", L"again", L"x"));
    EXPECT_EQ(countsBefore + 2, SettingsKeyCounts());
}

// Without a redirection the value lands under the machine's classes root.
// Only this test's own value is written, and what it created is removed.
TEST(SettingsWriterUnredirected, WritesUnderTheRealClassesRoot)
{
    const bool gpiExisted = RegistryKeyExists(HKEY_CLASSES_ROOT, "GPI");
    const bool keyExisted = RegistryKeyExists(HKEY_CLASSES_ROOT, "GPI\\Settings");
    wchar_t name[64];
    swprintf(name, 64, L"BrokerTest-%lu", GetCurrentProcessId());

    IKestor *object = NULL;
    ASSERT_SUCCEEDED(CreateKestorObj(NULL, IID_IKestor, reinterpret_cast<void **>(&object)));
    Bstr path(L"GPI\\Settings");
    Bstr valueName(name);
    Bstr data(L"real");
    HRESULT hr = object->SetSettingValue(SettingValueString, path, valueName, data);
    object->Release();
    EXPECT_SUCCEEDED(hr);

    StoredValue stored = ReadWide(HKEY_LOCAL_MACHINE, L"Software\\Classes\\GPI\\Settings", name);
    EXPECT_TRUE(stored.found);
    EXPECT_EQ(std::wstring(L"real", 5), stored.data);

    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"GPI\\Settings", 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS)
    {
        RegDeleteValueW(key, name);
        DWORD subkeys = 1, values = 1;
        RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                         NULL);
        RegCloseKey(key);
        // Remove only keys this test made and nobody has filled since.
        if (!keyExisted && subkeys == 0 && values == 0)
            RegDeleteKeyW(HKEY_CLASSES_ROOT, L"GPI\\Settings");
        if (!gpiExisted)
            RegDeleteKeyW(HKEY_CLASSES_ROOT, L"GPI");  // fails while it has sub-keys
    }
}

}  // namespace
