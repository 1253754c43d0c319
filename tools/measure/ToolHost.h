#pragma once

#include "FrameResult.h"
#include "MeasureSetup.h"
#include "MeasurementCycle.h"
#include "ResultsWriter.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace tool {

// The measurement cycle's host in the tool: no window, steps run in place on
// the one thread, the setup comes from the command line, and every frame the
// window would display becomes a row of the results log. The cycle's first
// message goes to err and ends the run, as the window's dialog does.
class ToolHost : public measure::MeasurementHost {
public:
    ToolHost(const MeasureSetup& setup, measure::ResultsWriter& writer,
             std::optional<std::uint64_t> frames, std::ostream& err);

    // The cycle's stop flag: set after the last frame wanted, by a write that
    // failed, or from outside (a signal, the end of the duration).
    std::atomic<bool> Terminated{false};
    std::atomic<bool> MessageShown{false};

    // The run ended at a message of the configuration step other than a
    // failed library call: the setup was refused.
    bool Refused() const noexcept { return refused_; }
    // The cycle showed a message (refusal or failure).
    bool Failed() const noexcept { return MessageShown.load(); }
    // The log could not take a row; its text.
    const std::string& WriteError() const noexcept { return writeError_; }
    std::uint64_t FramesWritten() const noexcept { return frame_.Frame; }

    void Synchronize(const std::function<void()>& step) override;
    void Pause(unsigned ms) override;
    void ShowMeasurementStarted(measure::MeasurementSettings& settings) override;
    measure::AdcChoice ReadAdcChoice() override;
    void ShowResults(measure::MeasurementCycle& cycle) override;
    void ShowChannelLeds(const measure::MeasurementCycle& cycle) override;
    void ShowMeasurementStopped() override;
    void ShowThreadMessage(std::string_view text) override;

private:
    const MeasureSetup& setup_;
    measure::ResultsWriter& writer_;
    std::optional<std::uint64_t> frames_;
    std::ostream& err_;
    measure::FrameResult frame_;
    bool begun_ = false;
    bool configuring_ = false;
    bool refused_ = false;
    std::string writeError_;
};

}  // namespace tool
