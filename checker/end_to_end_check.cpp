#include "checker/end_to_end_check.h"

#include <oleauto.h>

#include <cstdio>
#include <memory>

#include "base/handle_owner.h"
#include "broker/kestor_interface.h"
#include "checker/service_check.h"

namespace {

const char kCall[] = "call";
// How long the check waits for its call. A cold start of the service takes
// well under a second, and the service manager gives a starting service
// 30 s by default before it gives up on it (COM then starts a local server,
// which the line reports). A call not back by then has met a broker slowed
// by load or by what the settings key holds; waiting longer would only let
// a fleet tool, which gives a detection rule a minute or two, kill the
// check before it says so.
const DWORD kCallBoundMs = 30000;
// A value type the broker refuses before it looks at anything else.
const SettingValueType kRefusedType = static_cast<SettingValueType>(0);

// What the calling thread found.
struct CallOutcome
{
    HRESULT activation = E_FAIL;
    HRESULT call = E_FAIL;
    double milliseconds = 0;
};

double Milliseconds(const LARGE_INTEGER &start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

void Call(CallOutcome *outcome)
{
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
    {
        outcome->activation = hr;
        return;
    }
    {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        IKestor *kestor = NULL;
        outcome->activation = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER,
                                               IID_IKestor, reinterpret_cast<void **>(&kestor));
        if (SUCCEEDED(outcome->activation))
        {
            const HandleOwner<BstrPolicy> key(SysAllocString(KESTOR_SETTINGS_KEY_W)),
                name(SysAllocString(L"kestor-check")), data(SysAllocString(L""));
            outcome->call =
                key.Get() && name.Get() && data.Get()
                    ? kestor->SetSettingValue(kRefusedType, key.Get(), name.Get(), data.Get())
                    : E_OUTOFMEMORY;
            kestor->Release();
        }
        outcome->milliseconds = Milliseconds(start);
    }
    CoUninitialize();
}

DWORD WINAPI WorkThread(void *parameter)
{
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()> *>(parameter));
    (*work)();
    return 0;
}

std::string Duration(double milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", milliseconds);
    return text;
}

const char *ClientWidth()
{
    return sizeof(void *) == 8 ? "a 64-bit client" : "a 32-bit client";
}

}  // namespace

WorkOutcome RunWithin(const std::function<void()> &work, DWORD timeoutMs)
{
    auto *handOver = new std::function<void()>(work);
    const KernelHandle thread(CreateThread(NULL, 0, WorkThread, handOver, 0, NULL));
    if (!thread.Valid())
    {
        delete handOver;
        return WorkOutcome::NotStarted;
    }
    // The thread lives in an apartment of its own. This one is an apartment
    // too, and COM may need it while a call is on its way: it waits with its
    // messages pumped rather than blocked.
    HANDLE handle = thread.Get();
    DWORD index = 0;
    HRESULT hr = CoWaitForMultipleHandles(0, timeoutMs, 1, &handle, &index);
    if (hr == CO_E_NOTINITIALIZED)
        hr = WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0 ? S_OK : RPC_S_CALLPENDING;
    return hr == S_OK ? WorkOutcome::Returned : WorkOutcome::StillRunning;
}

CheckResult CheckEndToEnd(const Installation &installation)
{
    // A call could start ZovKestor.exe, or a library beside it, from a
    // folder that others can change.
    if (installation.foldersUntrusted)
        return NotChecked(kCall, "not tried: others can change what it would start (see folders)");
    // COM would try the service, fail, and wait for a local server that
    // serves with its client's rights: a slow way to learn nothing new.
    if (installation.serviceUnusable)
        return NotChecked(kCall, "COM cannot start the service (see appid and service)");

    // The outcome is shared with the thread, since a thread that never
    // comes back must not write into freed memory.
    auto outcome = std::make_shared<CallOutcome>();
    switch (RunWithin([outcome] { Call(outcome.get()); }, kCallBoundMs))
    {
    case WorkOutcome::NotStarted:
        return NotChecked(kCall, "a thread for the call", GetLastError(), std::string());
    case WorkOutcome::StillRunning:
        return Failed(kCall, "the call of " + std::string(ClientWidth()) +
                                 " did not return within " + std::to_string(kCallBoundMs / 1000) +
                                 " s");
    case WorkOutcome::Returned:
        break;
    }

    const std::string took = " in " + Duration(outcome->milliseconds);
    if (FAILED(outcome->activation))
        return Failed(kCall, std::string(ClientWidth()) + " cannot create KestorObj: " +
                                 HresultText(outcome->activation) + took);
    if (outcome->call != E_INVALIDARG)
        return Failed(kCall,
                      "a request the broker must refuse got " + HresultText(outcome->call) + took);

    std::string served = "E_INVALIDARG for " + std::string(ClientWidth()) + took;
    if (!installation.serviceMode && installation.serviceExpected)
        return Failed(kCall, served +
                                 ", served by a local server with its client's rights, "
                                 "though the installation is for the service");
    if (!installation.serviceMode)
        return Passed(kCall, served + ", served by a local server");
    DWORD process = RunningServiceProcess();
    if (process == 0)
        return Failed(kCall, served + ", but not by the service " KESTOR_CHECK_SERVICE_NAME
                                      ": a local server with its client's rights served it");
    return Passed(kCall, served + ", served by the service " KESTOR_CHECK_SERVICE_NAME " (PID " +
                             std::to_string(process) + ")");
}
