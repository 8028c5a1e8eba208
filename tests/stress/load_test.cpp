// Client processes at once, against the broker as a local server and as a
// service: four writers started together from cold, and three short-lived
// clients that keep activating and releasing it. No write or activation may
// fail or land with wrong data, and no local server may outlive its clients.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "stress_protocol.h"
#include "stress_support.h"
#include "test_hresult.h"

using namespace stress;

namespace {

const int kClients = 4;
// Started together, four writers of this many values each are all calling
// at once for most of their run: enough to catch a lost or misplaced write.
const int kWritesEach = 100;
const int kChurnClients = 3;
const int kChurnCycles = 25;
// How long the last local server may take to end once its clients are done:
// its idle period and grace, with room for a loaded machine.
const DWORD kServerEndMs = 30000;

// Starts one client per argument line ("write PREFIX ..."), lets them go at
// once and waits for each; every one must end with S_OK. Gives the seconds
// from the start signal until the last one ended.
double RunTogether(const std::vector<std::string> &arguments, const char *tag)
{
    const std::string client = "\"" + BinPath("stress_client.exe") + "\"";
    NamedEvent go(UniqueEventName(tag));
    std::vector<std::unique_ptr<Child>> children;
    for (const std::string &line : arguments)
    {
        children.emplace_back(new Child());
        EXPECT_TRUE(children.back()->Start(client + " " + line + " " + go.Name()))
            << "client did not start: " << line;
    }
    const double start = Now();
    go.Signal();
    for (size_t k = 0; k < children.size(); ++k)
    {
        EXPECT_TRUE(children[k]->Wait(300000)) << "client hangs: " << arguments[k];
        EXPECT_HR(S_OK, static_cast<HRESULT>(children[k]->ExitCode())) << arguments[k];
    }
    return Now() - start;
}

// Values PREFIXk-i for k < clients and i < count that are missing or wrong.
int WrongValues(const std::string &prefix, int clients, int count)
{
    int wrong = 0;
    for (int k = 0; k < clients; ++k)
    {
        std::wstring name = std::wstring(prefix.begin(), prefix.end()) + std::to_wstring(k);
        for (int i = 0; i < count; ++i)
        {
            StoredValue value;
            if (!ReadSetting(ValueName(name, i), &value) ||
                value != StringValue(ValueData(name, i)))
                ++wrong;
        }
    }
    return wrong;
}

// Four writers at once; every value lands and nothing else appears.
void RunLoad(const char *mode)
{
    DeleteGpiTree();
    std::vector<std::string> arguments;
    for (int k = 0; k < kClients; ++k)
        arguments.push_back("write " + std::string(mode) + std::to_string(k) + " " +
                            std::to_string(kWritesEach));
    const double elapsed = RunTogether(arguments, mode);
    std::printf(
        "[load] %s: %d writes by %d processes in %.2f s (%.2f ms per write overall); "
        "%d ZovKestor processes when the clients were done\n",
        mode, kClients * kWritesEach, kClients, elapsed, elapsed * 1000 / (kClients * kWritesEach),
        ProcessCount("ZovKestor.exe"));

    EXPECT_EQ(0, WrongValues(mode, kClients, kWritesEach)) << "values missing or with wrong data";
    TreeSnapshot tree = SnapshotTree(HKEY_CLASSES_ROOT, L"GPI");
    EXPECT_EQ(static_cast<size_t>(kClients * kWritesEach), tree[L"Settings"].size());
    EXPECT_EQ(2u, tree.size()) << "a key other than GPI\\Settings appeared";
}

// No server of the broker runs any more, within the bound.
void ExpectServersEnd(const char *what)
{
    const double start = Now();
    EXPECT_TRUE(WaitForNoProcess("ZovKestor.exe", kServerEndMs))
        << ProcessCount("ZovKestor.exe") << " local servers still run " << what;
    std::printf("[load] the last local server ended %.2f s %s\n", Now() - start, what);
}

}  // namespace

// Nothing runs when the four start: COM may start a server for each of them,
// and those that no client reaches must end as well.
TEST(Load, FourColdClientsAgainstTheLocalServer)
{
    TimedScope timer("load suite, local server from cold");
    std::string failure = RegisterBroker(false);
    ASSERT_TRUE(failure.empty()) << failure;
    ASSERT_FALSE(ProcessRunning("ZovKestor.exe"));
    RunLoad("local");
    ExpectServersEnd("after the writers were done");
}

// Each cycle's release may be a server's last; the next activation must not
// meet a server on its way out.
TEST(Load, ShortLivedClientsChurnTheLocalServer)
{
    TimedScope timer("load suite, short-lived clients");
    std::string failure = RegisterBroker(false);
    ASSERT_TRUE(failure.empty()) << failure;
    ASSERT_FALSE(ProcessRunning("ZovKestor.exe"));
    DeleteGpiTree();
    std::vector<std::string> arguments;
    for (int k = 0; k < kChurnClients; ++k)
        arguments.push_back("churn churn" + std::to_string(k) + " " + std::to_string(kChurnCycles));
    const double elapsed = RunTogether(arguments, "churn");
    std::printf("[load] churn: %d activations by %d processes in %.2f s\n",
                kChurnClients * kChurnCycles, kChurnClients, elapsed);
    EXPECT_EQ(0, WrongValues("churn", kChurnClients, kChurnCycles));
    ExpectServersEnd("after the short-lived clients were done");
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
