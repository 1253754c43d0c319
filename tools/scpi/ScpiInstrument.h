#pragma once

#include "InstrumentEngine.h"
#include "MeasureSetup.h"
#include "ScpiParser.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// Bits of STATus:QUEStionable, from the readings of the frames measured.
namespace Questionable {
inline constexpr std::uint16_t OverRange = 1u << 0;  // an input reached full scale
inline constexpr std::uint16_t OutOfBand = 1u << 5;  // a tone outside the exact band
inline constexpr std::uint16_t NoTone = 1u << 9;     // a channel without a tone
}  // namespace Questionable

// The questionable bits of one frame's acquired channels.
std::uint16_t QuestionableBits(const FrameReading& frame) noexcept;

// Bits of the status byte and of the standard event status register (IEEE 488.2).
namespace StatusByte {
inline constexpr std::uint8_t ErrorQueue = 1u << 2;
inline constexpr std::uint8_t QuestionableSummary = 1u << 3;
inline constexpr std::uint8_t MessageAvailable = 1u << 4;
inline constexpr std::uint8_t EventSummary = 1u << 5;
inline constexpr std::uint8_t MasterSummary = 1u << 6;
inline constexpr std::uint8_t OperationSummary = 1u << 7;
}  // namespace StatusByte
namespace EventStatus {
inline constexpr std::uint8_t OperationComplete = 1u << 0;
inline constexpr std::uint8_t QueryError = 1u << 2;
inline constexpr std::uint8_t DeviceError = 1u << 3;
inline constexpr std::uint8_t ExecutionError = 1u << 4;
inline constexpr std::uint8_t CommandError = 1u << 5;
inline constexpr std::uint8_t PowerOn = 1u << 7;
}  // namespace EventStatus

// What FETCh?, READ? and MEASure? return without a function of their own.
enum class MeasureFunction { Voltage, Frequency, Phase };

// The SCPI instrument: the command tree, the setup it sends to the engine,
// the error queue and the status registers of one server. Not thread-safe:
// the server's thread calls it.
class ScpiInstrument {
public:
    // The queue keeps this many errors; one more turns the last into -350.
    static constexpr std::size_t ErrorQueueSize = 20;

    // defaults: the setup of *RST (a fresh window); start: the setup it
    // begins with (a settings file, options).
    ScpiInstrument(InstrumentEngine& engine, tool::MeasureSetup defaults, tool::MeasureSetup start,
                   std::string version);

    // Executes one message (without its terminator) and returns the
    // responses of its queries joined by ';', "" when it has none.
    // cancelled tells whether the client has gone (asked while waiting for
    // a frame).
    std::string Execute(std::string_view message, const std::function<bool()>& cancelled = {});

    // A message longer than the input limit was discarded.
    void InputOverrun();
    // The client has gone: the frame under way and continuous measuring
    // end; the setup, the error queue and the registers stay for the next.
    void ClientGone();

    // The error queue, oldest first (tests).
    std::size_t ErrorCount() const noexcept { return errors_.size(); }
    const tool::MeasureSetup& Setup() const noexcept { return setup_; }

    struct Context;

private:
    void PushError(ScpiError error, std::string_view detail = {});
    void DrainEngine();
    void Dispatch(const Command& command, Context& context);
    void Reconfigure();

    InstrumentEngine& engine_;
    tool::MeasureSetup defaults_;
    tool::MeasureSetup setup_;
    std::string version_;
    MeasureFunction function_ = MeasureFunction::Voltage;
    bool continuous_ = false;
    std::uint64_t initiated_ = 0;  // the sequence of the last frame asked for
    std::deque<std::pair<int, std::string>> errors_;
    std::uint8_t eventStatus_ = EventStatus::PowerOn;
    std::uint8_t eventEnable_ = 0;
    std::uint8_t serviceEnable_ = 0;
    std::uint16_t questionableEvent_ = 0;
    std::uint16_t questionableEnable_ = 0;
    std::uint16_t operationEvent_ = 0;
    std::uint16_t operationEnable_ = 0;
    bool opcArmed_ = false;
    std::uint64_t seenSequence_ = 0;  // the last frame whose bits are in questionableEvent_
    // The path of the last command, for the next one of the message.
    std::vector<std::string> path_;

    friend struct Handlers;
};

}  // namespace scpi
