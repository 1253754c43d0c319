// Framing, field encoding and the client's request/reply matching.

#include <array>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "Connection.h"
#include "Protocol.h"
#include "ksnerror.h"

namespace {

using namespace ksn::proto;

TEST(Header, EncodesEveryFieldLittleEndian)
{
    Header h;
    h.opcode = 0x0102;
    h.requestId = 0x03040506;
    h.status = -2;
    h.payloadLength = 0x0708090A;
    uint8_t bytes[kHeaderSize];
    EncodeHeader(h, bytes);
    const uint8_t expected[kHeaderSize] = {'K',  'S',  'N',  'P',  1,    0,    0x02,
                                           0x01, 0x06, 0x05, 0x04, 0x03, 0xFE, 0xFF,
                                           0xFF, 0xFF, 0x0A, 0x09, 0x08, 0x07};
    EXPECT_EQ(0, std::memcmp(bytes, expected, kHeaderSize));
    const Header back = DecodeHeader(bytes);
    EXPECT_EQ(back.magic, kMagic);
    EXPECT_EQ(back.opcode, 0x0102);
    EXPECT_EQ(back.requestId, 0x03040506U);
    EXPECT_EQ(back.status, -2);
    EXPECT_EQ(back.payloadLength, 0x0708090AU);
}

TEST(Header, CheckRejectsWhatCannotBeServed)
{
    struct Case {
        const char* what;
        Header h;
        int expected;
    };
    Header ok;
    ok.opcode = static_cast<uint16_t>(Opcode::Recv);
    ok.payloadLength = kMaxPayload;
    Header magic = ok;
    magic.magic = 0x50534B4E;
    Header version = ok;
    version.version = 2;
    Header opcode = ok;
    opcode.opcode = static_cast<uint16_t>(Opcode::Count);
    Header length = ok;
    length.payloadLength = kMaxPayload + 1;
    const Case cases[] = {{"valid", ok, KSN_OK},
                          {"bad magic", magic, KSN_ERR_PROTOCOL},
                          {"other version", version, KSN_ERR_VERSION},
                          {"opcode past the table", opcode, KSN_ERR_PROTOCOL},
                          {"oversized payload", length, KSN_ERR_PROTOCOL}};
    for (const auto& c : cases) {
        EXPECT_EQ(CheckHeader(c.h), c.expected) << c.what;
    }
}

TEST(Fields, RoundTripAndFixedTexts)
{
    std::vector<uint8_t> buf;
    Writer w(buf);
    w.U8(0xAB);
    w.U16(0xBEEF);
    w.U32(0xDEADBEEF);
    w.I32(-5);
    w.Text("KSN5-0042", 16);
    w.Text("a name that is far too long", 8);
    ASSERT_EQ(buf.size(), 1U + 2 + 4 + 4 + 16 + 8);
    Reader r(buf);
    EXPECT_EQ(r.U8(), 0xAB);
    EXPECT_EQ(r.U16(), 0xBEEF);
    EXPECT_EQ(r.U32(), 0xDEADBEEFU);
    EXPECT_EQ(r.I32(), -5);
    EXPECT_EQ(r.Text(16), "KSN5-0042");
    EXPECT_EQ(r.Text(8), "a name ");  // cut to leave room for the terminator
    EXPECT_TRUE(r.AtEnd());
}

TEST(Fields, ReaderRefusesShortAndUnterminatedFields)
{
    const uint8_t noTerminator[4] = {'a', 'b', 'c', 'd'};
    Reader text(noTerminator, sizeof noTerminator);
    text.Text(4);
    EXPECT_FALSE(text.ok());

    const uint8_t three[3] = {1, 2, 3};
    Reader shortRead(three, sizeof three);
    EXPECT_EQ(shortRead.U32(), 0U);
    EXPECT_FALSE(shortRead.ok());
    shortRead.U8();  // stays failed
    EXPECT_FALSE(shortRead.ok());
    EXPECT_FALSE(shortRead.AtEnd());
    EXPECT_EQ(shortRead.Take(1), nullptr);
}

// A reply as a server sends it.
std::vector<uint8_t> ReplyBytes(uint32_t id, Opcode op, int32_t status,
                                const std::vector<uint8_t>& payload)
{
    Header h;
    h.opcode = static_cast<uint16_t>(op);
    h.requestId = id;
    h.status = status;
    h.payloadLength = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> bytes(kHeaderSize);
    EncodeHeader(h, bytes.data());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// A socket pair: the test plays the server on one end.
class CallTest : public ::testing::Test {
protected:
    void SetUp() override { NewPair(); }
    void TearDown() override
    {
        ClosePair();
        CloseCancelEvent(cancel_);
    }
    void NewPair()
    {
        ClosePair();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    void ClosePair()
    {
        for (int& fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
            fd = -1;
        }
    }
    void Reply(uint32_t id, Opcode op, int32_t status, const std::vector<uint8_t>& payload)
    {
        SendRaw(ReplyBytes(id, op, status, payload));
    }
    void SendRaw(const std::vector<uint8_t>& bytes) { SendRaw(bytes.data(), bytes.size()); }
    void SendRaw(const void* data, size_t n)
    {
        ASSERT_EQ(write(fds_[1], data, n), static_cast<ssize_t>(n));
    }
    // The requests the client has sent so far, as the server would read them.
    std::vector<Header> Requests()
    {
        std::vector<Header> out;
        SocketTransport t(fds_[1]);
        Message m;
        fcntl(fds_[1], F_SETFL, O_NONBLOCK);
        while (ReceiveMessage(t, m, DeadlineIn(0)) == KSN_OK) {
            out.push_back(m.header);
        }
        return out;
    }
    int fds_[2] = {-1, -1};
    int cancel_ = OpenCancelEvent();
};

TEST_F(CallTest, SkipsRepliesToEarlierRequests)
{
    SocketTransport t(fds_[0]);
    ClientConnection c(t, 7);
    Reply(5, Opcode::Recv, KSN_OK, {1, 2, 3});  // left over from a receive that timed out
    Reply(7, Opcode::Stop, KSN_OK, {});
    Message m;
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(m.header.requestId, 7U);
    EXPECT_TRUE(m.payload.empty());
    EXPECT_EQ(c.NextRequestId(), 8U);
}

TEST_F(CallTest, RefusesAReplyThatDoesNotMatch)
{
    struct Case {
        const char* what;
        uint32_t id;
        Opcode op;
    };
    const Case cases[] = {{"reply from the future", 9, Opcode::Stop},
                          {"other opcode", 1, Opcode::Start}};
    SocketTransport t(fds_[0]);
    for (const auto& c : cases) {
        ClientConnection conn(t, 1);
        Reply(c.id, c.op, KSN_OK, {});
        Message m;
        EXPECT_EQ(conn.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_PROTOCOL) << c.what;
        EXPECT_TRUE(conn.Dropped()) << c.what;
    }
}

TEST_F(CallTest, ReportsGarbageLossAndSilence)
{
    SocketTransport t(fds_[0]);
    ClientConnection c(t, 1);
    Message m;
    const auto start = Clock::now();
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(200)), KSN_ERR_TIMEOUT);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::milliseconds(300));

