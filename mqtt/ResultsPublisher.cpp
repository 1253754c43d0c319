#include "ResultsPublisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace mqtt {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int KeepAliveSeconds = 30;
// libmosquitto connects again after a loss: first after a second, then
// doubling up to eight.
constexpr unsigned ReconnectDelaySeconds = 1;
constexpr unsigned ReconnectDelayMaxSeconds = 8;
// Frames handed to the connection and not yet on their way: few, so that a
// slow broker fills our bounded queue, not the library's unbounded one.
constexpr int MaxInflight = 16;
// A connection that has not come up by then is reported as an outage even
// without an error (a host that does not answer).
constexpr auto ConnectGrace = 3s;
constexpr auto SenderTick = 250ms;
constexpr auto OfflineWait = 1s;

constexpr std::string_view Online = "online";
constexpr std::string_view Offline = "offline";

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ErrorText(int result)
{
    if (result == MOSQ_ERR_ERRNO) {
        return std::generic_category().message(errno);
    }
    return mosquitto_strerror(result);
}

measure::ResultsLayout
FrameLayout(const std::array<bool, measure::FrameResult::ChannelCount>& channels,
            bool uncertainties)
{
    measure::ResultsLayout layout;
    layout.Channels = channels;
    layout.Syntax = measure::ResultsSyntax::Ndjson;
    layout.Uncertainties = uncertainties;
    return layout;
}

}  // namespace

std::size_t ResultsPublisher::MaxFrameLength()
{
    std::array<bool, measure::FrameResult::ChannelCount> all{};
    all.fill(true);
    return measure::ResultsWriter(FrameLayout(all, true), measure::ResultsFile()).MaxRowLength();
}

ResultsPublisher::ResultsPublisher(BrokerOptions options, std::string_view crateSerial, int slot)
    : options_(std::move(options)),
      queue_(std::max<std::size_t>(options_.QueueLength, 1), MaxFrameLength()),
      sendBuffer_(std::make_unique<char[]>(queue_.SlotSize()))
{
    CheckTopicPrefix(options_.TopicPrefix);
    if (options_.Qos < 0 || options_.Qos > 1) {
        throw OptionError("the QoS is 0 or 1");
    }
    base_ = options_.TopicPrefix + "/" + TopicLevel(crateSerial) + "/" + std::to_string(slot);
    frameTopic_ = base_ + "/frame";
    statusTopic_ = base_ + "/status";
    configTopic_ = base_ + "/config";

    InitLibrary();
    client_ =
        mosquitto_new(options_.ClientId.empty() ? nullptr : options_.ClientId.c_str(), true, this);
    if (client_ == nullptr) {
        throw std::runtime_error("cannot make an MQTT client: " +
                                 std::generic_category().message(errno));
    }
    const auto fail = [this](const std::string& what, int result) {
        mosquitto_destroy(client_);
        client_ = nullptr;
        throw std::runtime_error(what + ": " + ErrorText(result));
    };
    mosquitto_connect_callback_set(client_, &ResultsPublisher::OnConnect);
    mosquitto_disconnect_callback_set(client_, &ResultsPublisher::OnDisconnect);
    mosquitto_publish_callback_set(client_, &ResultsPublisher::OnPublish);
    mosquitto_log_callback_set(client_, &ResultsPublisher::OnLog);
    if (const int rc =
            mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(Offline.size()),
                               Offline.data(), options_.Qos, true);
        rc != MOSQ_ERR_SUCCESS) {
        fail("cannot set the last will on '" + statusTopic_ + "'", rc);
    }
    if (!options_.Username.empty()) {
        if (const int rc = mosquitto_username_pw_set(client_, options_.Username.c_str(),
                                                     options_.Password.c_str());
            rc != MOSQ_ERR_SUCCESS) {
            fail("cannot set the MQTT login", rc);
        }
    }
    if (!options_.TlsCaFile.empty()) {
        if (const int rc = mosquitto_tls_set(client_, options_.TlsCaFile.c_str(), nullptr, nullptr,
                                             nullptr, nullptr);
            rc != MOSQ_ERR_SUCCESS) {
            fail("cannot use the CA file '" + options_.TlsCaFile + "'", rc);
        }
    }
    mosquitto_reconnect_delay_set(client_, ReconnectDelaySeconds, ReconnectDelayMaxSeconds, true);

    disconnectedSince_ = Clock::now();
    // The first connect is the sender's: resolving the broker's name can
    // take long, and the caller may be the window's thread.
    nextConnect_ = Clock::now();
    sender_ = std::thread([this] { SendFrames(); });
}

