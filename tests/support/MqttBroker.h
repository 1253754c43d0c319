#pragma once
// A mosquitto broker of a test's own on a free loopback port, with a config
// file of its own, and a subscriber that records what the broker hands out.

#include "Process.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace ksn::test {

class MqttBroker {
public:
    struct Login {
        std::string Username;
        std::string Password;
    };
    // With a login: anonymous clients are refused and only that user gets in.
    // Throws std::runtime_error when the broker does not come up.
    // With tls: the listener talks TLS only, with a certificate for
    // 127.0.0.1 signed by a CA made for the broker (CaFile); OtherCaFile is
    // a CA that signed nothing of it. Needs openssl.
    explicit MqttBroker(std::optional<Login> login = std::nullopt, bool tls = false);
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string Address() const;
    bool Running() const { return process_ != nullptr; }
    std::string CaFile() const { return directory_ + "/ca.pem"; }
    std::string OtherCaFile() const { return directory_ + "/other-ca.pem"; }

    // SIGKILL: the broker dies, its clients see the connection drop.
    void Kill();
    // Starts it again on the same port.
    void Start();

    static std::string BrokerPath();

private:
    void Launch();
    void MakeCertificates();

    std::string directory_;
    bool tls_ = false;
    std::string configPath_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// One message as a subscriber got it.
struct MqttMessage {
    std::string Topic;
    std::string Payload;
    bool Retained = false;
};

// A libmosquitto client subscribed to a topic filter on a broker; records
// every message.
class MqttSubscriber {
public:
    // Returns once the subscription is acknowledged; throws
    // std::runtime_error when it is not within a few seconds.
    MqttSubscriber(std::uint16_t port, const std::string& filter, const std::string& username = {},
                   const std::string& password = {}, const std::string& caFile = {});
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    std::vector<MqttMessage> Messages() const;
    std::vector<MqttMessage> On(const std::string& topic) const;
    // Of messages (in a WaitFor test): how many are on topic.
    static std::size_t CountOn(const std::vector<MqttMessage>& messages, const std::string& topic);
    // Waits until test holds for the messages so far; false at the timeout.
    // test runs under the subscriber's lock: it must not call the subscriber.
    bool WaitFor(const std::function<bool(const std::vector<MqttMessage>&)>& test,
                 std::chrono::milliseconds timeout) const;

private:
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnSubscribe(mosquitto*, void* self, int, int, const int*);
    static void OnConnect(mosquitto*, void* self, int result);

    mosquitto* client_ = nullptr;
    std::string filter_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<MqttMessage> messages_;
    bool subscribed_ = false;
};

}  // namespace ksn::test
