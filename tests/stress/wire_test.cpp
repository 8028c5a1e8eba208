// Bad and extreme inputs carried by the real proxy and stub into a running
// local server: every refusal answers E_INVALIDARG and leaves the registry
// as it was, and every string arrives as it was sent, down to the byte.
#include <gtest/gtest.h>

#include "stress_support.h"
#include "test_hresult.h"

using namespace stress;

namespace {

const std::wstring kSettings = L"GPI\\Settings";

class WireTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_timer = new TimedScope("wire suite");
        s_com = new ComApartment();
        s_failure = RegisterBroker(false);
        if (!s_failure.empty())
            return;
        HRESULT hr = CreateBroker(s_broker.Out());
        if (FAILED(hr))
            s_failure = "activation failed: 0x" + std::to_string(static_cast<unsigned long>(hr));
    }

    static void TearDownTestSuite()
    {
        s_broker.Reset();
        delete s_com;
        // With the last reference gone the local server must end by itself.
        EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", 20000));
        delete s_timer;
    }

    void SetUp() override { ASSERT_TRUE(s_failure.empty()) << s_failure; }

    static HRESULT Call(int type, const Bstr &path, const Bstr &name, const Bstr &data)
    {
        return s_broker->SetSettingValue(static_cast<SettingValueType>(type), path.Get(),
                                         name.Get(), data.Get());
    }

    static HRESULT Write(const std::wstring &path, const std::wstring &name,
                         const std::wstring &data)
    {
        return Call(SettingValueString, Bstr(path), Bstr(name), Bstr(data));
    }

    static TimedScope *s_timer;
    static ComApartment *s_com;
    static KestorRef s_broker;
    static std::string s_failure;
};

TimedScope *WireTest::s_timer = nullptr;
ComApartment *WireTest::s_com = nullptr;
KestorRef WireTest::s_broker;
std::string WireTest::s_failure;

struct Refusal
{
    const char *what;
    int type;
    const wchar_t *path;  // nullptr: null BSTR
    bool nullName;
    bool nullData;
};

// Each is refused however the rest of the call looks; the values that would
// be written carry a name that already holds data, so an overwrite shows.
const Refusal kRefusals[] = {
    {"type 0", 0, L"GPI\\Settings", false, false},
    {"type 2", 2, L"GPI\\Settings", false, false},
    {"type -1", -1, L"GPI\\Settings", false, false},
    {"type 0x10001 (low half is 1)", 0x10001, L"GPI\\Settings", false, false},
    {"type 0x80000001", static_cast<int>(0x80000001u), L"GPI\\Settings", false, false},
    {"type 0x7FFFFFFF", 0x7FFFFFFF, L"GPI\\Settings", false, false},
    {"null name", 1, L"GPI\\Settings", true, false},
    {"null data", 1, L"GPI\\Settings", false, true},
    {"null name and data", 1, L"GPI\\Settings", true, true},
    {"null name before a bad path", 1, L"GPX", true, false},
    {"null data before a bad type", 7, L"GPI\\Settings", false, true},
    {"path GPX", 1, L"GPX", false, false},
    {"path lower case", 1, L"gpi\\settings", false, false},
    {"path upper case", 1, L"GPI\\SETTINGS", false, false},
    {"path one letter changed", 1, L"GPI\\settings", false, false},
    {"path with slash", 1, L"GPI/Settings", false, false},
    {"path with root name", 1, L"HKEY_CLASSES_ROOT\\GPI\\Settings", false, false},
    {"path HKCR\\", 1, L"HKCR\\GPI\\Settings", false, false},
    {"path under Software", 1, L"Software\\Classes\\GPI\\Settings", false, false},
    {"path leading backslash", 1, L"\\GPI\\Settings", false, false},
    {"path leading blank", 1, L" GPI\\Settings", false, false},
    {"path doubled backslash", 1, L"GPI\\\\Settings", false, false},
    {"path parent step", 1, L"..\\GPI\\Settings", false, false},
    {"path last letter", 1, L"GPI\\Settingz", false, false},
    {"path short wrong", 1, L"GX", false, false},
};

}  // namespace

