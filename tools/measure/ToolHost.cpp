#include "ToolHost.h"

#include "CycleResults.h"
#include "MeasurementTexts.h"
#include "RunDescription.h"
#include "ToolSupport.h"

#include <chrono>
#include <thread>

namespace tool {

ToolHost::ToolHost(const MeasureSetup& setup, measure::ResultsWriter& writer, RunStop& stop,
                   std::optional<std::uint64_t> frames, std::ostream& err)
    : setup_(setup), writer_(writer), stop_(stop), frames_(frames), err_(err)
{}

void ToolHost::SetPublisher(mqtt::ResultsPublisher* publisher, std::string crateSerial,
                            std::string crateModel, int slot)
{
    publisher_ = publisher;
    crateSerial_ = std::move(crateSerial);
    crateModel_ = std::move(crateModel);
    slot_ = slot;
    runPublished_ = false;
}

void ToolHost::SayPublisherReports()
{
    if (publisher_ == nullptr) {
        return;
    }
    // Empty nearly always: then nothing is made.
    const auto reports = publisher_->TakeReports();
    for (const auto& report : reports) {
        Say(err_) << report.Text << '\n';
    }
    if (!reports.empty()) {
        err_ << std::flush;
    }
}

void ToolHost::PublishRow(const measure::MeasurementCycle* cycle) noexcept
{
    if (publisher_ == nullptr) {
        return;
    }
    if (!runPublished_ && cycle != nullptr) {
        // Once per run of the cycle, before its first frame.
        try {
            publisher_->BeginRun(
                setup_.Choice.ChannelTicked,
                mqtt::ConfigJson(mqtt::DescribeRun(*cycle, crateSerial_, crateModel_, slot_)),
                writer_.Layout().Uncertainties);
            runPublished_ = true;
        } catch (const std::exception& e) {
            Say(err_) << "MQTT: " << e.what() << '\n';
        }
    }
    publisher_->Publish(frame_);
}

void ToolHost::BeginCycle()
{
    runPublished_ = false;
    MessageShown = false;
    configuring_ = false;
    refused_ = false;
}

void ToolHost::Synchronize(const std::function<void()>& step)
{
    step();
}

void ToolHost::Pause(unsigned ms)
{
    // The configuration step is over once the cycle pauses after it.
    configuring_ = false;
    stop_.WaitFor(std::chrono::milliseconds(ms));
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

bool ToolHost::WriteRow()
{
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
        stop_.Request();
        return false;
    }
    return true;
}

void ToolHost::ReadFrameInputs(measure::FrameInputs& inputs)
{
    // The window's phase correction box is hidden and never ticked.
    inputs.PhaseCorrection = false;
}

void ToolHost::ShowResults(const measure::MeasurementCycle& cycle)
{
    configuring_ = false;
    if (!writeError_.empty()) {
        return;
    }
    measure::FillFrameResult(cycle, frame_);
    frame_.Time = std::chrono::system_clock::now();
    if (!WriteRow()) {
        return;
    }
    PublishRow(&cycle);
    SayPublisherReports();
    ++measured_;
    inGap_ = false;
    if (frames_ && measured_ >= *frames_) {
        stop_.Request();
    }
}

bool ToolHost::WriteGap()
{
    if (inGap_) {
        return true;
    }
    frame_.Time = std::chrono::system_clock::now();
    for (measure::ChannelReading& reading : frame_.Channels) {
        reading = measure::ChannelReading{};
        reading.Status = measure::ReadingStatus::Lost;
    }
    if (!WriteRow()) {
        return false;
    }
    PublishRow(nullptr);
    SayPublisherReports();
    ++gaps_;
    inGap_ = true;
    return true;
}

void ToolHost::ShowChannelLeds(const measure::MeasurementCycle&) {}

void ToolHost::ShowMeasurementStopped() {}

void ToolHost::ShowThreadMessage(std::string_view text)
{
    if (MessageShown.exchange(true)) {
        return;
    }
    // A library call that failed while configuring is a failure, not a refusal.
    refused_ =
        configuring_ && text != MeasurementText::SetAdcBad && text != MeasurementText::StopBad;
    Say(err_) << text << '\n' << std::flush;
}

}  // namespace tool
