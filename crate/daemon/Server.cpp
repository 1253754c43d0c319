#include "Server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "Listener.h"

namespace ksn::sim {

std::size_t ServerState::FindCrate(const std::string& serial) const
{
    const auto& crates = population.crates;
    for (std::size_t c = 0; c < crates.size(); ++c) {
        if (crates[c].serial == serial) {
            return c;
        }
    }
    return crates.size();
}

Server::Server(Population population, ServerOptions options)
    : state_(std::move(population), options)
{}

Server::~Server()
{
    if (listenFd_ >= 0) {
        close(listenFd_);
    }
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
    sa.sin_port = htons(state_.options.port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" +
                                 std::to_string(state_.options.port) + ": " +
                                 std::strerror(errno));
    }
    if (listen(listenFd_, 64) != 0) {
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    }
    socklen_t len = sizeof sa;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

void Server::Run(int wakeFd)
{
    Listener listener(state_, listenFd_);
    listener.Run(wakeFd);
}

}  // namespace ksn::sim
