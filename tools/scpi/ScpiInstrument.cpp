#include "ScpiInstrument.h"

#include "AdcRates.h"
#include "ChannelEstimator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>

namespace scpi {

namespace {

using measure::ChannelReading;
using measure::FrameResult;
using measure::ReadingStatus;

constexpr std::size_t ChannelCount = FrameResult::ChannelCount;
// SCPI's "not a number": a value that does not exist.
constexpr std::string_view NotANumber = "9.91E+37";
// The rates of the table are matched within half a hertz (610.352, 9765.63,
// 19531 and 39063 name theirs).
constexpr double RateTolerance = 0.5;
// The sensor currents, amperes.
constexpr std::array<double, 2> Currents = {2.86e-3, 10e-3};
constexpr double CurrentTolerance = 0.01;  // relative
// The longest acquisition time, seconds.
constexpr double ApertureMin = 1e-3;
constexpr double ApertureMax = 100.0;
constexpr double ApertureDefault = 0.75;
constexpr std::string_view ScpiVersion = "1999.0";
constexpr std::string_view Maker = "KSN48_Vevu";
constexpr std::string_view Model = "KSN48";

std::string Number(double value)
{
    if (!std::isfinite(value)) {
        return std::string(NotANumber);
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string Optional(const std::optional<double>& value)
{
    return value ? Number(*value) : std::string(NotANumber);
}

std::string Upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Error texts are one line of the response: line breaks become blanks and
// a quote is doubled, as inside a SCPI string.
std::string QuotedText(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!out.empty() && out.back() != ' ') {
                out.push_back(' ');
            }
        } else if (c == '"') {
            out += "\"\"";
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::string ChannelListText(const std::array<bool, ChannelCount>& channels)
{
    std::string out = "(@";
    bool first = true;
    for (std::size_t c = 0; c < ChannelCount; ++c) {
        if (channels[c]) {
            if (!first) {
                out.push_back(',');
            }
            out += std::to_string(c + 1);
            first = false;
        }
    }
    return out + ")";
}

// One node of a header pattern: its long form, and whether it may be left out.
struct Node {
    std::string_view Long;
    bool Optional = false;
};

std::vector<Node> PatternNodes(std::string_view pattern)
{
    std::vector<Node> nodes;
    std::size_t from = 0;
    while (from <= pattern.size()) {
        std::size_t to = pattern.find(':', from);
        if (to == std::string_view::npos) {
            to = pattern.size();
        }
        std::string_view part = pattern.substr(from, to - from);
        Node node;
        if (!part.empty() && part.front() == '[' && part.back() == ']') {
            node.Optional = true;
            part = part.substr(1, part.size() - 2);
        }
        node.Long = part;
        nodes.push_back(node);
        from = to + 1;
    }
    return nodes;
}

bool Matches(const std::vector<std::string>& written, std::size_t i, const std::vector<Node>& nodes,
             std::size_t j)
{
    if (j == nodes.size()) {
        return i == written.size();
    }
    if (nodes[j].Optional && Matches(written, i, nodes, j + 1)) {
        return true;
    }
    return i < written.size() && MnemonicMatches(written[i], nodes[j].Long) &&
           Matches(written, i + 1, nodes, j + 1);
}

bool IsKeyword(const Parameter& p, std::string_view longForm)
{
    return p.Type == Parameter::Kind::Character && MnemonicMatches(p.Text, longForm);
}

}  // namespace

std::uint16_t QuestionableBits(const FrameReading& frame) noexcept
{
    std::uint16_t bits = 0;
    for (std::size_t c = 0; c < ChannelCount; ++c) {
        if (!frame.Acquired[c]) {
            continue;
        }
        const ChannelReading& r = frame.Result.Channels[c];
        if (r.Status == ReadingStatus::OverRange) {
            bits |= Questionable::OverRange;
        }
        if (r.Status == ReadingStatus::NoTone) {
            bits |= Questionable::NoTone;
        } else if ((r.Status == ReadingStatus::Ok || r.Status == ReadingStatus::OverRange) &&
                   !r.InBand) {
            bits |= Questionable::OutOfBand;
        }
    }
    return bits;
}

// What a handler has at hand: the command, the responses of the message so
// far, the client's presence.
struct ScpiInstrument::Context {
    const Command* Cmd = nullptr;
    std::vector<std::string>* Responses = nullptr;
    const std::function<bool()>* Cancelled = nullptr;

    bool Gone() const { return *Cancelled && (*Cancelled)(); }
};

namespace {

// The fields of a reading in the all-readings query, in their order. Fields
// a reading gains later are appended here, after the ones there are.
struct ReadingField {
    std::string_view Name;
    std::string (*Value)(std::size_t channel, const ChannelReading&, const measure::ReadingMarks&);
};

// A field that is one of the reading's values.
template <std::optional<double> ChannelReading::*Value>
std::string ValueField(std::size_t, const ChannelReading& r, const measure::ReadingMarks&)
{
    return Optional(r.*Value);
}

constexpr std::array<ReadingField, 12> ReadingFields = {{
    {"CHAN", [](std::size_t c, const ChannelReading&,
                const measure::ReadingMarks&) { return std::to_string(c + 1); }},
    {"VOLT", ValueField<&ChannelReading::Voltage>},
    {"FREQ", ValueField<&ChannelReading::Frequency>},
    {"PHAS", ValueField<&ChannelReading::Phase>},
    {"STAT",
     [](std::size_t, const ChannelReading& r, const measure::ReadingMarks&) {
         return std::to_string(static_cast<int>(r.Status));
     }},
    {"INBAND",
     [](std::size_t, const ChannelReading& r, const measure::ReadingMarks&) {
         return std::string(r.Status == ReadingStatus::Lost ? "0" : r.InBand ? "1" : "0");
     }},
    {"VMARK",
     [](std::size_t, const ChannelReading&, const measure::ReadingMarks& m) {
         return std::to_string(static_cast<int>(m.Voltage.Reason));
     }},
    {"FMARK",
     [](std::size_t, const ChannelReading&, const measure::ReadingMarks& m) {
         return std::to_string(static_cast<int>(m.Frequency.Reason));
     }},
    {"PMARK",
     [](std::size_t, const ChannelReading&, const measure::ReadingMarks& m) {
         return std::to_string(static_cast<int>(m.Phase.Reason));
     }},
    // The standard uncertainties (k = 1, this frame's noise) of VOLT, FREQ
    // and PHAS, in their units.
    {"VOLTU", ValueField<&ChannelReading::VoltageU>},
    {"FREQU", ValueField<&ChannelReading::FrequencyU>},
    {"PHASU", ValueField<&ChannelReading::PhaseU>},
}};

enum class Quantity { Voltage, Frequency, Phase, Status, All };

Quantity QuantityOf(MeasureFunction f)
{
    switch (f) {
    case MeasureFunction::Voltage:
        return Quantity::Voltage;
    case MeasureFunction::Frequency:
        return Quantity::Frequency;
    case MeasureFunction::Phase:
        return Quantity::Phase;
    }
    return Quantity::Voltage;
}

}  // namespace

// The command tree: each entry a header pattern with its set and query forms.
struct Handlers {
    using Context = ScpiInstrument::Context;
    using Handler = void (*)(ScpiInstrument&, Context&);

    struct Entry {
        std::string_view Pattern;
        Handler Set;
        Handler Query;
    };

    // ---- parameters
    static bool NoParameters(ScpiInstrument& in, Context& cx)
    {
        if (!cx.Cmd->Parameters.empty()) {
            in.PushError(Errors::ParameterNotAllowed);
            return false;
        }
        return true;
    }

    static const Parameter* One(ScpiInstrument& in, Context& cx)
    {
        const auto& ps = cx.Cmd->Parameters;
        if (ps.empty()) {
            in.PushError(Errors::MissingParameter);
            return nullptr;
        }
        if (ps.size() > 1) {
            in.PushError(Errors::ParameterNotAllowed);
            return nullptr;
        }
        return &ps[0];
    }

    // At most one parameter, a channel list; none gives empty.
    static bool OptionalList(ScpiInstrument& in, Context& cx, std::optional<std::vector<int>>& list)
    {
        const auto& ps = cx.Cmd->Parameters;
        if (ps.empty()) {
            return true;
        }
        if (ps.size() > 1) {
            in.PushError(Errors::ParameterNotAllowed);
            return false;
        }
        if (ps[0].Type != Parameter::Kind::ChannelList) {
            in.PushError(Errors::DataTypeError, "a channel list such as (@1,3:5)");
            return false;
        }
        for (const int c : ps[0].Channels) {
            if (c < 1 || c > static_cast<int>(ChannelCount)) {
                in.PushError(Errors::DataOutOfRange,
                             "channel " + std::to_string(c) + " (channels are 1 to 8)");
                return false;
            }
        }
        list = ps[0].Channels;
        return true;
    }

    enum class Special { None, Min, Max, Def };

    // A number in the unit (suffix with multiplier allowed; "" for none), or
    // MIN/MAX/DEF when allowed.
    static bool Numeric(ScpiInstrument& in, const Parameter& p, std::string_view unit,
                        double& value, Special& special)
    {
        special = Special::None;
        if (p.Type == Parameter::Kind::Character) {
            if (IsKeyword(p, "MINimum")) {
                special = Special::Min;
            } else if (IsKeyword(p, "MAXimum")) {
                special = Special::Max;
            } else if (IsKeyword(p, "DEFault")) {
                special = Special::Def;
            } else {
                in.PushError(Errors::IllegalParameterValue, p.Text);
                return false;
            }
            return true;
        }
        if (p.Type != Parameter::Kind::Number) {
            in.PushError(Errors::DataTypeError, "a number is wanted");
            return false;
        }
        double factor = 1.0;
        if (!p.Suffix.empty() && unit.empty()) {
            in.PushError(Errors::SuffixNotAllowed, p.Suffix);
            return false;
        }
        if (!SuffixFactor(p.Suffix, unit, factor)) {
            in.PushError(Errors::InvalidSuffix, p.Suffix + " (the unit is " + std::string(unit) + ")");
            return false;
        }
        value = p.Number * factor;
        return true;
    }

    // A whole number in [low, high], or MIN/MAX/DEF.
    static bool Integer(ScpiInstrument& in, Context& cx, int low, int high, int def, int& value)
    {
        const Parameter* p = One(in, cx);
        if (p == nullptr) {
            return false;
        }
        double number = 0.0;
        Special special = Special::None;
        if (!Numeric(in, *p, "", number, special)) {
            return false;
        }
        if (special != Special::None) {
            value = special == Special::Min ? low : special == Special::Max ? high : def;
            return true;
        }
        const double rounded = std::round(number);
        if (rounded < low || rounded > high) {
            in.PushError(Errors::DataOutOfRange, Number(number) + " (" + std::to_string(low) +
                                                     " to " + std::to_string(high) + ")");
            return false;
        }
        value = static_cast<int>(rounded);
        return true;
    }

    static bool Boolean(ScpiInstrument& in, Context& cx, bool& value)
    {
        const Parameter* p = One(in, cx);
        if (p == nullptr) {
            return false;
        }
        if (p->Type == Parameter::Kind::Number && p->Suffix.empty() &&
            (p->Number == 0.0 || p->Number == 1.0)) {
            value = p->Number == 1.0;
            return true;
        }
        if (IsKeyword(*p, "ON") || IsKeyword(*p, "OFF")) {
            value = IsKeyword(*p, "ON");
            return true;
        }
        in.PushError(Errors::IllegalParameterValue, "ON, OFF, 1 or 0");
        return false;
    }

    static void Reply(Context& cx, std::string text) { cx.Responses->push_back(std::move(text)); }

    // ---- common commands
    static void Idn(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        const ModuleIdentity id = in.engine_.Identity();
        Reply(cx, std::string(Maker) + "," + std::string(Model) + "," +
                      (id.Open ? id.Serial : std::string("0")) + "," +
                      (id.Open ? std::to_string(id.Firmware) : std::string("0")) + "/" +
                      in.version_);
    }

    static void Rst(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        in.setup_ = in.defaults_;
        in.function_ = MeasureFunction::Voltage;
        in.continuous_ = false;
        in.engine_.SetContinuous(false);
        in.engine_.Abort();
        in.Reconfigure();
    }

    static void Cls(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        in.errors_.clear();
        in.eventStatus_ = 0;
        in.questionableEvent_ = 0;
        in.operationEvent_ = 0;
        in.opcArmed_ = false;
    }

    static void SetEse(ScpiInstrument& in, Context& cx)
    {
        int value = 0;
        if (Integer(in, cx, 0, 255, 0, value)) {
            in.eventEnable_ = static_cast<std::uint8_t>(value);
        }
    }
    static void GetEse(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.eventEnable_));
        }
    }
    static void GetEsr(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.eventStatus_));
            in.eventStatus_ = 0;
        }
    }
    static void SetSre(ScpiInstrument& in, Context& cx)
    {
        int value = 0;
        if (Integer(in, cx, 0, 255, 0, value)) {
            // Bit 6 cannot be enabled (IEEE 488.2).
            in.serviceEnable_ = static_cast<std::uint8_t>(value & ~StatusByte::MasterSummary);
        }
    }
    static void GetSre(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.serviceEnable_));
        }
    }
    static void GetStb(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        std::uint8_t stb = 0;
        if (!in.errors_.empty()) {
            stb |= StatusByte::ErrorQueue;
        }
        if ((in.questionableEvent_ & in.questionableEnable_) != 0) {
            stb |= StatusByte::QuestionableSummary;
        }
        if (!cx.Responses->empty()) {
            stb |= StatusByte::MessageAvailable;
        }
        if ((in.eventStatus_ & in.eventEnable_) != 0) {
            stb |= StatusByte::EventSummary;
        }
        if ((in.operationEvent_ & in.operationEnable_) != 0) {
            stb |= StatusByte::OperationSummary;
        }
        if ((stb & in.serviceEnable_) != 0) {
            stb |= StatusByte::MasterSummary;
        }
        Reply(cx, std::to_string(stb));
    }

    // Waits while a frame is asked for; false when the client went.
    static bool WaitPending(ScpiInstrument& in, Context& cx)
    {
        if (in.continuous_ || !in.engine_.Pending()) {
            return true;
        }
        const WaitOutcome outcome = in.engine_.WaitFor(in.initiated_, *cx.Cancelled);
        in.DrainEngine();
        return outcome != WaitOutcome::Cancelled;
    }

    static void Opc(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            in.opcArmed_ = true;
            in.DrainEngine();
        }
    }
    static void GetOpc(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx) && WaitPending(in, cx)) {
            Reply(cx, "1");
        }
    }
    static void Wai(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            WaitPending(in, cx);
        }
    }
    static void Tst(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        // The module answers and takes the setup: one frame.
        const std::uint64_t sequence =
            in.continuous_ ? in.engine_.NextSequence() : (in.initiated_ = in.engine_.Initiate());
        const WaitOutcome outcome = in.engine_.WaitFor(sequence, *cx.Cancelled);
        in.DrainEngine();
        if (outcome != WaitOutcome::Cancelled) {
            Reply(cx, outcome == WaitOutcome::Frame ? "0" : "1");
        }
    }

    // ---- SYSTem and STATus
    static std::string ErrorEntry(ScpiInstrument& in)
    {
        if (in.errors_.empty()) {
            return "0,\"No error\"";
        }
        auto [code, text] = in.errors_.front();
        in.errors_.pop_front();
        return std::to_string(code) + ",\"" + text + "\"";
    }
    static void GetError(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, ErrorEntry(in));
        }
    }
    static void GetErrorAll(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        std::string all = ErrorEntry(in);
        while (!in.errors_.empty()) {
            all.append(",").append(ErrorEntry(in));
        }
        Reply(cx, all);
    }
    static void GetErrorCount(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.errors_.size()));
        }
    }
    static void GetVersion(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::string(ScpiVersion));
        }
    }
    static void Preset(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            in.questionableEnable_ = 0;
            in.operationEnable_ = 0;
        }
    }
    static void GetQuesEvent(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            in.DrainEngine();
            Reply(cx, std::to_string(in.questionableEvent_));
            in.questionableEvent_ = 0;
        }
    }
    static void GetQuesCondition(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            const auto latest = in.engine_.Latest();
            Reply(cx, std::to_string(latest ? QuestionableBits(*latest) : 0));
        }
    }
    static void SetQuesEnable(ScpiInstrument& in, Context& cx)
    {
        int value = 0;
        if (Integer(in, cx, 0, 32767, 0, value)) {
            in.questionableEnable_ = static_cast<std::uint16_t>(value);
        }
    }
    static void GetQuesEnable(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.questionableEnable_));
        }
    }
    static void GetOperEvent(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.operationEvent_));
            in.operationEvent_ = 0;
        }
    }
    static void GetOperCondition(ScpiInstrument& in, Context& cx)
    {
        // Bit 4: measuring.
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.continuous_ || in.engine_.Pending() ? 16 : 0));
        }
    }
    static void SetOperEnable(ScpiInstrument& in, Context& cx)
    {
        int value = 0;
        if (Integer(in, cx, 0, 32767, 0, value)) {
            in.operationEnable_ = static_cast<std::uint16_t>(value);
        }
    }
    static void GetOperEnable(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.operationEnable_));
        }
    }

    // ---- the acquisition's setup
    static void SetRate(ScpiInstrument& in, Context& cx)
    {
        const Parameter* p = One(in, cx);
        double hz = 0.0;
        Special special = Special::None;
        if (p == nullptr || !Numeric(in, *p, "HZ", hz, special)) {
            return;
        }
        const auto& table = device::AdcRateTable;
        int index = -1;
        switch (special) {
        case Special::Min:
            index = table.front().Index;
            break;
        case Special::Max:
            index = table.back().Index;
            break;
        case Special::Def:
            index = in.defaults_.Choice.RateIndex;
            break;
        case Special::None:
            if (hz < table.front().Frequency - RateTolerance ||
                hz > table.back().Frequency + RateTolerance) {
                in.PushError(Errors::DataOutOfRange, Number(hz) + " Hz (610.3515625 to 78125)");
                return;
            }
            for (const device::AdcRateEntry& entry : table) {
                if (std::abs(entry.Frequency - hz) <= RateTolerance) {
                    index = entry.Index;
                }
            }
            if (index < 0) {
                in.PushError(Errors::IllegalParameterValue,
                             Number(hz) + " Hz is not a rate of the table (78125 / 2^n, n = 0 to 7)");
                return;
            }
            break;
        }
        in.setup_.Choice.RateIndex = index;
        in.Reconfigure();
    }
    static void GetRate(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        const device::AdcRateEntry* entry = device::FindAdcRate(in.setup_.Choice.RateIndex);
        Reply(cx, entry != nullptr ? Number(entry->Frequency) : std::string(NotANumber));
    }

    static void SetWidth(ScpiInstrument& in, Context& cx)
    {
        const Parameter* p = One(in, cx);
        double bits = 0.0;
        Special special = Special::None;
        if (p == nullptr || !Numeric(in, *p, "BIT", bits, special)) {
            return;
        }
        std::uint8_t format = 0;
        if (special == Special::Max) {
            format = 1;
        } else if (special == Special::Def) {
            format = in.defaults_.Settings.DataFormat;
        } else if (special == Special::None) {
            if (bits != 20.0 && bits != 24.0) {
                in.PushError(Errors::IllegalParameterValue, Number(bits) + " (20 or 24 bits)");
                return;
            }
            format = bits == 24.0 ? 1 : 0;
        }
        in.setup_.Settings.DataFormat = format;
        in.Reconfigure();
    }
    static void GetWidth(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, in.setup_.Settings.DataFormat == 1 ? "24" : "20");
        }
    }

    static void SetCurrent(ScpiInstrument& in, Context& cx)
    {
        const Parameter* p = One(in, cx);
        double amperes = 0.0;
        Special special = Special::None;
        if (p == nullptr || !Numeric(in, *p, "A", amperes, special)) {
            return;
        }
        std::uint8_t source = 0;
        if (special == Special::Max) {
            source = 1;
        } else if (special == Special::Def) {
            source = in.defaults_.Settings.CurrentSource;
        } else if (special == Special::None) {
            std::optional<std::uint8_t> found;
            for (std::size_t i = 0; i < Currents.size(); ++i) {
                if (std::abs(amperes - Currents[i]) <= Currents[i] * CurrentTolerance) {
                    found = static_cast<std::uint8_t>(i);
                }
            }
            if (!found) {
                in.PushError(Errors::IllegalParameterValue,
                             Number(amperes) + " A (2.86E-3 or 10E-3)");
                return;
            }
            source = *found;
        }
        in.setup_.Settings.CurrentSource = source;
        in.Reconfigure();
    }
    static void GetCurrent(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, Number(Currents[in.setup_.Settings.CurrentSource == 1 ? 1 : 0]));
        }
    }

    static bool SetChannels(ScpiInstrument& in, const std::vector<int>& list)
    {
        std::array<bool, ChannelCount> ticked{};
        for (const int c : list) {
            ticked[static_cast<std::size_t>(c - 1)] = true;
        }
        in.setup_.Choice.ChannelTicked = ticked;
        in.Reconfigure();
        return true;
    }
    static void SetChannel(ScpiInstrument& in, Context& cx)
    {
        std::optional<std::vector<int>> list;
        if (cx.Cmd->Parameters.empty()) {
            in.PushError(Errors::MissingParameter);
            return;
        }
        if (OptionalList(in, cx, list)) {
            SetChannels(in, *list);
        }
    }
    static void GetChannel(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, ChannelListText(in.setup_.Choice.ChannelTicked));
        }
    }

    static void SetReference(ScpiInstrument& in, Context& cx)
    {
        int channel = 0;
        if (Integer(in, cx, 1, static_cast<int>(ChannelCount),
                    in.defaults_.Choice.ReferenceChannel + 1, channel)) {
            in.setup_.Choice.ReferenceChannel = static_cast<std::uint16_t>(channel - 1);
            in.Reconfigure();
        }
    }
    static void GetReference(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, std::to_string(in.setup_.Choice.ReferenceChannel + 1));
        }
    }

    // A choice among texts of the measure core (upper case on the wire).
    template <std::size_t N>
    static void SetText(ScpiInstrument& in, Context& cx,
                        const std::array<std::string_view, N>& choices, std::string& field,
                        const std::string& def)
    {
        const Parameter* p = One(in, cx);
        if (p == nullptr) {
            return;
        }
        if (p->Type != Parameter::Kind::Character) {
            in.PushError(Errors::DataTypeError, "character data is wanted");
            return;
        }
        if (IsKeyword(*p, "DEFault")) {
            field = def;
            in.Reconfigure();
            return;
        }
        for (const std::string_view choice : choices) {
            if (p->Text == Upper(choice)) {
                field = Lower(choice);
                in.Reconfigure();
                return;
            }
        }
        std::string allowed;
        for (const std::string_view choice : choices) {
            allowed.append(allowed.empty() ? "" : ", ").append(Upper(choice));
        }
        in.PushError(Errors::IllegalParameterValue, p->Text + " (" + allowed + ")");
    }
    static void SetMethod(ScpiInstrument& in, Context& cx)
    {
        SetText(in, cx, measure::CalcMethodTexts, in.setup_.Settings.CalcMethod,
                in.defaults_.Settings.CalcMethod);
    }
    static void GetMethod(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, Upper(in.setup_.Settings.CalcMethod));
        }
    }
    static void SetAmplitude(ScpiInstrument& in, Context& cx)
    {
        SetText(in, cx, measure::AmplitudeTypeTexts, in.setup_.Settings.AmplitudeType,
                in.defaults_.Settings.AmplitudeType);
    }
    static void GetAmplitude(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, Upper(in.setup_.Settings.AmplitudeType));
        }
    }

    static void SetAperture(ScpiInstrument& in, Context& cx)
    {
        const Parameter* p = One(in, cx);
        double seconds = 0.0;
        Special special = Special::None;
        if (p == nullptr || !Numeric(in, *p, "S", seconds, special)) {
            return;
        }
        switch (special) {
        case Special::Min:
            seconds = ApertureMin;
            break;
        case Special::Max:
            seconds = ApertureMax;
            break;
        case Special::Def:
            seconds = ApertureDefault;
            break;
        case Special::None:
            if (!(seconds >= ApertureMin && seconds <= ApertureMax)) {
                in.PushError(Errors::DataOutOfRange, Number(seconds) + " s (1E-3 to 100)");
                return;
            }
            break;
        }
        in.setup_.Settings.MaxAcquisitionTime = seconds;
        in.Reconfigure();
    }
    static void GetAperture(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, Number(in.setup_.Settings.MaxAcquisitionTime));
        }
    }

    // ---- measurements
    static void Configure(ScpiInstrument& in, Context& cx, MeasureFunction function)
    {
        std::optional<std::vector<int>> list;
        if (!OptionalList(in, cx, list)) {
            return;
        }
        in.function_ = function;
        if (list) {
            SetChannels(in, *list);
        } else {
            in.Reconfigure();
        }
    }
    static void ConfVoltage(ScpiInstrument& in, Context& cx)
    {
        Configure(in, cx, MeasureFunction::Voltage);
    }
    static void ConfFrequency(ScpiInstrument& in, Context& cx)
    {
        Configure(in, cx, MeasureFunction::Frequency);
    }
    static void ConfPhase(ScpiInstrument& in, Context& cx)
    {
        Configure(in, cx, MeasureFunction::Phase);
    }
    static void GetConfigure(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        const char* name = in.function_ == MeasureFunction::Voltage     ? "VOLT:AC"
                           : in.function_ == MeasureFunction::Frequency ? "FREQ"
                                                                        : "PHAS";
        Reply(cx, std::string("\"") + name + " " + ChannelListText(in.setup_.Choice.ChannelTicked) +
                      "\"");
    }

    static void Initiate(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        if (in.continuous_) {
            in.PushError({-213, "Init ignored"}, "INITiate:CONTinuous is ON");
            return;
        }
        in.initiated_ = in.engine_.Initiate();
    }
    static void SetContinuous(ScpiInstrument& in, Context& cx)
    {
        bool on = false;
        if (Boolean(in, cx, on)) {
            in.continuous_ = on;
            in.engine_.SetContinuous(on);
        }
    }
    static void GetContinuous(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            Reply(cx, in.continuous_ ? "1" : "0");
        }
    }
    static void Abort(ScpiInstrument& in, Context& cx)
    {
        if (NoParameters(in, cx)) {
            in.continuous_ = false;
            in.engine_.SetContinuous(false);
            in.engine_.Abort();
        }
    }

    // The channels to report: the list (each acquired), else every acquired one.
    static bool ReportedChannels(ScpiInstrument& in, const std::optional<std::vector<int>>& list,
                                 std::vector<std::size_t>& channels)
    {
        const auto& ticked = in.setup_.Choice.ChannelTicked;
        if (!list) {
            for (std::size_t c = 0; c < ChannelCount; ++c) {
                if (ticked[c]) {
                    channels.push_back(c);
                }
            }
            return true;
        }
        for (const int n : *list) {
            const auto c = static_cast<std::size_t>(n - 1);
            if (!ticked[c]) {
                in.PushError(Errors::SettingsConflict,
                             "channel " + std::to_string(n) + " is not acquired (" +
                                 ChannelListText(ticked) + ")");
                return false;
            }
            channels.push_back(c);
        }
        return true;
    }

    static void Answer(ScpiInstrument& in, Context& cx, Quantity quantity,
                       const std::vector<std::size_t>& channels)
    {
        const std::optional<FrameReading> frame = in.engine_.Latest();
        if (!frame || frame->Sequence < in.initiated_) {
            in.PushError(Errors::DataStale, "no frame measured with this setup");
            return;
        }
        std::string out;
        for (const std::size_t c : channels) {
            const ChannelReading& r = frame->Result.Channels[c];
            const measure::ReadingMarks& m = frame->Marks[c];
            auto put = [&out](const std::string& text) {
                if (!out.empty()) {
                    out.push_back(',');
                }
                out += text;
            };
            switch (quantity) {
            case Quantity::Voltage:
                put(Optional(r.Voltage));
                break;
            case Quantity::Frequency:
                put(Optional(r.Frequency));
                break;
            case Quantity::Phase:
                put(Optional(r.Phase));
                break;
            case Quantity::Status:
                put(std::to_string(static_cast<int>(r.Status)));
                break;
            case Quantity::All:
                for (const ReadingField& field : ReadingFields) {
                    put(field.Value(c, r, m));
                }
                break;
            }
        }
        Reply(cx, out);
    }

    // FETCh: the latest frame (after the one asked for, when one is).
    static void Fetch(ScpiInstrument& in, Context& cx, std::optional<Quantity> quantity)
    {
        std::optional<std::vector<int>> list;
        std::vector<std::size_t> channels;
        if (!OptionalList(in, cx, list) || !ReportedChannels(in, list, channels)) {
            return;
        }
        if (!WaitPending(in, cx)) {
            return;
        }
        Answer(in, cx, quantity.value_or(QuantityOf(in.function_)), channels);
    }

    // READ and MEASure: a new frame, then its readings.
    static void Read(ScpiInstrument& in, Context& cx, std::optional<Quantity> quantity)
    {
        std::optional<std::vector<int>> list;
        std::vector<std::size_t> channels;
        if (!OptionalList(in, cx, list) || !ReportedChannels(in, list, channels)) {
            return;
        }
        const std::uint64_t sequence =
            in.continuous_ ? in.engine_.NextSequence() : (in.initiated_ = in.engine_.Initiate());
        const WaitOutcome outcome = in.engine_.WaitFor(sequence, *cx.Cancelled);
        in.DrainEngine();
        if (outcome == WaitOutcome::Cancelled) {
            in.engine_.Abort();
            return;
        }
        if (outcome == WaitOutcome::Failed) {
            return;
        }
        if (in.continuous_) {
            in.initiated_ = sequence;
        }
        Answer(in, cx, quantity.value_or(QuantityOf(in.function_)), channels);
    }

    static void Measure(ScpiInstrument& in, Context& cx, MeasureFunction function)
    {
        // As CONFigure does: the function of later FETCh? and READ?.
        in.function_ = function;
        Read(in, cx, QuantityOf(function));
    }

    static void GetAllFields(ScpiInstrument& in, Context& cx)
    {
        if (!NoParameters(in, cx)) {
            return;
        }
        std::string out;
        for (const ReadingField& field : ReadingFields) {
            if (!out.empty()) {
                out.push_back(',');
            }
            out.append(field.Name);
        }
        Reply(cx, "\"" + out + "\"");
    }