ResultsPublisher::~ResultsPublisher()
{
    try {
        Close(500ms);
    } catch (...) {
        // Nothing to tell anyone at this point.
    }
}

void ResultsPublisher::BeginRun(
    const std::array<bool, measure::FrameResult::ChannelCount>& channels, std::string configJson,
    bool uncertainties)
{
    writer_.emplace(FrameLayout(channels, uncertainties), measure::ResultsFile());
    {
        std::lock_guard lock(stateMutex_);
        config_ = configJson;
    }
    if (connected_) {
        PublishRetained(configTopic_, configJson);
    }
}

void ResultsPublisher::Publish(const measure::FrameResult& frame) noexcept
{
    if (!writer_ || closed_) {
        return;
    }
    std::string_view row = writer_->FormatRow(frame);
    if (!row.empty() && row.back() == '\n') {
        row.remove_suffix(1);
    }
    if (row.empty()) {
        refused_.fetch_add(1);
        return;
    }
    queue_.Push(row);
}

std::uint64_t ResultsPublisher::FramesDropped() const noexcept
{
    return queue_.Dropped() + refused_.load();
}

bool ResultsPublisher::TryConnect()
{
    const int connect =
        mosquitto_connect_async(client_, options_.Host.c_str(), options_.Port, KeepAliveSeconds);
    if (connect != MOSQ_ERR_SUCCESS) {
        // Refused at once (no listener, unknown host): said now, tried again later.
        ReportOutage(ErrorText(connect));
        connectDelay_ =
            std::min(std::max(connectDelay_ * 2, std::chrono::seconds(ReconnectDelaySeconds)),
                     std::chrono::seconds(ReconnectDelayMaxSeconds));
        nextConnect_ = Clock::now() + connectDelay_;
        return false;
    }
    if (const int rc = mosquitto_loop_start(client_); rc != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error("cannot start the MQTT network thread: " + ErrorText(rc));
    }
    networkStarted_ = true;
    return true;
}

void ResultsPublisher::ConnectFirst()
{
    while (!networkStarted_ && !stopping_) {
        if (Clock::now() < nextConnect_) {
            std::this_thread::sleep_until(std::min(nextConnect_, Clock::now() + SenderTick));
        }
        if (!stopping_ && Clock::now() >= nextConnect_) {
            try {
                TryConnect();
            } catch (const std::exception& e) {
                AddReport(Report::Kind::Failure, e.what());
                return;
            }
        }
    }
}

void ResultsPublisher::SendFrames()
{
    ConnectFirst();
    char* buffer = sendBuffer_.get();
    while (!stopping_) {
        const std::size_t length = queue_.PopWhen(buffer, Clock::now() + SenderTick, [this] {
            return connected_.load() && inflight_.load() < MaxInflight && !stopping_.load();
        });
        if (length == 0) {
            bool silent = false;
            std::string reason;
            {
                std::lock_guard lock(stateMutex_);
                silent = !connected_ && !outageReported_ && !stopping_ &&
                         Clock::now() - disconnectedSince_ >= ConnectGrace;
                reason = lastError_.empty() ? std::string("no answer") : lastError_;
            }
            if (silent) {
                ReportOutage(reason);
            }
            continue;
        }
        inflight_.fetch_add(1);
        const int rc = mosquitto_publish(client_, nullptr, frameTopic_.c_str(),
                                         static_cast<int>(length), buffer, options_.Qos, false);
        if (rc == MOSQ_ERR_SUCCESS) {
            published_.fetch_add(1);
        } else {
            inflight_.fetch_sub(1);
            refused_.fetch_add(1);
        }
    }
}

