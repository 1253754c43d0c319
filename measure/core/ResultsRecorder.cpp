#include "ResultsRecorder.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace measure {

namespace {

ResultsLayout CsvLayout(const std::array<bool, FrameResult::ChannelCount>& channels,
                        bool uncertainties)
{
    ResultsLayout layout;
    layout.Channels = channels;
    layout.Uncertainties = uncertainties;
    layout.Syntax = ResultsSyntax::Csv;
    return layout;
}

}  // namespace

ResultsRecorder::~ResultsRecorder()
{
    Stop();
}

ResultsRecorder::Result
ResultsRecorder::Start(const std::string& path,
                       const std::array<bool, FrameResult::ChannelCount>& channels,
                       bool uncertainties)
{
    Stop();
    path_ = path;
    struct stat info {};
    made_ = ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
    rows_ = 0;
    const Result opened = Open(channels, uncertainties);
    if (!opened) {
        Discard();
    }
    return opened;
}

ResultsRecorder::Result
ResultsRecorder::Open(const std::array<bool, FrameResult::ChannelCount>& channels,
                      bool uncertainties)
{
    Result result;
    result.FileName = path_;
    try {
        writer_.emplace(CsvLayout(channels, uncertainties), ResultsFile::Append(path_));
    } catch (const ResultsFileError& e) {
        result.Kind = Problem::CannotOpen;
        result.Error = e.Error();
        return result;
    }
    begun_ = false;
    if (writer_->File().HasContent() && !writer_->File().EndsWithLineEnd()) {
        result.Kind = Problem::CutLastLine;
    } else {
        try {
            writer_->CheckContinuation();
        } catch (const ResultsMismatch&) {
            result.Kind = Problem::OtherColumns;
        }
    }
    if (!result) {
        writer_.reset();
    }
    return result;
}

ResultsRecorder::Result
ResultsRecorder::Record(FrameResult frame,
                        const std::array<bool, FrameResult::ChannelCount>& channels,
                        bool uncertainties)
{
    Result result;
    result.FileName = path_;
    if (!writer_) {
        return result;
    }
    if (writer_->Layout().Channels != channels ||
        writer_->Layout().Uncertainties != uncertainties) {
        writer_.reset();
        result = Open(channels, uncertainties);
        if (!result) {
            Discard();
            return result;
        }
    }
    frame.Frame = rows_ + 1;
    try {
        if (!begun_) {
            writer_->Begin();
            begun_ = true;
        }
        writer_->Write(frame);
    } catch (const ResultsFileError& e) {
        result.Kind = Problem::WriteFailed;
        result.Error = e.Error();
    } catch (const ResultsMismatch&) {
        result.Kind = Problem::OtherColumns;
    } catch (const std::exception&) {
        result.Kind = Problem::WriteFailed;
    }
    if (!result) {
        Discard();
        return result;
    }
    ++rows_;
    return result;
}

ResultsRecorder::Result ResultsRecorder::Stop()
{
    Result result;
    result.FileName = path_;
    if (!writer_) {
        return result;
    }
    try {
        writer_->Close();
    } catch (const ResultsFileError& e) {
        result.Kind = Problem::WriteFailed;
        result.Error = e.Error();
    }
    Discard();
    return result;
}

void ResultsRecorder::Discard() noexcept
{
    writer_.reset();
    // A file this recording made and left without a row (a header at most)
    // goes again, as the tool's does.
    struct stat info {};
    if (made_ && rows_ == 0 && ::stat(path_.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const bool onlyHeader = begun_ || info.st_size == 0;
        if (onlyHeader) {
            ::unlink(path_.c_str());
        }
    }
    made_ = false;
    begun_ = false;
}

}  // namespace measure
