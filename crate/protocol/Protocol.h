#pragma once
// Wire protocol between the crate libraries, ksn-cratectl and ksn-crated.
// Every message is a 20-byte header followed by its payload; all integers
// are little-endian and encoded field by field, never as raw structs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Transport.h"
#include "ksnerror.h"

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
// Statuses a reply may carry run from KSN_OK down to this one; the codes
// below it are the libraries' own.
constexpr int kLastServerError = KSN_ERR_SERVER_FULL;

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

// The longest control text a request carries; the server's opcode table
// holds the limit of every request.
constexpr uint32_t kMaxControlText = 64U << 10U;

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

struct Message {
    Header header;
    std::vector<uint8_t> payload;
};

int SendMessage(Transport& t, const Header& h, const std::vector<uint8_t>& payload,
                Deadline deadline);
// *written (when given) counts the bytes sent, also on failure.
int SendMessage(Transport& t, const Header& h, const uint8_t* payload, std::size_t size,
                Deadline deadline, std::size_t* written = nullptr);

// Reads one message; a header that fails CheckHeader gives its error and the
// stream can no longer be trusted. *partial (when given) tells whether a
// failure left part of a message read.
int ReceiveMessage(Transport& t, Message& m, Deadline deadline, bool* partial = nullptr);

// The status of a reply: 0 or a KsnError the server may send; anything else
// (positive, or a code only the libraries give) is KSN_ERR_PROTOCOL.
int ReplyStatus(const Header& reply);

}  // namespace ksn::proto
