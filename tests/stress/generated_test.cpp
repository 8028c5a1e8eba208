// Thousands of generated calls over the wire. Every result is checked against
// the acceptance rule written out here on its own, every accepted value is
// read back, and HKCR\GPI (plus the other roots a path may name) must differ
// from its starting state only by the values of GPI\Settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "stress_support.h"
#include "test_hresult.h"

using namespace stress;

namespace {

const unsigned kDefaultSeed = 0x4B53D0E5;
// Every kind of input below comes up several times in this many calls (the
// test checks that each comes up at least kFewestOfAKind times); under
// emulation they take a few seconds.
const int kCalls = 2000;
const int kFewestOfAKind = 3;

// The kinds of input the generator makes, as it tallies them.
const char *const kInputKinds[] = {
    "type 1",         "odd type",     "random type",       "null-or-empty path",
    "prefix path",    "longer path",  "case-changed path", "slash path",
    "dotted path",    "other root",   "32 K path",         "path with NUL",
    "random path",    "null name",    "empty name",        "name with backslashes",
    "name with NUL",  "long name",    "earlier name",      "default value name",
    "ordinary name",  "null data",    "empty data",        "large data",
    "data with NULs", "ordinary data"};

// What a caller is allowed: type 1, a name and data, and a path that agrees
// with "GPI\Settings" over its first min(length, 12) units, exactly.
bool PathAgrees(const std::wstring &path)
{
    static const wchar_t fixed[] = L"GPI\\Settings";
    size_t length = path.find(L'\0');
    if (length == std::wstring::npos)
        length = path.size();
    for (size_t i = 0; i < length && i < 12; ++i)
        if (path[i] != fixed[i])
            return false;
    return true;
}

struct GeneratedCall
{
    int type = 1;
    bool nullPath = false, nullName = false, nullData = false;
    std::wstring path, name, data;
    std::string kind;  // how the inputs were made, for failure messages

    std::wstring EffectiveName() const { return name.substr(0, name.find(L'\0')); }
};

class Generator
{
public:
    explicit Generator(unsigned seed) : m_rng(seed)
    {
        for (const char *kind : kInputKinds)
            m_tally[kind] = 0;
    }

    // How many calls of each kind were made so far.
    const std::map<std::string, int> &Tally() const { return m_tally; }