    const char garbage[kHeaderSize] = "not a header at all";
    SendRaw(garbage, sizeof garbage);
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_PROTOCOL);

    close(fds_[1]);
    fds_[1] = -1;
    ClientConnection again(t, 1);
    EXPECT_EQ(again.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_CONNECTION_LOST);
}

TEST_F(CallTest, CheckedCallTurnsUnknownStatusesIntoProtocolErrors)
{
    const struct {
        int32_t status;
        int expected;
    } cases[] = {{KSN_OK, KSN_OK},
                 {KSN_ERR_BUSY, KSN_ERR_BUSY},
                 {KSN_ERR_SERVER_FULL, KSN_ERR_SERVER_FULL},
                 {KSN_ERR_CANCELLED, KSN_ERR_PROTOCOL},  // the libraries' own, never sent
                 {3, KSN_ERR_PROTOCOL},
                 {-999, KSN_ERR_PROTOCOL}};
    SocketTransport t(fds_[0]);
    uint32_t next = 1;
    for (const auto& c : cases) {
        ClientConnection conn(t, next);
        Reply(next, Opcode::Stop, c.status, {});
        Message m;
        EXPECT_EQ(conn.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), c.expected) << c.status;
        // A server's own refusal leaves the stream in step; a status no
        // server sends does not.
        EXPECT_EQ(conn.Dropped(), c.expected == KSN_ERR_PROTOCOL) << c.status;
        next = conn.NextRequestId();
    }
}

