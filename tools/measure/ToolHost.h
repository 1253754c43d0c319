#pragma once

#include "FrameResult.h"
#include "MeasureSetup.h"
#include "MeasurementCycle.h"
#include "ResultsPublisher.h"
#include "ResultsWriter.h"
#include "RunStop.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace tool {

// The measurement cycle's host in the tool: no window, steps run in place on
// the one thread, the setup comes from the command line, and every frame the
// window would display becomes a row of the results log. The cycle's first
// message goes to err and ends the run, as the window's dialog does. One
// host serves every run of the cycle in a measurement (a run after a lost
// link goes on with the next frame number).
class ToolHost : public measure::MeasurementHost {
public:
    ToolHost(const MeasureSetup& setup, measure::ResultsWriter& writer, RunStop& stop,
             std::optional<std::uint64_t> frames, std::ostream& err);

    // The cycle's message flag; BeginCycle clears it.
    std::atomic<bool> MessageShown{false};

    // Before each run of the cycle.
    void BeginCycle();
    // Every row also goes to publisher (null: none) as a frame of the
    // module in that crate and slot; each run of the cycle sends its config
    // first. What the publisher has to say goes to err with the rows.
    void SetPublisher(mqtt::ResultsPublisher* publisher, std::string crateSerial,
                      std::string crateModel, int slot);
    // Writes what the publisher has said since the last time.
    void SayPublisherReports();
    // The run ended at a message of the configuration step other than a
    // failed library call: the setup was refused.
    bool Refused() const noexcept { return refused_; }
    // The cycle showed a message (refusal or failure).
    bool Failed() const noexcept { return MessageShown.load(); }
    // The log could not take a row; its text.
    const std::string& WriteError() const noexcept { return writeError_; }

    // Marks a lost link in the log: the frame under way becomes a row whose
    // every channel is `lost`. Once per gap: nothing more until a frame has
    // been written again. False when the log refused the row (WriteError).
    bool WriteGap();

    std::uint64_t FramesWritten() const noexcept { return measured_; }
    std::uint64_t GapsWritten() const noexcept { return gaps_; }
    // The number the next row gets.
    std::uint64_t NextFrame() const noexcept { return frame_.Frame + 1; }

    void Synchronize(const std::function<void()>& step) override;
    void Pause(unsigned ms) override;
    void ShowMeasurementStarted(measure::MeasurementSettings& settings) override;
    measure::AdcChoice ReadAdcChoice() override;
    void ReadFrameInputs(measure::FrameInputs& inputs) override;
    void ShowResults(const measure::MeasurementCycle& cycle) override;
    void ShowChannelLeds(const measure::MeasurementCycle& cycle) override;
    void ShowMeasurementStopped() override;
    void ShowThreadMessage(std::string_view text) override;

private:
    // frame_ as the next row; false when the log refused it.
    bool WriteRow();

    void PublishRow(const measure::MeasurementCycle* cycle) noexcept;

    const MeasureSetup& setup_;
    mqtt::ResultsPublisher* publisher_ = nullptr;
    std::string crateSerial_;
    std::string crateModel_;
    int slot_ = 0;
    bool runPublished_ = false;
    measure::ResultsWriter& writer_;
    RunStop& stop_;
    std::optional<std::uint64_t> frames_;
    std::ostream& err_;
    measure::FrameResult frame_;
    std::uint64_t measured_ = 0;
    std::uint64_t gaps_ = 0;
    bool inGap_ = false;
    bool begun_ = false;
    bool configuring_ = false;
    bool refused_ = false;
    std::string writeError_;
};

}  // namespace tool