void ResultsPublisher::OnConnect(mosquitto*, void* self, int result)
{
    auto& publisher = *static_cast<ResultsPublisher*>(self);
    if (result != 0) {
        publisher.ReportOutage(mosquitto_connack_string(result));
        return;
    }
    publisher.inflight_ = 0;
    publisher.PublishRetained(publisher.statusTopic_, std::string(Online));
    std::string config;
    bool wasOut = false;
    {
        std::lock_guard lock(publisher.stateMutex_);
        config = publisher.config_;
        wasOut = publisher.outageReported_;
        publisher.outageReported_ = false;
        if (wasOut) {
            publisher.reports_.push_back(
                {Report::Kind::Back, "the MQTT broker " + DescribeBroker(publisher.options_) +
                                         " is reached again; publishing goes on"});
        }
    }
    if (!config.empty()) {
        publisher.PublishRetained(publisher.configTopic_, config);
    }
    publisher.connected_ = true;
    publisher.queue_.Wake();
}

void ResultsPublisher::OnDisconnect(mosquitto*, void* self, int result)
{
    auto& publisher = *static_cast<ResultsPublisher*>(self);
    const bool was = publisher.connected_.exchange(false);
    publisher.inflight_ = 0;
    {
        std::lock_guard lock(publisher.stateMutex_);
        publisher.disconnectedSince_ = Clock::now();
    }
    if (result != 0 && !publisher.stopping_) {
        const std::string reason = result == MOSQ_ERR_CONN_LOST
                                       ? std::string("the connection was lost")
                                   : was ? "the connection was lost (" + ErrorText(result) + ")"
                                         : ErrorText(result);
        publisher.ReportOutage(reason);
    }
    publisher.queue_.Wake();
}

void ResultsPublisher::OnLog(mosquitto*, void* self, int level, const char* text)
{
    // The library says why a connection failed (a TLS certificate, say)
    // only in its log.
    if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) {
        return;
    }
    auto& publisher = *static_cast<ResultsPublisher*>(self);
    std::lock_guard lock(publisher.stateMutex_);
    publisher.lastError_ = text;
}

void ResultsPublisher::OnPublish(mosquitto*, void* self, int)
{
    auto& publisher = *static_cast<ResultsPublisher*>(self);
    int value = publisher.inflight_.load();
    while (value > 0 && !publisher.inflight_.compare_exchange_weak(value, value - 1)) {
    }
    publisher.queue_.Wake();
}

void ResultsPublisher::AddReport(Report::Kind kind, std::string text)
{
    std::lock_guard lock(stateMutex_);
    reports_.push_back({kind, std::move(text)});
}

void ResultsPublisher::ReportOutage(std::string reason)
{
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) {
        reason.pop_back();
    }
    std::lock_guard lock(stateMutex_);
    if (outageReported_) {
        return;
    }
    outageReported_ = true;
    reports_.push_back(
        {Report::Kind::Outage, "the MQTT broker " + DescribeBroker(options_) +
                                   " is not reachable: " + reason +
                                   "; frames are queued (the oldest dropped) and published when "
                                   "it is back"});
}

void ResultsPublisher::PublishRetained(const std::string& topic, const std::string& payload)
{
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), options_.Qos, true);
}

void ResultsPublisher::WaitInflight(Clock::time_point deadline)
{
    while (connected_ && (queue_.Size() > 0 || inflight_ > 0) && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
}

std::vector<ResultsPublisher::Report> ResultsPublisher::TakeReports()
{
    std::vector<Report> taken;
    std::lock_guard lock(stateMutex_);
    taken.swap(reports_);
    return taken;
}

void ResultsPublisher::Close(std::chrono::milliseconds drain)
{
    if (closed_ || client_ == nullptr) {
        return;
    }
    closed_ = true;
    WaitInflight(Clock::now() + drain);
    stopping_ = true;
    queue_.Wake();
    if (sender_.joinable()) {
        sender_.join();
    }
    if (connected_) {
        inflight_ = 1;  // the offline message
        PublishRetained(statusTopic_, std::string(Offline));
        const Clock::time_point deadline = Clock::now() + OfflineWait;
        while (connected_ && inflight_ > 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
    }
    mosquitto_disconnect(client_);
    if (networkStarted_) {
        mosquitto_loop_stop(client_, false);
    }
    connected_ = false;
    queue_.Clear();
    mosquitto_destroy(client_);
    client_ = nullptr;
}

}  // namespace mqtt
