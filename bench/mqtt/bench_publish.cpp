// What publishing a frame costs the measurement's thread, against the
// shortest time a frame can take (N / Fs + 100 ms; at least the 100 ms of
// the display's pause): Publish formats the frame's JSON object and copies
// it into the bounded queue, whether a broker takes the frames (a mosquitto
// of its own on a free loopback port, with a subscriber that counts them) or
// none is there (the queue full, the oldest dropped each time). Prints one
// line per case with publish_s (seconds per frame, best of several runs) and
// frame_ratio=<publish/100 ms>, and for the live broker how many frames a
// second reached the subscriber while the measurement published as fast as
// it could (sustained_per_s). The goal: frame_ratio far below 1e-3.

#include "MqttBroker.h"
#include "ResultsPublisher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int Repeats = 5;
constexpr int Frames = 2000;
constexpr double ShortestFrameSeconds = 0.1;

measure::FrameResult Frame(std::uint32_t channels)
{
    measure::FrameResult frame;
    frame.Time = std::chrono::system_clock::now();
    for (std::uint32_t c = 0; c < channels; ++c) {
        measure::ChannelReading& r = frame.Channels[c];
        r.Status = measure::ReadingStatus::Ok;
        r.Voltage = 0.7071067811865476 + 1e-7 * c;
        r.Frequency = 1000.0000000004;
        r.Phase = -29.999991730660405;
    }
    return frame;
}

std::array<bool, 8> First(std::uint32_t channels)
{
    std::array<bool, 8> on{};
    for (std::uint32_t c = 0; c < channels; ++c) {
        on[c] = true;
    }
    return on;
}

// Seconds per Publish call, best of the repeats.
double PublishSeconds(mqtt::ResultsPublisher& publisher, std::uint32_t channels)
{
    measure::FrameResult frame = Frame(channels);
    double best = 1e300;
    for (int r = 0; r < Repeats; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < Frames; ++i) {
            ++frame.Frame;
            publisher.Publish(frame);
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count() / Frames);
        std::this_thread::sleep_for(50ms);
    }
    return best;
}

}  // namespace

int main()
{
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/+/+/frame");
    std::optional<ksn::test::MqttBroker> gone(std::in_place);
    mqtt::BrokerOptions absent;
    absent.Host = "127.0.0.1";
    absent.Port = gone->Port();
    gone.reset();

    int failed = 0;
    for (const std::uint32_t channels : {1u, 6u, 8u}) {
        for (const bool live : {true, false}) {
            mqtt::BrokerOptions options = absent;
            if (live) {
                options.Port = broker.Port();
            }
            mqtt::ResultsPublisher publisher(options, "KSN5-0042", static_cast<int>(channels));
            publisher.BeginRun(First(channels), "{}");
            const auto deadline = Clock::now() + 5s;
            while (live && !publisher.Connected() && Clock::now() < deadline) {
                std::this_thread::sleep_for(10ms);
            }
            if (live && !publisher.Connected()) {
                std::fprintf(stderr, "bench_publish: the broker does not answer\n");
                ++failed;
                continue;
            }
            const std::string topic = "ksn48/KSN5-0042/" + std::to_string(channels) + "/frame";
            const std::size_t before = subscriber.On(topic).size();
            const auto start = Clock::now();
            const double seconds = PublishSeconds(publisher, channels);
            publisher.Close(5s);
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const std::size_t got = subscriber.On(topic).size() - before;
            std::printf("publish channels=%u broker=%s publish_s=%.9f frame_ratio=%.8f", channels,
                        live ? "live" : "none", seconds, seconds / ShortestFrameSeconds);
            if (live) {
                std::printf(" delivered=%zu dropped=%llu sustained_per_s=%.0f", got,
                            static_cast<unsigned long long>(publisher.FramesDropped()),
                            static_cast<double>(got) / elapsed);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return failed == 0 ? 0 : 1;
}