    GeneratedCall Next(int index)
    {
        GeneratedCall call;
        std::ostringstream kind;
        call.type = MakeType();
        kind << "type " << call.type;
        MakePath(&call, kind);
        MakeName(&call, index, kind);
        MakeData(&call, kind);
        call.kind = kind.str();
        return call;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    void Count(const char *kind)
    {
        auto counted = m_tally.find(kind);
        EXPECT_NE(m_tally.end(), counted) << "not a known kind of input: " << kind;
        if (counted != m_tally.end())
            ++counted->second;
    }
    bool Chance(int percent) { return Pick(100) < percent; }

    wchar_t Unit()
    {
        static const wchar_t punctuation[] = L"\\/.:*? {}%'\"";
        switch (Pick(10))
        {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            return static_cast<wchar_t>(L'!' + Pick(94));
        case 6:
            return punctuation[Pick(static_cast<int>(wcslen(punctuation)))];
        case 7:
            return static_cast<wchar_t>(0xD800 + Pick(0x800));  // lone surrogates
        default:
            return static_cast<wchar_t>(1 + Pick(0xFFFE));
        }
    }

    std::wstring Units(size_t count)
    {
        std::wstring text(count, L'\0');
        for (wchar_t &c : text)
            c = Unit();
        return text;
    }

    int MakeType()
    {
        static const int odd[] = {0,          2,
                                  3,          -1,
                                  0x10001,    static_cast<int>(0x80000001u),
                                  0x7FFFFFFF, static_cast<int>(0x80000000u),
                                  0x101};
        if (Chance(78))
        {
            Count("type 1");
            return 1;
        }
        if (Chance(80))
        {
            Count("odd type");
            return odd[Pick(sizeof odd / sizeof odd[0])];
        }
        Count("random type");
        return static_cast<int>(m_rng());
    }

    void MakePath(GeneratedCall *call, std::ostringstream &kind)
    {
        static const std::wstring fixed = L"GPI\\Settings";
        static const wchar_t *const roots[] = {L"HKEY_CLASSES_ROOT\\GPI\\Settings",
                                               L"HKCR\\GPI\\Settings",
                                               L"HKEY_CURRENT_USER\\GPI\\Settings",
                                               L"HKEY_LOCAL_MACHINE\\GPI\\Settings",
                                               L"Software\\Classes\\GPI\\Settings",
                                               L"\\\\server\\GPI\\Settings",
                                               L"CLSID",
                                               L"AppID\\" KESTOR_APPID_TEXT,
                                               L"..\\GPI\\Settings"};
        std::wstring &path = call->path;
        switch (Pick(13))
        {
        case 0:
            call->nullPath = Chance(50);
            kind << ", null-or-empty path";
            Count("null-or-empty path");
            return;
        case 1:
        case 2:
            path = fixed.substr(0, Pick(13));
            kind << ", prefix path";
            Count("prefix path");
            break;
        case 3:
        case 4:
            path = fixed + (Chance(50) ? L"\\" : L"") + Units(Pick(40));
            kind << ", longer path";
            Count("longer path");
            break;
        case 5:
        {
            path = fixed.substr(0, 1 + Pick(12));
            size_t at = Pick(static_cast<int>(path.size()));
            path[at] = iswupper(path[at]) ? towlower(path[at]) : towupper(path[at]);
            kind << ", case-changed path";
            Count("case-changed path");
            break;
        }
        case 6:
            path = Chance(50) ? L"GPI/Settings" : L"GPI/Settings/" + Units(5);
            kind << ", slash path";
            Count("slash path");
            break;
        case 7:
        {
            path = fixed;
            path.insert(Pick(13), Chance(50) ? L".." : L"\\..\\");
            kind << ", dotted path";
            Count("dotted path");
            break;
        }
        case 8:
            path = roots[Pick(sizeof roots / sizeof roots[0])];
            kind << ", other root";
            Count("other root");
            break;
        case 9:
            if (Chance(50))
            {
                path = fixed.substr(0, Pick(13));
                kind << ", prefix path";
                Count("prefix path");
                break;
            }
            path = (Chance(60) ? fixed : std::wstring()) + Units(32 * 1024 + Pick(100));
            kind << ", 32 K path";
            Count("32 K path");
            break;
        case 10:
            path = fixed.substr(0, Pick(13)) + L'\0' + Units(1 + Pick(20));
            kind << ", path with NUL";
            Count("path with NUL");
            break;
        default:
            path = Units(Pick(20));
            kind << ", random path";
            Count("random path");
            break;
        }
        kind << " (" << path.size() << " units)";
    }

    void MakeName(GeneratedCall *call, int index, std::ostringstream &kind)
    {
        std::wstring base = L"gen" + std::to_wstring(index);
        switch (Pick(20))
        {
        case 0:
            call->nullName = true;
            kind << ", null name";
            Count("null name");
            return;
        case 1:
            call->name = L"";
            kind << ", empty name";
            Count("empty name");
            return;
        case 2:
            call->name = base + L"\\with\\backslashes\\" + Units(Pick(10));
            Count("name with backslashes");
            break;
        case 3:
            call->name = base + L'\0' + Units(Pick(30));
            Count("name with NUL");
            break;
        case 4:
        {
            static const size_t lengths[] = {16382, 16383, 16384, 16385, 16500, 20000};
            call->name = base + L"-" + std::wstring(lengths[Pick(6)] - base.size() - 1, L'L');
            Count("long name");
            break;
        }
        case 5:
            // An earlier name, possibly in other case: the value is overwritten.
            call->name = m_names.empty() ? base : m_names[Pick(static_cast<int>(m_names.size()))];
            Count("earlier name");
            if (Chance(50))
                for (wchar_t &c : call->name)
                    c = towupper(c);
            break;
        case 6:
            call->name = std::wstring(1, L'\0') + base;  // names the default value
            Count("default value name");
            break;
        default:
            call->name = base + L"-" + Units(Pick(12));
            Count("ordinary name");
            break;
        }
        if (call->name.size() < 100 && call->name.find(L'\0') == std::wstring::npos)
            m_names.push_back(call->name);
        kind << ", name of " << call->name.size() << " units";
    }

    void MakeData(GeneratedCall *call, std::ostringstream &kind)
    {
        switch (Pick(100))
        {
        case 0:
            call->nullData = true;
            kind << ", null data";
            Count("null data");
            return;
        case 1:
        case 2:
        case 3:
        case 4:
            call->data = L"";
            Count("empty data");
            break;
        case 5:
            call->data = Units(64 * 1024 + Pick(448 * 1024));  // up to 1 MiB
            Count("large data");
            break;
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
            call->data = Units(Pick(20)) + L'\0' + Units(Pick(20)) + L'\0';
            Count("data with NULs");
            break;
        default:
            call->data = Units(Pick(200));
            Count("ordinary data");
            break;
        }
        kind << ", data of " << call->data.size() << " units";
    }

    std::mt19937 m_rng;
    std::vector<std::wstring> m_names;
    std::map<std::string, int> m_tally;
};

// What the registry itself answers for writing this name and data, on a
// scratch key of the test's own: the result an accepted call must carry.
HRESULT DirectWriteResult(const std::wstring &name, const std::wstring &data)
{
    HKEY key;
    const wchar_t *path = L"Software\\KestorTests\\generated-direct";
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return E_UNEXPECTED;
    LONG result =
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * 2));
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
    RegDeleteKeyW(HKEY_CURRENT_USER, path);
    return HRESULT_FROM_WIN32(result);
}

