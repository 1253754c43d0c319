// The crate server against abusive local clients: many idle or half-sent
// requests, more connections than it allows, a process out of descriptors,
// and control requests it was not started to accept.

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrateServer.h"
#include "ModuleSteps.h"
#include "Population.h"
#include "Protocol.h"
#include "RawClient.h"
#include "Server.h"
#include "ToolRun.h"
#include "ksn48api.h"
#include "ksnapi.h"

namespace {

using namespace std::chrono_literals;
using ksn::test::CrateServer;
using ksn::test::RawClient;
using Clock = std::chrono::steady_clock;
namespace proto = ksn::proto;

uint16_t Op(proto::Opcode op)
{
    return static_cast<uint16_t>(op);
}

// A field of /proc/PID/status, such as "VmRSS" (kB) or "Threads".
long StatusField(pid_t pid, const std::string& name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stol(line.substr(name.size() + 1));
        }
    }
    return -1;
}

// User and system CPU time the process has used, in seconds.
double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    // Fields after the command name, which ends the last ')': state is the
    // third field, utime and stime the 14th and 15th.
    const std::size_t close = line.rfind(')');
    std::istringstream fields(close == std::string::npos ? std::string() : line.substr(close + 1));
    std::string skip;
    for (int i = 3; i < 14; ++i) {
        fields >> skip;
    }
    long utime = 0;
    long stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

using CtlRun = ksn::test::ToolRun;

// ksn-cratectl against the server on port; what it prints on stdout and stderr.
CtlRun RunCtl(uint16_t port, const std::string& args)
{
    return ksn::test::RunTool(CrateServer::CtlPath(),
                              "--port " + std::to_string(port) + " " + args);
}

// KSN_Open and KSN_GetCrates on a new link.
int ListCrates()
{
    KsnCrateLink link;
    KSN_Init(&link);
    int r = KSN_Open(&link);
    if (r == KSN_OK) {
        char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
        r = KSN_GetCrates(&link, list);
    }
    KSN_Close(&link);
    return r;
}

TEST(ServerLimits, HeaderOnlyConnectionsCostLittleAndTheServerKeepsAnswering)
{
    CrateServer server;
    const long before = StatusField(server.Pid(), "VmRSS");
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 200; ++i) {
        auto c = std::make_unique<RawClient>(server.Port());
        ASSERT_TRUE(c->ok()) << "connection " << i;
        // Each announces the largest payload there is and sends none of it.
        if (i % 4 == 0) {
            c->Hello();
        }
        c->Send(RawClient::HeaderOnly(i % 2 == 0 ? Op(proto::Opcode::Control)
                                                 : Op(proto::Opcode::ListCrates),
                                      proto::kMaxPayload));
        idle.push_back(std::move(c));
    }
    // Answered after every one of them was taken: the server serves in turn.
    const CtlRun list = RunCtl(server.Port(), "list");
    EXPECT_EQ(list.exitCode, 0) << list.output;
    EXPECT_NE(list.output.find("crate KSN5-0042"), std::string::npos) << list.output;
    EXPECT_EQ(ListCrates(), KSN_OK);
    const long during = StatusField(server.Pid(), "VmRSS");
    const long threads = StatusField(server.Pid(), "Threads");
    std::printf("server RSS %ld kB before, %ld kB with 200 header-only connections, %ld threads\n",
                before, during, threads);
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
    // (A sanitizer's shadow memory per thread says nothing about the server's own.)
    EXPECT_LT(during, 50L * 1024);
#endif
    EXPECT_GE(threads, 200);
    EXPECT_LE(threads, 256 + 2);
}

