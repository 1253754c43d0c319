#include "Server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Generator.h"
#include "Protocol.h"
#include "ksnerror.h"

namespace ksn::sim {

using nlohmann::json;
using proto::Clock;
using proto::Opcode;
using proto::Reader;
using proto::Writer;

namespace {

constexpr int kNoReply = 1;  // handler result: the request stays unanswered (stall)
constexpr uint32_t kSendTimeoutMs = 10000;
constexpr double kBaseRate = 78125.0;
// A reply buffer grown past this by a large answer is given back afterwards;
// a receive's stays, so that a stream does not allocate for every block.
constexpr std::size_t kKeptReplyBytes = 256U << 10U;
// Refusals in progress at once; more clients beyond the limits are closed at once.
constexpr std::size_t kMaxRefusals = 32;
constexpr uint32_t kRefusalMs = 1000;
// How long accepting pauses when the process is out of descriptors or memory.
constexpr uint32_t kAcceptPauseMs = 100;

// Reads a payload of total bytes as it arrives, keeping the first keep of
// them in payload: an announced length costs nothing until the bytes come.
bool ReadPayload(proto::Transport& t, uint32_t total, uint32_t keep, std::vector<uint8_t>& payload,
                 proto::Deadline deadline)
{
    payload.clear();
    uint8_t chunk[4096];
    std::size_t got = 0;
    while (got < total) {
        const int n =
            t.ReadSome(chunk, std::min<std::size_t>(sizeof chunk, total - got), deadline, false);
        if (n < 0) {
            return false;
        }
        const auto count = static_cast<std::size_t>(n);
        const std::size_t useful = got < keep ? std::min<std::size_t>(count, keep - got) : 0;
        payload.insert(payload.end(), chunk, chunk + useful);
        got += count;
    }
    return true;
}

}  // namespace

// One connected client, served on its own thread.
class Client {
public:
    Client(Server& server, int fd) : server_(server), fd_(fd), seed_(server.nextSeed_++) {}
    ~Client()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Start()
    {
        thread_ = std::thread([this] { Loop(); });
    }

    // Ends this connection from another thread: its socket is shut down and a
    // pending paced receive wakes up.
    void Interrupt()
    {
        shutdown(fd_, SHUT_RDWR);
        {
            std::lock_guard lock(waitMutex_);
            closing_ = true;
        }
        wake_.notify_all();
    }

    bool Done() const { return done_; }
    // The socket of a client whose thread never started, for its refusal.
    int TakeSocket()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    using Handler = int (Client::*)(Reader&, Writer&);

    void Loop();
    void Release();
    int OnHello(Reader& in, Writer& out);
    int OnListCrates(Reader& in, Writer& out);
    int OnCrateInfo(Reader& in, Writer& out);
    int OnCrateModules(Reader& in, Writer& out);
    int OnModuleOpen(Reader& in, Writer& out);
    int OnModuleClose(Reader& in, Writer& out);
    int OnSetAdc(Reader& in, Writer& out);
    int OnStart(Reader& in, Writer& out);
    int OnStop(Reader& in, Writer& out);
    int OnRecv(Reader& in, Writer& out);
    int OnControl(Reader& in, Writer& out);
    json Control(const json& request, int& status);
    const Crate* FindCrate(const std::string& serial) const;

    Server& server_;
    int fd_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::mutex waitMutex_;
    std::condition_variable wake_;
    bool closing_ = false;

