#include "MqttBroker.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ksn::test {

namespace {

using namespace std::chrono_literals;

constexpr auto StartTimeout = 10s;

std::uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

std::string MqttBroker::BrokerPath()
{
    return "/usr/sbin/mosquitto";
}

MqttBroker::MqttBroker(std::optional<Login> login, bool tls) : tls_(tls)
{
    const char* temp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/ksn-mqtt-broker-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make the broker's folder");
    }
    directory_ = pattern;
    ::chmod(directory_.c_str(), 0755);
    port_ = FreePort();
    configPath_ = directory_ + "/mosquitto.conf";
    std::ofstream config(configPath_);
    config << "listener " << port_ << " 127.0.0.1\n"
           << "persistence false\n"
           << "log_dest none\n";
    if (::geteuid() == 0) {
        // Root would otherwise become the broker's own user, who may not
        // read this folder.
        config << "user root\n";
    }
    if (tls_) {
        MakeCertificates();
        config << "cafile " << CaFile() << "\ncertfile " << directory_ << "/server.pem\nkeyfile "
               << directory_ << "/server.key\n";
    }
    if (login) {
        const std::string passwords = directory_ + "/passwords";
        const std::string command = "/usr/bin/mosquitto_passwd -c -b '" + passwords + "' '" +
                                    login->Username + "' '" + login->Password + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("mosquitto_passwd failed");
        }
        config << "allow_anonymous false\npassword_file " << passwords << "\n";
    } else {
        config << "allow_anonymous true\n";
    }
    config.close();
    Launch();
}

void MqttBroker::MakeCertificates()
{
    const std::string d = "'" + directory_ + "'";
    const std::string quiet = " >/dev/null 2>&1";
    const std::string commands[] = {
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ksn-test-ca -keyout " + d +
            "/ca.key -out " + d + "/ca.pem" + quiet,
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ksn-other-ca -keyout " + d +
            "/other-ca.key -out " + d + "/other-ca.pem" + quiet,
        "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + d +
            "/server.key -out " + d + "/server.csr" + quiet,
        "printf 'subjectAltName=IP:127.0.0.1\\n' > " + d + "/server.ext",
        "openssl x509 -req -days 2 -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
            "/ca.key -CAcreateserial -extfile " + d + "/server.ext -out " + d + "/server.pem" +
            quiet,
    };
    for (const std::string& command : commands) {
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl failed: " + command);
        }
    }
}

MqttBroker::~MqttBroker()
{
    process_.reset();
    std::system(("rm -rf '" + directory_ + "'").c_str());
}

std::string MqttBroker::Address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void MqttBroker::Launch()
{
    // A port just let go can take a moment to come free.
    const auto deadline = std::chrono::steady_clock::now() + StartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        // Its standard error only says that root should not run it.
        process_ = std::make_unique<ChildProcess>(
            "/bin/sh", std::vector<std::string>{"-c", "exec " + BrokerPath() + " -c '" +
                                                          configPath_ + "' 2>/dev/null"});
        while (std::chrono::steady_clock::now() < deadline && process_->Running()) {
            if (Accepts(port_)) {
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
        process_.reset();
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("mosquitto did not start on port " + std::to_string(port_));
}

void MqttBroker::Kill()
{
    process_.reset();  // SIGKILL and reaped
}

void MqttBroker::Start()
{
    process_.reset();
    Launch();
}

MqttSubscriber::MqttSubscriber(std::uint16_t port, const std::string& filter,
                               const std::string& username, const std::string& password,
                               const std::string& caFile)
    : filter_(filter)
{
    InitLibrary();
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) {
        throw std::runtime_error("mosquitto_new failed");
    }
    mosquitto_connect_callback_set(client_, &MqttSubscriber::OnConnect);
    mosquitto_message_callback_set(client_, &MqttSubscriber::OnMessage);
    mosquitto_subscribe_callback_set(client_, &MqttSubscriber::OnSubscribe);
    if (!username.empty()) {
        mosquitto_username_pw_set(client_, username.c_str(), password.c_str());
    }
    if (!caFile.empty()) {
        mosquitto_tls_set(client_, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(client_);
        throw std::runtime_error("the subscriber cannot connect");
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, StartTimeout, [this] { return subscribed_; })) {
        lock.unlock();
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
        throw std::runtime_error("the subscription was not acknowledged");
    }
}

MqttSubscriber::~MqttSubscriber()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

void MqttSubscriber::OnConnect(mosquitto* client, void* self, int result)
{
    if (result == 0) {
        mosquitto_subscribe(client, nullptr, static_cast<MqttSubscriber*>(self)->filter_.c_str(),
                            1);
    }
}

void MqttSubscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*)
{
    auto& subscriber = *static_cast<MqttSubscriber*>(self);
    {
        std::lock_guard lock(subscriber.mutex_);
        subscriber.subscribed_ = true;
    }
    subscriber.changed_.notify_all();
}

void MqttSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto& subscriber = *static_cast<MqttSubscriber*>(self);
    MqttMessage got;
    got.Topic = message->topic;
    got.Payload.assign(static_cast<const char*>(message->payload),
                       static_cast<std::size_t>(message->payloadlen));
    got.Retained = message->retain;
    {
        std::lock_guard lock(subscriber.mutex_);
        subscriber.messages_.push_back(std::move(got));
    }
    subscriber.changed_.notify_all();
}

std::vector<MqttMessage> MqttSubscriber::Messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<MqttMessage> MqttSubscriber::On(const std::string& topic) const
{
    std::vector<MqttMessage> on;
    for (const MqttMessage& m : Messages()) {
        if (m.Topic == topic) {
            on.push_back(m);
        }
    }
    return on;
}

std::size_t MqttSubscriber::CountOn(const std::vector<MqttMessage>& messages,
                                    const std::string& topic)
{
    std::size_t n = 0;
    for (const MqttMessage& m : messages) {
        n += m.Topic == topic ? 1u : 0u;
    }
    return n;
}

bool MqttSubscriber::WaitFor(const std::function<bool(const std::vector<MqttMessage>&)>& test,
                             std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return test(messages_); });
}

}  // namespace ksn::test
