// The publisher against a mosquitto broker of the test's own: every frame a
// message with the results log's values, the retained status and config, a
// broker that goes away or is not there, a login, and a measurement thread
// that allocates nothing to publish.
#include "CountingAllocator.h"
#include "CycleHost.h"
#include "CycleResults.h"
#include "FakeModule.h"
#include "MqttBroker.h"
#include "ResultsPublisher.h"
#include "RunDescription.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <thread>

namespace {

using ksn::test::MqttBroker;
using ksn::test::MqttMessage;
using ksn::test::MqttSubscriber;
using measure::FrameResult;
using measure::ReadingStatus;
using namespace std::chrono_literals;

constexpr auto Wait = 15s;
constexpr std::array<bool, 8> Channels13 = {true, false, true, false, false, false, false, false};

mqtt::BrokerOptions Options(const MqttBroker& broker)
{
    mqtt::BrokerOptions options;
    options.Host = "127.0.0.1";
    options.Port = broker.Port();
    return options;
}

FrameResult Frame(std::uint64_t n)
{
    FrameResult frame;
    frame.Time =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1714566896000 + n));
    frame.Frame = n;
    frame.Channels[0].Status = ReadingStatus::Ok;
    frame.Channels[0].Voltage = 0.001 * static_cast<double>(n);
    frame.Channels[0].Frequency = 1000.0;
    frame.Channels[0].Phase = 0.0;
    frame.Channels[2].Status = ReadingStatus::Short;
    return frame;
}

std::size_t Count(const std::vector<MqttMessage>& messages, const std::string& topic)
{
    std::size_t n = 0;
    for (const MqttMessage& m : messages) {
        n += m.Topic == topic ? 1u : 0u;
    }
    return n;
}

// Waits until the publisher has said something; all it said so far.
using Report = mqtt::ResultsPublisher::Report;