TEST(ServerLimits, ConnectionsBeyondTheLimitAreRefusedClearly)
{
    CrateServer server({}, true, {"--control", "--max-clients", "3"});
    KsnCrateLink links[3];
    for (auto& link : links) {
        KSN_Init(&link);
        ASSERT_EQ(KSN_Open(&link), KSN_OK);
    }
    const auto start = Clock::now();
    KsnCrateLink more;
    KSN_Init(&more);
    EXPECT_EQ(KSN_Open(&more), KSN_ERR_SERVER_FULL);
    Ksn48Handle h{};
    EXPECT_EQ(ksn::test::OpenModule(h, "KSN5-0042", 3), KSN_ERR_SERVER_FULL);
    EXPECT_EQ(KSN48_IsOpened(&h), KSN_ERR_NOT_OPEN);
    EXPECT_LT(Clock::now() - start, 2s) << "a refusal must not wait for a timeout";
    const CtlRun list = RunCtl(server.Port(), "list");
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.output.find("serves as many clients as it allows"), std::string::npos)
        << list.output;
    // The clients it has are served as before.
    char serials[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
    EXPECT_EQ(KSN_GetCrates(&links[0], serials), KSN_OK);
    // One leaves, the next one is taken.
    KSN_Close(&links[1]);
    int r = KSN_ERR_SERVER_FULL;
    for (int i = 0; i < 50 && r == KSN_ERR_SERVER_FULL; ++i) {
        r = KSN_Open(&more);
        if (r == KSN_ERR_SERVER_FULL) {
            std::this_thread::sleep_for(20ms);
        }
    }
    EXPECT_EQ(r, KSN_OK);
    KSN_Close(&more);
    KSN_Close(&links[0]);
    KSN_Close(&links[2]);
}

TEST(ServerLimits, OutOfDescriptorsItRefusesPausesAndServesItsClients)
{
    CrateServer server;
    Ksn48Handle h{};
    ASSERT_EQ(ksn::test::OpenModule(h, "KSN5-0042", 3), KSN_OK);
    ASSERT_EQ(ksn::test::Configure(h, 0xFF, 0, 0), KSN_OK);
    KsnCrateLink link;
    KSN_Init(&link);
    ASSERT_EQ(KSN_Open(&link), KSN_OK);

    rlimit limit{};
    ASSERT_EQ(prlimit(server.Pid(), RLIMIT_NOFILE, nullptr, &limit), 0);
    limit.rlim_cur = 24;
    ASSERT_EQ(prlimit(server.Pid(), RLIMIT_NOFILE, &limit, nullptr), 0);

    // Clients come until the server has no descriptor left for one more: the
    // one it keeps in reserve tells that client so.
    std::vector<std::unique_ptr<RawClient>> flood;
    int status = KSN_OK;
    while (status == KSN_OK && flood.size() < 40) {
        flood.push_back(std::make_unique<RawClient>(server.Port()));
        ASSERT_TRUE(flood.back()->ok());
        flood.back()->Hello();
        status = flood.back()->Status();
    }
    EXPECT_EQ(status, KSN_ERR_SERVER_FULL) << "after " << flood.size() << " connections";
    // More wait in the queue, silent: the server cannot take them.
    for (int i = 0; i < 4; ++i) {
        flood.push_back(std::make_unique<RawClient>(server.Port()));
    }
    const double cpuBefore = CpuSeconds(server.Pid());
    const auto from = Clock::now();
    // Meanwhile its clients are served.
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(ksn::test::ReceiveFrame(h, 8192, 2048).size(), 8192U) << "frame " << frame;
    }
    char serials[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
    EXPECT_EQ(KSN_GetCrates(&link, serials), KSN_OK);
    std::this_thread::sleep_for(1500ms - (Clock::now() - from));
    const double busy = (CpuSeconds(server.Pid()) - cpuBefore) /
                        std::chrono::duration<double>(Clock::now() - from).count();
    std::printf("server CPU while out of descriptors: %.1f %%\n", 100.0 * busy);
    EXPECT_LT(busy, 0.3) << "the server spins on a queue it cannot take from";
    // A new client gets an answer, not a hang.
    EXPECT_NE(ListCrates(), KSN_OK);

    // Once the crowd leaves, new clients are served again.
    flood.clear();
    int r = KSN_ERR_SERVER_FULL;
    const auto until = Clock::now() + 10s;
    while (r != KSN_OK && Clock::now() < until) {
        r = ListCrates();
        if (r != KSN_OK) {
            std::this_thread::sleep_for(50ms);
        }
    }
    EXPECT_EQ(r, KSN_OK);
    KSN_Close(&link);
    KSN48_Close(&h);
}

