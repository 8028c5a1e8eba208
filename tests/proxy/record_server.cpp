// A COM local server for the round-trip test: its IKestor records every
// call's arguments to a file and answers with the HRESULT the client put in
// a second file. Command line: RECORD-PATH CLSID (COM appends -Embedding).
// It serves until its last object is released.
#include "call_record.h"
#include "broker/kestor_interface.h"

#include <new>
#include <string>

namespace {

std::string g_recordPath;
DWORD g_loopThread;
LONG g_objects;

class Recorder final : public IKestor
{
public:
    Recorder() { InterlockedIncrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IKestor)
        {
            *out = static_cast<IKestor *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
        {
            delete this;
            if (InterlockedDecrement(&g_objects) == 0)
                PostThreadMessageA(g_loopThread, WM_QUIT, 0, 0);
        }
        return refs;
    }

    HRESULT STDMETHODCALLTYPE SetSettingValue(SettingValueType valueType, BSTR keyPath,
                                              BSTR valueName, BSTR valueData) override
    {
        try
        {
            CallRecord record;
            record.valueType = static_cast<int32_t>(valueType);
            record.strings[0] = RecordString(keyPath);
            record.strings[1] = RecordString(valueName);
            record.strings[2] = RecordString(valueData);
            if (!WriteWholeFile(g_recordPath, EncodeRecord(record)))
                return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
            std::string reply;
            if (!ReadWholeFile(g_recordPath + ".hr", &reply) || reply.size() != 4)
                return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
            HRESULT hr;
            memcpy(&hr, reply.data(), 4);
            return hr;
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }

private:
    LONG m_refs = 1;
};

class Factory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory)
        {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Recorder *recorder = new (std::nothrow) Recorder;
        if (!recorder)
            return E_OUTOFMEMORY;
        HRESULT hr = recorder->QueryInterface(iid, out);
        recorder->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    g_recordPath = argv[1];
    CLSID clsid;
    std::wstring clsidText(argv[2], argv[2] + strlen(argv[2]));
    if (FAILED(CLSIDFromString(clsidText.c_str(), &clsid)))
        return 3;

    g_loopThread = GetCurrentThreadId();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 4;
    static Factory factory;
    DWORD cookie = 0;
    HRESULT hr =
        CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr))
    {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 5;
}
