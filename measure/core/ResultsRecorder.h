#pragma once

#include "FrameResult.h"
#include "ResultsWriter.h"

#include <cstdint>
#include <optional>
#include <string>

namespace measure {

// A recording of a measurement's frames into a CSV file, through the results
// writer the headless tool uses: the same header, the same rows (full
// precision), appended to what the file holds. The recording numbers its
// frames from 1. Not thread-safe: one thread records.
class ResultsRecorder {
public:
    enum class Problem {
        None,
        CannotOpen,    // the file cannot be opened or made
        OtherColumns,  // the file holds rows of other columns
        CutLastLine,   // the file's last line has no end
        WriteFailed,   // a row did not go in (the rows before it stay whole)
    };
    struct Result {
        Problem Kind = Problem::None;
        std::string FileName;
        int Error = 0;  // errno of a refused call, 0 otherwise
        explicit operator bool() const noexcept { return Kind == Problem::None; }
    };

    ResultsRecorder() = default;
    ~ResultsRecorder();
    ResultsRecorder(const ResultsRecorder&) = delete;
    ResultsRecorder& operator=(const ResultsRecorder&) = delete;

    // Starts a recording into path for frames of these acquired channels,
    // with the readings' uncertainty columns when asked (ResultsLayout's
    // Uncertainties); checks that the file can take their rows. On a problem
    // nothing is recording (and a file made here goes again).
    Result Start(const std::string& path,
                 const std::array<bool, FrameResult::ChannelCount>& channels,
                 bool uncertainties = false);
    bool Recording() const noexcept { return writer_.has_value(); }
    const std::string& Path() const noexcept { return path_; }

    // One frame of a run whose acquired channels (and uncertainty columns)
    // are those given; when they are not those of the rows so far, the file
    // must take the new columns (an empty file gets their header). On a
    // problem the recording ends.
    Result Record(FrameResult frame, const std::array<bool, FrameResult::ChannelCount>& channels,
                  bool uncertainties = false);

    // Ends the recording: a file made by Start that got no row goes again.
    Result Stop();

    std::uint64_t Rows() const noexcept { return rows_; }

private:
    Result Open(const std::array<bool, FrameResult::ChannelCount>& channels, bool uncertainties);
    void Discard() noexcept;

    std::string path_;
    bool made_ = false;
    bool begun_ = false;
    std::uint64_t rows_ = 0;
    std::optional<ResultsWriter> writer_;
};

}  // namespace measure