TEST_F(WireTest, RefusalsAnswerInvalidArgAndWriteNothing)
{
    // With HKCR\GPI missing a refusal must not even create the key.
    DeleteGpiTree();
    for (const Refusal &refusal : kRefusals)
    {
        EXPECT_HR(E_INVALIDARG, Call(refusal.type, refusal.path ? Bstr(refusal.path) : Bstr(),
                                     refusal.nullName ? Bstr() : Bstr(L"wire-existing"),
                                     refusal.nullData ? Bstr() : Bstr(L"overwritten")))
            << refusal.what << " (no key yet)";
    }
    EXPECT_TRUE(SnapshotTree(HKEY_CLASSES_ROOT, L"GPI").empty()) << "a refusal created HKCR\\GPI";

    // Now with the key and a value of that name in place.
    ASSERT_SUCCEEDED(Write(kSettings, L"wire-existing", L"original"));
    TreeSnapshot before = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    for (const Refusal &refusal : kRefusals)
    {
        EXPECT_HR(E_INVALIDARG, Call(refusal.type, refusal.path ? Bstr(refusal.path) : Bstr(),
                                     refusal.nullName ? Bstr() : Bstr(L"wire-existing"),
                                     refusal.nullData ? Bstr() : Bstr(L"overwritten")))
            << refusal.what;
        // A fresh name too: a refusal must not create it.
        EXPECT_HR(E_INVALIDARG, Call(refusal.type, refusal.path ? Bstr(refusal.path) : Bstr(),
                                     refusal.nullName ? Bstr() : Bstr(L"wire-fresh"),
                                     refusal.nullData ? Bstr() : Bstr(L"x")))
            << refusal.what;
        EXPECT_EQ("", DescribeDifference(before, SnapshotTree(HKEY_CLASSES_ROOT, L"GPI")))
            << "after refusal: " << refusal.what;
    }
    StoredValue value;
    ASSERT_TRUE(ReadSetting(L"wire-existing", &value));
    EXPECT_TRUE(value == StringValue(L"original"));
}

TEST_F(WireTest, AcceptedPathsWriteIntoSettingsItselfAndNoSubkey)
{
    const std::wstring paths[] = {
        L"",
        L"G",
        L"GPI",
        L"GPI\\Set",
        L"GPI\\Settings",
        L"GPI\\Settings\\Audio",
        L"GPI\\SettingsX",
        L"GPI\\Settings\\..\\..\\Software",
        std::wstring(L"GPI\0XYZ", 7),  // compared up to the first NUL
        std::wstring(L"GPI\\Settings\0junk", 17),
        L"GPI\\Settings\\" + std::wstring(32768, L'k'),  // 32 K units
    };
    int index = 0;
    for (const std::wstring &path : paths)
    {
        std::wstring name = L"wire-path-" + std::to_wstring(index++);
        std::wstring data = L"via path of " + std::to_wstring(path.size()) + L" units";
        EXPECT_SUCCEEDED(Write(path, name, data)) << "path #" << index - 1;
        StoredValue value;
        EXPECT_TRUE(ReadSetting(name, &value) && value == StringValue(data))
            << "path #" << index - 1 << " did not land in GPI\\Settings";
    }
    TreeSnapshot tree = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    ASSERT_EQ(2u, tree.size()) << "only GPI and GPI\\Settings may exist";
    EXPECT_TRUE(tree.count(L"Settings"));
    EXPECT_TRUE(tree[L""].empty()) << "a value landed in HKCR\\GPI itself";
}

