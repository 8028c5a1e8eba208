// Self-registration of KestorPr.dll and a real call across two processes.
// Runs in a throw-away prefix: it writes HKEY_CLASSES_ROOT\Interface and
// CLSID entries and starts local servers.
#include <windows.h>
#include <objbase.h>

#include "broker/kestor_interface.h"
#include "call_record.h"
#include "proxy_test_util.h"
#include "scratch_registry.h"
#include "test_hresult.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

namespace {

typedef HRESULT(STDAPICALLTYPE *PlainFn)();

const char kInterfaceKey[] = "Interface\\" KESTOR_IID_TEXT;
const char kFactoryKey[] = "CLSID\\" KESTOR_IID_TEXT;

// Classes served by record_server.exe in this test only.
const char kRecorderClsidText[] = "{6B1E4C52-9A3D-4F0B-8E21-7C5D3A9F1B01}";
const char kUnmarshalledClsidText[] = "{6B1E4C52-9A3D-4F0B-8E21-7C5D3A9F1B02}";

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A REG_SZ value without its terminator; "<missing>" when absent.
std::string ReadSz(const char *subkey, const char *name)
{
    DWORD type = 0;
    std::string bytes;
    if (!ReadRegistryValue(HKEY_CLASSES_ROOT, subkey, name, &type, &bytes))
        return "<missing>";
    if (type != REG_SZ)
        return "<type " + std::to_string(type) + ">";
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    return bytes;
}

DWORD SubkeyCount(const char *subkey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return subkeys * 1000 + values;
}

// Runs a command line to its end; the full exit code, or -1.
long RunProcess(const std::string &commandLine)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

class ProxyRegistration : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_path = BinDirectory() + "KestorPr.dll";
        m_module = LoadLibraryA(m_path.c_str());
        ASSERT_NE(nullptr, m_module) << "error " << GetLastError();
        char loaded[MAX_PATH];
        DWORD n = GetModuleFileNameA(m_module, loaded, MAX_PATH);
        m_loadedPath.assign(loaded, n);
        m_register = Export("DllRegisterServer");
        m_unregister = Export("DllUnregisterServer");
        ASSERT_NE(nullptr, m_register);
        ASSERT_NE(nullptr, m_unregister);
        ASSERT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey))
            << "an earlier test left the interface registered";
    }
    void TearDown() override
    {
        if (m_module)
            FreeLibrary(m_module);
        CoUninitialize();
    }

    PlainFn Export(const char *name)
    {
        return reinterpret_cast<PlainFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, name)));
    }

    void ExpectRegistered()
    {
        EXPECT_EQ("IKestor", ReadSz(kInterfaceKey, nullptr));
        EXPECT_EQ("4", ReadSz((std::string(kInterfaceKey) + "\\NumMethods").c_str(), nullptr))
            << "method count";
        EXPECT_EQ(
            Lower(KESTOR_IID_TEXT),
            Lower(ReadSz((std::string(kInterfaceKey) + "\\ProxyStubClsid32").c_str(), nullptr)));
        EXPECT_EQ(Lower(m_loadedPath),
                  Lower(ReadSz((std::string(kFactoryKey) + "\\InprocServer32").c_str(), nullptr)));
        CLSID factory = GUID_NULL;
        EXPECT_SUCCEEDED(CoGetPSClsid(IID_IKestor, &factory));
        EXPECT_TRUE(IsEqualGUID(IID_IKestor, factory)) << "factory CLSID is the IID";
    }

    void ExpectUnregistered()
    {
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kFactoryKey));
        CLSID factory;
        EXPECT_FAILED_HR(CoGetPSClsid(IID_IKestor, &factory));
    }

    std::string m_path;
    std::string m_loadedPath;
    HMODULE m_module = nullptr;
    PlainFn m_register = nullptr;
    PlainFn m_unregister = nullptr;
};

TEST_F(ProxyRegistration, RegisterTwiceLeavesOneRegistrationThenUnregister)
{
    ASSERT_SUCCEEDED(m_register());
    ExpectRegistered();
    DWORD interfaceShape = SubkeyCount(kInterfaceKey);
    DWORD factoryShape = SubkeyCount(kFactoryKey);

    ASSERT_SUCCEEDED(m_register());
    ExpectRegistered();
    EXPECT_EQ(interfaceShape, SubkeyCount(kInterfaceKey));
    EXPECT_EQ(factoryShape, SubkeyCount(kFactoryKey));

    ASSERT_SUCCEEDED(m_unregister());
    ExpectUnregistered();
}