    bool greeted_ = false;
    bool open_ = false;
    std::size_t crate_ = 0;
    std::size_t slot_ = 0;
    bool configured_ = false;
    uint8_t mask_ = 0;
    uint8_t rateCode_ = 0;
    bool is24_ = false;
    bool running_ = false;
    uint64_t position_ = 0;  // words delivered since Start
    Clock::time_point started_{};
    Generator generator_;
    uint64_t generatorGeneration_ = 0;
    uint64_t seed_;
    std::vector<uint32_t> words_;
};

void Client::Loop()
{
    static constexpr Handler kHandlers[] = {
        &Client::OnHello,        &Client::OnListCrates, &Client::OnCrateInfo,
        &Client::OnCrateModules, &Client::OnModuleOpen, &Client::OnModuleClose,
        &Client::OnSetAdc,       &Client::OnStart,      &Client::OnStop,
        &Client::OnRecv,         &Client::OnControl};
    static_assert(std::size(kHandlers) == static_cast<std::size_t>(Opcode::Count));

    proto::SocketTransport t(fd_);
    std::vector<uint8_t> payload;
    std::vector<uint8_t> reply;
    for (;;) {
        uint8_t head[proto::kHeaderSize];
        // Between requests a client may stay silent as long as it likes; a
        // request that has begun must arrive whole in time.
        if (t.Read(head, 1, proto::Deadline::max()) != KSN_OK) {
            break;
        }
        const auto deadline = proto::DeadlineIn(server_.options_.requestTimeoutMs);
        if (t.Read(head + 1, sizeof head - 1, deadline) != KSN_OK) {
            break;
        }
        const proto::Header h = proto::DecodeHeader(head);
        proto::Header answer;
        answer.opcode = h.opcode;
        answer.requestId = h.requestId;
        if (h.magic != proto::kMagic || h.version != proto::kVersion ||
            h.payloadLength > proto::kMaxPayload) {
            // The stream cannot be trusted any more: say why, then hang up.
            answer.status = h.magic == proto::kMagic && h.version != proto::kVersion
                                ? KSN_ERR_VERSION
                                : KSN_ERR_PROTOCOL;
            reply.clear();
            if (answer.status == KSN_ERR_VERSION) {
                Writer(reply).U16(proto::kVersion);
            }
            proto::SendMessage(t, answer, reply, proto::DeadlineIn(1000));
            break;
        }
        // What the opcode cannot use is read and dropped; the request is
        // then refused and the connection stays.
        const uint32_t keep = std::min(h.payloadLength, proto::MaxRequestPayload(h.opcode));
        if (!ReadPayload(t, h.payloadLength, keep, payload, deadline)) {
            break;
        }
        reply.clear();
        Writer out(reply);
        Reader in(payload);
        int status = KSN_ERR_PROTOCOL;
        if (h.opcode < std::size(kHandlers) && h.payloadLength == keep) {
            if (!greeted_ && h.opcode != static_cast<uint16_t>(Opcode::Hello)) {
                status = KSN_ERR_STATE;
            } else {
                try {
                    status = (this->*kHandlers[h.opcode])(in, out);
                } catch (const std::exception&) {
                    reply.clear();
                    status = KSN_ERR_INTERNAL;
                }
            }
        }
        if (status == kNoReply) {
            continue;
        }
        answer.status = status;
        if (proto::SendMessage(t, answer, reply, proto::DeadlineIn(kSendTimeoutMs)) != KSN_OK) {
            break;
        }
        if (reply.capacity() > kKeptReplyBytes && h.opcode != static_cast<uint16_t>(Opcode::Recv)) {
            std::vector<uint8_t>().swap(reply);
        }
    }
    Release();
    done_ = true;
}

void Client::Release()
{
    if (open_) {
        std::lock_guard lock(server_.mutex_);
        auto& state = server_.StateOf(crate_, slot_);
        if (state.owner == this) {
            state.owner = nullptr;
        }
    }
    open_ = false;
    running_ = false;
    configured_ = false;
}

const Crate* Client::FindCrate(const std::string& serial) const
{
    for (const auto& c : server_.population_.crates) {
        if (c.serial == serial) {
            return &c;
        }
    }
    return nullptr;
}

int Client::OnHello(Reader& in, Writer& out)
{
    const uint16_t version = in.U16();
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    out.U16(proto::kVersion);
    if (version != proto::kVersion) {
        return KSN_ERR_VERSION;
    }
    greeted_ = true;
    return KSN_OK;
}

int Client::OnListCrates(Reader& in, Writer& out)
{
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    std::lock_guard lock(server_.mutex_);
    out.U32(static_cast<uint32_t>(server_.population_.crates.size()));
    for (const auto& c : server_.population_.crates) {
        out.Text(c.serial, proto::kSerialField);
    }
    return KSN_OK;
}

int Client::OnCrateInfo(Reader& in, Writer& out)
{
    const std::string serial = in.Text(proto::kSerialField);
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    std::lock_guard lock(server_.mutex_);
    const Crate* c = FindCrate(serial);
    if (!c) {
        return KSN_ERR_NOT_FOUND;
    }
    out.U8(c->type);
    out.U8(static_cast<uint8_t>(kSlots));
    return KSN_OK;
}

int Client::OnCrateModules(Reader& in, Writer& out)
{
    const std::string serial = in.Text(proto::kSerialField);
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    std::lock_guard lock(server_.mutex_);
    const Crate* c = FindCrate(serial);
    if (!c) {
        return KSN_ERR_NOT_FOUND;
    }
    for (const auto& s : c->slots) {
        out.U16(s.moduleId);
    }
    return KSN_OK;
}

int Client::OnModuleOpen(Reader& in, Writer& out)
{
    const std::string serial = in.Text(proto::kSerialField);
    const uint16_t slot = in.U16();
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (open_) {
        return KSN_ERR_STATE;
    }
    if (slot < 1 || slot > kSlots) {
        return KSN_ERR_NOT_FOUND;
    }
    std::lock_guard lock(server_.mutex_);
    const Crate* c = FindCrate(serial);
    if (!c) {
        return KSN_ERR_NOT_FOUND;
    }
    const Slot& s = c->slots[slot - 1U];
    if (!s.ksn48) {
        return KSN_ERR_NOT_MODULE;
    }
    const auto crateIndex = static_cast<std::size_t>(c - server_.population_.crates.data());
    auto& state = server_.StateOf(crateIndex, slot - 1U);
    if (state.refuse) {
        return KSN_ERR_REFUSED;
    }
    if (state.owner) {
        return KSN_ERR_BUSY;
    }
    state.owner = this;
    open_ = true;
    crate_ = crateIndex;
    slot_ = slot - 1U;
    configured_ = false;
    running_ = false;
    out.Text(s.ksn48->name, proto::kNameField);
    out.Text(s.ksn48->serial, proto::kSerialField);
    out.U16(s.ksn48->firmware);
    return KSN_OK;
}

int Client::OnModuleClose(Reader& in, Writer&)
{
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (!open_) {
        return KSN_ERR_NOT_OPEN;
    }
    Release();
    return KSN_OK;
}

int Client::OnSetAdc(Reader& in, Writer&)
{
    const uint8_t mask = in.U8();
    const uint8_t rate = in.U8();
    const uint8_t format = in.U8();
    const uint8_t current = in.U8();
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (!open_) {
        return KSN_ERR_NOT_OPEN;
    }
    if (running_) {
        return KSN_ERR_STATE;
    }
    if (mask == 0 || rate > 7 || format > 1 || current > 1) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    mask_ = mask;
    rateCode_ = rate;
    is24_ = format == 1;
    configured_ = true;
    return KSN_OK;
}

int Client::OnStart(Reader& in, Writer&)
{
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (!open_) {
        return KSN_ERR_NOT_OPEN;
    }
    if (!configured_ || running_) {
        return KSN_ERR_STATE;
    }
    {
        std::lock_guard lock(server_.mutex_);
        const auto& module = *server_.population_.crates[crate_].slots[slot_].ksn48;
        generator_ = Generator(module.channels, kBaseRate / (1U << rateCode_), seed_++);
        generatorGeneration_ = server_.StateOf(crate_, slot_).generation;
    }
    running_ = true;
    position_ = 0;
    started_ = Clock::now();
    return KSN_OK;
}

int Client::OnStop(Reader& in, Writer&)
{
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (!open_) {
        return KSN_ERR_NOT_OPEN;
    }
    if (!running_) {
        return KSN_ERR_STATE;
    }
    running_ = false;
    return KSN_OK;
}

int Client::OnRecv(Reader& in, Writer& out)
{
    const uint32_t count = in.U32();
    const uint32_t timeoutMs = in.U32();
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    if (!open_) {
        return KSN_ERR_NOT_OPEN;
    }
    if (!running_) {
        return KSN_ERR_STATE;
    }
    if (count == 0 || count > proto::kMaxRecvWords) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    uint64_t deliver = count;
    {
        std::lock_guard lock(server_.mutex_);
        const auto& state = server_.StateOf(crate_, slot_);
        if (state.stall) {
            return kNoReply;
        }
        if (state.limit >= 0 && static_cast<uint64_t>(state.limit) < deliver) {
            deliver = static_cast<uint64_t>(state.limit);
        }
        if (state.generation != generatorGeneration_) {
            // A signal changed at run time: same clock, new signal.
            const auto& module = *server_.population_.crates[crate_].slots[slot_].ksn48;
            generator_ = Generator(module.channels, kBaseRate / (1U << rateCode_), seed_++);
            generatorGeneration_ = state.generation;
        }
    }
    if (!server_.options_.fast && deliver > 0) {
        // Real time: a word is there once its sample tick has passed.
        const double rate = kBaseRate / (1U << rateCode_);
        const uint64_t perTick = static_cast<uint64_t>(std::popcount(mask_)) * (is24_ ? 2U : 1U);
        const uint64_t needTicks = (position_ + deliver + perTick - 1) / perTick;
        const auto ready =
            started_ + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(static_cast<double>(needTicks) / rate));
        const auto deadline = proto::DeadlineIn(timeoutMs);
        {
            std::unique_lock lock(waitMutex_);
            wake_.wait_until(lock, std::min(ready, deadline), [this] { return closing_; });
            if (closing_) {
                return KSN_ERR_CONNECTION_LOST;
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
        const auto ticks = static_cast<uint64_t>(std::floor(elapsed * rate));
        const uint64_t available = ticks * perTick > position_ ? ticks * perTick - position_ : 0;
        deliver = std::min(deliver, available);
        if (deliver == 0) {
            return KSN_ERR_TIMEOUT;
        }
    }
    const auto n = static_cast<uint32_t>(deliver);
    words_.resize(n);
    generator_.Words(mask_, is24_, position_, n, words_.data());
    position_ += n;
    out.U32(n);
    out.Words(words_.data(), n);
    return KSN_OK;
}

int Client::OnControl(Reader& in, Writer& out)
{
    std::string text(in.Remaining(), '\0');
    if (!text.empty()) {
        std::memcpy(text.data(), in.Take(text.size()), text.size());
    }
    int status = KSN_OK;
    json reply;
    json request = json::parse(text, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        status = KSN_ERR_INVALID_ARGUMENT;
        reply = {{"error", "control request is not a JSON object"}};
    } else {
        try {
            reply = Control(request, status);
        } catch (const ConfigError& e) {
            status = KSN_ERR_INVALID_ARGUMENT;
            reply = {{"error", e.what()}};
        } catch (const json::exception& e) {
            status = KSN_ERR_INVALID_ARGUMENT;
            reply = {{"error", std::string("malformed control request: ") + e.what()}};
        }
    }
    const std::string body = reply.dump();
    out.Bytes(body.data(), body.size());
    return status;
}

json Client::Control(const json& request, int& status)
{
    const std::string cmd = request.value("cmd", "");
    if (cmd != "list" && !server_.options_.control) {
        // Faults and drops reach other clients' modules: only on request.
        status = KSN_ERR_REFUSED;
        return {{"error", "the crate server refuses control requests: start ksn-crated with "
                          "--control to allow them"}};
    }
    std::lock_guard lock(server_.mutex_);
    auto& crates = server_.population_.crates;
    if (cmd == "list") {
        json all = PopulationToJson(server_.population_);
        for (std::size_t c = 0; c < crates.size(); ++c) {
            for (auto& js : all["crates"][c]["slots"]) {
                if (!js.contains("ksn48")) {
                    continue;
                }
                const auto& state = server_.StateOf(c, js["slot"].get<std::size_t>() - 1U);
                js["open"] = state.owner != nullptr;
                js["refuse"] = state.refuse;
                js["stall"] = state.stall;
                js["limit"] = state.limit;
            }
        }
        return all;
    }
    // Every other command names one KSN48 module.
    const std::string serial = request.value("crate", "");
    const int slot = request.value("slot", 0);
    std::size_t crateIndex = crates.size();
    for (std::size_t c = 0; c < crates.size(); ++c) {
        if (crates[c].serial == serial) {
            crateIndex = c;
        }
    }
    if (crateIndex == crates.size() || slot < 1 || slot > kSlots ||
        !crates[crateIndex].slots[static_cast<std::size_t>(slot - 1)].ksn48) {
        status = KSN_ERR_NOT_FOUND;
        return {
            {"error", "no KSN48 module in crate \"" + serial + "\" slot " + std::to_string(slot)}};
    }
    auto& module = *crates[crateIndex].slots[static_cast<std::size_t>(slot - 1)].ksn48;
    auto& state = server_.StateOf(crateIndex, static_cast<std::size_t>(slot - 1));
    if (cmd == "signal") {
        const int channel = request.value("channel", 0);
        if (channel < 1 || channel > kChannels || !request.contains("signal") ||
            !request["signal"].is_object()) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", "signal needs a channel 1..8 and a signal object"}};
        }
        auto& ch = module.channels[static_cast<std::size_t>(channel - 1)];
        ApplyChannelJson(request["signal"], ch, "channel " + std::to_string(channel));
        ++state.generation;
        return ChannelToJson(ch);
    }
    if (cmd == "refuse" || cmd == "stall") {
        if (!request.contains("on") || !request["on"].is_boolean()) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", cmd + " needs \"on\": true or false"}};
        }
        (cmd == "refuse" ? state.refuse : state.stall) = request["on"].get<bool>();
        return {{cmd, request["on"]}};
    }
    if (cmd == "limit") {
        if (!request.contains("words") || !request["words"].is_number_integer() ||
            request["words"].get<int64_t>() < -1) {
            status = KSN_ERR_INVALID_ARGUMENT;
            return {{"error", "limit needs \"words\": a count, or -1 for none"}};
        }
        state.limit = request["words"].get<int64_t>();
        return {{"limit", state.limit}};
    }
    if (cmd == "drop") {
        const bool had = state.owner != nullptr;
        if (had) {
            state.owner->Interrupt();
        }
        return {{"dropped", had}};
    }
    status = KSN_ERR_INVALID_ARGUMENT;
    return {{"error", "unknown command \"" + cmd + "\""}};
}

