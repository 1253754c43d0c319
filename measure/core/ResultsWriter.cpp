#include "ResultsWriter.h"

#include "MeasurementTexts.h"
#include "NumberText.h"
#include "ReadingText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace measure {

namespace {

constexpr double MilliPerUnit = 1000.0;
constexpr double KiloPerUnit = 0.001;

// The longest shortest-form double ("-2.2250738585072014e-308"), a 64-bit
// count and a time stamp ("2024-05-01T12:34:56.789Z", years up to 99999).
constexpr std::size_t MaxNumberLength = 24;
constexpr std::size_t MaxCountLength = 20;
constexpr std::size_t MaxTimeLength = 25;
// Quotes, separators and the line end around a row, with room to spare.
constexpr std::size_t RowFrame = 32;

constexpr std::string_view Null = "null";

enum class Field {
    Voltage,
    Frequency,
    Phase,
    Status,
    InBand,
    Thd,
    ThdN,
    Snr,
    VoltageU,
    FrequencyU,
    PhaseU,
    Sinad,
    Enob,
    Sfdr,
    SfdrFrequency,
    FitSinad,
    FitEnob,
};
constexpr std::array<Field, 5> Fields = {Field::Voltage, Field::Frequency, Field::Phase,
                                         Field::Status, Field::InBand};
constexpr std::array<Field, 3> MetricFields = {Field::Thd, Field::ThdN, Field::Snr};
constexpr std::array<Field, 3> UncertaintyFields = {Field::VoltageU, Field::FrequencyU,
                                                    Field::PhaseU};
constexpr std::array<Field, 6> ConverterFields = {Field::Sinad, Field::Enob,
                                                  Field::Sfdr,  Field::SfdrFrequency,
                                                  Field::FitSinad, Field::FitEnob};

// An acquired channel's columns in their order: the one list the header and
// every row follow.
struct ChannelColumns {
    std::array<Field, Fields.size() + UncertaintyFields.size() + MetricFields.size() +
                          ConverterFields.size()>
        Order{};
    std::size_t Count = 0;

    template <std::size_t N>
    void Add(const std::array<Field, N>& fields) noexcept
    {
        for (const Field field : fields) {
            Order[Count++] = field;
        }
    }
    const Field* begin() const noexcept { return Order.data(); }
    const Field* end() const noexcept { return Order.data() + Count; }
};

ChannelColumns ColumnsOf(const ResultsLayout& layout) noexcept
{
    ChannelColumns columns;
    columns.Add(Fields);
    if (layout.Uncertainties) {
        columns.Add(UncertaintyFields);
    }
    if (layout.Metrics) {
        columns.Add(MetricFields);
        if (layout.Uncertainties) {
            columns.Add(ConverterFields);
        }
    }
    return columns;
}
// The display's digits of ENOB: "12.34" bits.
constexpr std::string_view BitsFormat = "0.00";
// The display's digits of the figures: "1.000" %, "60.2" dB.
constexpr std::string_view PercentFormat = "0.000";
constexpr std::string_view DecibelFormat = "0.0";

std::string_view FieldSuffix(Field field)
{
    switch (field) {
    case Field::Voltage:
        return ResultsColumn::Voltage;
    case Field::Frequency:
        return ResultsColumn::Frequency;
    case Field::Phase:
        return ResultsColumn::Phase;
    case Field::Status:
        return ResultsColumn::Status;
    case Field::InBand:
        return ResultsColumn::InBand;
    case Field::Thd:
        return ResultsColumn::Thd;
    case Field::ThdN:
        return ResultsColumn::ThdN;
    case Field::Snr:
        return ResultsColumn::Snr;
    case Field::VoltageU:
        return ResultsColumn::VoltageU;
    case Field::FrequencyU:
        return ResultsColumn::FrequencyU;
    case Field::PhaseU:
        return ResultsColumn::PhaseU;
    case Field::Sinad:
        return ResultsColumn::Sinad;
    case Field::Enob:
        return ResultsColumn::Enob;
    case Field::Sfdr:
        return ResultsColumn::Sfdr;
    case Field::SfdrFrequency:
        return ResultsColumn::SfdrFrequency;
    case Field::FitSinad:
        return ResultsColumn::FitSinad;
    case Field::FitEnob:
        return ResultsColumn::FitEnob;
    }
    return {};
}

std::string ColumnName(std::size_t channel, Field field)
{
    return std::string(ResultsColumn::ChannelPrefix) + std::to_string(channel + 1) +
           std::string(FieldSuffix(field));
}

std::size_t LongestStatus()
{
    std::size_t longest = 0;
    for (int s = 0; s <= static_cast<int>(ReadingStatus::Lost); ++s) {
        longest = std::max(longest, ReadingStatusText(static_cast<ReadingStatus>(s)).size());
    }
    return longest;
}

}  // namespace

