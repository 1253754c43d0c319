// Faults between the libraries and the crate server: an absent, killed,
// stalled or misbehaving server, and garbage sent to the server.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "CaseName.h"
#include "CrateServer.h"
#include "ModuleSteps.h"
#include "Protocol.h"
#include "RawClient.h"
#include "ksn48api.h"
#include "ksnapi.h"

namespace {

using namespace std::chrono_literals;
using ksn::test::Configure;
using ksn::test::CrateServer;
using ksn::test::OpenModule;
using ksn::test::RawClient;
using Clock = std::chrono::steady_clock;
namespace proto = ksn::proto;

// A loopback port nobody listens on.
uint16_t DeadPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

TEST(ServerAbsent, EveryOpenFailsQuickly)
{
    setenv("KSN_CRATE_PORT", std::to_string(DeadPort()).c_str(), 1);
    const auto start = Clock::now();
    KsnCrateLink link;
    KSN_Init(&link);
    EXPECT_EQ(KSN_Open(&link), KSN_ERR_CONNECT);
    Ksn48Handle h{};
    EXPECT_EQ(OpenModule(h, "KSN5-0042", 3), KSN_ERR_CONNECT);
    EXPECT_EQ(KSN48_IsOpened(&h), KSN_ERR_NOT_OPEN);
    EXPECT_LT(Clock::now() - start, 1s);
    unsetenv("KSN_CRATE_PORT");
}

class StreamingModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
        ASSERT_EQ(Configure(h_, 0xFF, 0, 1), KSN_OK);
        ASSERT_EQ(KSN48_Start(&h_), KSN_OK);
        ASSERT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), 1024);
    }
    void TearDown() override
    {
        if (KSN48_IsOpened(&h_) == KSN_OK) {
            EXPECT_EQ(KSN48_Close(&h_), KSN_OK);
        }
    }
    // Runs f and returns how long it took.
    static Clock::duration Timed(const std::function<void()>& f)
    {
        const auto start = Clock::now();
        f();
        return Clock::now() - start;
    }
    CrateServer server_;
    Ksn48Handle h_{};
    std::vector<uint32_t> words_ = std::vector<uint32_t>(4096);
};

TEST_F(StreamingModule, ServerKilledMidStreamGivesErrorsNotHangs)
{
    server_.Kill();
    const auto took = Timed([&] {
        EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 2000), KSN_ERR_CONNECTION_LOST);
        EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 2000), KSN_ERR_CONNECTION_LOST);
        EXPECT_NE(KSN48_Stop(&h_), KSN_OK);
    });
    EXPECT_LT(took, 1s);
    EXPECT_EQ(h_.AcquisitionRunning, 0);
    // Still open from the caller's view, so that it gets closed.
    EXPECT_EQ(KSN48_IsOpened(&h_), KSN_OK);
    EXPECT_EQ(KSN48_Close(&h_), KSN_OK);

    // A server back on the same port serves again.
    server_.Restart();
    ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
    EXPECT_STREQ(h_.ModuleSerial, "4811001");
}

TEST_F(StreamingModule, StalledReceiveHonoursItsTimeout)
{
    ASSERT_EQ(server_.Ctl({"stall", "KSN5-0042", "3", "on"}), 0);
    for (uint32_t timeout : {0U, 150U, 400U}) {
        const auto took = Timed([&] {
            EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, timeout), KSN_ERR_TIMEOUT);
        });
        EXPECT_GE(took, std::chrono::milliseconds(timeout)) << timeout;
        EXPECT_LT(took, std::chrono::milliseconds(timeout + 100)) << timeout;
    }
    // Once the stall ends the stream carries on where it was.
    ASSERT_EQ(server_.Ctl({"stall", "KSN5-0042", "3", "off"}), 0);
    ASSERT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), 1024);
    std::vector<double> volts(512);
    uint32_t size = 1024;
    int32_t status[KSN48_CHANNEL_COUNT];
    EXPECT_EQ(KSN48_ProcessData(&h_, words_.data(), volts.data(), &size, 0x81, status), KSN_OK);
    EXPECT_EQ(KSN48_Stop(&h_), KSN_OK);
}

