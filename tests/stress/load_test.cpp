// Four client processes writing at once, against the broker as a local
// server and as a service: no write may be lost or land with wrong data, and
// the local server must end after its last client.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "stress_protocol.h"
#include "stress_support.h"
#include "test_hresult.h"

using namespace stress;

namespace {

const int kClients = 4;
const int kWritesEach = 250;

// Starts the clients together, waits for them and checks every value.
void RunLoad(const char *mode)
{
    DeleteGpiTree();
    const std::string client = "\"" + BinPath("stress_client.exe") + "\"";
    NamedEvent go(UniqueEventName(mode));
    std::unique_ptr<Child> children[kClients];
    for (int k = 0; k < kClients; ++k)
    {
        children[k].reset(new Child());
        ASSERT_TRUE(children[k]->Start(client + " write " + mode + std::to_string(k) + " " +
                                       std::to_string(kWritesEach) + " " + go.Name()))
            << "client " << k << " did not start";
    }
    const double start = Now();
    go.Signal();
    for (int k = 0; k < kClients; ++k)
    {
        ASSERT_TRUE(children[k]->Wait(300000)) << "client " << k << " hangs";
        EXPECT_HR(S_OK, static_cast<HRESULT>(children[k]->ExitCode())) << "client " << k;
    }
    const double elapsed = Now() - start;
    std::printf("[load] %s: %d writes by %d processes in %.2f s (%.2f ms per write overall); "
                "%d ZovKestor processes when the clients were done\n",
                mode, kClients * kWritesEach, kClients, elapsed,
                elapsed * 1000 / (kClients * kWritesEach), ProcessCount("ZovKestor.exe"));

    int wrong = 0;
    for (int k = 0; k < kClients; ++k)
    {
        std::wstring prefix = std::wstring(mode, mode + strlen(mode)) + std::to_wstring(k);
        for (int i = 0; i < kWritesEach; ++i)
        {
            StoredValue value;
            if (!ReadSetting(ValueName(prefix, i), &value) ||
                value != StringValue(ValueData(prefix, i)))
                ++wrong;
        }
    }
    EXPECT_EQ(0, wrong) << "values missing or with wrong data";
    TreeSnapshot tree = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    EXPECT_EQ(static_cast<size_t>(kClients * kWritesEach), tree[L"Settings"].size());
    EXPECT_EQ(2u, tree.size()) << "a key other than GPI\\Settings appeared";
}

}  // namespace

TEST(Load, FourClientsAgainstTheLocalServer)
{
    TimedScope timer("load suite, local server");
    ComApartment com;
    ASSERT_SUCCEEDED(com.Result());
    std::string failure = RegisterBroker(false);
    ASSERT_TRUE(failure.empty()) << failure;
    // Wine does not serialise cold activations: clients that all find no
    // server start one each, and a server no client reaches never ends. The
    // test is the first client, so the four meet one running server.
    KestorRef first;
    ASSERT_SUCCEEDED(CreateBroker(first.Out()));
    RunLoad("local");
    EXPECT_EQ(1, ProcessCount("ZovKestor.exe"));
    first.Reset();
    EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", 20000))
        << "the local server still runs after its last client";
}

TEST(Load, FourClientsAgainstTheService)
{
    TimedScope timer("load suite, service");
    std::string failure = RegisterBroker(true);
    ASSERT_TRUE(failure.empty()) << failure;
    failure = StartServiceAndWait();
    ASSERT_TRUE(failure.empty()) << failure;
    RunLoad("service");
    // A service outlives its clients; it ends on the stop control only.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    EXPECT_TRUE(SendServiceStop());
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 20000));
    EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", 20000));
}