TEST_F(ProxyRegistration, ThroughRegsvr32)
{
    EXPECT_EQ(0, RunProcess("regsvr32.exe /s \"" + m_path + "\""));
    ExpectRegistered();
    EXPECT_EQ(0, RunProcess("regsvr32.exe /u /s \"" + m_path + "\""));
    ExpectUnregistered();
}

// Owns a LocalServer32 registration of record_server.exe for one class.
class LocalServerRegistration
{
public:
    LocalServerRegistration(const char *clsidText, const std::string &recordPath)
        : m_key(std::string("CLSID\\") + clsidText)
    {
        std::string command =
            "\"" + BinDirectory() + "record_server.exe\" \"" + recordPath + "\" " + clsidText;
        HKEY key;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, (m_key + "\\LocalServer32").c_str(), 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS)
        {
            m_ok = RegSetValueExA(key, nullptr, 0, REG_SZ,
                                  reinterpret_cast<const BYTE *>(command.c_str()),
                                  static_cast<DWORD>(command.size() + 1)) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~LocalServerRegistration() { RegDeleteTreeA(HKEY_CLASSES_ROOT, m_key.c_str()); }
    bool Ok() const { return m_ok; }

private:
    std::string m_key;
    bool m_ok = false;
};

// A BSTR owned by the test; null stays null.
class Bstr
{
public:
    Bstr() = default;
    explicit Bstr(const std::wstring &text)
        : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR Get() const { return m_value; }

private:
    BSTR m_value = nullptr;
};

struct Call
{
    const char *what;
    int32_t valueType;
    const Bstr *strings[3];
    HRESULT reply;
};

std::wstring Pattern(size_t length, unsigned seed)
{
    // Every 16-bit unit value turns up, NUL and lone surrogates included.
    std::wstring s(length, L'\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<wchar_t>((i * 40503u + seed) & 0xFFFF);
    return s;
}

TEST_F(ProxyRegistration, CallsCrossProcessesUnchanged)
{
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    const std::string recordPath =
        std::string(temp) + "kestor_round_trip_" + std::to_string(GetCurrentProcessId());
    LocalServerRegistration recorder(kRecorderClsidText, recordPath);
    LocalServerRegistration unmarshalled(kUnmarshalledClsidText, recordPath);
    ASSERT_TRUE(recorder.Ok());
    ASSERT_TRUE(unmarshalled.Ok());
    CLSID recorderClsid, unmarshalledClsid;
    std::wstring text(kRecorderClsidText, kRecorderClsidText + 38);
    ASSERT_SUCCEEDED(CLSIDFromString(text.c_str(), &recorderClsid));
    text.assign(kUnmarshalledClsidText, kUnmarshalledClsidText + 38);
    ASSERT_SUCCEEDED(CLSIDFromString(text.c_str(), &unmarshalledClsid));

    // Without the library nothing can carry IKestor between the processes.
    IKestor *kestor = nullptr;
    EXPECT_FAILED_HR(CoCreateInstance(unmarshalledClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                      reinterpret_cast<void **>(&kestor)));
    EXPECT_EQ(nullptr, kestor);

    ASSERT_SUCCEEDED(m_register());
    auto started = std::chrono::steady_clock::now();
    HRESULT hr = CoCreateInstance(recorderClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                  reinterpret_cast<void **>(&kestor));
    auto activated = std::chrono::steady_clock::now();
    EXPECT_SUCCEEDED(hr);
    if (SUCCEEDED(hr))
    {
        // The client holds a proxy whose vtable is the library's.
        const BYTE *base = reinterpret_cast<const BYTE *>(m_module);
        const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
        const BYTE *vtbl = *reinterpret_cast<const BYTE *const *>(kestor);
        EXPECT_TRUE(vtbl >= base && vtbl < base + nt->OptionalHeader.SizeOfImage);

        const Bstr none;
        const Bstr empty(L"");
        const Bstr keyPath(L"GPI\\Settings");
        const Bstr name(L"Colour");
        const Bstr data(L"blau \u00fc\u4e2d");
        const Bstr embedded(std::wstring(L"ab\0cd", 5));
        const Bstr onlyNul(std::wstring(1, L'\0'));
        const Bstr trailingNuls(std::wstring(L"x\0\0", 3));
        const Bstr long64k(Pattern(32768, 1));  // 64 KiB of characters
        const Bstr longOdd(Pattern(32769, 2));
        const Bstr long128k(Pattern(65536, 3));
        const Call calls[] = {
            {"plain request", SettingValueString, {&keyPath, &name, &data}, S_OK},
            {"null strings", -1, {&none, &none, &none}, E_INVALIDARG},
            {"empty strings", 0x10001, {&empty, &empty, &empty}, S_FALSE},
            {"embedded NULs",
             INT_MIN,
             {&embedded, &onlyNul, &trailingNuls},
             static_cast<HRESULT>(0x80020009)},
            {"long strings",
             INT_MAX,
             {&long64k, &longOdd, &long128k},
             static_cast<HRESULT>(0x8BADF00D)},
            {"mixed", 0, {&none, &empty, &long64k}, static_cast<HRESULT>(0x7FFFFFFF)},
            {"null in the middle",
             SettingValueString,
             {&keyPath, &none, &data},
             static_cast<HRESULT>(0x80004005)},
            {"null at the end", 2, {&embedded, &name, &none}, static_cast<HRESULT>(0x8007000E)},
        };
        for (const Call &call : calls)
        {
            SCOPED_TRACE(call.what);
            ASSERT_TRUE(WriteWholeFile(
                recordPath + ".hr", std::string(reinterpret_cast<const char *>(&call.reply), 4)));
            DeleteFileA(recordPath.c_str());
            EXPECT_HR(call.reply,
                      kestor->SetSettingValue(static_cast<SettingValueType>(call.valueType),
                                              call.strings[0]->Get(), call.strings[1]->Get(),
                                              call.strings[2]->Get()));
            std::string bytes;
            CallRecord record;
            ASSERT_TRUE(ReadWholeFile(recordPath, &bytes)) << "the server saw no call";
            ASSERT_TRUE(DecodeRecord(bytes, &record));
            EXPECT_EQ(call.valueType, record.valueType);
            for (int i = 0; i < 3; ++i)
            {
                RecordedString sent = RecordString(call.strings[i]->Get());
                EXPECT_EQ(sent.present, record.strings[i].present) << "string " << i;
                EXPECT_EQ(sent.bytes.size(), record.strings[i].bytes.size()) << "string " << i;
                EXPECT_TRUE(sent == record.strings[i]) << "string " << i;
            }
        }

        // Not assertions: what one call costs here, for the record.
        const int repeats = 50;
        ASSERT_TRUE(WriteWholeFile(recordPath + ".hr", std::string(4, '\0')));
        auto before = std::chrono::steady_clock::now();
        for (int i = 0; i < repeats; ++i)
            kestor->SetSettingValue(SettingValueString, keyPath.Get(), name.Get(), data.Get());
        auto small = std::chrono::steady_clock::now();
        for (int i = 0; i < repeats; ++i)
            kestor->SetSettingValue(SettingValueString, long64k.Get(), long64k.Get(),
                                    long64k.Get());
        auto large = std::chrono::steady_clock::now();
        using us = std::chrono::microseconds;
        printf(
            "cold activation %lld us; small call %lld us; 3 x 64 KiB call %lld us "
            "(server writes a record file per call)\n",
            static_cast<long long>(std::chrono::duration_cast<us>(activated - started).count()),
            static_cast<long long>(std::chrono::duration_cast<us>(small - before).count() /
                                   repeats),
            static_cast<long long>(std::chrono::duration_cast<us>(large - small).count() /
                                   repeats));

        EXPECT_EQ(0u, kestor->Release());
    }
    DeleteFileA(recordPath.c_str());
    DeleteFileA((recordPath + ".hr").c_str());
    EXPECT_SUCCEEDED(m_unregister());
    ExpectUnregistered();
}

}  // namespace
