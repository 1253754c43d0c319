#include "Listener.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "ksnerror.h"

namespace ksn::sim {

using proto::Clock;

namespace {

// Refusals in progress at once; more clients beyond the limits are closed at once.
constexpr std::size_t kMaxRefusals = 32;
constexpr uint32_t kRefusalMs = 1000;
// How long accepting pauses when the process is out of descriptors or memory.
constexpr uint32_t kAcceptPauseMs = 100;

}  // namespace

Listener::~Listener()
{
    EndAll();
}

void Listener::EndAll()
{
    for (auto& s : sessions_) {
        s->Interrupt();
    }
    Reap(true);
    for (const Refusal& r : refusals_) {
        close(r.fd);
    }
    refusals_.clear();
    if (spareFd_ >= 0) {
        close(spareFd_);
        spareFd_ = -1;
    }
}

void Listener::Reap(bool all)
{
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (all || (*it)->Done()) {
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

void Listener::Refuse(int fd)
{
    if (refusals_.size() >= kMaxRefusals) {
        close(fd);
        return;
    }
    Refusal r;
    r.fd = fd;
    r.until = proto::DeadlineIn(kRefusalMs);
    refusals_.push_back(r);
}

bool Listener::ServeRefusal(Refusal& r, short revents)
{
    const bool over = Clock::now() >= r.until;
    if (revents != 0 && !r.answered) {
        // The first request's header, to answer it by its id.
        const ssize_t n = recv(r.fd, r.head.data() + r.got, r.head.size() - r.got, MSG_DONTWAIT);
        if (n > 0) {
            r.got += static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            close(r.fd);
            return false;
        }
        if (r.got == r.head.size()) {
            const proto::Header request = proto::DecodeHeader(r.head.data());
            proto::Header answer;
            answer.opcode = request.opcode;
            answer.requestId = request.requestId;
            answer.status = KSN_ERR_SERVER_FULL;
            uint8_t bytes[proto::kHeaderSize];
            proto::EncodeHeader(answer, bytes);
            // A new socket's buffer takes a header at once.
            const ssize_t ignored = send(r.fd, bytes, sizeof bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
            static_cast<void>(ignored);
            shutdown(r.fd, SHUT_WR);
            r.answered = true;
            r.until = proto::DeadlineIn(kRefusalMs);
        }
    } else if (revents != 0) {
        // Read what the client still sends until it hangs up, so that
        // closing does not reset the connection before it has read the answer.
        uint8_t sink[512];
        const ssize_t n = recv(r.fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            close(r.fd);
            return false;
        }
    }
    if (over) {
        close(r.fd);
        return false;
    }
    return true;
}

void Listener::Accept(Clock::time_point& pausedUntil)
{
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE) {
            // Out of descriptors: the one kept in reserve takes the first
            // waiting client to tell it so; accepting pauses, so that the
            // loop does not spin on a queue it cannot take from, and the
            // clients already served go on.
            if (spareFd_ >= 0) {
                close(spareFd_);
                spareFd_ = -1;
                fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0) {
                    Refuse(fd);
                }
            }
            pausedUntil = proto::DeadlineIn(kAcceptPauseMs);
        } else if (errno == ENOBUFS || errno == ENOMEM) {
            pausedUntil = proto::DeadlineIn(kAcceptPauseMs);
        }
        return;  // otherwise the client gave up meanwhile
    }
    Reap(false);  // a client that ended while the loop waited no longer counts
    if (sessions_.size() >= server_.options.maxClients) {
        Refuse(fd);
        return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::unique_ptr<Session> session;
    try {
        session = std::make_unique<Session>(server_, fd);
        session->Start();
        sessions_.push_back(std::move(session));
    } catch (const std::exception&) {
        // No thread or no memory for one more client: refuse it.
        Refuse(session ? session->TakeSocket() : fd);
        pausedUntil = proto::DeadlineIn(kAcceptPauseMs);
    }
}

void Listener::Run(int wakeFd)
{
    spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    Clock::time_point pausedUntil{};
    std::vector<pollfd> fds;
    for (;;) {
        Reap(false);
        if (spareFd_ < 0) {
            spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);  // once descriptors came free
        }
        const auto now = Clock::now();
        const bool accepting = now >= pausedUntil;
        fds.assign({{wakeFd, POLLIN, 0}, {accepting ? listenFd_ : -1, POLLIN, 0}});
        for (const Refusal& r : refusals_) {
            fds.push_back({r.fd, POLLIN, 0});
        }
        int timeout = 1000;  // the sessions that ended are reaped at least this often
        if (!refusals_.empty()) {
            timeout = 50;
        }
        if (!accepting) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(pausedUntil - now).count();
            timeout = std::min(timeout, static_cast<int>(std::max<int64_t>(left, 1)));
        }
        const int r = poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        std::size_t k = 2;
        for (auto it = refusals_.begin(); it != refusals_.end(); ++k) {
            it =
                ServeRefusal(*it, r > 0 ? fds[k].revents : 0) ? std::next(it) : refusals_.erase(it);
        }
        if (accepting && r > 0 && (fds[1].revents & POLLIN)) {
            Accept(pausedUntil);
        }
    }
    EndAll();
}

}  // namespace ksn::sim