std::vector<Report> ReportsWithin(mqtt::ResultsPublisher& publisher,
                                  std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<Report> reports;
    for (;;) {
        for (auto& r : publisher.TakeReports()) {
            reports.push_back(std::move(r));
        }
        if (!reports.empty() || std::chrono::steady_clock::now() >= deadline) {
            return reports;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool WaitConnected(const mqtt::ResultsPublisher& publisher)
{
    const auto deadline = std::chrono::steady_clock::now() + Wait;
    while (!publisher.Connected() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    return publisher.Connected();
}

TEST(Publisher, EveryFrameIsOneMessageWithTheLogsObject)
{
    MqttBroker broker;
    MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    const std::string base = "ksn48/KSN5-0042/3";
    {
        mqtt::ResultsPublisher publisher(Options(broker), "KSN5-0042", 3);
        EXPECT_EQ(publisher.TopicBase(), base);
        publisher.BeginRun(Channels13, R"({"rate_Hz":78125})");
        ASSERT_TRUE(WaitConnected(publisher));
        for (std::uint64_t n = 1; n <= 20; ++n) {
            publisher.Publish(Frame(n));
        }
        ASSERT_TRUE(subscriber.WaitFor(
            [&](const auto& m) { return Count(m, base + "/frame") == 20; }, Wait));
        publisher.Close();
        EXPECT_EQ(publisher.FramesPublished(), 20u);
        EXPECT_EQ(publisher.FramesDropped(), 0u);
        EXPECT_TRUE(publisher.TakeReports().empty());
    }
    // The same object the results log writes, line end aside, in order.
    measure::ResultsLayout layout;
    layout.Channels = Channels13;
    layout.Syntax = measure::ResultsSyntax::Ndjson;
    measure::ResultsWriter writer(layout, measure::ResultsFile());
    const std::vector<MqttMessage> frames = subscriber.On(base + "/frame");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string row(writer.FormatRow(Frame(i + 1)));
        row.pop_back();
        EXPECT_EQ(frames[i].Payload, row);
        EXPECT_FALSE(frames[i].Retained);
        const nlohmann::json object = nlohmann::json::parse(frames[i].Payload);
        EXPECT_EQ(object["frame"], i + 1);
        EXPECT_EQ(object["ch3_status"], "short");
        EXPECT_TRUE(object["ch3_mV"].is_null());
    }
    // online, then offline at the clean end.
    ASSERT_TRUE(
        subscriber.WaitFor([&](const auto& m) { return Count(m, base + "/status") == 2; }, Wait));
    const std::vector<MqttMessage> status = subscriber.On(base + "/status");
    EXPECT_EQ(status[0].Payload, "online");
    EXPECT_EQ(status[1].Payload, "offline");
    const std::vector<MqttMessage> config = subscriber.On(base + "/config");
    ASSERT_FALSE(config.empty());
    EXPECT_EQ(config.back().Payload, R"({"rate_Hz":78125})");

    // A consumer that comes later still learns the state and the run.
    MqttSubscriber late(broker.Port(), base + "/+");
    ASSERT_TRUE(late.WaitFor([](const auto& m) { return m.size() >= 2; }, Wait));
    for (const MqttMessage& m : late.Messages()) {
        EXPECT_TRUE(m.Retained) << m.Topic;
        if (m.Topic == base + "/status") {
            EXPECT_EQ(m.Payload, "offline");
        }
    }
    EXPECT_EQ(late.On(base + "/frame").size(), 0u);
}

TEST(Publisher, ABrokerThatGoesAwayIsReportedOnceAndPublishingResumes)
{
    MqttBroker broker;
    mqtt::BrokerOptions options = Options(broker);
    options.QueueLength = 8;
    mqtt::ResultsPublisher publisher(options, "KSN5-0042", 5);
    publisher.BeginRun(Channels13, R"({"run":1})");
    ASSERT_TRUE(WaitConnected(publisher));
    publisher.Publish(Frame(1));
    // Frame 1 must have left the queue before the broker goes, or it counts
    // among the dropped ones.
    const auto taken = std::chrono::steady_clock::now() + Wait;
    while ((publisher.FramesPublished() < 1 || publisher.FramesQueued() > 0) &&
           std::chrono::steady_clock::now() < taken) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(publisher.FramesPublished(), 1u);

    broker.Kill();
    const auto gone = std::chrono::steady_clock::now() + Wait;
    while (publisher.Connected() && std::chrono::steady_clock::now() < gone) {
        std::this_thread::sleep_for(10ms);
    }
    // Frames while it is away: the queue keeps the newest eight.
    for (std::uint64_t n = 2; n <= 21; ++n) {
        publisher.Publish(Frame(n));
    }
    std::vector<Report> reports = ReportsWithin(publisher, Wait);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].Text.find("not reachable"), std::string::npos) << reports[0].Text;
    EXPECT_NE(reports[0].Text.find(broker.Address()), std::string::npos) << reports[0].Text;
    EXPECT_EQ(reports[0].What, Report::Kind::Outage);
    // Failed reconnects say nothing more.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(publisher.TakeReports().empty());

    broker.Start();
    MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    ASSERT_TRUE(WaitConnected(publisher));
    reports = ReportsWithin(publisher, Wait);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].Text.find("reached again"), std::string::npos) << reports[0].Text;
    EXPECT_EQ(reports[0].What, Report::Kind::Back);
    // The queue's newest frames, then new ones.
    publisher.Publish(Frame(22));
    ASSERT_TRUE(subscriber.WaitFor(
        [](const auto& m) { return Count(m, "ksn48/KSN5-0042/5/frame") == 9; }, Wait));
    const std::vector<MqttMessage> frames = subscriber.On("ksn48/KSN5-0042/5/frame");
    EXPECT_EQ(nlohmann::json::parse(frames.front().Payload)["frame"], 14);
    EXPECT_EQ(nlohmann::json::parse(frames.back().Payload)["frame"], 22);
    EXPECT_EQ(publisher.FramesDropped(), 12u);
    // The new broker knows nothing retained of the old one: status and
    // config come again with the new connection.
    ASSERT_TRUE(subscriber.WaitFor(
        [](const auto& m) {
            return Count(m, "ksn48/KSN5-0042/5/status") >= 1 &&
                   Count(m, "ksn48/KSN5-0042/5/config") >= 1;
        },
        Wait));
    EXPECT_EQ(subscriber.On("ksn48/KSN5-0042/5/status").front().Payload, "online");
    EXPECT_EQ(subscriber.On("ksn48/KSN5-0042/5/config").front().Payload, R"({"run":1})");
}

