#include "Session.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "Control.h"
#include "RawWord.h"
#include "ksnerror.h"

namespace ksn::sim {

using proto::Clock;
using proto::Opcode;
using proto::Reader;
using proto::Writer;

namespace {

constexpr int kNoReply = 1;  // handler result: the request stays unanswered (stall)
constexpr uint32_t kSendTimeoutMs = 10000;
// A reply buffer grown past this by a large answer is given back afterwards;
// a receive's stays, so that a stream does not allocate for every block.
constexpr std::size_t kKeptReplyBytes = 256U << 10U;

// What a request needs of its session before its handler runs.
enum Need : uint8_t {
    kNone = 0,
    kGreeted = 1U << 0U,     // after a Hello of our version, else KSN_ERR_STATE
    kOpen = 1U << 1U,        // a module open, else KSN_ERR_NOT_OPEN
    kConfigured = 1U << 2U,  // SetAdc done, else KSN_ERR_STATE
    kStopped = 1U << 3U,     // no acquisition running, else KSN_ERR_STATE
    kRunning = 1U << 4U,     // an acquisition running, else KSN_ERR_STATE
};
constexpr uint8_t kModuleNeeds = kOpen | kConfigured | kStopped | kRunning;

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

// A request whose one field is a crate serial: answer writes the reply of
// the crate it names.
template <typename Answer>
int AnswerCrate(ServerState& server, Reader& in, Answer answer)
{
    const std::string serial = in.Text(proto::kSerialField);
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    std::lock_guard lock(server.mutex);
    const std::size_t c = server.FindCrate(serial);
    if (c == server.population.crates.size()) {
        return KSN_ERR_NOT_FOUND;
    }
    answer(server.population.crates[c]);
    return KSN_OK;
}

}  // namespace

// Every request the server answers, at the index of its opcode: the longest
// payload it may carry (the server keeps no more), what it needs of the
// session, and its handler.
struct Session::OpcodeEntry {
    Opcode opcode;
    const char* name;
    uint32_t maxPayload;
    uint8_t needs;
    Handler handler;
};

struct Session::Opcodes {
    using Entry = OpcodeEntry;
    static constexpr std::size_t kCount = static_cast<std::size_t>(Opcode::Count);

    static constexpr std::array<Entry, kCount> kTable = {{
        {Opcode::Hello, "Hello", 2, kNone, &Session::OnHello},
        {Opcode::ListCrates, "ListCrates", 0, kGreeted, &Session::OnListCrates},
        {Opcode::CrateInfo, "CrateInfo", proto::kSerialField, kGreeted, &Session::OnCrateInfo},
        {Opcode::CrateModules, "CrateModules", proto::kSerialField, kGreeted,
         &Session::OnCrateModules},
        {Opcode::ModuleOpen, "ModuleOpen", proto::kSerialField + 2, kGreeted,
         &Session::OnModuleOpen},
        {Opcode::ModuleClose, "ModuleClose", 0, kGreeted | kOpen, &Session::OnModuleClose},
        {Opcode::SetAdc, "SetAdc", 4, kGreeted | kOpen | kStopped, &Session::OnSetAdc},
        {Opcode::Start, "Start", 0, kGreeted | kOpen | kConfigured | kStopped, &Session::OnStart},
        {Opcode::Stop, "Stop", 0, kGreeted | kOpen | kRunning, &Session::OnStop},
        {Opcode::Recv, "Recv", 8, kGreeted | kOpen | kRunning, &Session::OnRecv},
        {Opcode::Control, "Control", proto::kMaxControlText, kGreeted, &Session::OnControl},
    }};