#define KSN_SCPI_QUERY(name, body)                                                                 \
    static void name(ScpiInstrument& in, Context& cx) { body; }

    KSN_SCPI_QUERY(FetchDefault, Fetch(in, cx, std::nullopt))
    KSN_SCPI_QUERY(FetchVoltage, Fetch(in, cx, Quantity::Voltage))
    KSN_SCPI_QUERY(FetchFrequency, Fetch(in, cx, Quantity::Frequency))
    KSN_SCPI_QUERY(FetchPhase, Fetch(in, cx, Quantity::Phase))
    KSN_SCPI_QUERY(FetchStatus, Fetch(in, cx, Quantity::Status))
    KSN_SCPI_QUERY(FetchAll, Fetch(in, cx, Quantity::All))
    KSN_SCPI_QUERY(ReadDefault, Read(in, cx, std::nullopt))
    KSN_SCPI_QUERY(ReadVoltage, Read(in, cx, Quantity::Voltage))
    KSN_SCPI_QUERY(ReadFrequency, Read(in, cx, Quantity::Frequency))
    KSN_SCPI_QUERY(ReadPhase, Read(in, cx, Quantity::Phase))
    KSN_SCPI_QUERY(ReadStatus, Read(in, cx, Quantity::Status))
    KSN_SCPI_QUERY(ReadAll, Read(in, cx, Quantity::All))
    KSN_SCPI_QUERY(MeasVoltage, Measure(in, cx, MeasureFunction::Voltage))
    KSN_SCPI_QUERY(MeasFrequency, Measure(in, cx, MeasureFunction::Frequency))
    KSN_SCPI_QUERY(MeasPhase, Measure(in, cx, MeasureFunction::Phase))
    KSN_SCPI_QUERY(MeasAll, Read(in, cx, Quantity::All))