// A row being put together in the writer's buffer; whatever does not fit
// marks the row as overflowed instead of running past the buffer.
class ResultsWriter::Row {
public:
    Row(char* first, std::size_t capacity) : first_(first), next_(first), last_(first + capacity) {}

    void Put(std::string_view text) noexcept
    {
        if (static_cast<std::size_t>(last_ - next_) < text.size()) {
            overflow_ = true;
            return;
        }
        next_ = std::copy(text.begin(), text.end(), next_);
    }
    void Put(char c) noexcept { Put(std::string_view(&c, 1)); }

    // Shortest text that reads back as the value; '.' whatever the locale.
    void Number(double value) noexcept
    {
        const auto result = std::to_chars(next_, last_, value);
        Advance(result.ec == std::errc() ? result.ptr : nullptr);
    }
    void Count(std::uint64_t value) noexcept
    {
        const auto result = std::to_chars(next_, last_, value);
        Advance(result.ec == std::errc() ? result.ptr : nullptr);
    }
    // Fixed-point text of the display by a pattern of zeros; the patterns
    // were checked when the writer was made.
    void Fixed(std::string_view pattern, double value) noexcept
    {
        char* end = nullptr;
        try {
            end = NumberText::FormatFloatTo(next_, last_, pattern, value);
        } catch (...) {
        }
        Advance(end);
    }
    // A value of the reading as the display shows it (ShowReading).
    void Shown(const ReadingFormats& formats, const ChannelReading& reading,
               ShownValue value) noexcept
    {
        Advance(ShowReadingTo(next_, last_, formats, reading, value));
    }
    // UTC, ISO 8601 with milliseconds: 2024-05-01T12:34:56.789Z.
    void Time(std::chrono::system_clock::time_point time) noexcept
    {
        using namespace std::chrono;
        const auto ms = floor<milliseconds>(time);
        const auto day = floor<days>(ms);
        const year_month_day date{day};
        const hh_mm_ss clock{ms - day};
        Digits(static_cast<int>(date.year()), 4);
        Put('-');
        Digits(static_cast<int>(static_cast<unsigned>(date.month())), 2);
        Put('-');
        Digits(static_cast<int>(static_cast<unsigned>(date.day())), 2);
        Put('T');
        Digits(static_cast<int>(clock.hours().count()), 2);
        Put(':');
        Digits(static_cast<int>(clock.minutes().count()), 2);
        Put(':');
        Digits(static_cast<int>(clock.seconds().count()), 2);
        Put('.');
        Digits(static_cast<int>(clock.subseconds().count()), 3);
        Put('Z');
    }

    bool Overflow() const noexcept { return overflow_; }
    std::string_view Text() const noexcept
    {
        return std::string_view(first_, static_cast<std::size_t>(next_ - first_));
    }

private:
    void Advance(char* end) noexcept
    {
        if (end == nullptr) {
            overflow_ = true;
        } else {
            next_ = end;
        }
    }
    // value with at least width digits, zeros in front.
    void Digits(int value, int width) noexcept
    {
        if (value < 0) {
            Put('-');
            value = -value;
        }
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        const auto length = static_cast<int>(result.ptr - digits);
        for (int i = length; i < width; ++i) {
            Put('0');
        }
        Put(std::string_view(digits, static_cast<std::size_t>(length)));
    }

    char* first_;
    char* next_;
    char* last_;
    bool overflow_ = false;
};

