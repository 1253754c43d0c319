#include "Protocol.h"

#include <bit>
#include <cstring>

#include "ksnerror.h"

namespace ksn::proto {

namespace {

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8U);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (unsigned i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8U * i));
    }
}

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8U));
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8U) |
           (static_cast<uint32_t>(p[2]) << 16U) | (static_cast<uint32_t>(p[3]) << 24U);
}

}  // namespace

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize])
{
    Put32(out, h.magic);
    Put16(out + 4, h.version);
    Put16(out + 6, h.opcode);
    Put32(out + 8, h.requestId);
    Put32(out + 12, static_cast<uint32_t>(h.status));
    Put32(out + 16, h.payloadLength);
}

void PutU32(uint8_t* p, uint32_t v)
{
    Put32(p, v);
}

uint32_t GetU32(const uint8_t* p)
{
    return Get32(p);
}

Header DecodeHeader(const uint8_t in[kHeaderSize])
{
    Header h;
    h.magic = Get32(in);
    h.version = Get16(in + 4);
    h.opcode = Get16(in + 6);
    h.requestId = Get32(in + 8);
    h.status = static_cast<int32_t>(Get32(in + 12));
    h.payloadLength = Get32(in + 16);
    return h;
}

int CheckHeader(const Header& h)
{
    if (h.magic != kMagic) {
        return KSN_ERR_PROTOCOL;
    }
    if (h.version != kVersion) {
        return KSN_ERR_VERSION;
    }
    if (h.opcode >= static_cast<uint16_t>(Opcode::Count) || h.payloadLength > kMaxPayload) {
        return KSN_ERR_PROTOCOL;
    }
    return KSN_OK;
}

void Writer::U8(uint8_t v)
{
    out_.push_back(v);
}

void Writer::U16(uint16_t v)
{
    uint8_t b[2];
    Put16(b, v);
    out_.insert(out_.end(), b, b + 2);
}

void Writer::U32(uint32_t v)
{
    uint8_t b[4];
    Put32(b, v);
    out_.insert(out_.end(), b, b + 4);
}

void Writer::I32(int32_t v)
{
    U32(static_cast<uint32_t>(v));
}

void Writer::Text(std::string_view text, std::size_t n)
{
    const std::size_t len = text.size() < n ? text.size() : n - 1;
    const std::size_t at = out_.size();
    out_.resize(at + n, 0);
    std::memcpy(out_.data() + at, text.data(), len);
}

void Writer::Bytes(const void* data, std::size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
}

void Writer::Words(const uint32_t* words, std::size_t n)
{
    const std::size_t at = out_.size();
    out_.resize(at + n * 4U);
    uint8_t* p = out_.data() + at;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, words, n * 4U);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            Put32(p + 4 * i, words[i]);
        }
    }
}

bool Reader::Words(uint32_t* out, std::size_t n)
{
    if (n > Remaining() / 4U) {
        ok_ = false;
        return false;
    }
    const uint8_t* p = Take(n * 4U);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, p, n * 4U);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = Get32(p + 4 * i);
        }
    }
    return true;
}

const uint8_t* Reader::Take(std::size_t n)
{
    if (!ok_ || size_ - pos_ < n) {
        ok_ = false;
        return nullptr;
    }
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
}

uint8_t Reader::U8()
{
    const uint8_t* p = Take(1);
    return p ? p[0] : 0;
}

uint16_t Reader::U16()
{
    const uint8_t* p = Take(2);
    return p ? Get16(p) : 0;
}

uint32_t Reader::U32()
{
    const uint8_t* p = Take(4);
    return p ? Get32(p) : 0;
}

int32_t Reader::I32()
{
    return static_cast<int32_t>(U32());
}

std::string Reader::Text(std::size_t n)
{
    const uint8_t* p = Take(n);
    if (!p) {
        return {};
    }
    const void* end = std::memchr(p, 0, n);
    if (!end) {
        ok_ = false;
        return {};
    }
    return std::string(reinterpret_cast<const char*>(p),
                       static_cast<std::size_t>(static_cast<const uint8_t*>(end) - p));
}

int SendMessage(Transport& t, const Header& h, const std::vector<uint8_t>& payload,
                Deadline deadline)
{
    return SendMessage(t, h, payload.data(), payload.size(), deadline);
}

int SendMessage(Transport& t, const Header& h, const uint8_t* payload, std::size_t size,
                Deadline deadline, std::size_t* written)
{
    Header out = h;
    out.magic = kMagic;
    out.version = kVersion;
    out.payloadLength = static_cast<uint32_t>(size);
    uint8_t head[kHeaderSize];
    EncodeHeader(out, head);
    std::size_t sent = 0;
    int r = t.Write(head, sizeof head, deadline, &sent);
    if (r == KSN_OK && size > 0) {
        std::size_t more = 0;
        r = t.Write(payload, size, deadline, &more);
        sent += more;
    }
    if (written) {
        *written = sent;
    }
    return r;
}

namespace {

// Reads and checks one header; *partial as for ReceiveMessage.
int ReceiveHeader(Transport& t, Header& h, Deadline deadline, bool* partial)
{
    if (partial) {
        *partial = false;
    }
    uint8_t head[kHeaderSize];
    int r = t.Read(head, 1, deadline);
    if (r != KSN_OK) {
        return r;
    }
    if (partial) {
        *partial = true;
    }
    r = t.Read(head + 1, sizeof head - 1, deadline);
    if (r != KSN_OK) {
        return r;
    }
    h = DecodeHeader(head);
    return CheckHeader(h);
}

}  // namespace

int ReceiveMessage(Transport& t, Message& m, Deadline deadline, bool* partial)
{
    int r = ReceiveHeader(t, m.header, deadline, partial);
    if (r != KSN_OK) {
        return r;
    }
    m.payload.resize(m.header.payloadLength);
    if (m.header.payloadLength > 0) {
        r = t.Read(m.payload.data(), m.payload.size(), deadline);
    }
    if (r == KSN_OK && partial) {
        *partial = false;
    }
    return r;
}

int ReplyStatus(const Header& reply)
{
    const int32_t s = reply.status;
    if (s > 0 || s < kLastServerError) {
        return KSN_ERR_PROTOCOL;
    }
    return s;
}

}  // namespace ksn::proto
