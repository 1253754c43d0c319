#include "FakeEngine.h"

#include <cmath>

namespace ksn::test {

FakeEngine::FakeEngine() : Frame(BuiltInFrame()) {}

void FakeEngine::Configure(const tool::MeasureSetup& setup)
{
    ++Configured;
    LastSetup = setup;
    latest_.reset();
}

std::uint64_t FakeEngine::Initiate()
{
    ++Initiated;
    return std::max(published_, failed_) + 1;
}

scpi::WaitOutcome FakeEngine::WaitFor(std::uint64_t sequence, const std::function<bool()>& cancelled)
{
    if (cancelled && cancelled()) {
        return scpi::WaitOutcome::Cancelled;
    }
    if (Fault) {
        faults_.push_back(*Fault);
        failed_ = sequence;
        return scpi::WaitOutcome::Failed;
    }
    published_ = sequence;
    latest_ = Frame;
    latest_->Sequence = sequence;
    return scpi::WaitOutcome::Frame;
}

std::vector<scpi::EngineFault> FakeEngine::TakeFaults()
{
    std::vector<scpi::EngineFault> faults;
    faults.swap(faults_);
    return faults;
}

scpi::FrameReading BuiltInFrame()
{
    scpi::FrameReading frame;
    const double amplitudes[6] = {1.0, 0.5, 2.0, 1.0, 0.25, 1.0};
    const double phases[6] = {0.0, 30.0, -90.0, 45.0, 120.0, 0.0};
    for (std::size_t c = 0; c < 8; ++c) {
        frame.Acquired[c] = c < 6;
        measure::ChannelReading& r = frame.Result.Channels[c];
        if (c < 6) {
            r.Status = measure::ReadingStatus::Ok;
            r.Voltage = amplitudes[c] / std::sqrt(2.0);
            r.Frequency = 1000.0;
            r.Phase = phases[c];
            r.VoltageU = 2e-6;
            r.FrequencyU = 0.25;
            r.PhaseU = c == 0 ? 0.0 : 0.5;
        } else {
            r.Status = c == 6 ? measure::ReadingStatus::Open : measure::ReadingStatus::Short;
        }
    }
    return frame;
}

tool::MeasureSetup FreshSetup()
{
    tool::MeasureSetup setup;
    setup.Settings.CalcMethod = "fft";
    setup.Settings.AmplitudeType = "rms";
    setup.Settings.MaxAcquisitionTime = 0.75;
    setup.Choice.RateIndex = 7;
    setup.Choice.ChannelTicked = {true, true, true, true, true, true, false, false};
    setup.Choice.ReferenceChannel = 0;
    return setup;
}

}  // namespace ksn::test
