#include "ToolHost.h"

#include "CycleResults.h"
#include "MeasurementTexts.h"
#include "ToolTexts.h"

#include <chrono>
#include <thread>

namespace tool {

namespace {

constexpr std::chrono::milliseconds PauseStep{10};

}  // namespace

ToolHost::ToolHost(const MeasureSetup& setup, measure::ResultsWriter& writer,
                   std::optional<std::uint64_t> frames, std::ostream& err)
    : setup_(setup), writer_(writer), frames_(frames), err_(err)
{}

void ToolHost::Synchronize(const std::function<void()>& step)
{
    step();
}

void ToolHost::Pause(unsigned ms)
{
    // The configuration step is over once the cycle pauses after it.
    configuring_ = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Terminated.load() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(PauseStep);
    }
}

void ToolHost::ShowMeasurementStarted(measure::MeasurementSettings& settings)
{
    settings = setup_.Settings;
}

measure::AdcChoice ToolHost::ReadAdcChoice()
{
    // The cycle checks channels, reference and data rate next, then applies
    // the configuration to the module.
    configuring_ = true;
    return setup_.Choice;
}

void ToolHost::ShowResults(measure::MeasurementCycle& cycle)
{
    configuring_ = false;
    // The window's phase correction box is hidden and never ticked.
    cycle.PhaseCorrection = false;
    if (!writeError_.empty()) {
        return;
    }
    measure::FillFrameResult(cycle, frame_);
    frame_.Time = std::chrono::system_clock::now();
    ++frame_.Frame;
    try {
        if (!begun_) {
            writer_.Begin();
            begun_ = true;
        }
        writer_.Write(frame_);
    } catch (const std::exception& e) {
        --frame_.Frame;
        writeError_ = e.what();
        Terminated = true;
        return;
    }
    if (frames_ && frame_.Frame >= *frames_) {
        Terminated = true;
    }
}

void ToolHost::ShowChannelLeds(const measure::MeasurementCycle&) {}

void ToolHost::ShowMeasurementStopped() {}

void ToolHost::ShowThreadMessage(std::string_view text)
{
    if (MessageShown.exchange(true)) {
        return;
    }
    refused_ = configuring_ && text != MeasurementText::SetAdcBad;
    err_ << ToolText::ProgramName << ": " << text << '\n' << std::flush;
}

}  // namespace tool
