#pragma once
// A host of the measurement cycle without a window: steps run in place on
// the calling thread, pauses take no time, and what the window would show is
// recorded.

#include "MeasurementCycle.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The last frame shown, by physical channel.
struct FrameRecord {
    std::array<double, measure::MeasurementChannelCount> Voltage{};
    std::array<double, measure::MeasurementChannelCount> Frequency{};
    std::array<double, measure::MeasurementChannelCount> Phase{};
    std::array<std::int32_t, measure::MeasurementChannelCount> Status{};
};

class CycleHost : public measure::MeasurementHost {
public:
    CycleHost()
    {
        Settings.CalcMethod = "fft";
        Settings.AmplitudeType = "rms";
        Settings.MaxAcquisitionTime = 0.75;
        Messages.reserve(8);
    }

    void Synchronize(const std::function<void()>& step) override { step(); }
    void Pause(unsigned) override {}
    void ShowMeasurementStarted(measure::MeasurementSettings& settings) override
    {
        ++StartedShown;
        settings = Settings;
    }
    measure::AdcChoice ReadAdcChoice() override { return Choice; }
    void ReadFrameInputs(measure::FrameInputs& inputs) override
    {
        inputs.PhaseCorrection = PhaseCorrectionBox;
    }
    void ShowResults(const measure::MeasurementCycle& cycle) override
    {
        ++Frames;
        const measure::FrameReadings& readings = cycle.Readings();
        Last.Voltage = readings.Voltage;
        Last.Frequency = readings.Frequency;
        Last.Phase = readings.Phase;
        Last.Status = readings.Status;
        if (OnFrame) {
            OnFrame(Frames);
        }
        if (Frames >= StopAfterFrames) {
            Terminated = true;
        }
    }
    void ShowChannelLeds(const measure::MeasurementCycle&) override { ++LedsShown; }
    void ShowMeasurementStopped() override { ++StoppedShown; }
    void ShowThreadMessage(std::string_view text) override
    {
        if (MessageShown.exchange(true)) {
            return;
        }
        Messages.emplace_back(text);
    }

    measure::MeasurementSettings Settings;
    measure::AdcChoice Choice;
    int StopAfterFrames = 3;
    bool PhaseCorrectionBox = false;  // the window's (hidden) phase correction box
    std::function<void(int frame)> OnFrame;

    std::atomic<bool> Terminated{false};
    std::atomic<bool> MessageShown{false};
    int StartedShown = 0;
    int StoppedShown = 0;
    int Frames = 0;
    int LedsShown = 0;
    FrameRecord Last;
    std::vector<std::string> Messages;
};
