#pragma once

#include "FrameResult.h"
#include "MeasureSetup.h"
#include "ReadingMarks.h"
#include "ScpiParser.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scpi {

// One measured frame as the instrument answers from it: the results log's
// record, and what the window would mark in each field.
struct FrameReading {
    measure::FrameResult Result;
    std::array<measure::ReadingMarks, measure::FrameResult::ChannelCount> Marks{};
    std::array<bool, measure::FrameResult::ChannelCount> Acquired{};
    std::uint64_t Sequence = 0;  // counted from 1 over the server's life
};

// A failure the measurement met, for the error queue.
struct EngineFault {
    ScpiError Error;
    std::string Detail;
};

// The module as *IDN? names it.
struct ModuleIdentity {
    bool Open = false;
    std::string Serial;  // "" while none is open
    unsigned Firmware = 0;
};

// How a wait for a frame ended.
enum class WaitOutcome {
    Frame,      // the frame waited for was measured
    Failed,     // its measurement failed (see TakeFaults)
    Cancelled,  // the caller gave up (its client went)
};

// The measurement behind the instrument. The instrument calls it from the
// server's thread; the engine measures on a thread of its own.
class InstrumentEngine {
public:
    virtual ~InstrumentEngine() = default;

    virtual ModuleIdentity Identity() = 0;
    // The setup for the frames from now on: a frame under way is dropped and
    // the last frame forgotten (it was measured with another setup).
    virtual void Configure(const tool::MeasureSetup& setup) = 0;
    // Asks for one more frame; returns the sequence number it will carry.
    virtual std::uint64_t Initiate() = 0;
    // Frame after frame until Abort or SetContinuous(false).
    virtual void SetContinuous(bool on) = 0;
    // Ends the frame under way and every request.
    virtual void Abort() = 0;
    // Whether a frame is asked for and not yet measured or failed.
    virtual bool Pending() = 0;
    // The sequence number the next frame will carry.
    virtual std::uint64_t NextSequence() = 0;
    // Waits until the frame of sequence number `sequence` (or a later one) is
    // measured or its request failed; cancelled is asked every few tens of
    // milliseconds.
    virtual WaitOutcome WaitFor(std::uint64_t sequence, const std::function<bool()>& cancelled) = 0;
    virtual std::optional<FrameReading> Latest() = 0;
    // The failures met since the last call, oldest first.
    virtual std::vector<EngineFault> TakeFaults() = 0;
};

}  // namespace scpi