TEST_F(WireTest, NullPathIsHandledLikeEmptyOrRefused)
{
    // Either choice is sound as long as the server survives and the result
    // matches what it stored.
    TreeSnapshot before = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    HRESULT hr = Call(SettingValueString, Bstr(), Bstr(L"wire-null-path"), Bstr(L"d"));
    StoredValue value;
    if (hr == S_OK)
        EXPECT_TRUE(ReadSetting(L"wire-null-path", &value) && value == StringValue(L"d"));
    else
    {
        EXPECT_HR(E_INVALIDARG, hr);
        EXPECT_EQ("", DescribeDifference(before, SnapshotTree(HKEY_CLASSES_ROOT, L"GPI")));
    }
    EXPECT_SUCCEEDED(Write(kSettings, L"wire-after-null-path", L"alive"));
}

TEST_F(WireTest, StringsArriveWhole)
{
    StoredValue value;

    // Empty data is an empty string, not a null one (which is refused).
    ASSERT_SUCCEEDED(Write(kSettings, L"wire-empty", L""));
    ASSERT_TRUE(ReadSetting(L"wire-empty", &value));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
    EXPECT_EQ(2u, value.bytes.size());

    // Embedded NULs in the data travel and are stored with every unit.
    const std::wstring withNuls(L"ab\0cd\0\0e", 8);
    ASSERT_SUCCEEDED(Write(kSettings, L"wire-nuls", withNuls));
    ASSERT_TRUE(ReadSetting(L"wire-nuls", &value));
    EXPECT_EQ(18u, value.bytes.size());
    EXPECT_TRUE(value == StringValue(withNuls));

    // A name is used up to its first NUL.
    ASSERT_SUCCEEDED(Write(kSettings, std::wstring(L"wire-cut\0tail", 13), L"cut"));
    EXPECT_TRUE(ReadSetting(L"wire-cut", &value) && value == StringValue(L"cut"));

    // The empty name is the key's default value.
    ASSERT_SUCCEEDED(Write(kSettings, L"", L"default"));
    EXPECT_TRUE(ReadSetting(L"", &value) && value == StringValue(L"default"));

    // 1 MiB of data, terminator included (the most one value may hold), with
    // every unit value but 0 in it, surrogates included.
    std::wstring big(KESTOR_MAX_VALUE_BYTES / 2 - 1, L'\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<wchar_t>(1 + (i * 7919) % 0xFFFF);
    ASSERT_SUCCEEDED(Write(kSettings, L"wire-1mib", big));
    ASSERT_TRUE(ReadSetting(L"wire-1mib", &value));
    EXPECT_EQ(big.size() * 2 + 2, value.bytes.size());
    EXPECT_TRUE(value == StringValue(big)) << "1 MiB of data came back altered";
    // One character more is refused with its own code, and nothing is stored.
    EXPECT_HR(KESTOR_E_QUOTA, Write(kSettings, L"wire-past-1mib", big + L'x'));
    EXPECT_FALSE(ReadSetting(L"wire-past-1mib", &value));

    // 1 MiB key paths: decided by their first 12 units.
    std::wstring longPath = kSettings + std::wstring(512 * 1024 - kSettings.size(), L'\\');
    EXPECT_SUCCEEDED(Write(longPath, L"wire-long-path", L"ok"));
    longPath[11] = L'S';
    EXPECT_HR(E_INVALIDARG, Write(longPath, L"wire-long-path-refused", L"no"));
    EXPECT_FALSE(ReadSetting(L"wire-long-path-refused", &value));

    // A 1 MiB name whose first NUL comes early names the short value.
    std::wstring longName =
        std::wstring(L"wire-long-name") + L'\0' + std::wstring(512 * 1024, L'n');
    ASSERT_SUCCEEDED(Write(kSettings, longName, L"short name"));
    EXPECT_TRUE(ReadSetting(L"wire-long-name", &value) && value == StringValue(L"short name"));

    // The server is still there after all of it.
    EXPECT_SUCCEEDED(Write(kSettings, L"wire-last", L"alive"));
}
