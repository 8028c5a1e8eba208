// A client process for the load and fault suites. Its exit code is the
// first failing HRESULT (or one of the codes in stress_protocol.h), 0 when
// every call succeeded.
//   stress_client write PREFIX COUNT [GO_EVENT]
//       waits for GO_EVENT, activates the broker, writes COUNT values
//   stress_client churn PREFIX CYCLES GO_EVENT
//       waits for GO_EVENT, then CYCLES times: activates, writes one value,
//       releases the broker
//   stress_client hold READY_EVENT
//       activates, writes once, signals READY_EVENT and waits to be killed
//   stress_client holdwrite PREFIX COUNT READY_EVENT GO_EVENT
//       activates, signals READY_EVENT, waits for GO_EVENT, writes COUNT values
//   stress_client loop PREFIX READY_EVENT SECONDS
//       activates, writes once, signals READY_EVENT, then writes until a call
//       fails (exit code: that failure) or SECONDS pass (kExitNeverFailed)
//   stress_client calls PREFIX
//       activates and makes a fixed set of refused, odd and large calls,
//       printing one line "CASE 0xHRESULT" for each; built for 32- and
//       64-bit clients, whose lists must agree line for line
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "broker/kestor_interface.h"
#include "stress_protocol.h"

namespace {

std::wstring Widen(const char *text)
{
    std::wstring wide;
    for (; *text != '\0'; ++text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

class Event
{
public:
    explicit Event(const char *name) : m_handle(OpenEventA(EVENT_ALL_ACCESS, FALSE, name)) {}
    ~Event()
    {
        if (m_handle != NULL)
            CloseHandle(m_handle);
    }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    bool Valid() const { return m_handle != NULL; }
    void Signal() const { SetEvent(m_handle); }
    void Wait() const { WaitForSingleObject(m_handle, 120000); }

private:
    HANDLE m_handle;
};

HRESULT WriteOne(IKestor *broker, const std::wstring &name, const std::wstring &data)
{
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR nameText = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    BSTR dataText = SysAllocStringLen(data.data(), static_cast<UINT>(data.size()));
    HRESULT hr = E_OUTOFMEMORY;
    if (path != NULL && nameText != NULL && dataText != NULL)
        hr = broker->SetSettingValue(SettingValueString, path, nameText, dataText);
    SysFreeString(path);
    SysFreeString(nameText);
    SysFreeString(dataText);
    return hr;
}

HRESULT WriteMany(IKestor *broker, const std::wstring &prefix, int count)
{
    for (int i = 0; i < count; ++i)
    {
        HRESULT hr = WriteOne(broker, stress::ValueName(prefix, i), stress::ValueData(prefix, i));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// One call of the fixed set; a null text is a null BSTR. The value name is
// PREFIX-CASE, or a null BSTR with nullName.
struct Case
{
    const char *label;
    int type;
    const wchar_t *path;
    bool nullName;
    const wchar_t *data;
};

const wchar_t kSettings[] = L"GPI\\Settings";

const Case kCases[] = {
    {"type-0", 0, kSettings, false, L"x"},
    {"type-2", 2, kSettings, false, L"x"},
    {"type-minus-1", -1, kSettings, false, L"x"},
    {"type-0x10001", 0x10001, kSettings, false, L"x"},
    {"type-min", INT_MIN, kSettings, false, L"x"},
    {"type-max", INT_MAX, kSettings, false, L"x"},
    {"null-path", 1, NULL, false, L"x"},
    {"null-name", 1, kSettings, true, L"x"},
    {"null-data", 1, kSettings, false, NULL},
    {"path-GPX", 1, L"GPX", false, L"x"},
    {"path-lower-case", 1, L"gpi\\settings", false, L"x"},
    {"path-with-root", 1, L"HKEY_CLASSES_ROOT\\GPI\\Settings", false, L"x"},
    {"path-empty", 1, L"", false, L"x"},
    {"path-deeper", 1, L"GPI\\Settings\\Audio", false, L"deeper"},
    {"data-empty", 1, kSettings, false, L""},
    {"data-plain", 1, kSettings, false, L"plain text"},
};

BSTR Allocate(const std::wstring &text)
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT Call(IKestor *broker, int type, BSTR path, BSTR name, BSTR data)
{
    return broker->SetSettingValue(static_cast<SettingValueType>(type), path, name, data);
}

void Report(const char *label, HRESULT hr)
{
    std::printf("%s 0x%08lX\n", label, static_cast<unsigned long>(hr));
}

// Text of every unit value but 0, longer than 64 KiB.
std::wstring LargeText()
{
    std::wstring text(0x8001, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(1 + (i * 7919) % 0xFFFF);
    return text;
}

HRESULT MakeCalls(IKestor *broker, const std::wstring &prefix)
{
    for (const Case &c : kCases)
    {
        BSTR path = c.path ? SysAllocString(c.path) : NULL;
        BSTR name = c.nullName ? NULL : Allocate(prefix + L"-" + Widen(c.label));
        BSTR data = c.data ? SysAllocString(c.data) : NULL;
        Report(c.label, Call(broker, c.type, path, name, data));
        SysFreeString(path);
        SysFreeString(name);
        SysFreeString(data);
    }
    // Lengths the table cannot hold: embedded NULs, and strings past 64 KiB.
    const std::wstring large = LargeText();
    const std::wstring settings(kSettings);
    struct Odd
    {
        const char *label;
        std::wstring path, name, data;
    } odd[] = {
        {"data-nuls", settings, prefix + L"-data-nuls", std::wstring(L"ab\0cd\0\0e", 8)},
        {"data-large", settings, prefix + L"-data-large", large},
        {"name-cut-at-nul", settings, prefix + L"-name-cut" + L'\0' + large, L"cut"},
        {"path-cut-at-nul", settings + L'\0' + large, prefix + L"-path-cut", L"cut"},
        {"path-large", settings + std::wstring(large.size(), L'\\'), prefix + L"-path-large",
         L"long path"},
        {"path-large-refused", L"GPI\\Settingz" + large, prefix + L"-path-large-refused", L"no"},
    };
    for (const Odd &c : odd)
    {
        BSTR path = Allocate(c.path), name = Allocate(c.name), data = Allocate(c.data);
        Report(c.label, path && name && data ? Call(broker, SettingValueString, path, name, data)
                                             : E_OUTOFMEMORY);
        SysFreeString(path);
        SysFreeString(name);
        SysFreeString(data);
    }
    return S_OK;
}

HRESULT Run(int argc, char **argv)
{
    if (argc < 3)
        return stress::kExitUsage;
    const std::string mode = argv[1];
    IKestor *broker = NULL;
    HRESULT hr = S_OK;

    if (mode == "write" && (argc == 4 || argc == 5))
    {
        if (argc == 5)
        {
            Event go(argv[4]);
            if (!go.Valid())
                return stress::kExitUsage;
            go.Wait();
        }
        hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                              reinterpret_cast<void **>(&broker));
        if (SUCCEEDED(hr))
            hr = WriteMany(broker, Widen(argv[2]), std::atoi(argv[3]));
    }
    else if (mode == "churn" && argc == 5)
    {
        Event go(argv[4]);
        if (!go.Valid())
            return stress::kExitUsage;
        go.Wait();
        const std::wstring prefix = Widen(argv[2]);
        const int cycles = std::atoi(argv[3]);
        for (int i = 0; i < cycles && SUCCEEDED(hr); ++i)
        {
            hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                  reinterpret_cast<void **>(&broker));
            if (SUCCEEDED(hr))
            {
                hr = WriteOne(broker, stress::ValueName(prefix, i), stress::ValueData(prefix, i));
                broker->Release();
                broker = NULL;
            }
        }
    }
    else if (mode == "hold" && argc == 3)
    {
        Event ready(argv[2]);
        if (!ready.Valid())
            return stress::kExitUsage;
        hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                              reinterpret_cast<void **>(&broker));
        if (SUCCEEDED(hr))
            hr = WriteOne(broker, L"held-by-victim", L"written before the kill");
        if (SUCCEEDED(hr))
        {
            ready.Signal();
            Sleep(INFINITE);
        }
    }
    else if (mode == "holdwrite" && argc == 6)
    {
        Event ready(argv[4]), go(argv[5]);
        if (!ready.Valid() || !go.Valid())
            return stress::kExitUsage;
        hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                              reinterpret_cast<void **>(&broker));
        if (SUCCEEDED(hr))
        {
            ready.Signal();
            go.Wait();
            hr = WriteMany(broker, Widen(argv[2]), std::atoi(argv[3]));
        }
    }
    else if (mode == "loop" && argc == 5)
    {
        Event ready(argv[3]);
        if (!ready.Valid())
            return stress::kExitUsage;
        const std::wstring prefix = Widen(argv[2]);
        hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                              reinterpret_cast<void **>(&broker));
        if (SUCCEEDED(hr))
            hr = WriteOne(broker, stress::ValueName(prefix, 0), stress::ValueData(prefix, 0));
        if (SUCCEEDED(hr))
        {
            ready.Signal();
            const DWORD limit = static_cast<DWORD>(std::atoi(argv[4])) * 1000;
            const DWORD start = GetTickCount();
            for (int i = 1; SUCCEEDED(hr); ++i)
            {
                if (GetTickCount() - start > limit)
                {
                    hr = static_cast<HRESULT>(stress::kExitNeverFailed);
                    break;
                }
                hr = WriteOne(broker, stress::ValueName(prefix, i % 100),
                              stress::ValueData(prefix, i % 100));
            }
        }
    }
    else if (mode == "calls" && argc == 3)
    {
        hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                              reinterpret_cast<void **>(&broker));
        if (SUCCEEDED(hr))
            hr = MakeCalls(broker, Widen(argv[2]));
    }
    else
        return stress::kExitUsage;

    if (broker != NULL)
        broker->Release();
    return hr;
}

}  // namespace

int main(int argc, char **argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HRESULT init = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(init))
        return init;
    HRESULT hr = Run(argc, argv);
    CoUninitialize();
    return static_cast<int>(hr);
}