// Another thread cuts short a receive the server never answers; the module
// stays open and in step.
TEST_F(StreamingModule, ACancelledReceiveReturnsAtOnceAndLeavesTheModuleUsable)
{
    ASSERT_EQ(server_.Ctl({"stall", "KSN5-0042", "3", "on"}), 0);
    std::atomic<int> result{1};
    std::atomic<Clock::rep> returned{0};
    std::thread receiver([&] {
        result = KSN48_Recv(&h_, words_.data(), nullptr, 1024, 5000);
        returned = Clock::now().time_since_epoch().count();
    });
    std::this_thread::sleep_for(300ms);  // blocked by now
    EXPECT_EQ(result.load(), 1) << "the stalled receive returned before the cancel";
    const auto cancelled = Clock::now();
    EXPECT_EQ(KSN48_CancelRecv(&h_), KSN_OK);
    receiver.join();
    EXPECT_EQ(result.load(), KSN_ERR_CANCELLED);
    const auto after = Clock::time_point(Clock::duration(returned.load())) - cancelled;
    EXPECT_LT(after, 500ms) << "from the cancel to the receive's return";
    EXPECT_EQ(h_.AcquisitionRunning, 1);
    EXPECT_EQ(KSN48_IsOpened(&h_), KSN_OK);
    // Until the next start every receive is cut short at once.
    const auto took = Timed(
        [&] { EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 5000), KSN_ERR_CANCELLED); });
    EXPECT_LT(took, 500ms);
    EXPECT_EQ(KSN48_Stop(&h_), KSN_OK);
    // A cancel while nothing waits is over with the next start.
    EXPECT_EQ(KSN48_CancelRecv(&h_), KSN_OK);
    ASSERT_EQ(server_.Ctl({"stall", "KSN5-0042", "3", "off"}), 0);
    ASSERT_EQ(KSN48_Start(&h_), KSN_OK);
    ASSERT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), 1024);
    std::vector<double> volts(1024);
    uint32_t size = 1024;
    int32_t status[KSN48_CHANNEL_COUNT];
    EXPECT_EQ(KSN48_ProcessData(&h_, words_.data(), volts.data(), &size, 0x81, status), KSN_OK);
    EXPECT_EQ(KSN48_Stop(&h_), KSN_OK);
    EXPECT_EQ(KSN48_Close(&h_), KSN_OK);
    EXPECT_EQ(KSN48_CancelRecv(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_CancelRecv(nullptr), KSN_ERR_INVALID_ARGUMENT);
}

// A call the stopped (SIGSTOP) server never answers is cut short by
// KSN48_Cancel from another thread, whichever call it is; the calls after it
// return at once until KSN48_ClearCancel, and once the server runs again the
// module measures as before.
struct CancelledCallCase : ksn::test::NamedCase {
    bool running;  // the acquisition runs when the server stops
    std::function<int(Ksn48Handle&, std::vector<uint32_t>&)> call;
    int runningAfter;  // AcquisitionRunning once the call was cut short
};

class CancelledCall : public StreamingModule,
                      public ::testing::WithParamInterface<CancelledCallCase> {};

