#pragma once
// Wire protocol between the crate libraries, ksn-cratectl and ksn-crated.
// Every message is a 20-byte header followed by its payload; all integers
// are little-endian and encoded field by field, never as raw structs.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ksn::proto {

constexpr uint32_t kMagic = 0x504E534BU;  // "KSNP" on the wire
constexpr uint16_t kVersion = 1;
constexpr std::size_t kHeaderSize = 20;
constexpr uint32_t kMaxPayload = 4U << 20U;
// Words one receive request may ask for; the module library splits larger
// receives into several requests.
constexpr uint32_t kMaxRecvWords = 256U * 1024U;
constexpr std::size_t kSerialField = 16;  // serial texts: 15 characters + terminator
constexpr std::size_t kNameField = 8;
constexpr int kSlotCount = 16;

enum class Opcode : uint16_t {
    Hello,         // u16 version -> u16 version
    ListCrates,    // -> u32 n, n x serial
    CrateInfo,     // serial -> u8 type, u8 slot count
    CrateModules,  // serial -> 16 x u16 module id
    ModuleOpen,    // serial, u16 slot -> name, serial, u16 firmware
    ModuleClose,   // -> empty
    SetAdc,        // u8 channel mask, u8 rate code, u8 format, u8 current -> empty
    Start,         // -> empty
    Stop,          // -> empty
    Recv,          // u32 words, u32 timeout ms -> u32 n, n x u32 word
    Control,       // JSON text -> JSON text
    Count
};

struct Header {
    uint32_t magic = kMagic;
    uint16_t version = kVersion;
    uint16_t opcode = 0;
    uint32_t requestId = 0;
    int32_t status = 0;  // KsnError value; 0 in requests
    uint32_t payloadLength = 0;
};

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]);

// One little-endian 32-bit field, for payloads built in fixed buffers.
void PutU32(uint8_t* p, uint32_t v);
uint32_t GetU32(const uint8_t* p);
Header DecodeHeader(const uint8_t in[kHeaderSize]);

// KSN_OK, KSN_ERR_PROTOCOL (magic, opcode, length) or KSN_ERR_VERSION.
int CheckHeader(const Header& h);

const char* OpcodeName(uint16_t opcode);

// Appends little-endian fields to a payload.
class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void U8(uint8_t v);
    void U16(uint16_t v);
    void U32(uint32_t v);
    void I32(int32_t v);
    // Text in a fixed field of n bytes, zero-padded; cut to n - 1 characters.
    void Text(std::string_view text, std::size_t n);
    void Bytes(const void* data, std::size_t n);
    // n 32-bit words, each little-endian.
    void Words(const uint32_t* words, std::size_t n);

private:
    std::vector<uint8_t>& out_;
};

// Reads fields from a payload; any read past the end clears ok().
class Reader {
public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    int32_t I32();
    // A fixed field of n bytes that must hold a zero terminator.
    std::string Text(std::size_t n);
    const uint8_t* Take(std::size_t n);
    // n little-endian 32-bit words into out; false (and !ok()) if they are not there.
    bool Words(uint32_t* out, std::size_t n);
    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && pos_ == size_; }
    std::size_t Remaining() const { return ok_ ? size_ - pos_ : 0; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

Deadline DeadlineIn(uint32_t ms);

// Byte stream with deadlines, so that tests can put a socket pair or a dead
// peer behind it. Results: KSN_OK, KSN_ERR_TIMEOUT, KSN_ERR_CONNECTION_LOST.
class Transport {
public:
    virtual ~Transport() = default;
    virtual int Write(const void* data, std::size_t n, Deadline deadline) = 0;
    virtual int Read(void* data, std::size_t n, Deadline deadline) = 0;
};

// A connected stream socket; never raises SIGPIPE. Does not own the fd.
class SocketTransport final : public Transport {
public:
    explicit SocketTransport(int fd) : fd_(fd) {}
    int Write(const void* data, std::size_t n, Deadline deadline) override;
    int Read(void* data, std::size_t n, Deadline deadline) override;

private:
    int fd_;
};

struct Message {
    Header header;
    std::vector<uint8_t> payload;
};

int SendMessage(Transport& t, const Header& h, const std::vector<uint8_t>& payload,
                Deadline deadline);
int SendMessage(Transport& t, const Header& h, const uint8_t* payload, std::size_t size,
                Deadline deadline);

// Reads one message; a header that fails CheckHeader gives its error and the
// stream can no longer be trusted. *partial (when given) tells whether a
// failure left part of a message read.
int ReceiveMessage(Transport& t, Message& m, Deadline deadline, bool* partial = nullptr);

// Connects to address:port (host order) with a timeout. Returns a
// non-blocking socket, or a negative KsnError (KSN_ERR_CONNECT,
// KSN_ERR_TIMEOUT).
int ConnectTo(uint32_t address, uint16_t port, uint32_t timeoutMs);

// One request and its reply on a client connection. Replies to older
// requests (left over after a timeout) are skipped. Returns the transport
// result or KSN_ERR_PROTOCOL; the reply's own status is in reply.header.
// *broken (when given) is set when a timeout struck in the middle of a
// reply, so that the connection cannot be used any more.
int Call(int fd, uint32_t& nextRequestId, Opcode op, const std::vector<uint8_t>& payload,
         Message& reply, Deadline deadline, bool* broken = nullptr);

// Call, then the reply's status; with KSN_ERR_PROTOCOL for a reply whose
// status is positive or unknown.
int CallChecked(int fd, uint32_t& nextRequestId, Opcode op, const std::vector<uint8_t>& payload,
                Message& reply, Deadline deadline, bool* broken = nullptr);

// Room of the caller's for a reply's payload, in two pieces: the payload
// fills head, then body. A payload larger than both together is read and
// dropped; its length stays in the reply's header for the caller to refuse.
struct ReplyRoom {
    uint8_t* head = nullptr;
    std::size_t headSize = 0;
    uint8_t* body = nullptr;
    std::size_t bodySize = 0;
};

// Call without the heap: the request's payload comes from the caller's
// bytes and the reply's goes into room, so that a call repeated for every
// block of a stream allocates nothing. Same results as CallChecked.
int CallCheckedInto(int fd, uint32_t& nextRequestId, Opcode op, const uint8_t* payload,
                    std::size_t payloadSize, Header& reply, const ReplyRoom& room,
                    Deadline deadline, bool* broken = nullptr);

// Hello exchange right after connecting. KSN_OK or a negative KsnError.
int Handshake(int fd, uint32_t& nextRequestId, Deadline deadline);

// Port from KSN_CRATE_PORT when set to a valid port, else fallback.
uint16_t PortFromEnvironment(uint16_t fallback);

}  // namespace ksn::proto
