#pragma once

#include "BrokerOptions.h"
#include "FrameQueue.h"
#include "FrameResult.h"
#include "ResultsWriter.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace mqtt {

// Publishes the frames of one bench (a crate serial and a slot) to an MQTT
// broker:
//   PREFIX/<crate>/<slot>/frame   each frame's JSON object (the NDJSON row)
//   PREFIX/<crate>/<slot>/status  "online" / "offline", retained; "offline"
//                                 is also the last will
//   PREFIX/<crate>/<slot>/config  the run's acquisition parameters, retained
//
// The broker never holds up the measurement: Publish formats the frame into
// a buffer made beforehand and copies it into a bounded queue (the oldest
// frame is dropped, and counted, when the queue is full), without allocating
// or waiting. A sender thread of ours hands queued frames to libmosquitto
// while the broker is connected, with at most a few of them on their way at
// once; libmosquitto's own network thread talks to the broker and connects
// again after a loss. A broker that is away at the start or goes away is
// reported once per outage (TakeReports).
class ResultsPublisher {
public:
    // Throws OptionError for a topic prefix that cannot be used and
    // std::runtime_error when the client cannot be set up (a CA file the
    // library refuses, for one). Connecting goes on in the background.
    ResultsPublisher(BrokerOptions options, std::string_view crateSerial, int slot);
    // Close with a short drain.
    ~ResultsPublisher();
    ResultsPublisher(const ResultsPublisher&) = delete;
    ResultsPublisher& operator=(const ResultsPublisher&) = delete;

    const BrokerOptions& Options() const noexcept { return options_; }
    // PREFIX/<crate>/<slot>, the crate serial escaped as a topic level.
    const std::string& TopicBase() const noexcept { return base_; }

    // Before the frames of a run (allocates; not per frame): their columns
    // (the acquired channels) and the run's retained config message.
    // With uncertainties, each frame object carries the readings'
    // uncertainties too (ch<n>_mV_u, ch<n>_kHz_u, ch<n>_deg_u).
    void BeginRun(const std::array<bool, measure::FrameResult::ChannelCount>& channels,
                  std::string configJson, bool uncertainties = false);
    // The frame as one message. Allocates nothing; never waits for the
    // broker. Ignored before BeginRun.
    void Publish(const measure::FrameResult& frame) noexcept;

    // Publishes what is still queued while the broker is connected (for at
    // most drain), then says "offline" and disconnects. Safe to call again.
    void Close(std::chrono::milliseconds drain = std::chrono::seconds(2));

    // What the operator should know: the broker not reachable (once per
    // outage), back again, or the client failing.
    struct Report {
        enum class Kind { Outage, Back, Failure };
        Kind What = Kind::Failure;
        std::string Text;
    };
    // The reports since the last call. Any thread.
    std::vector<Report> TakeReports();

    bool Connected() const noexcept { return connected_.load(); }
    // Frames handed to the broker's connection, and frames dropped (queue
    // full, or refused by the connection).
    std::uint64_t FramesPublished() const noexcept { return published_.load(); }
    std::uint64_t FramesDropped() const noexcept;
    // Frames waiting in the queue.
    std::size_t FramesQueued() const noexcept { return queue_.Size(); }

    // The longest frame message of any layout (the queue's slot size).
    static std::size_t MaxFrameLength();

private:
    static void OnConnect(mosquitto* client, void* self, int result);
    static void OnDisconnect(mosquitto* client, void* self, int result);
    static void OnPublish(mosquitto* client, void* self, int mid);
    static void OnLog(mosquitto* client, void* self, int level, const char* text);

    void SendFrames();
    // Until the first connection attempt is under way: tries it again at the
    // library's reconnect delays, then starts the network thread, which
    // takes over connecting from there on.
    void ConnectFirst();
    bool TryConnect();
    void AddReport(Report::Kind kind, std::string text);
    // The outage, once: reason says why.
    void ReportOutage(std::string reason);
    void PublishRetained(const std::string& topic, const std::string& payload);
    // Waits until every message handed over is on its way or the deadline.
    void WaitInflight(std::chrono::steady_clock::time_point deadline);

    BrokerOptions options_;
    std::string base_;
    std::string frameTopic_;
    std::string statusTopic_;
    std::string configTopic_;
    mosquitto* client_ = nullptr;

    std::optional<measure::ResultsWriter> writer_;  // formats the frames, writes no file
    FrameQueue queue_;
    std::unique_ptr<char[]> sendBuffer_;

    std::mutex stateMutex_;  // config_, reports_, outage state
    std::string config_;
    std::vector<Report> reports_;
    std::string lastError_;  // the library's last error message
    bool outageReported_ = false;
    std::chrono::steady_clock::time_point disconnectedSince_;

    std::atomic<bool> connected_{false};
    std::atomic<int> inflight_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> published_{0};
    std::atomic<std::uint64_t> refused_{0};
    std::atomic<bool> networkStarted_{false};
    std::chrono::steady_clock::time_point nextConnect_;
    std::chrono::seconds connectDelay_{0};
    bool closed_ = false;
    std::thread sender_;
};

}  // namespace mqtt