TEST_P(CancelledCall, ReturnsAtOnceAndTheModuleMeasuresOnceTheServerRunsAgain)
{
    const CancelledCallCase& c = GetParam();
    if (!c.running) {
        ASSERT_EQ(KSN48_Stop(&h_), KSN_OK);
    }
    server_.Suspend();
    std::atomic<int> result{1};
    std::atomic<Clock::rep> returned{0};
    std::thread caller([&] {
        result = c.call(h_, words_);
        returned = Clock::now().time_since_epoch().count();
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(result.load(), 1) << "the call returned before the cancel";
    const auto cancelled = Clock::now();
    EXPECT_EQ(KSN48_Cancel(&h_), KSN_OK);
    caller.join();
    EXPECT_EQ(result.load(), KSN_ERR_CANCELLED);
    const auto after = Clock::time_point(Clock::duration(returned.load())) - cancelled;
    EXPECT_LT(after, 200ms) << "from the cancel to the call's return";
    EXPECT_EQ(h_.AcquisitionRunning, c.runningAfter);
    EXPECT_EQ(KSN48_IsOpened(&h_), KSN_OK);

    // Until the cancel is cleared nothing waits for the server: the stop is
    // sent unanswered, a new configuration and a start are not sent.
    const auto took = Timed([&] {
        if (h_.AcquisitionRunning != 0) {
            EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 5000), KSN_ERR_CANCELLED);
            EXPECT_EQ(KSN48_Stop(&h_), KSN_ERR_CANCELLED);
        }
        EXPECT_EQ(h_.AcquisitionRunning, 0);
        EXPECT_EQ(Configure(h_, 0x01, 2, 0), KSN_ERR_CANCELLED);
        EXPECT_EQ(KSN48_Start(&h_), KSN_ERR_STATE) << "no configuration applied";
    });
    EXPECT_LT(took, 200ms);

    server_.Resume();
    EXPECT_EQ(KSN48_ClearCancel(&h_), KSN_OK);
    ASSERT_EQ(Configure(h_, 0x01, 2, 0), KSN_OK);
    const std::vector<uint32_t> frame = ksn::test::ReceiveFrame(h_, 2048, 512);
    ASSERT_EQ(frame.size(), 2048U);
    std::vector<double> volts(2048);
    uint32_t size = 2048;
    int32_t status[KSN48_CHANNEL_COUNT];
    EXPECT_EQ(KSN48_ProcessData(&h_, frame.data(), volts.data(), &size, 0x81, status), KSN_OK);
    EXPECT_EQ(size, 2048U);
}

INSTANTIATE_TEST_SUITE_P(
    Module, CancelledCall,
    ::testing::Values(
        CancelledCallCase{{"SetADC"},
                          false,
                          [](Ksn48Handle& h, std::vector<uint32_t>&) {
                              return Configure(h, 0xFF, 0, 1);
                          },
                          0},
        // The start went out: the server may still start, so the caller
        // stops as usual.
        CancelledCallCase{
            {"Start"}, false, [](Ksn48Handle& h, std::vector<uint32_t>&) { return KSN48_Start(&h); },
            1},
        CancelledCallCase{
            {"Stop"}, true, [](Ksn48Handle& h, std::vector<uint32_t>&) { return KSN48_Stop(&h); },
            0},
        CancelledCallCase{{"Recv"},
                          true,
                          [](Ksn48Handle& h, std::vector<uint32_t>& words) {
                              return KSN48_Recv(&h, words.data(), nullptr, 1024, 5000);
                          },
                          1}),
    ksn::test::CaseName<CancelledCallCase>);

// A close after a cancel still tells the server and waits for its answer:
// the module is free for another client as soon as it returns. A stopped
// server costs it the close's short time, no more.
TEST_F(StreamingModule, ACloseAfterACancelStillFreesTheModule)
{
    EXPECT_EQ(KSN48_Cancel(&h_), KSN_OK);
    EXPECT_EQ(KSN48_Stop(&h_), KSN_ERR_CANCELLED);
    EXPECT_EQ(KSN48_Close(&h_), KSN_OK);
    EXPECT_EQ(KSN48_IsOpened(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_Cancel(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_ClearCancel(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_Cancel(nullptr), KSN_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KSN48_ClearCancel(nullptr), KSN_ERR_INVALID_ARGUMENT);
    Ksn48Handle other{};
    EXPECT_EQ(OpenModule(other, "KSN5-0042", 3), KSN_OK) << "the module is still held";

    server_.Suspend();
    EXPECT_EQ(KSN48_Cancel(&other), KSN_OK);
    const auto took = Timed([&] { EXPECT_EQ(KSN48_Close(&other), KSN_OK); });
    EXPECT_LT(took, 1500ms);
    server_.Resume();
    // The server takes the close (and the end of the connection) on a thread
    // of that connection: another client's open may come a moment before.
    int opened = KSN_ERR_BUSY;
    for (int attempt = 0; attempt < 40 && opened == KSN_ERR_BUSY; ++attempt) {
        opened = OpenModule(other, "KSN5-0042", 3);
        if (opened == KSN_ERR_BUSY) {
            std::this_thread::sleep_for(25ms);
        }
    }
    EXPECT_EQ(opened, KSN_OK) << "the module is still held";
    KSN48_Close(&other);
}

// A receive cancel of the old kind leaves the other calls waiting for the
// server as before: the stop after it is answered.
TEST_F(StreamingModule, AReceiveCancelDoesNotCutTheStopShort)
{
    EXPECT_EQ(KSN48_CancelRecv(&h_), KSN_OK);
    EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 5000), KSN_ERR_CANCELLED);
    EXPECT_EQ(KSN48_Stop(&h_), KSN_OK);
    EXPECT_EQ(Configure(h_, 0x01, 2, 0), KSN_OK);
}

TEST_F(StreamingModule, ShortDeliveriesAreReportedAsTheyCame)
{
    const struct {
        const char* limit;
        int expected;
    } cases[] = {{"100", 100}, {"0", 0}, {"off", 1024}};
    for (const auto& c : cases) {
        ASSERT_EQ(server_.Ctl({"limit", "KSN5-0042", "3", c.limit}), 0);
        EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), c.expected) << c.limit;
    }
}

