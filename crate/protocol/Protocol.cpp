#include "Protocol.h"

#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Milliseconds left until deadline for poll(), at least 0.
int PollTimeout(Deadline deadline)
{
    if (deadline == Deadline::max()) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 60000 ? 60000 : static_cast<int>(left);
}

int WaitFor(int fd, short events, Deadline deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int timeout = PollTimeout(deadline);
        const int r = poll(&p, 1, timeout);
        if (r > 0) {
            return KSN_OK;
        }
        if (r < 0 && errno != EINTR) {
            return KSN_ERR_CONNECTION_LOST;
        }
        if (r == 0 && timeout == 0) {
            return KSN_ERR_TIMEOUT;
        }
    }
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

const char* OpcodeName(uint16_t opcode)
{
    static const char* const names[] = {"Hello",      "ListCrates",  "CrateInfo", "CrateModules",
                                        "ModuleOpen", "ModuleClose", "SetAdc",    "Start",
                                        "Stop",       "Recv",        "Control"};
    static_assert(std::size(names) == static_cast<std::size_t>(Opcode::Count));
    return opcode < std::size(names) ? names[opcode] : "Unknown";
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

Deadline DeadlineIn(uint32_t ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

int SocketTransport::Write(const void* data, std::size_t n, Deadline deadline)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = send(fd_, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int r = WaitFor(fd_, POLLOUT, deadline);
            if (r != KSN_OK) {
                return r;
            }
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        return KSN_ERR_CONNECTION_LOST;
    }
    return KSN_OK;
}

int SocketTransport::Read(void* data, std::size_t n, Deadline deadline)
{
    auto* p = static_cast<uint8_t*>(data);
    while (n > 0) {
        const ssize_t r = recv(fd_, p, n, MSG_DONTWAIT);
        if (r > 0) {
            p += r;
            n -= static_cast<std::size_t>(r);
            continue;
        }
        if (r == 0) {
            return KSN_ERR_CONNECTION_LOST;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int w = WaitFor(fd_, POLLIN, deadline);
            if (w != KSN_OK) {
                return w;
            }
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        return KSN_ERR_CONNECTION_LOST;
    }
    return KSN_OK;
}

int SendMessage(Transport& t, const Header& h, const std::vector<uint8_t>& payload,
                Deadline deadline)
{
    return SendMessage(t, h, payload.data(), payload.size(), deadline);
}

int SendMessage(Transport& t, const Header& h, const uint8_t* payload, std::size_t size,
                Deadline deadline)
{
    Header out = h;
    out.magic = kMagic;
    out.version = kVersion;
    out.payloadLength = static_cast<uint32_t>(size);
    uint8_t head[kHeaderSize];
    EncodeHeader(out, head);
    int r = t.Write(head, sizeof head, deadline);
    if (r == KSN_OK && size > 0) {
        r = t.Write(payload, size, deadline);
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
    // Timing out before the first byte leaves the stream intact; after it,
    // the rest of that message would still be on its way.
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

// Reads n payload bytes into a buffer on the stack and forgets them.
int Drain(Transport& t, std::size_t n, Deadline deadline)
{
    uint8_t sink[4096];
    while (n > 0) {
        const std::size_t part = n < sizeof sink ? n : sizeof sink;
        const int r = t.Read(sink, part, deadline);
        if (r != KSN_OK) {
            return r;
        }
        n -= part;
    }
    return KSN_OK;
}

int ReceiveInto(Transport& t, Header& h, const ReplyRoom& room, Deadline deadline, bool* partial)
{
    int r = ReceiveHeader(t, h, deadline, partial);
    if (r != KSN_OK) {
        return r;
    }
    const std::size_t n = h.payloadLength;
    if (n > room.headSize + room.bodySize) {
        r = Drain(t, n, deadline);
    } else {
        const std::size_t first = n < room.headSize ? n : room.headSize;
        if (first > 0) {
            r = t.Read(room.head, first, deadline);
        }
        if (r == KSN_OK && n > first) {
            r = t.Read(room.body, n - first, deadline);
        }
    }
    if (r == KSN_OK && partial) {
        *partial = false;
    }
    return r;
}

// Whether a reply answers the request: 1 it does, 0 it answers an earlier
// one that timed out (its id is behind ours) and is skipped, else
// KSN_ERR_PROTOCOL.
int Answers(const Header& request, const Header& reply)
{
    const uint32_t behind = request.requestId - reply.requestId;
    if (behind != 0 && behind < 0x80000000U) {
        return 0;
    }
    if (behind != 0 || reply.opcode != request.opcode) {
        return KSN_ERR_PROTOCOL;
    }
    return 1;
}

// The reply's status; KSN_ERR_PROTOCOL for one that is positive or unknown.
int StatusOf(const Header& reply)
{
    const int32_t s = reply.status;
    if (s > 0 || s < KSN_ERR_INTERNAL) {
        return KSN_ERR_PROTOCOL;
    }
    return s;
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

int ConnectTo(uint32_t address, uint16_t port, uint32_t timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return KSN_ERR_CONNECT;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    int r = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EINPROGRESS) {
        r = WaitFor(fd, POLLOUT, DeadlineIn(timeoutMs));
        if (r != KSN_OK) {
            close(fd);
            return r == KSN_ERR_TIMEOUT ? KSN_ERR_TIMEOUT : KSN_ERR_CONNECT;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            r = -1;
        }
    }
    if (r != 0) {
        close(fd);
        return KSN_ERR_CONNECT;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int Call(int fd, uint32_t& nextRequestId, Opcode op, const std::vector<uint8_t>& payload,
         Message& reply, Deadline deadline, bool* broken)
{
    if (broken) {
        *broken = false;
    }
    if (fd < 0) {
        return KSN_ERR_CONNECTION_LOST;
    }
    SocketTransport t(fd);
    Header h;
    h.opcode = static_cast<uint16_t>(op);
    h.requestId = nextRequestId++;
    int r = SendMessage(t, h, payload, deadline);
    if (r != KSN_OK) {
        return r;
    }
    for (;;) {
        r = ReceiveMessage(t, reply, deadline, broken);
        if (r != KSN_OK) {
            return r;
        }
        r = Answers(h, reply.header);
        if (r != 0) {
            return r == 1 ? KSN_OK : r;
        }
    }
}

int CallChecked(int fd, uint32_t& nextRequestId, Opcode op, const std::vector<uint8_t>& payload,
                Message& reply, Deadline deadline, bool* broken)
{
    const int r = Call(fd, nextRequestId, op, payload, reply, deadline, broken);
    return r != KSN_OK ? r : StatusOf(reply.header);
}

int CallCheckedInto(int fd, uint32_t& nextRequestId, Opcode op, const uint8_t* payload,
                    std::size_t payloadSize, Header& reply, const ReplyRoom& room,
                    Deadline deadline, bool* broken)
{
    if (broken) {
        *broken = false;
    }
    if (fd < 0) {
        return KSN_ERR_CONNECTION_LOST;
    }
    SocketTransport t(fd);
    Header h;
    h.opcode = static_cast<uint16_t>(op);
    h.requestId = nextRequestId++;
    int r = SendMessage(t, h, payload, payloadSize, deadline);
    if (r != KSN_OK) {
        return r;
    }
    for (;;) {
        // A skipped reply may overwrite room; only the answer's bytes count.
        r = ReceiveInto(t, reply, room, deadline, broken);
        if (r != KSN_OK) {
            return r;
        }
        r = Answers(h, reply);
        if (r != 0) {
            return r == 1 ? StatusOf(reply) : r;
        }
    }
}

int Handshake(int fd, uint32_t& nextRequestId, Deadline deadline)
{
    std::vector<uint8_t> payload;
    Writer(payload).U16(kVersion);
    Message reply;
    const int r = CallChecked(fd, nextRequestId, Opcode::Hello, payload, reply, deadline);
    if (r != KSN_OK) {
        return r;
    }
    Reader rd(reply.payload);
    const uint16_t version = rd.U16();
    if (!rd.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    return version == kVersion ? KSN_OK : KSN_ERR_VERSION;
}

uint16_t PortFromEnvironment(uint16_t fallback)
{
    const char* text = std::getenv("KSN_CRATE_PORT");
    if (!text || !*text) {
        return fallback;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 1 || v > 65535) {
        return fallback;
    }
    return static_cast<uint16_t>(v);
}

}  // namespace ksn::proto