#undef KSN_SCPI_QUERY

    static const std::vector<Entry>& Common()
    {
        static const std::vector<Entry> entries = {
            {"IDN", nullptr, Idn},       {"RST", Rst, nullptr},    {"CLS", Cls, nullptr},
            {"ESE", SetEse, GetEse},     {"ESR", nullptr, GetEsr}, {"SRE", SetSre, GetSre},
            {"STB", nullptr, GetStb},    {"OPC", Opc, GetOpc},     {"WAI", Wai, nullptr},
            {"TST", nullptr, Tst},
        };
        return entries;
    }

    static const std::vector<Entry>& Tree()
    {
        static const std::vector<Entry> entries = {
            {"SYSTem:ERRor:[NEXT]", nullptr, GetError},
            {"SYSTem:ERRor:COUNt", nullptr, GetErrorCount},
            {"SYSTem:ERRor:ALL", nullptr, GetErrorAll},
            {"SYSTem:VERSion", nullptr, GetVersion},
            {"STATus:PRESet", Preset, nullptr},
            {"STATus:QUEStionable:[EVENt]", nullptr, GetQuesEvent},
            {"STATus:QUEStionable:CONDition", nullptr, GetQuesCondition},
            {"STATus:QUEStionable:ENABle", SetQuesEnable, GetQuesEnable},
            {"STATus:OPERation:[EVENt]", nullptr, GetOperEvent},
            {"STATus:OPERation:CONDition", nullptr, GetOperCondition},
            {"STATus:OPERation:ENABle", SetOperEnable, GetOperEnable},
            {"[SENSe]:RATE", SetRate, GetRate},
            {"[SENSe]:WIDTh", SetWidth, GetWidth},
            {"[SENSe]:CHANnel", SetChannel, GetChannel},
            {"[SENSe]:PHASe:REFerence", SetReference, GetReference},
            {"[SENSe]:METHod", SetMethod, GetMethod},
            {"[SENSe]:AMPLitude", SetAmplitude, GetAmplitude},
            {"[SENSe]:APERture", SetAperture, GetAperture},
            {"SOURce:CURRent:[LEVel]", SetCurrent, GetCurrent},
            {"CONFigure:[SCALar]:[VOLTage]:[AC]", ConfVoltage, GetConfigure},
            {"CONFigure:[SCALar]:FREQuency", ConfFrequency, nullptr},
            {"CONFigure:[SCALar]:PHASe", ConfPhase, nullptr},
            {"INITiate:[IMMediate]", Initiate, nullptr},
            {"INITiate:CONTinuous", SetContinuous, GetContinuous},
            {"ABORt", Abort, nullptr},
            {"FETCh", nullptr, FetchDefault},
            {"FETCh:VOLTage:[AC]", nullptr, FetchVoltage},
            {"FETCh:FREQuency", nullptr, FetchFrequency},
            {"FETCh:PHASe", nullptr, FetchPhase},
            {"FETCh:STATus", nullptr, FetchStatus},
            {"FETCh:ALL", nullptr, FetchAll},
            {"FETCh:ALL:FIELds", nullptr, GetAllFields},
            {"READ", nullptr, ReadDefault},
            {"READ:VOLTage:[AC]", nullptr, ReadVoltage},
            {"READ:FREQuency", nullptr, ReadFrequency},
            {"READ:PHASe", nullptr, ReadPhase},
            {"READ:STATus", nullptr, ReadStatus},
            {"READ:ALL", nullptr, ReadAll},
            {"MEASure:[VOLTage]:[AC]", nullptr, MeasVoltage},
            {"MEASure:FREQuency", nullptr, MeasFrequency},
            {"MEASure:PHASe", nullptr, MeasPhase},
            {"MEASure:ALL", nullptr, MeasAll},
        };
        return entries;
    }

    static const Entry* Find(const std::vector<std::string>& written)
    {
        for (const Entry& entry : Tree()) {
            if (Matches(written, 0, PatternNodes(entry.Pattern), 0)) {
                return &entry;
            }
        }
        return nullptr;
    }
};