TEST_F(StreamingModule, DroppedConnectionIsReportedAndFreesTheModule)
{
    std::string out;
    ASSERT_EQ(server_.Ctl({"drop", "KSN5-0042", "3"}, &out), 0);
    EXPECT_NE(out.find("true"), std::string::npos) << out;
    EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), KSN_ERR_CONNECTION_LOST);
    Ksn48Handle other{};
    EXPECT_EQ(OpenModule(other, "KSN5-0042", 3), KSN_OK);
    KSN48_Close(&other);
}

TEST_F(StreamingModule, RefusingSlotCannotBeOpened)
{
    ASSERT_EQ(server_.Ctl({"refuse", "KSN5-0042", "5", "on"}), 0);
    Ksn48Handle other{};
    EXPECT_EQ(OpenModule(other, "KSN5-0042", 5), KSN_ERR_REFUSED);
    ASSERT_EQ(server_.Ctl({"refuse", "KSN5-0042", "5", "off"}), 0);
    EXPECT_EQ(OpenModule(other, "KSN5-0042", 5), KSN_OK);
    KSN48_Close(&other);
}

TEST_F(StreamingModule, TermSignalEndsTheServerCleanly)
{
    EXPECT_EQ(server_.Stop(), 0);
    EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), KSN_ERR_CONNECTION_LOST);
}

TEST_F(StreamingModule, GarbageFromOneClientLeavesTheOthersServed)
{
    const auto op = [](proto::Opcode o) { return static_cast<uint16_t>(o); };
    {
        RawClient c(server_.Port());
        ASSERT_TRUE(c.ok());
        c.Send(std::vector<uint8_t>(64, 0xA5));  // no header at all
        EXPECT_EQ(c.Status(), KSN_ERR_PROTOCOL);
        EXPECT_TRUE(c.Closed());
    }
    {
        RawClient c(server_.Port());
        c.Request(op(proto::Opcode::ListCrates), {});  // before Hello
        EXPECT_EQ(c.Status(), KSN_ERR_STATE);
        c.Request(0, {9, 0});  // a protocol version it does not speak
        EXPECT_EQ(c.Status(), KSN_ERR_VERSION);
        c.Hello();
        EXPECT_EQ(c.Status(), KSN_OK);
        const struct {
            const char* what;
            uint16_t opcode;
            std::vector<uint8_t> payload;
            int expected;
        } cases[] = {
            {"unknown opcode", 999, {1, 2, 3}, KSN_ERR_PROTOCOL},
            {"payload too long", op(proto::Opcode::ListCrates), {0}, KSN_ERR_PROTOCOL},
            {"payload too short", op(proto::Opcode::ModuleOpen), {'K', 0}, KSN_ERR_PROTOCOL},
            {"unterminated serial", op(proto::Opcode::CrateInfo), std::vector<uint8_t>(16, 'K'),
             KSN_ERR_PROTOCOL},
            {"receive without module",
             op(proto::Opcode::Recv),
             {0, 1, 0, 0, 0, 0, 0, 0},
             KSN_ERR_NOT_OPEN},
            {"start without module", op(proto::Opcode::Start), {}, KSN_ERR_NOT_OPEN},
            {"control not JSON", op(proto::Opcode::Control), {'{', '{'}, KSN_ERR_INVALID_ARGUMENT},
            {"module busy elsewhere",
             op(proto::Opcode::ModuleOpen),
             {'K', 'S', 'N', '5', '-', '0', '0', '4', '2', 0, 0, 0, 0, 0, 0, 0, 3, 0},
             KSN_ERR_BUSY},
        };
        for (const auto& c2 : cases) {
            c.Request(c2.opcode, c2.payload);
            EXPECT_EQ(c.Status(), c2.expected) << c2.what;
        }
        // The connection survived all of it.
        c.Request(op(proto::Opcode::ListCrates), {});
        EXPECT_EQ(c.Status(), KSN_OK);
        // An announced payload past the limit cannot be skipped: the server hangs up.
        proto::Header h;
        h.opcode = op(proto::Opcode::Control);
        h.payloadLength = proto::kMaxPayload + 1;
        std::vector<uint8_t> head(proto::kHeaderSize);
        proto::EncodeHeader(h, head.data());
        c.Send(head);
        EXPECT_EQ(c.Status(), KSN_ERR_PROTOCOL);
        EXPECT_TRUE(c.Closed());
    }
    {
        RawClient c(server_.Port());
        c.Send({'K', 'S', 'N'});  // a truncated header, then gone
    }
    // The streaming client never noticed.
    EXPECT_EQ(KSN48_Recv(&h_, words_.data(), nullptr, 1024, 1000), 1024);
    KsnCrateLink link;
    KSN_Init(&link);
    EXPECT_EQ(KSN_Open(&link), KSN_OK);
    KSN_Close(&link);
}