Server::Server(Population population, ServerOptions options)
    : population_(std::move(population)), options_(options), modules_(population_.crates.size())
{}

Server::~Server()
{
    for (auto& s : clients_) {
        s->Interrupt();
    }
    clients_.clear();
    if (listenFd_ >= 0) {
        close(listenFd_);
    }
}

Server::ModuleState& Server::StateOf(std::size_t crate, std::size_t slot)
{
    return modules_[crate][slot];
}

void Server::Listen()
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(options_.port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port) +
                                 ": " + std::strerror(errno));
    }
    if (listen(listenFd_, 64) != 0) {
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    }
    socklen_t len = sizeof sa;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

void Server::Reap(bool all)
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (all || (*it)->Done()) {
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::Refuse(int fd)
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

bool Server::ServeRefusal(Refusal& r, short revents)
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

void Server::Accept(Clock::time_point& pausedUntil)
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
    if (clients_.size() >= options_.maxClients) {
        Refuse(fd);
        return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::unique_ptr<Client> client;
    try {
        client = std::make_unique<Client>(*this, fd);
        client->Start();
        clients_.push_back(std::move(client));
    } catch (const std::exception&) {
        // No thread or no memory for one more client: refuse it.
        Refuse(client ? client->TakeSocket() : fd);
        pausedUntil = proto::DeadlineIn(kAcceptPauseMs);
    }
}

void Server::Run(int wakeFd)
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
        int timeout = 1000;  // the clients that ended are reaped at least this often
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
    for (auto& s : clients_) {
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

}  // namespace ksn::sim