bool TransportFailure(HRESULT hr)
{
    return HRESULT_FACILITY(hr) == FACILITY_RPC ||
           (HRESULT_FACILITY(hr) == FACILITY_WIN32 &&
            (HRESULT_CODE(hr) >= 1700 && HRESULT_CODE(hr) <= 1900));
}

unsigned SeedFromEnvironment()
{
    const char *text = std::getenv("KESTOR_STRESS_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 0)) : kDefaultSeed;
}

}  // namespace

TEST(GeneratedInputs, EveryResultFollowsTheRuleAndNothingElseChanges)
{
    TimedScope timer("generated-input suite");
    const unsigned seed = SeedFromEnvironment();
    SCOPED_TRACE(testing::Message()
                 << "seed 0x" << std::hex << seed << " (rerun with KESTOR_STRESS_SEED)");
    ComApartment com;
    ASSERT_SUCCEEDED(com.Result());
    std::string failure = RegisterBroker(false);
    ASSERT_TRUE(failure.empty()) << failure;

    // A known starting state around the target: GPI with a value and a
    // sibling key, no Settings yet; and nothing of that name in other roots.
    DeleteGpiTree();
    HKEY gpi;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"GPI\\Other", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &gpi, NULL));
    RegSetValueExW(gpi, L"sentinel", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"s"), 4);
    RegCloseKey(gpi);
    const TreeSnapshot gpiBefore = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    const TreeSnapshot userBefore = SnapshotTree(HKEY_CURRENT_USER, L"GPI");
    const TreeSnapshot machineBefore = SnapshotTree(HKEY_LOCAL_MACHINE, L"GPI");
    const TreeSnapshot appIdBefore = SnapshotTree(HKEY_CLASSES_ROOT, L"AppID\\" KESTOR_APPID_TEXT);

    KestorRef broker;
    ASSERT_SUCCEEDED(CreateBroker(broker.Out()));

    // A null path is the server's own choice (empty, or refused); learn it
    // once and hold the server to it for the rest of the run.
    HRESULT nullPathResult = broker->SetSettingValue(
        SettingValueString, NULL, Bstr(L"gen-null-path").Get(), Bstr(L"probe").Get());
    ASSERT_TRUE(nullPathResult == S_OK || nullPathResult == E_INVALIDARG)
        << std::hex << nullPathResult;
    ValueMap model;  // what GPI\Settings must hold
    if (nullPathResult == S_OK)
        model[L"gen-null-path"] = StringValue(L"probe");
    std::printf("[generated] null key path is %s\n",
                nullPathResult == S_OK ? "taken as empty" : "refused");

    auto checkTrees = [&](int index) {
        TreeSnapshot expected = gpiBefore;
        if (!model.empty())
            expected[L"Settings"] = model;
        TreeSnapshot now = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
        if (now.count(L"Settings") && !expected.count(L"Settings"))
            expected[L"Settings"];  // the key may exist while still empty
        EXPECT_EQ("", DescribeDifference(expected, now)) << "HKCR\\GPI after call " << index;
        EXPECT_EQ("", DescribeDifference(userBefore, SnapshotTree(HKEY_CURRENT_USER, L"GPI")));
        EXPECT_EQ("", DescribeDifference(machineBefore, SnapshotTree(HKEY_LOCAL_MACHINE, L"GPI")));
        EXPECT_EQ("", DescribeDifference(appIdBefore, SnapshotTree(HKEY_CLASSES_ROOT,
                                                                   L"AppID\\" KESTOR_APPID_TEXT)));
    };

    Generator generator(seed);
    int accepted = 0, refused = 0, registryRefused = 0, callsAfterFailure = 0, largeCalls = 0;
    double largeSeconds = 0;
    const double start = Now();
    for (int i = 0; i < kCalls && !HasFatalFailure(); ++i)
    {
        GeneratedCall call = generator.Next(i);
        HRESULT expected = S_OK;
        if (call.nullName || call.nullData || call.type != SettingValueString)
            expected = E_INVALIDARG;
        else if (call.nullPath)
            expected = nullPathResult;
        else if (!PathAgrees(call.path))
            expected = E_INVALIDARG;
        // An accepted call carries the registry's own answer (names longer
        // than the registry allows are refused by the write itself).
        if (expected == S_OK && call.EffectiveName().size() > 255)
            expected = DirectWriteResult(call.EffectiveName(), call.data);

        Bstr path = call.nullPath ? Bstr() : Bstr(call.path);
        Bstr name = call.nullName ? Bstr() : Bstr(call.name);
        Bstr data = call.nullData ? Bstr() : Bstr(call.data);
        const double callStart = Now();
        HRESULT hr = broker->SetSettingValue(static_cast<SettingValueType>(call.type), path.Get(),
                                             name.Get(), data.Get());
        if (call.data.size() > 64 * 1024 || call.path.size() > 32 * 1024)
        {
            ++largeCalls;
            largeSeconds += Now() - callStart;
        }
        ASSERT_FALSE(TransportFailure(hr))
            << "server gone at call " << i << " (" << call.kind << "): 0x" << std::hex << hr;
        EXPECT_HR(expected, hr) << "call " << i << ": " << call.kind;

        if (hr == S_OK)
        {
            ++accepted;
            model[call.EffectiveName()] = StringValue(call.data);
        }
        else if (hr == E_INVALIDARG)
            ++refused;
        else
            ++registryRefused;

        if (!call.nullName)
        {
            StoredValue stored;
            auto wanted = model.find(call.EffectiveName());
            bool present = ReadSetting(call.EffectiveName(), &stored);
            if (wanted == model.end())
                EXPECT_FALSE(present) << "call " << i << " left a value: " << call.kind;
            else
                EXPECT_TRUE(present && stored == wanted->second)
                    << "call " << i << ": value differs from the last accepted write (" << call.kind
                    << ")";
        }
        if (i % 250 == 249)
            checkTrees(i);
        // A fault tends to repeat; a handful of calls past the first is enough.
        if (testing::Test::HasFailure() && ++callsAfterFailure > 20)
            FAIL() << "stopping at call " << i << " after earlier failures";
    }
    const double elapsed = Now() - start;
    checkTrees(kCalls);

    // The server still answers, and no subkey ever appeared under Settings.
    EXPECT_SUCCEEDED(broker->SetSettingValue(SettingValueString, Bstr(L"GPI\\Settings").Get(),
                                             Bstr(L"gen-final").Get(), Bstr(L"alive").Get()));
    std::printf(
        "[generated] %d calls in %.2f s (%.2f ms each, checks included): %d accepted, "
        "%d refused with E_INVALIDARG, %d other failures; the %d calls with 32 K+ "
        "paths or 64 K+ data took %.2f s of it\n",
        kCalls, elapsed, elapsed * 1000 / kCalls, accepted, refused, registryRefused, largeCalls,
        largeSeconds);
    // Every kind of input came up often enough for the calls above to speak
    // for it.
    for (const auto &kind : generator.Tally())
        EXPECT_GE(kind.second, kFewestOfAKind) << kind.first << " came up too rarely";
    broker.Reset();
    EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", 20000)) << "local server outlived its client";
}
