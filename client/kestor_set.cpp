// kestor-set: stores one settings value through the Kestor broker.
//
// The broker runs out of process (as a service or a local server), so the
// value is written with the broker's rights, not the caller's. Names and
// texts go over as UTF-16, whatever the ANSI code page.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "base/handle_owner.h"
#include "base/system_library.h"
#include "broker/kestor_interface.h"
#include "client/kestor_set_args.h"

namespace {

class ComApartment
{
public:
    ComApartment() : m_result(CoInitialize(NULL)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};

HRESULT StoreSetting(const SetRequest &request)
{
    ComApartment apartment;
    if (FAILED(apartment.Result()))
        return apartment.Result();

    OwnedBstr keyPath(TextToBstr(request.keyPath));
    OwnedBstr valueName(TextToBstr(request.valueName));
    OwnedBstr valueData(TextToBstr(request.valueData));
    if (keyPath.Get() == NULL || valueName.Get() == NULL || valueData.Get() == NULL)
        return E_OUTOFMEMORY;

    // The interface must be released before the apartment goes; the
    // declaration order sees to it.
    InterfaceReference<IKestor> kestor;
    HRESULT hr = CoCreateInstance(CLSID_KestorObj, NULL, CLSCTX_LOCAL_SERVER, IID_IKestor,
                                  reinterpret_cast<void **>(kestor.Place()));
    if (FAILED(hr))
        return hr;
    return kestor->SetSettingValue(static_cast<SettingValueType>(request.valueType), keyPath.Get(),
                                   valueName.Get(), valueData.Get());
}

}  // namespace

// The wide entry point: the arguments arrive as the command line's UTF-16,
// split by the same runtime rules as narrow ones, and nothing the ANSI code
// page lacks is lost on the way to the broker.
int wmain(int argc, wchar_t **argv)
{
    // Administrators run it from wherever they unpacked it: no library is
    // to come from there.
    RestrictLibrarySearchToSystem();

    SetRequest request;
    std::string error;
    switch (ParseArguments(argc, argv, &request, &error))
    {
    case ParseOutcome::Help:
        std::fputs(kKestorSetUsage, stdout);
        return 0;
    case ParseOutcome::UsageError:
        std::fprintf(stderr, "kestor-set: %s\n%s", error.c_str(), kKestorSetUsage);
        return static_cast<int>(KESTOR_SET_E_USAGE);
    case ParseOutcome::Run:
        break;
    }

    HRESULT hr;
    try
    {
        hr = StoreSetting(request);
    }
    catch (...)
    {
        hr = E_OUTOFMEMORY;
    }
    std::string line = DescribeResult(hr) + "\n";
    std::fputs(line.c_str(), hr == S_OK ? stdout : stderr);
    std::fflush(stdout);
    return static_cast<int>(hr);
}