ScpiInstrument::ScpiInstrument(InstrumentEngine& engine, tool::MeasureSetup defaults,
                               tool::MeasureSetup start, std::string version)
    : engine_(engine), defaults_(std::move(defaults)), setup_(std::move(start)),
      version_(std::move(version))
{
    engine_.Configure(setup_);
}

void ScpiInstrument::PushError(ScpiError error, std::string_view detail)
{
    // The standard event register tells the class of the error.
    const int code = error.Code;
    if (code <= -100 && code > -200) {
        eventStatus_ |= EventStatus::CommandError;
    } else if (code <= -200 && code > -300) {
        eventStatus_ |= EventStatus::ExecutionError;
    } else if (code <= -300 && code > -400) {
        eventStatus_ |= EventStatus::DeviceError;
    } else if (code <= -400 && code > -500) {
        eventStatus_ |= EventStatus::QueryError;
    }
    std::string text(error.Text);
    if (!detail.empty()) {
        text.append(";").append(detail);
    }
    text = QuotedText(text);
    if (errors_.size() >= ErrorQueueSize) {
        errors_.back() = {Errors::QueueOverflow.Code, std::string(Errors::QueueOverflow.Text)};
        return;
    }
    errors_.emplace_back(code, std::move(text));
}

void ScpiInstrument::DrainEngine()
{
    for (const EngineFault& fault : engine_.TakeFaults()) {
        PushError(fault.Error, fault.Detail);
    }
    if (const auto latest = engine_.Latest(); latest && latest->Sequence > seenSequence_) {
        questionableEvent_ |= QuestionableBits(*latest);
        seenSequence_ = latest->Sequence;
    }
    if (opcArmed_ && (continuous_ || !engine_.Pending())) {
        eventStatus_ |= EventStatus::OperationComplete;
        opcArmed_ = false;
    }
}

