#pragma once
// A relay between the crate libraries of this process and a ksn-crated,
// which can withhold or garble single replies, and act just before a chosen
// request reaches the server (to stop the server at that moment, say).
// While it exists, KSN_CRATE_PORT points the libraries at it.

#include "Protocol.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ksn::test {

class CrateProxy {
public:
    enum class Action {
        Withhold,  // the reply never reaches the client
        Corrupt,   // the reply arrives, but makes no sense
    };

    // Listens on a free loopback port and relays to serverPort.
    explicit CrateProxy(std::uint16_t serverPort);
    ~CrateProxy();
    CrateProxy(const CrateProxy&) = delete;
    CrateProxy& operator=(const CrateProxy&) = delete;

    std::uint16_t Port() const { return port_; }

    // The occurrence-th reply (from 1) to a request with this opcode, on any
    // connection.
    void OnReply(proto::Opcode opcode, int occurrence, Action action);
    // The number-th reply of all (from 1).
    void OnReplyNumber(int number, Action action);
    // Runs hook (on the proxy's thread) just before the occurrence-th request
    // with this opcode is passed on to the server.
    void BeforeRequest(proto::Opcode opcode, int occurrence, std::function<void()> hook);

    // Requests with this opcode seen so far.
    int Requests(proto::Opcode opcode) const;

private:
    struct Rule {
        std::optional<std::uint16_t> opcode;  // none: count every reply
        int occurrence = 1;
        Action action = Action::Withhold;
        std::function<void()> hook;  // request rules
    };
    class Session;

    void AcceptLoop();
    // What happens to a whole message on its way; false when it is dropped.
    bool PassRequest(const proto::Header& header);
    bool PassReply(proto::Header& header, std::vector<std::uint8_t>& payload);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t serverPort_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<Rule> replyRules_;
    std::vector<Rule> requestRules_;
    std::vector<int> requestCounts_;
    std::vector<int> replyCounts_;
    int replies_ = 0;
    std::vector<std::unique_ptr<Session>> sessions_;
    bool hadPortVariable_ = false;
    std::string oldPortVariable_;
};

}  // namespace ksn::test