TEST(ServerLimits, ControlThatChangesAnythingNeedsTheControlOption)
{
    CrateServer server({}, true, {});
    const CtlRun stall = RunCtl(server.Port(), "stall KSN5-0042 3 on");
    EXPECT_EQ(stall.exitCode, 1);
    EXPECT_NE(stall.output.find("--control"), std::string::npos) << stall.output;
    for (const char* args : {"drop KSN5-0042 3", "refuse KSN5-0042 3 on", "limit KSN5-0042 3 0",
                             "status KSN5-0042 3 1 short"}) {
        EXPECT_EQ(RunCtl(server.Port(), args).exitCode, 1) << args;
    }
    // Looking is allowed, and nothing was changed.
    const CtlRun list = RunCtl(server.Port(), "list");
    EXPECT_EQ(list.exitCode, 0) << list.output;
    EXPECT_EQ(list.output.find("[stalls]"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("ch1  ok"), std::string::npos) << list.output;
    Ksn48Handle h{};
    ASSERT_EQ(ksn::test::OpenModule(h, "KSN5-0042", 3), KSN_OK);
    ASSERT_EQ(ksn::test::Configure(h, 0xFF, 0, 0), KSN_OK);
    EXPECT_EQ(ksn::test::ReceiveFrame(h, 1024, 1024).size(), 1024U);
    KSN48_Close(&h);
}

// A request is kept only as far as its opcode can use it; the rest is read
// and dropped, and the connection stays.
TEST(ServerLimits, PayloadsLongerThanTheRequestCanUseAreRefused)
{
    CrateServer server;
    RawClient c(server.Port());
    c.Hello();
    ASSERT_EQ(c.Status(), KSN_OK);
    const struct {
        const char* what;
        uint16_t opcode;
        std::size_t length;
        int expected;
    } cases[] = {
        {"control text past its limit", Op(proto::Opcode::Control), proto::kMaxControlText + 1,
         KSN_ERR_PROTOCOL},
        {"a megabyte for a crate list", Op(proto::Opcode::ListCrates), 1U << 20U, KSN_ERR_PROTOCOL},
        {"control text at its limit", Op(proto::Opcode::Control), proto::kMaxControlText,
         KSN_ERR_INVALID_ARGUMENT},  // read whole, then found not to be JSON
    };
    for (const auto& k : cases) {
        c.Request(k.opcode, std::vector<uint8_t>(k.length, ' '));
        EXPECT_EQ(c.Status(5000), k.expected) << k.what;
    }
    c.Request(Op(proto::Opcode::ListCrates), {});
    EXPECT_EQ(c.Status(), KSN_OK);
}

// The server in this process, with a short time for a request to arrive.
class InProcessServer {
public:
    explicit InProcessServer(ksn::sim::ServerOptions options)
        : server_(ksn::sim::DefaultPopulation(), options)
    {
        server_.Listen();
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        thread_ = std::thread([this] { server_.Run(wake_[0]); });
    }
    ~InProcessServer()
    {
        const char c = 1;
        const ssize_t ignored = write(wake_[1], &c, 1);
        static_cast<void>(ignored);
        thread_.join();
        close(wake_[0]);
        close(wake_[1]);
    }
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;
    uint16_t Port() const { return server_.Port(); }

private:
    ksn::sim::Server server_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

TEST(ServerLimits, ARequestThatStopsHalfWayIsDroppedAnIdleClientIsNot)
{
    ksn::sim::ServerOptions options;
    options.port = 0;
    options.fast = true;
    options.requestTimeoutMs = 300;
    InProcessServer server(options);
    RawClient halfHeader(server.Port());
    RawClient headerOnly(server.Port());
    RawClient halfPayload(server.Port());
    RawClient idle(server.Port());
    halfHeader.Send({'K', 'S', 'N'});
    headerOnly.Send(RawClient::HeaderOnly(Op(proto::Opcode::Control), 100));
    auto part = RawClient::HeaderOnly(Op(proto::Opcode::Control), 100);
    part.resize(part.size() + 50, ' ');
    halfPayload.Send(part);
    const auto start = Clock::now();
    EXPECT_TRUE(halfHeader.Closed(3000));
    EXPECT_TRUE(headerOnly.Closed(3000));
    EXPECT_TRUE(halfPayload.Closed(3000));
    EXPECT_GE(Clock::now() - start, 250ms);
    // Silence between requests is no fault.
    EXPECT_FALSE(idle.Closed(200));
    idle.Hello();
    EXPECT_EQ(idle.Status(), KSN_OK);
}

}  // namespace
