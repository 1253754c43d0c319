#pragma once

#include "ScpiInstrument.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace scpi {

// Where the server listens: a numeric IPv4 address (or "localhost") and a
// port (0: one the system picks).
struct ListenAddress {
    std::string Host = "127.0.0.1";
    std::uint16_t Port = 5025;
};

// "HOST:PORT", "HOST" or ":PORT"; false when it is not one.
bool ParseListenAddress(std::string_view text, ListenAddress& address);

// The raw-socket server: newline-terminated messages from one client at a
// time, each executed by the instrument and answered with one line when it
// has queries. A second client is refused with one line and closed.
class ScpiServer {
public:
    // The longest message taken; a longer one is discarded with -363.
    static constexpr std::size_t InputLimit = 64 * 1024;

    // Binds and listens; throws std::runtime_error with the reason.
    ScpiServer(ScpiInstrument& instrument, const ListenAddress& address, std::ostream& log);
    ~ScpiServer();
    ScpiServer(const ScpiServer&) = delete;
    ScpiServer& operator=(const ScpiServer&) = delete;

    // The address bound, with the port the system picked.
    std::string Bound() const;
    bool Loopback() const noexcept { return loopback_; }

    // Serves until stopFd becomes readable (a signalfd, or a pipe in tests).
    void Serve(int stopFd);

private:
    // Reads what the client sent; false when it has gone.
    bool ReadClient(int stopFd);
    void ExecuteMessages(int stopFd);
    bool Send(const std::string& line);
    void DropClient();
    void RefuseNewcomer();

    ScpiInstrument& instrument_;
    std::ostream& log_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::string clientName_;
    std::string input_;
    bool discarding_ = false;  // skipping the rest of an overlong message
    bool loopback_ = true;
};

}  // namespace scpi
