#pragma once

#include "FrameResult.h"
#include "ResultsFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace measure {

enum class ResultsSyntax {
    Csv,     // one header line, then one line of comma-separated values per frame
    Ndjson,  // one JSON object per frame and line, the header's names as keys
};

// Which columns a log has and how its values are written.
struct ResultsLayout {
    // The acquired channels: each gets its five columns, in channel order.
    std::array<bool, FrameResult::ChannelCount> Channels{};
    ResultsSyntax Syntax = ResultsSyntax::Csv;
    // The window's display strings instead of full precision.
    bool Display = false;
    // Three more columns per channel: THD and THD+N (%) and SNR (dB).
    bool Metrics = false;
    // Three more columns per channel after its in-band bit: the standard
    // uncertainty of its voltage, frequency and phase difference, in their
    // units (`ch<n>_mV_u`, `ch<n>_kHz_u`, `ch<n>_deg_u`); and with Metrics
    // the converter's figures after SNR: `ch<n>_sinad_db`, `ch<n>_enob_bits`,
    // `ch<n>_sfdr_dbc`, `ch<n>_sfdr_kHz` and, from the sine fit's residual,
    // `ch<n>_fit_sinad_db`, `ch<n>_fit_enob_bits`. Off, the log keeps its
    // columns of before.
    bool Uncertainties = false;
    // The display's number formats: the settings' voltage, frequency and
    // phase formats and the two frequency formats above 100 and 1000 kHz.
    std::string VoltageFormat;
    std::string FrequencyFormat;
    std::string PhaseFormat;
    std::string FrequencyFormatAbove100;
    std::string FrequencyFormatAbove1000;
};

// An existing file that this log cannot continue: other columns, or a last
// line without its end.
class ResultsMismatch : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The results log of a measurement run, for the headless tool and the
// window's recording alike. Columns: `time` (UTC, ISO 8601 with
// milliseconds), `frame`, then per acquired channel n (1-based) `ch<n>_mV`,
// `ch<n>_kHz`, `ch<n>_deg`, `ch<n>_status`, `ch<n>_inband` and, with
// Metrics, `ch<n>_thd_pct`, `ch<n>_thdn_pct`, `ch<n>_snr_db` (in display mode
// with three and one decimals); with Uncertainties the columns it names. In
// display mode an uncertainty is rounded like its value.
//
// Full precision is the shortest text that reads back as the same double,
// with '.' whatever the locale; a value that does not exist is empty (null in
// NDJSON). The display mode writes what the channel panel shows, marks and
// placeholders included. Rows are formatted into a buffer made once, so a
// row costs no allocation; each goes to the file in one piece (ResultsFile).
class ResultsWriter {
public:
    // Throws std::invalid_argument for a display format the number text
    // refuses (only looked at in display mode).
    ResultsWriter(ResultsLayout layout, ResultsFile file);

    const ResultsLayout& Layout() const noexcept { return layout_; }
    const ResultsFile& File() const noexcept { return file_; }

    // The CSV header line with its line end; empty for NDJSON.
    const std::string& Header() const noexcept { return header_; }

    // Checks that a file with content can be continued: a CSV file must begin
    // with this log's header, and any file must end with a whole line.
    // Throws ResultsMismatch.
    void CheckContinuation() const;
    // Starts the log: checks as above, then writes the header into a file
    // without content (never a second one). Throws ResultsMismatch or
    // ResultsFileError.
    void Begin();
    // One frame's row, written whole. Allocates nothing. Throws
    // ResultsFileError; the rows before stay intact.
    void Write(const FrameResult& frame);
    // Closes the file; throws ResultsFileError for a late write error.
    void Close();

    // The row of a frame as text with its line end, valid until the next call.
    std::string_view FormatRow(const FrameResult& frame) noexcept;
    // The longest row this layout can give.
    std::size_t MaxRowLength() const noexcept { return capacity_; }

    std::uint64_t RowsWritten() const noexcept { return rowsWritten_; }

private:
    class Row;

    ResultsLayout layout_;
    ResultsFile file_;
    std::string header_;
    std::size_t capacity_ = 0;
    std::unique_ptr<char[]> row_;
    std::uint64_t rowsWritten_ = 0;
};

// Column names.
namespace ResultsColumn {
inline constexpr std::string_view Time = "time";
inline constexpr std::string_view Frame = "frame";
inline constexpr std::string_view ChannelPrefix = "ch";
inline constexpr std::string_view Voltage = "_mV";
inline constexpr std::string_view Frequency = "_kHz";
inline constexpr std::string_view Phase = "_deg";
inline constexpr std::string_view Status = "_status";
inline constexpr std::string_view InBand = "_inband";
inline constexpr std::string_view Thd = "_thd_pct";
inline constexpr std::string_view ThdN = "_thdn_pct";
inline constexpr std::string_view Snr = "_snr_db";
inline constexpr std::string_view VoltageU = "_mV_u";
inline constexpr std::string_view FrequencyU = "_kHz_u";
inline constexpr std::string_view PhaseU = "_deg_u";
inline constexpr std::string_view Sinad = "_sinad_db";
inline constexpr std::string_view Enob = "_enob_bits";
inline constexpr std::string_view Sfdr = "_sfdr_dbc";
inline constexpr std::string_view SfdrFrequency = "_sfdr_kHz";
inline constexpr std::string_view FitSinad = "_fit_sinad_db";
inline constexpr std::string_view FitEnob = "_fit_enob_bits";
}  // namespace ResultsColumn

}  // namespace measure