// What a failed call leaves of the connection, shown by the call after it.
TEST_F(CallTest, AFailedCallLeavesTheConnectionInStepOrDropsIt)
{
    const auto stop = [](uint32_t id) { return ReplyBytes(id, Opcode::Stop, KSN_OK, {}); };
    const auto cut = [&](std::size_t keep) {
        auto b = ReplyBytes(1, Opcode::Stop, KSN_OK, {1, 2, 3, 4});
        b.resize(keep);
        return b;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> first;  // sent for the first request, before its deadline
        std::vector<uint8_t> late;   // sent after it
        int firstResult;
        bool dropped;
    } cases[] = {
        // The late reply is skipped by its id, the second gets its own.
        {"no reply by the deadline", {}, stop(1), KSN_ERR_TIMEOUT, false},
        {"reply cut off in its header", cut(7), {}, KSN_ERR_TIMEOUT, true},
        {"reply cut off in its payload", cut(kHeaderSize + 2), {}, KSN_ERR_TIMEOUT, true},
        {"not a header", std::vector<uint8_t>(kHeaderSize, 'x'), {}, KSN_ERR_PROTOCOL, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NewPair();
        SocketTransport t(fds_[0]);
        ClientConnection conn(t, 1);
        if (!c.first.empty()) {
            SendRaw(c.first);
        }
        Message m;
        EXPECT_EQ(conn.Call(Opcode::Stop, {}, m, DeadlineIn(100)), c.firstResult);
        EXPECT_EQ(conn.Dropped(), c.dropped);
        if (!c.late.empty()) {
            SendRaw(c.late);
        }
        Reply(2, Opcode::Stop, KSN_OK, {9});
        const int second = conn.Call(Opcode::Stop, {}, m, DeadlineIn(1000));
        if (c.dropped) {
            EXPECT_EQ(second, KSN_ERR_CONNECTION_LOST);
        } else {
            EXPECT_EQ(second, KSN_OK);
            EXPECT_EQ(m.header.requestId, 2U);
            EXPECT_EQ(m.payload, std::vector<uint8_t>{9});
        }
    }
}

// The crate link counts its request ids in 16 bits: a late reply is still
// recognised across the wrap, and an id the link never gives is refused.
TEST_F(CallTest, SixteenBitIdsWrapAndStayInStep)
{
    SocketTransport t(fds_[0]);
    ClientConnection c(t, 0xFFFE, kRequestIds16);
    Message m;
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(50)), KSN_ERR_TIMEOUT);  // id 0xFFFE
    Reply(0xFFFE, Opcode::Stop, KSN_OK, {1});
    Reply(0xFFFF, Opcode::Stop, KSN_OK, {2});
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(m.payload, std::vector<uint8_t>{2});
    EXPECT_EQ(c.NextRequestId(), 0U);
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(50)), KSN_ERR_TIMEOUT);  // id 0
    Reply(0, Opcode::Stop, KSN_OK, {3});
    Reply(1, Opcode::Stop, KSN_OK, {4});
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(m.payload, std::vector<uint8_t>{4});
    Reply(0x10002, Opcode::Stop, KSN_OK, {});
    EXPECT_EQ(c.Call(Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_PROTOCOL);
    EXPECT_TRUE(c.Dropped());
}

TEST_F(CallTest, ACancelCutsShortTheWaitAndKeepsTheConnectionInStep)
{
    SocketTransport t(fds_[0], cancel_);
    ClientConnection c(t, 1);
    Header reply;
    ReplyRoom room;
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        RaiseCancelEvent(cancel_);
    });
    const auto start = Clock::now();
    EXPECT_EQ(c.Call(Opcode::Recv, nullptr, 0, reply, room, DeadlineIn(5000), true),
              KSN_ERR_CANCELLED);
    const auto took = Clock::now() - start;
    canceller.join();
    EXPECT_GE(took, std::chrono::milliseconds(90));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(c.Dropped());
    // While it stays raised, cancellable calls send nothing; others go on.
    EXPECT_EQ(c.Call(Opcode::Recv, nullptr, 0, reply, room, DeadlineIn(5000), true),
              KSN_ERR_CANCELLED);
    EXPECT_EQ(Requests().size(), 1U);
    Reply(1, Opcode::Recv, KSN_OK, {7, 7, 7, 7});  // the cancelled receive's late answer
    Reply(2, Opcode::Stop, KSN_OK, {});
    EXPECT_EQ(c.Call(Opcode::Stop, nullptr, 0, reply, room, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(reply.requestId, 2U);
    ClearCancelEvent(cancel_);
    EXPECT_FALSE(t.CancelPending());
}

TEST_F(CallTest, ACancelLetsAReplyThatHasBegunFinishBriefly)
{
    SocketTransport t(fds_[0], cancel_);
    const auto reply = ReplyBytes(1, Opcode::Recv, KSN_OK, {1, 2, 3, 4});
    const auto half = static_cast<std::ptrdiff_t>(kHeaderSize / 2);
    for (const bool rest : {true, false}) {
        SCOPED_TRACE(rest ? "the rest comes within the grace" : "the rest never comes");
        ClearCancelEvent(cancel_);
        ClientConnection c(t, 1);
        SendRaw(reply.data(), static_cast<std::size_t>(half));
        std::thread peer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            RaiseCancelEvent(cancel_);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (rest) {
                SendRaw(std::vector<uint8_t>(reply.begin() + half, reply.end()));
            }
        });
        uint8_t payload[4] = {};
        ReplyRoom room;
        room.head = payload;
        room.headSize = sizeof payload;
        Header h;
        const auto start = Clock::now();
        const int r = c.Call(Opcode::Recv, nullptr, 0, h, room, DeadlineIn(5000), true);
        const auto took = Clock::now() - start;
        peer.join();
        if (rest) {
            EXPECT_EQ(r, KSN_OK);
            EXPECT_EQ(payload[3], 4);
            EXPECT_FALSE(c.Dropped());
        } else {
            EXPECT_EQ(r, KSN_ERR_CANCELLED);
            EXPECT_TRUE(c.Dropped());
            EXPECT_LT(took, std::chrono::milliseconds(1000));
        }
        Requests();
    }
}

