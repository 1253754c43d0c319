#pragma once
// An engine without a module: every frame asked for is measured at once
// from the frame the test set, or fails with the fault it set.

#include "InstrumentEngine.h"

#include <optional>

namespace ksn::test {

class FakeEngine : public scpi::InstrumentEngine {
public:
    FakeEngine();

    // The frame the next measurements give (Sequence is set by the engine).
    scpi::FrameReading Frame;
    // When set, a measurement fails with it instead.
    std::optional<scpi::EngineFault> Fault;
    int Configured = 0;
    int Initiated = 0;
    int Aborted = 0;
    tool::MeasureSetup LastSetup;
    bool Continuous = false;

    scpi::ModuleIdentity Identity() override { return {true, "4811001", 12}; }
    void Configure(const tool::MeasureSetup& setup) override;
    std::uint64_t Initiate() override;
    void SetContinuous(bool on) override { Continuous = on; }
    void Abort() override { ++Aborted; }
    bool Pending() override { return false; }
    std::uint64_t NextSequence() override { return published_ + 1; }
    scpi::WaitOutcome WaitFor(std::uint64_t sequence,
                              const std::function<bool()>& cancelled) override;
    std::optional<scpi::FrameReading> Latest() override { return latest_; }
    std::vector<scpi::EngineFault> TakeFaults() override;

private:
    std::uint64_t published_ = 0;
    std::uint64_t failed_ = 0;
    std::optional<scpi::FrameReading> latest_;
    std::vector<scpi::EngineFault> faults_;
};

// A frame of the built-in population's signals on channels 1 to 6 (1 kHz),
// channel 7 open and 8 short.
scpi::FrameReading BuiltInFrame();
// The setup of a fresh window, without reading any file.
tool::MeasureSetup FreshSetup();

}  // namespace ksn::test
