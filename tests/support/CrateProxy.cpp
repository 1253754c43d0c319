#include "CrateProxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ksn::test {

namespace {

constexpr int kPollMs = 50;

int ConnectLoopback(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// One client connection and its own connection to the server. Bytes are
// cut into whole messages in each direction, judged, and passed on.
class CrateProxy::Session {
public:
    Session(CrateProxy& proxy, int client, int server)
        : proxy_(proxy), client_(client), server_(server), thread_([this] { Run(); })
    {}
    ~Session()
    {
        thread_.join();
        close(client_);
        close(server_);
    }

private:
    struct Stream {
        std::vector<std::uint8_t> bytes;
    };

    void Run()
    {
        Stream fromClient;
        Stream fromServer;
        while (!proxy_.stop_) {
            pollfd fds[2] = {{client_, POLLIN, 0}, {server_, POLLIN, 0}};
            const int ready = poll(fds, 2, kPollMs);
            if (ready < 0 && errno != EINTR) {
                return;
            }
            if (ready <= 0) {
                continue;
            }
            if (fds[0].revents != 0 && !Pump(client_, server_, fromClient, true)) {
                return;
            }
            if (fds[1].revents != 0 && !Pump(server_, client_, fromServer, false)) {
                return;
            }
        }
    }

    // Reads what is there and passes on every whole message; false when a
    // side has gone.
    bool Pump(int from, int to, Stream& stream, bool requests)
    {
        std::uint8_t buffer[65536];
        const ssize_t n = recv(from, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        stream.bytes.insert(stream.bytes.end(), buffer, buffer + n);
        for (;;) {
            if (stream.bytes.size() < proto::kHeaderSize) {
                return true;
            }
            proto::Header header = proto::DecodeHeader(stream.bytes.data());
            if (header.magic != proto::kMagic) {
                // Not our protocol: relay it as it is.
                const bool sent = WriteAll(to, stream.bytes.data(), stream.bytes.size());
                stream.bytes.clear();
                return sent;
            }
            const std::size_t size = proto::kHeaderSize + header.payloadLength;
            if (stream.bytes.size() < size) {
                return true;
            }
            std::vector<std::uint8_t> payload(stream.bytes.begin() + proto::kHeaderSize,
                                              stream.bytes.begin() + static_cast<long>(size));
            stream.bytes.erase(stream.bytes.begin(),
                               stream.bytes.begin() + static_cast<long>(size));
            const bool pass =
                requests ? proxy_.PassRequest(header) : proxy_.PassReply(header, payload);
            if (!pass) {
                continue;
            }
            std::uint8_t head[proto::kHeaderSize];
            header.payloadLength = static_cast<std::uint32_t>(payload.size());
            proto::EncodeHeader(header, head);
            if (!WriteAll(to, head, sizeof head) || !WriteAll(to, payload.data(), payload.size())) {
                return false;
            }
        }
    }

    CrateProxy& proxy_;
    int client_;
    int server_;
    std::thread thread_;
};

CrateProxy::CrateProxy(std::uint16_t serverPort)
    : serverPort_(serverPort), requestCounts_(static_cast<std::size_t>(proto::Opcode::Count), 0),
      replyCounts_(static_cast<std::size_t>(proto::Opcode::Count), 0)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw std::runtime_error("proxy: no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener_);
        throw std::runtime_error("proxy: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    if (const char* old = std::getenv("KSN_CRATE_PORT")) {
        hadPortVariable_ = true;
        oldPortVariable_ = old;
    }
    setenv("KSN_CRATE_PORT", std::to_string(port_).c_str(), 1);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

CrateProxy::~CrateProxy()
{
    stop_ = true;
    acceptor_.join();
    sessions_.clear();
    close(listener_);
    if (hadPortVariable_) {
        setenv("KSN_CRATE_PORT", oldPortVariable_.c_str(), 1);
    } else {
        unsetenv("KSN_CRATE_PORT");
    }
}

void CrateProxy::AcceptLoop()
{
    while (!stop_) {
        pollfd fd{listener_, POLLIN, 0};
        if (poll(&fd, 1, kPollMs) <= 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const int server = ConnectLoopback(serverPort_);
        if (server < 0) {
            close(client);  // as a server that is not there
            continue;
        }
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        sessions_.push_back(std::make_unique<Session>(*this, client, server));
    }
}

void CrateProxy::OnReply(proto::Opcode opcode, int occurrence, Action action)
{
    std::lock_guard lock(mutex_);
    replyRules_.push_back({static_cast<std::uint16_t>(opcode), occurrence, action, {}});
}

void CrateProxy::OnReplyNumber(int number, Action action)
{
    std::lock_guard lock(mutex_);
    replyRules_.push_back({std::nullopt, number, action, {}});
}

void CrateProxy::BeforeRequest(proto::Opcode opcode, int occurrence, std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    requestRules_.push_back(
        {static_cast<std::uint16_t>(opcode), occurrence, Action::Withhold, std::move(hook)});
}

int CrateProxy::Requests(proto::Opcode opcode) const
{
    std::lock_guard lock(mutex_);
    return requestCounts_[static_cast<std::size_t>(opcode)];
}

bool CrateProxy::PassRequest(const proto::Header& header)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        if (header.opcode >= requestCounts_.size()) {
            return true;
        }
        const int count = ++requestCounts_[header.opcode];
        for (const Rule& rule : requestRules_) {
            if (rule.opcode == header.opcode && rule.occurrence == count) {
                hook = rule.hook;
            }
        }
    }
    if (hook) {
        hook();
    }
    return true;
}

bool CrateProxy::PassReply(proto::Header& header, std::vector<std::uint8_t>& payload)
{
    std::optional<Action> action;
    {
        std::lock_guard lock(mutex_);
        const int number = ++replies_;
        const int count = header.opcode < replyCounts_.size() ? ++replyCounts_[header.opcode] : 0;
        for (const Rule& rule : replyRules_) {
            if (rule.opcode ? (*rule.opcode == header.opcode && rule.occurrence == count)
                            : rule.occurrence == number) {
                action = rule.action;
            }
        }
    }
    if (!action) {
        return true;
    }
    if (*action == Action::Withhold) {
        return false;
    }
    // Garbled: half a payload, or a status no call knows.
    if (!payload.empty()) {
        payload.resize(payload.size() / 2);
    } else {
        header.status = 12345;
    }
    return true;
}

}  // namespace ksn::test