// A transport that hands over one byte at a time: replies arrive in pieces.
class TrickleTransport final : public Transport {
public:
    explicit TrickleTransport(std::vector<uint8_t> incoming) : incoming_(std::move(incoming)) {}
    int ReadSome(void* data, std::size_t n, Deadline, bool) override
    {
        if (at_ == incoming_.size()) {
            return KSN_ERR_CONNECTION_LOST;
        }
        if (n == 0) {
            return 0;
        }
        *static_cast<uint8_t*>(data) = incoming_[at_++];
        return 1;
    }
    int WriteSome(const void* data, std::size_t n, Deadline) override
    {
        const auto* p = static_cast<const uint8_t*>(data);
        sent.insert(sent.end(), p, p + n);
        return static_cast<int>(n);
    }
    std::vector<uint8_t> sent;

private:
    std::vector<uint8_t> incoming_;
    std::size_t at_ = 0;
};

TEST(Connection, RepliesInPiecesFillTheCallersRoom)
{
    auto bytes = ReplyBytes(3, Opcode::Recv, KSN_ERR_TIMEOUT, {});  // a late one
    const std::vector<uint8_t> words = {2, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const auto answer = ReplyBytes(4, Opcode::Recv, KSN_OK, words);
    bytes.insert(bytes.end(), answer.begin(), answer.end());
    TrickleTransport t(bytes);
    ClientConnection c(t, 4);
    uint8_t count[4];
    uint32_t body[2] = {};
    ReplyRoom room{count, sizeof count, reinterpret_cast<uint8_t*>(body), sizeof body, nullptr};
    const uint8_t request[8] = {2, 0, 0, 0, 100, 0, 0, 0};
    Header h;
    ASSERT_EQ(c.Call(Opcode::Recv, request, sizeof request, h, room, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(GetU32(count), 2U);
    EXPECT_EQ(body[0], 0x44332211U);
    EXPECT_EQ(body[1], 0x88776655U);
    // What went out: one header with id 4 and the payload, nothing else.
    ASSERT_EQ(t.sent.size(), kHeaderSize + sizeof request);
    const Header sent = DecodeHeader(t.sent.data());
    EXPECT_EQ(sent.requestId, 4U);
    EXPECT_EQ(sent.opcode, static_cast<uint16_t>(Opcode::Recv));
    EXPECT_EQ(sent.payloadLength, sizeof request);
}

TEST(Environment, PortOverrideTakesOnlyValidPorts)
{
    const struct {
        const char* value;
        uint16_t expected;
    } cases[] = {{"23456", 23456}, {"", 11111},     {"0", 11111},
                 {"65536", 11111}, {"12ab", 11111}, {"-5", 11111}};
    for (const auto& c : cases) {
        setenv("KSN_CRATE_PORT", c.value, 1);
        EXPECT_EQ(PortFromEnvironment(11111), c.expected) << '"' << c.value << '"';
    }
    unsetenv("KSN_CRATE_PORT");
    EXPECT_EQ(PortFromEnvironment(11111), 11111);
}

}  // namespace
