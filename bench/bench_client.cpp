// KestorBenchClient.exe: brokered writes timed inside a client process,
// built for 32- and 64-bit processes so that the benchmark can set the two
// side by side on one 64-bit system.
//   KestorBenchClient CALLS [TURN NEXT]
// Activates the broker, makes one write untimed, then CALLS timed ones. The
// exit code is the median time of one call in nanoseconds, or the first
// failing HRESULT (whose high bit tells the two apart). With the names of two
// auto-reset events it takes turns with another client: before each batch of
// calls it waits for TURN, after it it signals NEXT, so that both meet the
// same load from elsewhere on the machine.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/handle_owner.h"
#include "broker/kestor_interface.h"

namespace {

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

const int kBatch = 10;

// The two events of taking turns; without them every batch runs at once.
class Turns
{
public:
    Turns(const char *turn, const char *next)
        : m_turn(turn ? OpenEventA(SYNCHRONIZE, FALSE, turn) : NULL),
          m_next(next ? OpenEventA(EVENT_MODIFY_STATE, FALSE, next) : NULL)
    {}
    // False when the other client has not passed the turn in time.
    bool Wait() const
    {
        return m_turn == NULL || WaitForSingleObject(m_turn, 20000) == WAIT_OBJECT_0;
    }
    void Pass() const
    {
        if (m_next != NULL)
            SetEvent(m_next);
    }

private:
    KernelHandle m_turn, m_next;
};

HRESULT TimeWrites(IKestor *broker, int calls, const Turns &turns, DWORD *medianNs)
{
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR name = SysAllocString(L"BenchValue");
    BSTR data = SysAllocString(L"benchmark data of moderate length");
    HRESULT hr = path && name && data ? S_OK : E_OUTOFMEMORY;
    // The first call sets up the channel: not timed.
    if (SUCCEEDED(hr))
        hr = broker->SetSettingValue(SettingValueString, path, name, data);
    std::vector<double> times;
    for (int done = 0; done < calls && SUCCEEDED(hr); done += kBatch)
    {
        if (!turns.Wait())
            hr = HRESULT_FROM_WIN32(WAIT_TIMEOUT);
        for (int i = 0; i < kBatch && SUCCEEDED(hr); ++i)
        {
            double start = Now();
            hr = broker->SetSettingValue(SettingValueString, path, name, data);
            times.push_back(Now() - start);
        }
        // Passed on after a failure too, so that the other client goes on.
        turns.Pass();
    }
    SysFreeString(path);
    SysFreeString(name);
    SysFreeString(data);
    if (FAILED(hr))
        return hr;
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    *medianNs = static_cast<DWORD>(times[times.size() / 2] * 1e9);
    return S_OK;
}

}  // namespace

int main(int argc, char **argv)
{
    int calls = argc == 2 || argc == 4 ? std::atoi(argv[1]) : 0;
    if (calls <= 0)
        return E_INVALIDARG;
    Turns turns(argc == 4 ? argv[2] : NULL, argc == 4 ? argv[3] : NULL);
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return hr;
    IKestor *broker = NULL;
    DWORD medianNs = 0;
    hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                          reinterpret_cast<void **>(&broker));
    if (SUCCEEDED(hr))
    {
        hr = TimeWrites(broker, calls, turns, &medianNs);
        broker->Release();
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? static_cast<int>(medianNs) : static_cast<int>(hr);
}