TEST(Publisher, ABrokerAbsentAtTheStartIsReportedOnceAndReachedLater)
{
    std::optional<MqttBroker> broker(std::in_place);
    const mqtt::BrokerOptions options = Options(*broker);
    broker->Kill();
    mqtt::ResultsPublisher publisher(options, "KSN5-0042", 3);
    publisher.BeginRun(Channels13, "{}");
    publisher.Publish(Frame(1));
    std::vector<Report> reports = ReportsWithin(publisher, Wait);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].Text.find("not reachable"), std::string::npos) << reports[0].Text;
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(publisher.TakeReports().empty());

    broker->Start();
    ASSERT_TRUE(WaitConnected(publisher)) << "no reconnection after an absent start";
    MqttSubscriber subscriber(broker->Port(), "ksn48/#");
    publisher.Publish(Frame(2));
    EXPECT_TRUE(subscriber.WaitFor(
        [](const auto& m) { return Count(m, "ksn48/KSN5-0042/3/frame") == 2; }, Wait));
}

TEST(Publisher, ClosingWithoutABrokerIsQuick)
{
    std::optional<MqttBroker> broker(std::in_place);
    const mqtt::BrokerOptions options = Options(*broker);
    broker.reset();
    mqtt::ResultsPublisher publisher(options, "KSN5-0042", 3);
    publisher.BeginRun(Channels13, "{}");
    publisher.Publish(Frame(1));
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    publisher.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(publisher.FramesPublished(), 0u);
    EXPECT_EQ(publisher.FramesDropped(), 1u);
}

TEST(Publisher, ALoginTheBrokerRefusesIsReported)
{
    MqttBroker broker(MqttBroker::Login{"bench", "right"});
    mqtt::BrokerOptions options = Options(broker);
    options.Username = "bench";
    options.Password = "wrong";
    {
        mqtt::ResultsPublisher refused(options, "KSN5-0042", 3);
        const std::vector<Report> reports = ReportsWithin(refused, Wait);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].Text.find("not reachable"), std::string::npos) << reports[0].Text;
        EXPECT_FALSE(refused.Connected());
    }
    options.Password = "right";
    mqtt::ResultsPublisher accepted(options, "KSN5-0042", 3);
    EXPECT_TRUE(WaitConnected(accepted));
}

TEST(Publisher, TlsTrustsTheGivenCaAndNoOther)
{
    MqttBroker broker(std::nullopt, true);
    MqttSubscriber subscriber(broker.Port(), "ksn48/#", {}, {}, broker.CaFile());
    mqtt::BrokerOptions options = Options(broker);
    options.TlsCaFile = broker.OtherCaFile();
    {
        mqtt::ResultsPublisher untrusting(options, "KSN5-0042", 3);
        const std::vector<Report> reports = ReportsWithin(untrusting, Wait);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].Text.find("not reachable"), std::string::npos) << reports[0].Text;
        EXPECT_FALSE(untrusting.Connected());
        EXPECT_TRUE(reports[0].Text.find("TLS") != std::string::npos ||
                    reports[0].Text.find("certificate") != std::string::npos)
            << reports[0].Text;
    }
    options.TlsCaFile = broker.CaFile();
    mqtt::ResultsPublisher publisher(options, "KSN5-0042", 3);
    publisher.BeginRun(Channels13, "{}");
    ASSERT_TRUE(WaitConnected(publisher));
    publisher.Publish(Frame(1));
    ASSERT_TRUE(subscriber.WaitFor(
        [](const auto& m) { return Count(m, "ksn48/KSN5-0042/3/frame") == 1; }, Wait));
    EXPECT_TRUE(publisher.TakeReports().empty());
}

TEST(Publisher, TheCrateSerialCannotLeaveItsTopicLevel)
{
    MqttBroker broker;
    MqttSubscriber subscriber(broker.Port(), "#");
    mqtt::BrokerOptions options = Options(broker);
    options.TopicPrefix = "plant/line2";
    mqtt::ResultsPublisher publisher(options, "A/+#", 7);
    EXPECT_EQ(publisher.TopicBase(), "plant/line2/A%2F%2B%23/7");
    publisher.BeginRun(Channels13, "{}");
    ASSERT_TRUE(WaitConnected(publisher));
    publisher.Publish(Frame(1));
    ASSERT_TRUE(subscriber.WaitFor(
        [](const auto& m) { return Count(m, "plant/line2/A%2F%2B%23/7/frame") == 1; }, Wait));
}

