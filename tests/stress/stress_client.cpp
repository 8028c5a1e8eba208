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
#include <windows.h>

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
