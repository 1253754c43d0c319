#include "Transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ksnerror.h"

namespace ksn::proto {

namespace {

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

// Waits until fd has events or one of the cancel events (those not -1) is
// raised.
int WaitFor(int fd, short events, Deadline deadline, int cancelEvent = -1, int secondEvent = -1)
{
    for (;;) {
        pollfd p[3] = {{fd, events, 0}, {cancelEvent, POLLIN, 0}, {secondEvent, POLLIN, 0}};
        // Only the events there are; poll skips negative descriptors.
        const nfds_t count = cancelEvent >= 0 || secondEvent >= 0 ? 3 : 1;
        const int timeout = PollTimeout(deadline);
        const int r = poll(p, count, timeout);
        if (r > 0) {
            // The stream first: what is there is read before a cancel counts.
            return p[0].revents != 0 ? KSN_OK : KSN_ERR_CANCELLED;
        }
        if (r < 0 && errno != EINTR) {
            return KSN_ERR_CONNECTION_LOST;
        }
        if (r == 0 && timeout == 0) {
            return KSN_ERR_TIMEOUT;
        }
    }
}

int Chunk(std::size_t n)
{
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

}  // namespace

Deadline DeadlineIn(uint32_t ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

int Transport::Read(void* data, std::size_t n, Deadline deadline, bool cancellable,
                    std::size_t* done)
{
    auto* p = static_cast<uint8_t*>(data);
    std::size_t moved = 0;
    int r = KSN_OK;
    while (moved < n) {
        const int got = ReadSome(p + moved, n - moved, deadline, cancellable);
        if (got < 0) {
            r = got;
            break;
        }
        moved += static_cast<std::size_t>(got);
    }
    if (done) {
        *done = moved;
    }
    return r;
}

int Transport::Write(const void* data, std::size_t n, Deadline deadline, std::size_t* done)
{
    const auto* p = static_cast<const uint8_t*>(data);
    std::size_t moved = 0;
    int r = KSN_OK;
    while (moved < n) {
        const int put = WriteSome(p + moved, n - moved, deadline);
        if (put < 0) {
            r = put;
            break;
        }
        moved += static_cast<std::size_t>(put);
    }
    if (done) {
        *done = moved;
    }
    return r;
}

int SocketTransport::ReadSome(void* data, std::size_t n, Deadline deadline, bool cancellable)
{
    for (;;) {
        const ssize_t r = recv(fd_, data, static_cast<std::size_t>(Chunk(n)), MSG_DONTWAIT);
        if (r > 0) {
            return static_cast<int>(r);
        }
        if (r == 0 || n == 0) {
            return n == 0 ? 0 : KSN_ERR_CONNECTION_LOST;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int w = cancellable ? WaitFor(fd_, POLLIN, deadline, cancelEvent_, secondCancelEvent_)
                                      : WaitFor(fd_, POLLIN, deadline);
            if (w != KSN_OK) {
                return w;
            }
            continue;
        }
        if (errno != EINTR) {
            return KSN_ERR_CONNECTION_LOST;
        }
    }
}

int SocketTransport::WriteSome(const void* data, std::size_t n, Deadline deadline)
{
    for (;;) {
        const ssize_t w =
            send(fd_, data, static_cast<std::size_t>(Chunk(n)), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w >= 0) {
            return static_cast<int>(w);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int r = WaitFor(fd_, POLLOUT, deadline);
            if (r != KSN_OK) {
                return r;
            }
            continue;
        }
        if (errno != EINTR) {
            return KSN_ERR_CONNECTION_LOST;
        }
    }
}

bool SocketTransport::CancelPending() const
{
    return CancelEventRaised(cancelEvent_) || CancelEventRaised(secondCancelEvent_);
}

int OpenCancelEvent() noexcept
{
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void RaiseCancelEvent(int event) noexcept
{
    if (event < 0) {
        return;
    }
    const uint64_t one = 1;
    // Fails only when the counter is full, and then it is raised anyway.
    const ssize_t ignored = write(event, &one, sizeof one);
    static_cast<void>(ignored);
}

void ClearCancelEvent(int event) noexcept
{
    if (event < 0) {
        return;
    }
    uint64_t count = 0;
    const ssize_t ignored = read(event, &count, sizeof count);
    static_cast<void>(ignored);
}

bool CancelEventRaised(int event) noexcept
{
    if (event < 0) {
        return false;
    }
    pollfd p{event, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

void CloseCancelEvent(int event) noexcept
{
    if (event >= 0) {
        close(event);
    }
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
