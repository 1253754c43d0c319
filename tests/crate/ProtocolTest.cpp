// Framing, field encoding and the client's request/reply matching.

#include <array>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

// A socket pair: the test plays the server on one end.
class CallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    void TearDown() override
    {
        close(fds_[0]);
        if (fds_[1] >= 0) {
            close(fds_[1]);
        }
    }
    void Reply(uint32_t id, Opcode op, int32_t status, const std::vector<uint8_t>& payload)
    {
        Header h;
        h.opcode = static_cast<uint16_t>(op);
        h.requestId = id;
        h.status = status;
        SocketTransport t(fds_[1]);
        ASSERT_EQ(SendMessage(t, h, payload, DeadlineIn(1000)), KSN_OK);
    }
    void SendRaw(const void* data, size_t n)
    {
        ASSERT_EQ(write(fds_[1], data, n), static_cast<ssize_t>(n));
    }
    int fds_[2] = {-1, -1};
};

TEST_F(CallTest, SkipsRepliesToEarlierRequests)
{
    uint32_t next = 7;
    Reply(5, Opcode::Recv, KSN_OK, {1, 2, 3});  // left over from a receive that timed out
    Reply(7, Opcode::Stop, KSN_OK, {});
    Message m;
    EXPECT_EQ(Call(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_OK);
    EXPECT_EQ(m.header.requestId, 7U);
    EXPECT_EQ(next, 8U);
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
    for (const auto& c : cases) {
        uint32_t next = 1;
        Reply(c.id, c.op, KSN_OK, {});
        Message m;
        EXPECT_EQ(Call(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_PROTOCOL)
            << c.what;
    }
}

TEST_F(CallTest, ReportsGarbageLossAndSilence)
{
    uint32_t next = 1;
    Message m;
    const auto start = Clock::now();
    EXPECT_EQ(Call(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(200)), KSN_ERR_TIMEOUT);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::milliseconds(300));

    const char garbage[kHeaderSize] = "not a header at all";
    SendRaw(garbage, sizeof garbage);
    EXPECT_EQ(Call(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_PROTOCOL);

    close(fds_[1]);
    fds_[1] = -1;
    EXPECT_EQ(Call(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(1000)), KSN_ERR_CONNECTION_LOST);
}

TEST_F(CallTest, CheckedCallTurnsUnknownStatusesIntoProtocolErrors)
{
    const struct {
        int32_t status;
        int expected;
    } cases[] = {{KSN_OK, KSN_OK},
                 {KSN_ERR_BUSY, KSN_ERR_BUSY},
                 {3, KSN_ERR_PROTOCOL},
                 {-999, KSN_ERR_PROTOCOL}};
    uint32_t next = 1;
    for (const auto& c : cases) {
        Reply(next, Opcode::Stop, c.status, {});
        Message m;
        EXPECT_EQ(CallChecked(fds_[0], next, Opcode::Stop, {}, m, DeadlineIn(1000)), c.expected)
            << c.status;
    }
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