TEST(Publisher, BadSetupIsRefusedBeforeConnecting)
{
    mqtt::BrokerOptions options;
    options.Host = "127.0.0.1";
    options.TopicPrefix = "lab/#";
    EXPECT_THROW(mqtt::ResultsPublisher(options, "KSN5-0042", 3), mqtt::OptionError);
    options.TopicPrefix = "ksn48";
    options.TlsCaFile = "/nonexistent/ca.pem";
    EXPECT_THROW(mqtt::ResultsPublisher(options, "KSN5-0042", 3), std::runtime_error);
}

// A host of the cycle that publishes each frame as the headless tool does.
class PublishingHost : public CycleHost {
public:
    void ShowResults(const measure::MeasurementCycle& cycle) override
    {
        if (!begun) {
            begun = true;
            std::array<bool, 8> channels{};
            for (std::size_t c = 0; c < 8; ++c) {
                channels[c] = cycle.Handle().Channel[c].ChannelEnabled != 0;
            }
            Publisher->BeginRun(
                channels, mqtt::ConfigJson(mqtt::DescribeRun(cycle, "KSN5-0042", "KSN-P5", 3)));
        }
        measure::FillFrameResult(cycle, frame);
        frame.Time = std::chrono::system_clock::now();
        ++frame.Frame;
        Publisher->Publish(frame);
        CycleHost::ShowResults(cycle);
    }
    mqtt::ResultsPublisher* Publisher = nullptr;
    bool begun = false;
    FrameResult frame;
};

TEST(Publisher, TheMeasurementThreadAllocatesNothingPerFrame)
{
    MqttBroker broker;
    MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    mqtt::ResultsPublisher publisher(Options(broker), "KSN5-0042", 3);
    ASSERT_TRUE(WaitConnected(publisher));

    fake::Reset();
    fake::Current().Tones[0] = {1.0, 1000.0, 0.0};
    fake::Current().Tones[1] = {0.5, 1000.0, 30.0};
    fake::Current().Tones[7] = {0.25, 1000.0, 90.0};
    PublishingHost host;
    host.Publisher = &publisher;
    host.Choice.ChannelTicked = {true, true, false, false, false, false, false, true};
    host.Choice.RateIndex = 4;
    host.Settings.MaxAcquisitionTime = 0.1;
    constexpr int Frames = 12;
    host.StopAfterFrames = Frames;
    long counted = -1;
    host.OnFrame = [&](int n) {
        // From the third frame on: the run's one-time work is behind it.
        if (n == 2) {
            counting::BeginOnThread(std::this_thread::get_id());
        } else if (n == Frames) {
            counted = counting::End();
        }
    };
    Ksn48Handle handle{};
    measure::MeasurementCycle cycle(host, handle, host.Terminated, host.MessageShown, fake::Api());
    cycle.RunMultimeter();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    EXPECT_EQ(counted, 0) << "allocations on the measurement thread in " << Frames - 2 << " frames";

    ASSERT_TRUE(subscriber.WaitFor(
        [](const auto& m) { return Count(m, "ksn48/KSN5-0042/3/frame") == Frames; }, Wait));
    const nlohmann::json config =
        nlohmann::json::parse(subscriber.On("ksn48/KSN5-0042/3/config").back().Payload);
    EXPECT_EQ(config["channels"], nlohmann::json::array({1, 2, 8}));
    EXPECT_EQ(config["rate_Hz"], 9765.625);
    EXPECT_EQ(config["method"], "fft");
    EXPECT_EQ(config["reference"], 1);
    const nlohmann::json last =
        nlohmann::json::parse(subscriber.On("ksn48/KSN5-0042/3/frame").back().Payload);
    EXPECT_NEAR(last["ch2_mV"].get<double>(), 353.553, 0.01);
    EXPECT_EQ(last["frame"], Frames);
}

}  // namespace