ResultsWriter::ResultsWriter(ResultsLayout layout, ResultsFile file)
    : layout_(std::move(layout)), file_(std::move(file))
{
    // The header, and the longest row from the longest text of every field.
    std::size_t valueRoom = 0;  // the three values of a channel
    if (layout_.Display) {
        const auto longest = [](std::initializer_list<std::size_t> lengths) {
            return std::max(lengths);
        };
        const std::size_t marks = longest({MeasurementText::ShortCircuitMark.size(),
                                           MeasurementText::OpenCircuitMark.size(),
                                           MeasurementText::ValuePlaceholder.size()});
        valueRoom = longest({marks, NumberText::FormatFloatMaxLength(layout_.VoltageFormat)}) +
                    longest({marks, NumberText::FormatFloatMaxLength(layout_.FrequencyFormat),
                             NumberText::FormatFloatMaxLength(layout_.FrequencyFormatAbove100),
                             NumberText::FormatFloatMaxLength(layout_.FrequencyFormatAbove1000)}) +
                    longest({marks, NumberText::FormatFloatMaxLength(layout_.PhaseFormat)});
    } else {
        valueRoom = 3 * std::max(MaxNumberLength, Null.size());
    }
    std::string names = std::string(ResultsColumn::Time) + "," + std::string(ResultsColumn::Frame);
    std::size_t channelRoom = 0;
    for (std::size_t c = 0; c < FrameResult::ChannelCount; ++c) {
        if (!layout_.Channels[c]) {
            continue;
        }
        for (const Field field : ColumnsOf(layout_)) {
            names += ',';
            names += ColumnName(c, field);
        }
        // Each value quoted (display strings, status) and the in-band bit or null.
        channelRoom += valueRoom + LongestStatus() + Null.size() + 5 * 2;
        if (layout_.Uncertainties) {
            channelRoom += valueRoom + 3 * std::max(MaxNumberLength, Null.size()) + 3 * 2;
        }
        if (layout_.Metrics) {
            const std::size_t figure =
                layout_.Display ? std::max({MeasurementText::ValuePlaceholder.size(),
                                            NumberText::FormatFloatMaxLength(PercentFormat),
                                            NumberText::FormatFloatMaxLength(DecibelFormat)})
                                : std::max(MaxNumberLength, Null.size());
            channelRoom += 3 * (figure + 2);
            if (layout_.Uncertainties) {
                channelRoom += ConverterFields.size() *
                               (std::max({MaxNumberLength, Null.size(),
                                          MeasurementText::ValuePlaceholder.size()}) +
                                2);
            }
        }
    }
    if (layout_.Syntax == ResultsSyntax::Csv) {
        header_ = names + "\n";
    }
    // Every name appears once per row, quoted and followed by a colon in NDJSON.
    capacity_ = RowFrame + 3 * names.size() + MaxTimeLength + MaxCountLength + channelRoom;
    row_ = std::make_unique<char[]>(capacity_);
}

