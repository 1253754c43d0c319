#pragma once
// The accept loop: takes clients from the listening socket and gives each a
// session, within the limits that keep the server serving whatever local
// clients do. At most maxClients sessions (and so client threads) at once,
// the rest refused with KSN_ERR_SERVER_FULL; out of descriptors, it refuses
// with the one it keeps in reserve and pauses accepting instead of spinning.

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

#include "Protocol.h"
#include "ServerState.h"
#include "Session.h"

namespace ksn::sim {

class Listener {
public:
    Listener(ServerState& server, int listenFd) : server_(server), listenFd_(listenFd) {}
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Serves until wakeFd becomes readable (a signal), then ends every
    // session and returns.
    void Run(int wakeFd);

private:
    // A connection beyond the limits, answered with KSN_ERR_SERVER_FULL.
    struct Refusal {
        int fd = -1;
        proto::Clock::time_point until{};
        std::array<uint8_t, proto::kHeaderSize> head{};
        std::size_t got = 0;
        bool answered = false;
    };

    void Reap(bool all);
    // Accepts one waiting client; pausedUntil is moved on when it cannot.
    void Accept(proto::Clock::time_point& pausedUntil);
    void Refuse(int fd);
    // Moves a refusal on after poll; false when it is over (fd closed).
    bool ServeRefusal(Refusal& r, short revents);
    void EndAll();

    ServerState& server_;
    int listenFd_;
    std::list<std::unique_ptr<Session>> sessions_;
    std::list<Refusal> refusals_;
    int spareFd_ = -1;  // kept to refuse a client when descriptors run out
};

}  // namespace ksn::sim