    // Every opcode has its entry, in its place: a missing or misplaced one
    // leaves a slot whose opcode does not match its index (a missing one is
    // value-initialised, opcode 0, no name). The handler is not compared:
    // with UBSan, GCC cannot compare a member pointer in a constant expression.
    static constexpr bool Complete()
    {
        for (std::size_t i = 0; i < kCount; ++i) {
            if (static_cast<std::size_t>(kTable[i].opcode) != i || kTable[i].name == nullptr) {
                return false;
            }
        }
        return true;
    }
    // The entry of an opcode; nullptr for one we do not know.
    static const Entry* Find(uint16_t opcode)
    {
        // Here, where the table is complete as a class member.
        static_assert(Complete(), "every opcode needs its entry, at the index of its value");
        return opcode < kCount ? &kTable[opcode] : nullptr;
    }
};

Session::Session(ServerState& server, int fd) : server_(server), fd_(fd), seed_(server.nextSeed++)
{}

Session::~Session()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

void Session::Start()
{
    thread_ = std::thread([this] { Loop(); });
}

void Session::Interrupt()
{
    shutdown(fd_, SHUT_RDWR);
    {
        std::lock_guard lock(waitMutex_);
        closing_ = true;
    }
    wake_.notify_all();
}

int Session::TakeSocket()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Session::Loop()
{
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
        const auto deadline = proto::DeadlineIn(server_.options.requestTimeoutMs);
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
        const Opcodes::Entry* entry = Opcodes::Find(h.opcode);
        const uint32_t keep = std::min(h.payloadLength, entry ? entry->maxPayload : 0U);
        if (!ReadPayload(t, h.payloadLength, keep, payload, deadline)) {
            break;
        }
        reply.clear();
        const int status = entry && h.payloadLength == keep
                               ? Dispatch(*entry, payload, reply)
                               : static_cast<int>(KSN_ERR_PROTOCOL);
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

int Session::Dispatch(const OpcodeEntry& entry, const std::vector<uint8_t>& payload,
                      std::vector<uint8_t>& reply)
{
    if ((entry.needs & kGreeted) && !greeted_) {
        return KSN_ERR_STATE;
    }
    if (entry.needs & kModuleNeeds) {
        // Such requests carry fixed fields only: a malformed one is refused
        // as such before the state of the module is looked at.
        if (payload.size() != entry.maxPayload) {
            return KSN_ERR_PROTOCOL;
        }
        if (!open_) {
            return KSN_ERR_NOT_OPEN;
        }
        if (((entry.needs & kConfigured) && !module_.Configured()) ||
            ((entry.needs & kStopped) && module_.Running()) ||
            ((entry.needs & kRunning) && !module_.Running())) {
            return KSN_ERR_STATE;
        }
    }
    Writer out(reply);
    Reader in(payload);
    try {
        return (this->*entry.handler)(in, out);
    } catch (const std::exception&) {
        reply.clear();
        return KSN_ERR_INTERNAL;
    }
}

void Session::Release()
{
    if (open_) {
        std::lock_guard lock(server_.mutex);
        auto& state = server_.StateOf(crate_, slot_);
        if (state.owner == this) {
            state.owner = nullptr;
        }
    }
    open_ = false;
    module_.Reset();
}

const Ksn48Module& Session::Module() const
{
    return *server_.population.crates[crate_].slots[slot_].ksn48;
}

int Session::OnHello(Reader& in, Writer& out)
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

int Session::OnListCrates(Reader& in, Writer& out)
{
    if (!in.AtEnd()) {
        return KSN_ERR_PROTOCOL;
    }
    std::lock_guard lock(server_.mutex);
    out.U32(static_cast<uint32_t>(server_.population.crates.size()));
    for (const auto& c : server_.population.crates) {
        out.Text(c.serial, proto::kSerialField);
    }
    return KSN_OK;
}

int Session::OnCrateInfo(Reader& in, Writer& out)
{
    return AnswerCrate(server_, in, [&out](const Crate& c) {
        out.U8(c.type);
        out.U8(static_cast<uint8_t>(kSlots));
    });
}

int Session::OnCrateModules(Reader& in, Writer& out)
{
    return AnswerCrate(server_, in, [&out](const Crate& c) {
        for (const auto& s : c.slots) {
            out.U16(s.moduleId);
        }
    });
}

int Session::OnModuleOpen(Reader& in, Writer& out)
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
    std::lock_guard lock(server_.mutex);
    const std::size_t crateIndex = server_.FindCrate(serial);
    if (crateIndex == server_.population.crates.size()) {
        return KSN_ERR_NOT_FOUND;
    }
    const Slot& s = server_.population.crates[crateIndex].slots[slot - 1U];
    if (!s.ksn48) {
        return KSN_ERR_NOT_MODULE;
    }
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
    module_.Reset();
    out.Text(s.ksn48->name, proto::kNameField);
    out.Text(s.ksn48->serial, proto::kSerialField);
    out.U16(s.ksn48->firmware);
    return KSN_OK;
}

int Session::OnModuleClose(Reader&, Writer&)
{
    Release();
    return KSN_OK;
}

int Session::OnSetAdc(Reader& in, Writer&)
{
    const uint8_t mask = in.U8();
    const uint8_t rate = in.U8();
    const uint8_t format = in.U8();
    const uint8_t current = in.U8();
    if (mask == 0 || rate > raw::kMaxRateCode || format > 1 || current > 1) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    module_.Configure(mask, rate, format == 1);
    return KSN_OK;
}

int Session::OnStart(Reader&, Writer&)
{
    std::lock_guard lock(server_.mutex);
    module_.Start(Module().channels, server_.StateOf(crate_, slot_).generation, seed_++);
    return KSN_OK;
}

int Session::OnStop(Reader&, Writer&)
{
    module_.Stop();
    return KSN_OK;
}

int Session::OnRecv(Reader& in, Writer& out)
{
    const uint32_t count = in.U32();
    const uint32_t timeoutMs = in.U32();
    if (count == 0 || count > proto::kMaxRecvWords) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    uint64_t deliver = count;
    {
        std::lock_guard lock(server_.mutex);
        const auto& state = server_.StateOf(crate_, slot_);
        if (state.stall) {
            return kNoReply;
        }
        if (state.limit >= 0 && static_cast<uint64_t>(state.limit) < deliver) {
            deliver = static_cast<uint64_t>(state.limit);
        }
        if (!module_.Follows(state.generation)) {
            module_.Renew(Module().channels, state.generation, seed_++);
        }
    }
    if (!server_.options.fast && deliver > 0) {
        const auto ready = module_.ReadyAt(deliver);
        const auto deadline = proto::DeadlineIn(timeoutMs);
        {
            std::unique_lock lock(waitMutex_);
            wake_.wait_until(lock, std::min(ready, deadline), [this] { return closing_; });
            if (closing_) {
                return KSN_ERR_CONNECTION_LOST;
            }
        }
        deliver = std::min(deliver, module_.Available(Clock::now()));
        if (deliver == 0) {
            return KSN_ERR_TIMEOUT;
        }
    }
    const auto n = static_cast<uint32_t>(deliver);
    module_.Deliver(n, words_);
    out.U32(n);
    out.Words(words_.data(), n);
    return KSN_OK;
}

int Session::OnControl(Reader& in, Writer& out)
{
    std::string text(in.Remaining(), '\0');
    if (!text.empty()) {
        std::memcpy(text.data(), in.Take(text.size()), text.size());
    }
    int status = KSN_OK;
    const std::string body = AnswerControl(server_, text, status);
    out.Bytes(body.data(), body.size());
    return status;
}

}  // namespace ksn::sim
