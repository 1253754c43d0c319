#pragma once
// The simulated crate server: accepts clients on 127.0.0.1, serves each on
// its own thread, and holds the population, module ownership and the
// faults set at run time.
//
// Limits that keep it serving whatever local clients do: at most
// maxClients connections (and so client threads) at once, the rest refused
// with KSN_ERR_SERVER_FULL; of a request's payload only what its opcode can
// use is kept, read as it arrives; a request that has begun must arrive
// whole within requestTimeoutMs; out of descriptors, it refuses with the one
// it keeps in reserve and pauses accepting instead of spinning.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Population.h"
#include "Protocol.h"

namespace ksn::sim {

struct ServerOptions {
    uint16_t port = 11111;  // 0: any free port
    bool fast = false;      // no real-time pacing
    bool control = false;   // accept control requests that change anything
    std::size_t maxClients = 256;
    uint32_t requestTimeoutMs = 10000;
};

class Client;

class Server {
public:
    Server(Population population, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; throws std::runtime_error with the reason.
    void Listen();
    uint16_t Port() const { return port_; }

    // Serves until wakeFd becomes readable (a signal), then ends every
    // client connection and returns.
    void Run(int wakeFd);

private:
    friend class Client;

    // Faults and ownership of one KSN48 module, guarded by mutex_.
    struct ModuleState {
        Client* owner = nullptr;
        bool refuse = false;
        bool stall = false;
        int64_t limit = -1;       // words per receive at most; -1 no limit
        uint64_t generation = 0;  // bumped on every signal change
    };

    // A connection beyond the limits, answered with KSN_ERR_SERVER_FULL.
    struct Refusal {
        int fd = -1;
        proto::Clock::time_point until{};
        std::array<uint8_t, proto::kHeaderSize> head{};
        std::size_t got = 0;
        bool answered = false;
    };

    ModuleState& StateOf(std::size_t crate, std::size_t slot);
    void Reap(bool all);
    // Accepts one waiting client; *pausedUntil is moved on when it cannot.
    void Accept(proto::Clock::time_point& pausedUntil);
    void Refuse(int fd);
    // Moves a refusal on after poll; false when it is over (fd closed).
    bool ServeRefusal(Refusal& r, short revents);

    Population population_;
    ServerOptions options_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::vector<std::array<ModuleState, kSlots>> modules_;
    std::list<std::unique_ptr<Client>> clients_;
    std::list<Refusal> refusals_;
    int spareFd_ = -1;  // kept to refuse a client when descriptors run out
    std::atomic<uint64_t> nextSeed_{1};
};

}  // namespace ksn::sim
