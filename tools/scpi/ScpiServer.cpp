#include "ScpiServer.h"

#include "ServerLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace scpi {

namespace {

constexpr std::string_view Refusal =
    "ksn48-scpi: another client controls the instrument; try again when it has closed";
// A client that does not take its responses for this long is dropped.
constexpr int SendTimeoutSeconds = 5;
constexpr std::size_t ReadChunk = 4096;

std::string PeerName(const sockaddr_in& peer)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

bool ParseListenAddress(std::string_view text, ListenAddress& address)
{
    ListenAddress parsed;
    const std::size_t colon = text.rfind(':');
    std::string_view host = colon == std::string_view::npos ? text : text.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        unsigned value = 0;
        const auto result = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || result.ec != std::errc() || result.ptr != port.data() + port.size() ||
            value > 65535) {
            return false;
        }
        parsed.Port = static_cast<std::uint16_t>(value);
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    if (!host.empty()) {
        in_addr probe{};
        if (::inet_pton(AF_INET, std::string(host).c_str(), &probe) != 1) {
            return false;
        }
        parsed.Host = std::string(host);
    }
    address = parsed;
    return true;
}

ScpiServer::ScpiServer(ScpiInstrument& instrument, const ListenAddress& address,
                       std::ostream& log)
    : instrument_(instrument), log_(log)
{
    sockaddr_in bind{};
    bind.sin_family = AF_INET;
    bind.sin_port = htons(address.Port);
    if (::inet_pton(AF_INET, address.Host.c_str(), &bind.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address.Host);
    }
    loopback_ = (ntohl(bind.sin_addr.s_addr) >> 24) == 127;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&bind), sizeof bind) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        const std::string why = std::strerror(errno);
        ::close(listenFd_);
        throw std::runtime_error("cannot listen on " + address.Host + ":" +
                                 std::to_string(address.Port) + ": " + why);
    }
}

ScpiServer::~ScpiServer()
{
    if (clientFd_ >= 0) {
        ::close(clientFd_);
    }
    ::close(listenFd_);
}

std::string ScpiServer::Bound() const
{
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    return PeerName(bound);
}

void ScpiServer::RefuseNewcomer()
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const std::string line = std::string(Refusal) + "\n";
    [[maybe_unused]] const ssize_t sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    Say(log_, "refused " + PeerName(peer) + ": " + clientName_ + " controls the instrument");
}

void ScpiServer::DropClient()
{
    ::close(clientFd_);
    clientFd_ = -1;
    input_.clear();
    discarding_ = false;
    instrument_.ClientGone();
    Say(log_, clientName_ + " has gone");
}

bool ScpiServer::Send(const std::string& line)
{
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::send(clientFd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ScpiServer::ReadClient(int stopFd)
{
    char chunk[ReadChunk];
    const ssize_t n = ::recv(clientFd_, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    input_.append(chunk, static_cast<std::size_t>(n));
    ExecuteMessages(stopFd);
    return clientFd_ >= 0;
}

void ScpiServer::ExecuteMessages(int stopFd)
{
    // The client has gone (or the server stops) while a message waits for
    // a frame; newcomers are refused meanwhile.
    const std::function<bool()> cancelled = [this, stopFd] {
        pollfd p[2] = {{clientFd_, POLLRDHUP, 0}, {stopFd, POLLIN, 0}};
        if (::poll(p, 2, 0) > 0 &&
            ((p[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 || (p[1].revents & POLLIN) != 0)) {
            return true;
        }
        // The client is still there: whoever else comes is refused.
        if (Readable(listenFd_)) {
            RefuseNewcomer();
        }
        return false;
    };
    for (;;) {
        const std::size_t end = input_.find('\n');
        if (discarding_) {
            if (end == std::string::npos) {
                input_.clear();
                return;
            }
            input_.erase(0, end + 1);
            discarding_ = false;
            continue;
        }
        if (end == std::string::npos) {
            if (input_.size() > InputLimit) {
                // Refused whole: none of it is executed.
                instrument_.InputOverrun();
                input_.clear();
                discarding_ = true;
            }
            return;
        }
        if (end > InputLimit) {
            instrument_.InputOverrun();
            input_.erase(0, end + 1);
            continue;
        }
        std::string message = input_.substr(0, end);
        input_.erase(0, end + 1);
        if (!message.empty() && message.back() == '\r') {
            message.pop_back();
        }
        const std::string response = instrument_.Execute(message, cancelled);
        if (cancelled()) {
            DropClient();
            return;
        }
        if (!response.empty() && !Send(response + "\n")) {
            DropClient();
            return;
        }
    }
}

void ScpiServer::Serve(int stopFd)
{
    for (;;) {
        pollfd p[3] = {{stopFd, POLLIN, 0}, {listenFd_, POLLIN, 0}, {clientFd_, POLLIN, 0}};
        const nfds_t count = clientFd_ >= 0 ? 3 : 2;
        if (::poll(p, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if ((p[0].revents & POLLIN) != 0) {
            return;
        }
        // The client first: one that has gone makes room for a newcomer.
        if (clientFd_ >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (!ReadClient(stopFd)) {
                if (clientFd_ >= 0) {
                    DropClient();
                }
            }
        }
        if ((p[1].revents & POLLIN) != 0) {
            if (clientFd_ >= 0) {
                RefuseNewcomer();
            } else {
                sockaddr_in peer{};
                socklen_t length = sizeof peer;
                clientFd_ = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                      SOCK_CLOEXEC);
                if (clientFd_ >= 0) {
                    const int on = 1;
                    ::setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    timeval timeout{SendTimeoutSeconds, 0};
                    ::setsockopt(clientFd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
                    clientName_ = PeerName(peer);
                    Say(log_, clientName_ + " controls the instrument");
                }
            }
        }
    }
}

}  // namespace scpi