// Random requests, some with a valid header in front, from many short
// connections: the server answers or hangs up, and keeps serving.
TEST(ServerInput, RandomBytesNeverStopTheServer)
{
    CrateServer server;
    std::mt19937 random(20261209);
    for (int i = 0; i < 300; ++i) {
        RawClient c(server.Port());
        ASSERT_TRUE(c.ok()) << "connection " << i;
        std::vector<uint8_t> bytes;
        if (i % 2 == 0) {
            proto::Header h;
            h.opcode =
                static_cast<uint16_t>(random() % (static_cast<unsigned>(proto::Opcode::Count) + 2));
            h.payloadLength = random() % 64;
            bytes.resize(proto::kHeaderSize);
            proto::EncodeHeader(h, bytes.data());
            if (i % 4 == 0) {
                c.Hello();
            }
        }
        const auto n = random() % 200;
        for (unsigned k = 0; k < n; ++k) {
            bytes.push_back(static_cast<uint8_t>(random()));
        }
        c.Send(bytes);
    }
    KsnCrateLink link;
    KSN_Init(&link);
    ASSERT_EQ(KSN_Open(&link), KSN_OK);
    char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
    EXPECT_EQ(KSN_GetCrates(&link, list), KSN_OK);
    EXPECT_STREQ(list[0], "KSN5-0042");
    KSN_Close(&link);
    EXPECT_EQ(server.Stop(), 0);
}

// A fake server that answers each request with bytes of the test's making.
class FakeServer {
public:
    using Responder = std::function<std::vector<uint8_t>(const proto::Header& request)>;

