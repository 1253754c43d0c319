#pragma once
// The simulated crate server: accepts clients on 127.0.0.1, serves each on
// its own thread, and holds the population, module ownership and the
// faults set at run time.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Population.h"

namespace ksn::sim {

struct ServerOptions {
    uint16_t port = 11111;  // 0: any free port
    bool fast = false;      // no real-time pacing
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

    ModuleState& StateOf(std::size_t crate, std::size_t slot);
    void Reap(bool all);

    Population population_;
    ServerOptions options_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::vector<std::array<ModuleState, kSlots>> modules_;
    std::list<std::unique_ptr<Client>> clients_;
    std::atomic<uint64_t> nextSeed_{1};
};

}  // namespace ksn::sim