std::string_view ResultsWriter::FormatRow(const FrameResult& frame) noexcept
{
    Row row(row_.get(), capacity_);
    const bool json = layout_.Syntax == ResultsSyntax::Ndjson;
    bool first = true;
    // Separator and, in NDJSON, the quoted key.
    const auto column = [&](std::string_view prefix, std::size_t channel, std::string_view suffix) {
        if (!first) {
            row.Put(',');
        }
        first = false;
        if (json) {
            row.Put('"');
            row.Put(prefix);
            if (channel != 0) {
                row.Count(channel);
            }
            row.Put(suffix);
            row.Put("\":");
        }
    };
    // A text value: quoted in NDJSON.
    const auto text = [&](std::string_view value) {
        if (json) {
            row.Put('"');
        }
        row.Put(value);
        if (json) {
            row.Put('"');
        }
    };
    const auto number = [&](const std::optional<double>& value, double scale) {
        if (value && std::isfinite(*value * scale)) {
            row.Number(*value * scale);
        } else if (json) {
            row.Put(Null);
        }
    };
    // A figure in display mode: by its pattern, the placeholder where none.
    const auto shown = [&](const std::optional<double>& value, double scale,
                           std::string_view pattern) {
        if (json) {
            row.Put('"');
        }
        if (value) {
            row.Fixed(pattern, *value * scale);
        } else {
            row.Put(MeasurementText::ValuePlaceholder);
        }
        if (json) {
            row.Put('"');
        }
    };
    const ReadingFormats formats{layout_.VoltageFormat, layout_.FrequencyFormat,
                                 layout_.PhaseFormat, layout_.FrequencyFormatAbove100,
                                 layout_.FrequencyFormatAbove1000};
    // A value of the reading, full precision or as the panel shows it.
    const auto value = [&](const ChannelReading& reading, ShownValue which,
                           const std::optional<double>& full, double scale) {
        if (!layout_.Display) {
            number(full, scale);
            return;
        }
        if (json) {
            row.Put('"');
        }
        row.Shown(formats, reading, which);
        if (json) {
            row.Put('"');
        }
    };
    const auto figure = [&](const std::optional<double>& full, double scale,
                            std::string_view pattern) {
        layout_.Display ? shown(full, scale, pattern) : number(full, scale);
    };

    if (json) {
        row.Put('{');
    }
    column(ResultsColumn::Time, 0, {});
    if (json) {
        row.Put('"');
    }
    row.Time(frame.Time);
    if (json) {
        row.Put('"');
    }
    column(ResultsColumn::Frame, 0, {});
    row.Count(frame.Frame);

    for (std::size_t c = 0; c < FrameResult::ChannelCount; ++c) {
        if (!layout_.Channels[c]) {
            continue;
        }
        const ChannelReading& reading = frame.Channels[c];
        const std::size_t n = c + 1;
        for (const Field field : ColumnsOf(layout_)) {
            column(ResultsColumn::ChannelPrefix, n, FieldSuffix(field));
            switch (field) {
            case Field::Voltage:
                value(reading, ShownValue::Voltage, reading.Voltage, MilliPerUnit);
                break;
            case Field::Frequency:
                value(reading, ShownValue::Frequency, reading.Frequency, KiloPerUnit);
                break;
            case Field::Phase:
                value(reading, ShownValue::Phase, reading.Phase, 1.0);
                break;
            case Field::Status:
                text(ReadingStatusText(reading.Status));
                break;
            case Field::InBand:
                if (reading.Status != ReadingStatus::Lost) {
                    row.Put(reading.InBand ? '1' : '0');
                } else if (json) {
                    row.Put(Null);  // no reading to lie in a band or not
                }
                break;
            // Each uncertainty rounded like its value in display mode.
            case Field::VoltageU:
                value(reading, ShownValue::VoltageU, reading.VoltageU, MilliPerUnit);
                break;
            case Field::FrequencyU:
                value(reading, ShownValue::FrequencyU, reading.FrequencyU, KiloPerUnit);
                break;
            case Field::PhaseU:
                value(reading, ShownValue::PhaseU, reading.PhaseU, 1.0);
                break;
            case Field::Thd:
                figure(reading.ThdPercent, 1.0, PercentFormat);
                break;
            case Field::ThdN:
                figure(reading.ThdNPercent, 1.0, PercentFormat);
                break;
            case Field::Snr:
                figure(reading.SnrDb, 1.0, DecibelFormat);
                break;
            case Field::Sinad:
                figure(reading.SinadDb, 1.0, DecibelFormat);
                break;
            case Field::Enob:
                figure(reading.EnobBits, 1.0, BitsFormat);
                break;
            case Field::Sfdr:
                figure(reading.SfdrDbc, 1.0, DecibelFormat);
                break;
            case Field::SfdrFrequency:
                figure(reading.SfdrHz, KiloPerUnit, PercentFormat);
                break;
            case Field::FitSinad:
                figure(reading.FitSinadDb, 1.0, DecibelFormat);
                break;
            case Field::FitEnob:
                figure(reading.FitEnobBits, 1.0, BitsFormat);
                break;
            }
        }
    }
    if (json) {
        row.Put('}');
    }
    row.Put('\n');
    return row.Overflow() ? std::string_view() : row.Text();
}

void ResultsWriter::CheckContinuation() const
{
    if (!file_.HasContent()) {
        return;
    }
    const std::string name = "'" + file_.Name() + "'";
    if (!file_.EndsWithLineEnd()) {
        throw ResultsMismatch(name + " does not end with a whole line; rows cannot be added to it");
    }
    if (header_.empty()) {
        return;
    }
    const std::string_view expected(header_.data(), header_.size() - 1);
    if (file_.FirstLine(expected.size() + 1) != expected) {
        throw ResultsMismatch(name + " holds other columns than this log's (" +
                              std::string(expected) + ")");
    }
}

void ResultsWriter::Begin()
{
    CheckContinuation();
    if (!file_.HasContent() && !header_.empty()) {
        file_.WriteWhole(header_);
    }
}

void ResultsWriter::Write(const FrameResult& frame)
{
    const std::string_view text = FormatRow(frame);
    if (text.empty()) {
        throw std::length_error("a results row is longer than its bound");
    }
    file_.WriteWhole(text);
    ++rowsWritten_;
}

void ResultsWriter::Close()
{
    file_.Close();
}

}  // namespace measure
