#pragma once
// The simulated crate server: accepts clients on 127.0.0.1 (Listener),
// serves each on its own thread (Session, whose opcode table holds every
// request), and holds the population, module ownership and the faults set
// at run time (ServerState, changed by the control requests of Control.h).
//
// Of a request's payload only what its opcode can use is kept, read as it
// arrives; a request that has begun must arrive whole within requestTimeoutMs.

#include <cstdint>

#include "Population.h"
#include "ServerState.h"

namespace ksn::sim {

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
    ServerState state_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace ksn::sim
