#include "checker/end_to_end_check.h"

#include <oleauto.h>

#include <cstdio>
#include <memory>

#include "base/handle_owner.h"
#include "broker/kestor_interface.h"
#include "checker/service_check.h"

namespace {

const char kCall[] = "call";
// Longer than COM's own patience with a starting service: a check that
// hangs is no use to a fleet tool.
const DWORD kCallTimeoutMs = 120000;
// A value type the broker refuses before it looks at anything else.
const SettingValueType kRefusedType = static_cast<SettingValueType>(0);

// What the calling thread found; shared with it, since a thread that never
// comes back must not write into freed memory.
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
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        outcome->activation = hr;
        return;
    }
    {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        IKestor *kestor = nullptr;
        outcome->activation = CoCreateInstance(CLSID_KestorObj, nullptr, CLSCTX_LOCAL_SERVER,
                                               IID_IKestor, reinterpret_cast<void **>(&kestor));
        if (SUCCEEDED(outcome->activation)) {
            const HandleOwner<BstrPolicy> key(SysAllocString(KESTOR_SETTINGS_KEY_W)),
                name(SysAllocString(L"kestor-check")), data(SysAllocString(L""));
            outcome->call = key.Get() && name.Get() && data.Get()
                                ? kestor->SetSettingValue(kRefusedType, key.Get(), name.Get(),
                                                          data.Get())
                                : E_OUTOFMEMORY;
            kestor->Release();
        }
        outcome->milliseconds = Milliseconds(start);
    }
    CoUninitialize();
}

DWORD WINAPI CallThread(void *parameter)
{
    std::shared_ptr<CallOutcome> *shared = static_cast<std::shared_ptr<CallOutcome> *>(parameter);
    std::shared_ptr<CallOutcome> outcome = *shared;
    delete shared;
    Call(outcome.get());
    return 0;
}

std::string Duration(double milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", milliseconds);
    return text;
}

// The calling thread lives in an apartment of its own. This one is an
// apartment too, and COM may need it while the call is on its way: it waits
// with its messages pumped rather than blocked.
bool WaitForCallThread(HANDLE thread)
{
    DWORD index = 0;
    HRESULT hr = CoWaitForMultipleHandles(0, kCallTimeoutMs, 1, &thread, &index);
    if (hr == CO_E_NOTINITIALIZED)
        return WaitForSingleObject(thread, kCallTimeoutMs) == WAIT_OBJECT_0;
    return hr == S_OK;
}

const char *ClientWidth() { return sizeof(void *) == 8 ? "a 64-bit client" : "a 32-bit client"; }

}  // namespace

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

    auto outcome = std::make_shared<CallOutcome>();
    auto *handOver = new std::shared_ptr<CallOutcome>(outcome);
    const KernelHandle thread(CreateThread(nullptr, 0, CallThread, handOver, 0, nullptr));
    if (!thread.Valid()) {
        delete handOver;
        return NotChecked(kCall, "a thread for the call", GetLastError(), std::string());
    }
    if (!WaitForCallThread(thread.Get()))
        return Failed(kCall, "KestorObj did not answer " + std::string(ClientWidth()) +
                                 " within " + Duration(kCallTimeoutMs));

    const std::string took = " in " + Duration(outcome->milliseconds);
    if (FAILED(outcome->activation))
        return Failed(kCall, std::string(ClientWidth()) + " cannot create KestorObj: " +
                                 HresultText(outcome->activation) + took);
    if (outcome->call != E_INVALIDARG)
        return Failed(kCall, "a request the broker must refuse got " +
                                 HresultText(outcome->call) + took);

    std::string served = "E_INVALIDARG for " + std::string(ClientWidth()) + took;
    if (!installation.serviceMode && installation.serviceExpected)
        return Failed(kCall, served + ", served by a local server with its client's rights, "
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
