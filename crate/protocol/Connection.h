#pragma once
// The client's side of one connection to the crate server, the same for both
// client libraries and ksn-cratectl: request ids, one request and its reply
// at a time, deadlines, cancelling a wait, and what a failed call leaves of
// the connection:
//
// - A call that times out or is cancelled before any byte of its reply has
//   arrived leaves the connection in step. The reply may still come: the
//   next call skips it by its request id, so it is never read as the answer
//   to a later request.
// - A cancel that strikes while a reply is arriving lets that reply finish
//   for a short grace time.
// - Anything else - a reply cut off by the deadline, a malformed or
//   unexpected reply, a lost connection, a payload the caller finds
//   malformed (Drop) - drops the connection: its socket is closed and every
//   later call reports KSN_ERR_CONNECTION_LOST.
//
// The state a connection keeps between calls is its socket and the id of its
// next request; the libraries keep both in their C records, and make a
// ClientConnection over them for each call.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Protocol.h"

namespace ksn::proto {

// Request ids count modulo 2^16 (the crate link record's counter) or 2^32.
constexpr uint32_t kRequestIds16 = 0xFFFFU;
constexpr uint32_t kRequestIds32 = 0xFFFFFFFFU;

// How long a reply that has begun may take to finish once its call is cancelled.
constexpr uint32_t kCancelGraceMs = 100;

// Room of the caller's for a reply's payload. With grow, the payload goes
// into that vector, resized to its length. Otherwise it fills head, then
// body; a payload larger than both together is read and dropped, and its
// length stays in the reply's header for the caller to refuse.
struct ReplyRoom {
    uint8_t* head = nullptr;
    std::size_t headSize = 0;
    uint8_t* body = nullptr;
    std::size_t bodySize = 0;
    std::vector<uint8_t>* grow = nullptr;
};

class ClientConnection {
public:
    // Over a connected socket (-1: none, every call reports
    // KSN_ERR_CONNECTION_LOST); a dropped connection closes it. cancelEvent
    // and secondCancelEvent (from OpenCancelEvent, or -1) cut short
    // cancellable calls, either of them.
    ClientConnection(int fd, uint32_t nextRequestId, uint32_t idMask = kRequestIds32,
                     int cancelEvent = -1, int secondCancelEvent = -1) noexcept;
    // Over a transport of the caller's, which a drop leaves open.
    explicit ClientConnection(Transport& transport, uint32_t nextRequestId = 1,
                              uint32_t idMask = kRequestIds32) noexcept;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // Connects to address:port and greets the server. The socket, or a
    // negative KsnError (the socket is then closed).
    static int Connect(uint32_t address, uint16_t port, uint32_t connectTimeoutMs,
                       uint32_t& nextRequestId, uint32_t idMask, Deadline helloDeadline);

    // Sends a request and waits for its reply until deadline. Returns the
    // reply's status (ReplyStatus) or the call's failure: KSN_ERR_TIMEOUT,
    // KSN_ERR_CANCELLED (cancellable calls only; nothing is sent while a
    // cancel is pending), KSN_ERR_PROTOCOL, KSN_ERR_VERSION or
    // KSN_ERR_CONNECTION_LOST. The request's payload comes from the caller's
    // bytes and the reply's goes into room, so that a call repeated for every
    // block of a stream allocates nothing.
    int Call(Opcode op, const uint8_t* payload, std::size_t size, Header& reply,
             const ReplyRoom& room, Deadline deadline, bool cancellable = false);
    // The same with the reply's payload in reply.payload.
    int Call(Opcode op, const std::vector<uint8_t>& payload, Message& reply, Deadline deadline);

    // Sends a request without waiting for its reply, which the next call
    // skips as a late one: for a request that must reach the server (a stop,
    // a close) when its answer can no longer be waited for. KSN_OK, or the
    // send's failure as for Call (a cancel does not stop it).
    int Post(Opcode op, const uint8_t* payload, std::size_t size, Deadline deadline);

    // Hello exchange right after connecting: KSN_OK or a negative KsnError.
    int Handshake(Deadline deadline);

    // Drops the connection, for a reply whose payload the caller finds
    // malformed; returns result.
    int Drop(int result);

    bool Dropped() const noexcept { return transport_ == nullptr; }
    // The socket, -1 once dropped.
    int Fd() const noexcept { return fd_; }
    uint32_t NextRequestId() const noexcept { return nextId_; }

private:
    enum class Match { Ours, Late, Foreign };
    Match Matches(const Header& request, const Header& reply) const noexcept;
    // Reads the rest of a message that has begun; a cancel turns into the
    // grace time.
    int ReadRest(void* data, std::size_t n, Deadline& deadline, bool& cancellable);
    int Skip(std::size_t n, Deadline& deadline, bool& cancellable);
    int ReadPayload(const Header& reply, const ReplyRoom& room, Deadline& deadline,
                    bool& cancellable);

    SocketTransport socket_;
    Transport* transport_;
    int fd_;
    uint32_t nextId_;
    uint32_t idMask_;
};

// A library's C record as its Init leaves it: zeroed, with no socket (0 is
// a descriptor). False for no record.
template <typename Record>
bool ResetRecord(Record* record) noexcept
{
    if (record == nullptr) {
        return false;
    }
    std::memset(record, 0, sizeof *record);
    record->Socket = -1;
    return true;
}

// A connection for one call over the socket and the request id that a
// library's C record keeps; both go back into the record when the call ends
// (the socket -1 when the call dropped the connection). Id is the record's
// counter type, which idMask fits.
template <typename Id>
class RecordConnection {
public:
    RecordConnection(int32_t& socket, Id& requestId, uint32_t idMask, int cancelEvent = -1,
                     int secondCancelEvent = -1) noexcept
        : socket_(socket), requestId_(requestId),
          c_(socket, requestId, idMask, cancelEvent, secondCancelEvent)
    {}
    ~RecordConnection()
    {
        socket_ = c_.Fd();
        requestId_ = static_cast<Id>(c_.NextRequestId());
    }
    RecordConnection(const RecordConnection&) = delete;
    RecordConnection& operator=(const RecordConnection&) = delete;
    ClientConnection* operator->() noexcept { return &c_; }

private:
    int32_t& socket_;
    Id& requestId_;
    ClientConnection c_;
};

}  // namespace ksn::proto
