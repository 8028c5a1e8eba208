// KestorBenchClient.exe: brokered writes timed inside a client process,
// built for 32- and 64-bit processes so that the benchmark can set the two
// side by side on one 64-bit system.
//   KestorBenchClient CALLS
// Activates the broker, makes one write untimed, then CALLS timed ones. The
// exit code is the median time of one call in nanoseconds, or the first
// failing HRESULT (whose high bit tells the two apart).
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "broker/kestor_interface.h"

namespace {

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HRESULT TimeWrites(IKestor *broker, int calls, DWORD *medianNs)
{
    BSTR path = SysAllocString(L"GPI\\Settings");
    BSTR name = SysAllocString(L"BenchValue");
    BSTR data = SysAllocString(L"benchmark data of moderate length");
    HRESULT hr = path && name && data ? S_OK : E_OUTOFMEMORY;
    std::vector<double> times;
    for (int i = -1; i < calls && SUCCEEDED(hr); ++i)
    {
        double start = Now();
        hr = broker->SetSettingValue(SettingValueString, path, name, data);
        if (i >= 0)
            times.push_back(Now() - start);
    }
    SysFreeString(path);
    SysFreeString(name);
    SysFreeString(data);
    if (FAILED(hr) || times.empty())
        return FAILED(hr) ? hr : E_INVALIDARG;
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    *medianNs = static_cast<DWORD>(times[times.size() / 2] * 1e9);
    return S_OK;
}

}  // namespace

int main(int argc, char **argv)
{
    int calls = argc == 2 ? std::atoi(argv[1]) : 0;
    if (calls <= 0)
        return E_INVALIDARG;
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return hr;
    IKestor *broker = NULL;
    DWORD medianNs = 0;
    hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                          reinterpret_cast<void **>(&broker));
    if (SUCCEEDED(hr))
    {
        hr = TimeWrites(broker, calls, &medianNs);
        broker->Release();
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? static_cast<int>(medianNs) : static_cast<int>(hr);
}
