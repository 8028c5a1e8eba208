// Faults around a running service: a client that dies holding the object
// must not take the others down, and a stop control in the middle of calls
// must end the service cleanly, fail the callers instead of hanging them,
// and leave COM able to start the service again.
#include <gtest/gtest.h>

#include <memory>

#include "stress_protocol.h"
#include "stress_support.h"
#include "test_hresult.h"

using namespace stress;

namespace {

std::string Client()
{
    return "\"" + BinPath("stress_client.exe") + "\"";
}

bool ValuesPresent(const wchar_t *prefix, int count)
{
    for (int i = 0; i < count; ++i)
    {
        StoredValue value;
        if (!ReadSetting(ValueName(prefix, i), &value) ||
            value != StringValue(ValueData(prefix, i)))
            return false;
    }
    return true;
}

void StopService()
{
    if (ServiceState() == SERVICE_RUNNING)
        SendServiceStop();
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 30000));
}

}  // namespace

TEST(Faults, ClientKilledWhileHoldingTheObject)
{
    TimedScope timer("fault suite, killed client");
    ComApartment com;
    ASSERT_SUCCEEDED(com.Result());
    std::string failure = RegisterBroker(true);
    ASSERT_TRUE(failure.empty()) << failure;
    failure = StartServiceAndWait();
    ASSERT_TRUE(failure.empty()) << failure;
    DeleteGpiTree();

    NamedEvent victimReady(UniqueEventName("victim")), survivorReady(UniqueEventName("survivor"));
    NamedEvent survivorGo(UniqueEventName("go"));
    Child victim, survivor;
    ASSERT_TRUE(victim.Start(Client() + " hold " + victimReady.Name()));
    ASSERT_TRUE(victimReady.Wait(120000))
        << "victim never got the object, exit 0x" << std::hex << victim.ExitCode();
    ASSERT_TRUE(survivor.Start(Client() + " holdwrite survivor 50 " + survivorReady.Name() + " " +
                               survivorGo.Name()));
    ASSERT_TRUE(survivorReady.Wait(120000)) << "survivor never got the object";

    victim.Kill();
    ASSERT_TRUE(victim.Wait(10000));

    // A client that already held its object is still served...
    survivorGo.Signal();
    ASSERT_TRUE(survivor.Wait(120000)) << "survivor hangs after the kill";
    EXPECT_HR(S_OK, static_cast<HRESULT>(survivor.ExitCode()));
    EXPECT_TRUE(ValuesPresent(L"survivor", 50));

    // ...and so are clients that arrive after it.
    EXPECT_HR(S_OK, static_cast<HRESULT>(RunToEnd(Client() + " write newcomer 50", 120000)));
    EXPECT_TRUE(ValuesPresent(L"newcomer", 50));
    KestorRef broker;
    ASSERT_SUCCEEDED(CreateBroker(broker.Out()));
    EXPECT_SUCCEEDED(broker->SetSettingValue(SettingValueString, Bstr(L"GPI\\Settings").Get(),
                                             Bstr(L"driver-after-kill").Get(),
                                             Bstr(L"landed").Get()));
    StoredValue value;
    EXPECT_TRUE(ReadSetting(L"driver-after-kill", &value) && value == StringValue(L"landed"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    broker.Reset();
    StopService();
}

TEST(Faults, StopControlWhileClientsAreCalling)
{
    TimedScope timer("fault suite, stop while calling");
    ComApartment com;
    ASSERT_SUCCEEDED(com.Result());
    std::string failure = RegisterBroker(true);
    ASSERT_TRUE(failure.empty()) << failure;
    failure = StartServiceAndWait();
    ASSERT_TRUE(failure.empty()) << failure;
    DeleteGpiTree();

    const int kCallers = 3;
    std::unique_ptr<NamedEvent> ready[kCallers];
    std::unique_ptr<Child> callers[kCallers];
    for (int k = 0; k < kCallers; ++k)
    {
        ready[k].reset(new NamedEvent(UniqueEventName("caller")));
        callers[k].reset(new Child());
        ASSERT_TRUE(callers[k]->Start(Client() + " loop caller" + std::to_string(k) + " " +
                                      ready[k]->Name() + " 90"));
    }
    for (int k = 0; k < kCallers; ++k)
        ASSERT_TRUE(ready[k]->Wait(120000))
            << "caller " << k << " never got going, exit 0x" << std::hex << callers[k]->ExitCode();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());

    Sleep(300);  // calls in flight
    const double stopAt = Now();
    ASSERT_TRUE(SendServiceStop());
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 30000)) << "service never reached STOPPED";
    std::printf("[faults] STOPPED %.2f s after the stop control\n", Now() - stopAt);

    for (int k = 0; k < kCallers; ++k)
    {
        ASSERT_TRUE(callers[k]->Wait(60000)) << "caller " << k << " hangs after the stop";
        HRESULT exit = static_cast<HRESULT>(callers[k]->ExitCode());
        EXPECT_TRUE(FAILED(exit) && exit != static_cast<HRESULT>(kExitNeverFailed) &&
                    exit != static_cast<HRESULT>(kExitUsage))
            << "caller " << k << " ended with 0x" << std::hex << exit
            << " instead of a failed call";
    }
    std::printf("[faults] callers failed within %.2f s of the stop control\n", Now() - stopAt);
    EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", 20000)) << "stopped service still runs";

    // A new activation starts the service again and is served.
    KestorRef broker;
    ASSERT_SUCCEEDED(CreateBroker(broker.Out()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    EXPECT_SUCCEEDED(broker->SetSettingValue(SettingValueString, Bstr(L"GPI\\Settings").Get(),
                                             Bstr(L"after-restart").Get(), Bstr(L"served").Get()));
    StoredValue value;
    EXPECT_TRUE(ReadSetting(L"after-restart", &value) && value == StringValue(L"served"));
    broker.Reset();
    StopService();
}
