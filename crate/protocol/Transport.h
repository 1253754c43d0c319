#pragma once
// Byte streams with deadlines between the crate libraries, ksn-cratectl and
// ksn-crated, behind a small interface so that tests can put a socket pair, a
// dead peer or a scripted peer behind a connection.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ksn::proto {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

Deadline DeadlineIn(uint32_t ms);

class Transport {
public:
    virtual ~Transport() = default;

    // Reads at least one and at most n bytes and returns how many; or
    // KSN_ERR_TIMEOUT once deadline has passed, KSN_ERR_CONNECTION_LOST, or
    // (cancellable only) KSN_ERR_CANCELLED while a cancel is pending and no
    // byte is there. Bytes already there are read before a cancel counts.
    virtual int ReadSome(void* data, std::size_t n, Deadline deadline, bool cancellable) = 0;
    // Writes at least one and at most n bytes and returns how many; or
    // KSN_ERR_TIMEOUT, KSN_ERR_CONNECTION_LOST.
    virtual int WriteSome(const void* data, std::size_t n, Deadline deadline) = 0;
    // Whether a cancel is pending (never, unless the transport has a cancel event).
    virtual bool CancelPending() const { return false; }

    // All n bytes: KSN_OK, or the first failure of ReadSome / WriteSome.
    // *done (when given) counts the bytes moved, also on failure.
    int Read(void* data, std::size_t n, Deadline deadline, bool cancellable = false,
             std::size_t* done = nullptr);
    int Write(const void* data, std::size_t n, Deadline deadline, std::size_t* done = nullptr);
};

// A connected stream socket; never raises SIGPIPE. Does not own the fd nor
// the cancel events. Cancellable waits end when either event is raised: a
// handle keeps one that cuts short its receives and one that cuts short
// every call.
class SocketTransport final : public Transport {
public:
    explicit SocketTransport(int fd, int cancelEvent = -1, int secondCancelEvent = -1) noexcept
        : fd_(fd), cancelEvent_(cancelEvent), secondCancelEvent_(secondCancelEvent)
    {}
    int ReadSome(void* data, std::size_t n, Deadline deadline, bool cancellable) override;
    int WriteSome(const void* data, std::size_t n, Deadline deadline) override;
    bool CancelPending() const override;

private:
    int fd_;
    int cancelEvent_;
    int secondCancelEvent_;
};

// A cancel event: raised by another thread (or a signal handler) to cut short
// the cancellable waits of a SocketTransport; it stays raised until cleared.
// Returns the event's descriptor, or -1 when none can be made.
int OpenCancelEvent() noexcept;
// Async-signal-safe; does nothing for -1.
void RaiseCancelEvent(int event) noexcept;
void ClearCancelEvent(int event) noexcept;
bool CancelEventRaised(int event) noexcept;
void CloseCancelEvent(int event) noexcept;

// Connects to address:port (host order) with a timeout. Returns a
// non-blocking socket, or a negative KsnError (KSN_ERR_CONNECT,
// KSN_ERR_TIMEOUT).
int ConnectTo(uint32_t address, uint16_t port, uint32_t timeoutMs);

// Port from KSN_CRATE_PORT when set to a valid port, else fallback.
uint16_t PortFromEnvironment(uint16_t fallback);

}  // namespace ksn::proto