    explicit FakeServer(std::vector<Responder> script) : script_(std::move(script))
    {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(listen_, 4);
        socklen_t len = sizeof sa;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        setenv("KSN_CRATE_PORT", std::to_string(port_).c_str(), 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeServer()
    {
        stop_ = true;
        thread_.join();
        close(listen_);
        unsetenv("KSN_CRATE_PORT");
    }

    // Reply header for request with the given status and payload.
    static std::vector<uint8_t> Reply(const proto::Header& request, int32_t status,
                                      const std::vector<uint8_t>& payload, uint32_t claimedLength)
    {
        proto::Header h = request;
        h.status = status;
        h.payloadLength = claimedLength;
        std::vector<uint8_t> bytes(proto::kHeaderSize);
        proto::EncodeHeader(h, bytes.data());
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    }
    static std::vector<uint8_t> Reply(const proto::Header& request,
                                      const std::vector<uint8_t>& payload)
    {
        return Reply(request, KSN_OK, payload, static_cast<uint32_t>(payload.size()));
    }
    static std::vector<uint8_t> HelloReply(const proto::Header& r)
    {
        return Reply(r, {proto::kVersion, 0});
    }

private:
    void Serve()
    {
        pollfd p{listen_, POLLIN, 0};
        while (!stop_ && poll(&p, 1, 50) <= 0) {
        }
        if (stop_) {
            return;
        }
        const int fd = accept(listen_, nullptr, nullptr);
        proto::SocketTransport t(fd);
        for (const auto& respond : script_) {
            proto::Message m;
            if (proto::ReceiveMessage(t, m, proto::DeadlineIn(5000)) != KSN_OK) {
                break;
            }
            const auto bytes = respond(m.header);
            if (bytes.empty()) {
                close(fd);  // hang up
                return;
            }
            t.Write(bytes.data(), bytes.size(), proto::DeadlineIn(1000));
        }
        // Keep the connection until the test is done, so that silence is silence.
        while (!stop_) {
            std::this_thread::sleep_for(10ms);
        }
        close(fd);
    }

    std::vector<Responder> script_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(MisbehavingServer, CrateApiValidatesEveryReply)
{
    using R = FakeServer::Responder;
    const auto hello = R(FakeServer::HelloReply);
    auto serials = [](uint32_t n, bool terminated) {
        std::vector<uint8_t> p;
        proto::Writer w(p);
        w.U32(n);
        for (uint32_t i = 0; i < n && i < 20; ++i) {
            if (!terminated) {
                p.insert(p.end(), 16, 'C');
                continue;
            }
            std::string serial = std::to_string(i);
            serial.insert(serial.begin(), 'C');
            w.Text(serial, 16);
        }
        return p;
    };
    const struct {
        const char* what;
        R listReply;
        int expected;
    } cases[] = {
        {"too many crates",
         [&](const proto::Header& r) { return FakeServer::Reply(r, serials(17, true)); },
         KSN_ERR_PROTOCOL},
        {"unterminated serial",
         [&](const proto::Header& r) { return FakeServer::Reply(r, serials(2, false)); },
         KSN_ERR_PROTOCOL},
        {"count beyond the payload",
         [&](const proto::Header& r) {
             auto p = serials(2, true);
             p[0] = 3;
             return FakeServer::Reply(r, p);
         },
         KSN_ERR_PROTOCOL},
        {"bytes after the list",
         [&](const proto::Header& r) {
             auto p = serials(1, true);
             p.push_back(0);
             return FakeServer::Reply(r, p);
         },
         KSN_ERR_PROTOCOL},
        {"bad magic",
         [&](const proto::Header& r) {
             auto b = FakeServer::Reply(r, serials(1, true));
             b[0] = 'X';
             return b;
         },
         KSN_ERR_PROTOCOL},
        {"huge length",
         [&](const proto::Header& r) { return FakeServer::Reply(r, KSN_OK, {}, 0xFFFFFFF0U); },
         KSN_ERR_PROTOCOL},
        {"payload cut short",
         [&](const proto::Header& r) {
             return FakeServer::Reply(r, KSN_OK, {1, 0}, 20);
         },
         KSN_ERR_TIMEOUT},
        {"unknown positive status",
         [&](const proto::Header& r) { return FakeServer::Reply(r, 4, {}, 0); }, KSN_ERR_PROTOCOL},
        {"hang up", [](const proto::Header&) { return std::vector<uint8_t>{}; },
         KSN_ERR_CONNECTION_LOST},
    };
    for (const auto& c : cases) {
        FakeServer fake({hello, c.listReply});
        KsnCrateLink link;
        KSN_Init(&link);
        ASSERT_EQ(KSN_Open(&link), KSN_OK) << c.what;
        char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE];
        std::memset(list, 0x33, sizeof list);
        EXPECT_EQ(KSN_GetCrates(&link, list), c.expected) << c.what;
        EXPECT_EQ(list[0][0], 0x33) << c.what << ": list written from a bad reply";
        KSN_Close(&link);
    }
}

TEST(MisbehavingServer, ModuleApiValidatesEveryReply)
{
    using R = FakeServer::Responder;
    const auto hello = R(FakeServer::HelloReply);
    const auto module = R([](const proto::Header& r) {
        std::vector<uint8_t> p;
        proto::Writer w(p);
        w.Text("KSN48", 8);
        w.Text("4811001", 16);
        w.U16(12);
        return FakeServer::Reply(r, p);
    });
    const auto empty = R([](const proto::Header& r) { return FakeServer::Reply(r, {}); });
    auto words = [](uint32_t n, uint32_t sent, uint32_t value = 0) {
        std::vector<uint8_t> p;
        proto::Writer w(p);
        w.U32(n);
        for (uint32_t i = 0; i < sent; ++i) {
            w.U32(value);
        }
        return p;
    };
    constexpr uint32_t kWord = 0x00012345U;
    const struct {
        const char* what;
        R recvReply;
        int expected;
        // The next receive: a stream still in step waits for a reply the
        // fake never sends; a broken one is dropped.
        int after = KSN_ERR_CONNECTION_LOST;
    } cases[] = {
        {"late reply to an earlier receive before the answer",
         [&](const proto::Header& r) {
             proto::Header earlier = r;
             --earlier.requestId;
             auto b = FakeServer::Reply(earlier, words(8, 8, 0xDEADU));
             const auto answer = FakeServer::Reply(r, words(8, 8, kWord));
             b.insert(b.end(), answer.begin(), answer.end());
             return b;
         },
         8, KSN_ERR_TIMEOUT},
        {"refusal with more payload than words asked",
         [&](const proto::Header& r) {
             const auto p = words(600, 600);
             return FakeServer::Reply(r, KSN_ERR_STATE, p, static_cast<uint32_t>(p.size()));
         },
         KSN_ERR_STATE, KSN_ERR_TIMEOUT},
        {"more words than asked",
         [&](const proto::Header& r) { return FakeServer::Reply(r, words(9, 9)); },
         KSN_ERR_PROTOCOL},
        {"count and payload disagree",
         [&](const proto::Header& r) { return FakeServer::Reply(r, words(8, 7)); },
         KSN_ERR_PROTOCOL},
        {"no count", [&](const proto::Header& r) { return FakeServer::Reply(r, {1}); },
         KSN_ERR_PROTOCOL},
        {"other protocol version",
         [&](const proto::Header& r) {
             auto b = FakeServer::Reply(r, words(8, 8));
             b[4] = 2;
             return b;
         },
         KSN_ERR_VERSION},
        {"reply to another opcode",
         [&](const proto::Header& r) {
             proto::Header h = r;
             h.opcode = static_cast<uint16_t>(proto::Opcode::Stop);
             return FakeServer::Reply(h, {});
         },
         KSN_ERR_PROTOCOL},
        {"reply stops after its first byte",
         [](const proto::Header&) { return std::vector<uint8_t>(1, 'K'); }, KSN_ERR_TIMEOUT},
        {"payload stops half way",
         [&](const proto::Header& r) {
             auto b = FakeServer::Reply(r, words(8, 8));
             b.resize(b.size() - 10);
             return b;
         },
         KSN_ERR_TIMEOUT},
    };
    for (const auto& c : cases) {
        FakeServer fake({hello, module, empty, empty, c.recvReply});
        Ksn48Handle h{};
        ASSERT_EQ(OpenModule(h, "KSN5-0042", 3), KSN_OK) << c.what;
        ASSERT_EQ(Configure(h, 0xFF, 0, 0), KSN_OK) << c.what;
        ASSERT_EQ(KSN48_Start(&h), KSN_OK) << c.what;
        uint32_t buf[8] = {};
        const auto start = Clock::now();
        EXPECT_EQ(KSN48_Recv(&h, buf, nullptr, 8, 300), c.expected) << c.what;
        EXPECT_LT(Clock::now() - start, 400ms) << c.what;
        if (c.expected > 0) {
            for (const uint32_t w : buf) {
                EXPECT_EQ(w, kWord) << c.what << ": words of another reply";
            }
        }
        // What is left of a broken stream is never read as a reply.
        EXPECT_EQ(KSN48_Recv(&h, buf, nullptr, 8, 300), c.after) << c.what;
        EXPECT_EQ(h.AcquisitionRunning, 1) << c.what;
        // Close does not hang on a server that no longer answers.
        EXPECT_EQ(KSN48_Close(&h), KSN_OK);
    }
}

}  // namespace
