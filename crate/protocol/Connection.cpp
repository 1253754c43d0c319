#include "Connection.h"

#include <algorithm>
#include <unistd.h>

#include "ksnerror.h"

namespace ksn::proto {

namespace {

// The wait for one message: its deadline, and whether a cancel still cuts
// it short (once one has struck mid-message, the grace time runs instead).
struct Wait {
    Deadline deadline;
    bool cancellable;
};

// A call that ran out of its grace time reports the cancel.
int Failure(int result, bool cancellable, const Wait& w)
{
    const bool cancelled = cancellable && !w.cancellable;
    return cancelled && result == KSN_ERR_TIMEOUT ? KSN_ERR_CANCELLED : result;
}

}  // namespace

ClientConnection::ClientConnection(int fd, uint32_t nextRequestId, uint32_t idMask,
                                   int cancelEvent, int secondCancelEvent) noexcept
    : socket_(fd, cancelEvent, secondCancelEvent), transport_(fd >= 0 ? &socket_ : nullptr), fd_(fd),
      nextId_(nextRequestId & idMask), idMask_(idMask)
{}

ClientConnection::ClientConnection(Transport& transport, uint32_t nextRequestId,
                                   uint32_t idMask) noexcept
    : socket_(-1), transport_(&transport), fd_(-1), nextId_(nextRequestId & idMask), idMask_(idMask)
{}

int ClientConnection::Connect(uint32_t address, uint16_t port, uint32_t connectTimeoutMs,
                              uint32_t& nextRequestId, uint32_t idMask, Deadline helloDeadline)
{
    const int fd = ConnectTo(address, port, connectTimeoutMs);
    if (fd < 0) {
        return fd;
    }
    ClientConnection c(fd, nextRequestId, idMask);
    const int r = c.Handshake(helloDeadline);
    nextRequestId = c.NextRequestId();
    if (r != KSN_OK) {
        c.Drop(r);
        return r;
    }
    return fd;
}

int ClientConnection::Drop(int result)
{
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = -1;
    transport_ = nullptr;
    return result;
}

ClientConnection::Match ClientConnection::Matches(const Header& request,
                                                  const Header& reply) const noexcept
{
    if ((reply.requestId & ~idMask_) != 0) {
        return Match::Foreign;  // an id this connection never gives
    }
    const uint32_t behind = (request.requestId - reply.requestId) & idMask_;
    if (behind == 0) {
        return reply.opcode == request.opcode ? Match::Ours : Match::Foreign;
    }
    // Ids up to half the range behind ours belong to requests given up on.
    return behind <= (idMask_ >> 1U) ? Match::Late : Match::Foreign;
}

int ClientConnection::ReadRest(void* data, std::size_t n, Deadline& deadline, bool& cancellable)
{
    auto* p = static_cast<uint8_t*>(data);
    std::size_t moved = 0;
    while (moved < n) {
        const int got = transport_->ReadSome(p + moved, n - moved, deadline, cancellable);
        if (got == KSN_ERR_CANCELLED) {
            // The message is on its way: let it finish, briefly.
            cancellable = false;
            deadline = std::min(deadline, DeadlineIn(kCancelGraceMs));
            continue;
        }
        if (got < 0) {
            return got;
        }
        moved += static_cast<std::size_t>(got);
    }
    return KSN_OK;
}

int ClientConnection::Skip(std::size_t n, Deadline& deadline, bool& cancellable)
{
    uint8_t sink[4096];
    while (n > 0) {
        const std::size_t part = std::min(n, sizeof sink);
        const int r = ReadRest(sink, part, deadline, cancellable);
        if (r != KSN_OK) {
            return r;
        }
        n -= part;
    }
    return KSN_OK;
}

int ClientConnection::ReadPayload(const Header& reply, const ReplyRoom& room, Deadline& deadline,
                                  bool& cancellable)
{
    const std::size_t n = reply.payloadLength;
    if (room.grow) {
        room.grow->resize(n);
        return n > 0 ? ReadRest(room.grow->data(), n, deadline, cancellable) : KSN_OK;
    }
    if (n > room.headSize + room.bodySize) {
        return Skip(n, deadline, cancellable);
    }
    const std::size_t first = std::min(n, room.headSize);
    int r = first > 0 ? ReadRest(room.head, first, deadline, cancellable) : KSN_OK;
    if (r == KSN_OK && n > first) {
        r = ReadRest(room.body, n - first, deadline, cancellable);
    }
    return r;
}

int ClientConnection::Call(Opcode op, const uint8_t* payload, std::size_t size, Header& reply,
                           const ReplyRoom& room, Deadline deadline, bool cancellable)
{
    if (!transport_) {
        return KSN_ERR_CONNECTION_LOST;
    }
    if (cancellable && transport_->CancelPending()) {
        return KSN_ERR_CANCELLED;
    }
    Header request;
    request.opcode = static_cast<uint16_t>(op);
    request.requestId = nextId_;
    nextId_ = (nextId_ + 1U) & idMask_;
    std::size_t sent = 0;
    int r = SendMessage(*transport_, request, payload, size, deadline, &sent);
    if (r != KSN_OK) {
        // A request not begun leaves the stream as it was; half of one does not.
        return sent == 0 && r == KSN_ERR_TIMEOUT ? r : Drop(r);
    }
    for (;;) {
        Wait w{deadline, cancellable};
        uint8_t head[kHeaderSize];
        r = transport_->ReadSome(head, 1, w.deadline, w.cancellable);
        if (r < 0) {
            // Nothing of a reply read: the connection stays in step.
            return r == KSN_ERR_TIMEOUT || r == KSN_ERR_CANCELLED ? r : Drop(r);
        }
        r = ReadRest(head + 1, sizeof head - 1, w.deadline, w.cancellable);
        if (r != KSN_OK) {
            return Drop(Failure(r, cancellable, w));
        }
        reply = DecodeHeader(head);
        r = CheckHeader(reply);
        if (r != KSN_OK) {
            return Drop(r);
        }
        const Match match = Matches(request, reply);
        if (match == Match::Foreign) {
            return Drop(KSN_ERR_PROTOCOL);
        }
        if (match == Match::Late) {
            r = Skip(reply.payloadLength, w.deadline, w.cancellable);
            if (r != KSN_OK) {
                return Drop(Failure(r, cancellable, w));
            }
            continue;
        }
        r = ReadPayload(reply, room, w.deadline, w.cancellable);
        if (r != KSN_OK) {
            return Drop(Failure(r, cancellable, w));
        }
        // A status the server cannot send means the stream is not what it seems.
        const int status = ReplyStatus(reply);
        return status == KSN_ERR_PROTOCOL && reply.status != KSN_ERR_PROTOCOL ? Drop(status)
                                                                              : status;
    }
}

int ClientConnection::Post(Opcode op, const uint8_t* payload, std::size_t size, Deadline deadline)
{
    if (!transport_) {
        return KSN_ERR_CONNECTION_LOST;
    }
    Header request;
    request.opcode = static_cast<uint16_t>(op);
    request.requestId = nextId_;
    nextId_ = (nextId_ + 1U) & idMask_;
    std::size_t sent = 0;
    const int r = SendMessage(*transport_, request, payload, size, deadline, &sent);
    if (r != KSN_OK) {
        return sent == 0 && r == KSN_ERR_TIMEOUT ? r : Drop(r);
    }
    return KSN_OK;
}

int ClientConnection::Call(Opcode op, const std::vector<uint8_t>& payload, Message& reply,
                           Deadline deadline)
{
    ReplyRoom room;
    room.grow = &reply.payload;
    return Call(op, payload.data(), payload.size(), reply.header, room, deadline);
}

int ClientConnection::Handshake(Deadline deadline)
{
    std::vector<uint8_t> payload;
    Writer(payload).U16(kVersion);
    Message reply;
    const int r = Call(Opcode::Hello, payload, reply, deadline);
    if (r != KSN_OK) {
        return r;
    }
    Reader rd(reply.payload);
    const uint16_t version = rd.U16();
    if (!rd.AtEnd()) {
        return Drop(KSN_ERR_PROTOCOL);
    }
    return version == kVersion ? KSN_OK : Drop(KSN_ERR_VERSION);
}

}  // namespace ksn::proto