void ScpiInstrument::Reconfigure()
{
    engine_.Configure(setup_);
}

void ScpiInstrument::InputOverrun()
{
    PushError(Errors::InputBufferOverrun, "the message was discarded");
}

void ScpiInstrument::ClientGone()
{
    continuous_ = false;
    engine_.SetContinuous(false);
    engine_.Abort();
}

void ScpiInstrument::Dispatch(const Command& command, Context& cx)
{
    const Handlers::Entry* entry = nullptr;
    std::vector<std::string> resolved;
    if (command.Common) {
        for (const Handlers::Entry& e : Handlers::Common()) {
            if (e.Pattern == command.Mnemonics[0]) {
                entry = &e;
            }
        }
    } else {
        // A command after ';' without a leading ':' begins where the last one
        // ended; the root is tried next.
        if (!command.Absolute && !path_.empty()) {
            resolved = path_;
            resolved.insert(resolved.end(), command.Mnemonics.begin(), command.Mnemonics.end());
            entry = Handlers::Find(resolved);
        }
        if (entry == nullptr) {
            resolved = command.Mnemonics;
            entry = Handlers::Find(resolved);
        }
    }
    std::string written = command.Common ? "*" : "";
    for (std::size_t i = 0; i < command.Mnemonics.size(); ++i) {
        written.append(i > 0 ? ":" : "").append(command.Mnemonics[i]);
    }
    if (command.Query) {
        written += "?";
    }
    const Handlers::Handler handler =
        entry == nullptr ? nullptr : command.Query ? entry->Query : entry->Set;
    if (handler == nullptr) {
        PushError(Errors::UndefinedHeader, written);
        return;
    }
    if (!command.Common) {
        path_.assign(resolved.begin(), resolved.end() - 1);
    }
    handler(*this, cx);
}

std::string ScpiInstrument::Execute(std::string_view message,
                                    const std::function<bool()>& cancelled)
{
    DrainEngine();
    std::vector<std::string> responses;
    const std::function<bool()> none = [] { return false; };
    Context cx;
    cx.Responses = &responses;
    cx.Cancelled = cancelled ? &cancelled : &none;
    path_.clear();
    for (const ParsedUnit& unit : ParseMessage(message)) {
        if (!unit.Ok) {
            PushError(unit.Error, unit.Detail);
            continue;
        }
        cx.Cmd = &unit.Parsed;
        Dispatch(unit.Parsed, cx);
        if (cx.Gone()) {
            break;
        }
    }
    DrainEngine();
    std::string out;
    for (std::size_t i = 0; i < responses.size(); ++i) {
        out.append(i > 0 ? ";" : "").append(responses[i]);
    }
    return out;
}

}  // namespace scpi
