#include "ResultsFile.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace measure {

namespace {

std::string Reason(int error)
{
    return std::generic_category().message(error);
}

std::string Quoted(const std::string& name)
{
    return "'" + name + "'";
}

}  // namespace

ResultsFileError::ResultsFileError(const std::string& fileName, const std::string& message,
                                   int error)
    : std::runtime_error(message), fileName_(fileName), error_(error)
{}

ResultsFile::ResultsFile(int fd, bool owned, std::string name)
    : fd_(fd), owned_(owned), name_(std::move(name))
{
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        Release();
        throw ResultsFileError(name_, "cannot write to " + Quoted(name_) + ": " + Reason(error),
                               error);
    }
    regular_ = S_ISREG(info.st_mode);
    if (!regular_) {
        return;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    append_ = flags >= 0 && (flags & O_APPEND) != 0;
    if (append_) {
        start_ = info.st_size;
    } else {
        const off_t position = ::lseek(fd_, 0, SEEK_CUR);
        start_ = position > 0 ? position : 0;
    }
    committed_ = start_;
}

ResultsFile::~ResultsFile()
{
    Release();
}

ResultsFile::ResultsFile(ResultsFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_), regular_(other.regular_),
      append_(other.append_), start_(other.start_), committed_(other.committed_),
      name_(std::move(other.name_))
{}

ResultsFile& ResultsFile::operator=(ResultsFile&& other) noexcept
{
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        owned_ = other.owned_;
        regular_ = other.regular_;
        append_ = other.append_;
        start_ = other.start_;
        committed_ = other.committed_;
        name_ = std::move(other.name_);
    }
    return *this;
}

void ResultsFile::Release() noexcept
{
    if (fd_ >= 0 && owned_) {
        ::close(fd_);
    }
    fd_ = -1;
}

ResultsFile ResultsFile::Append(const std::string& path)
{
    // Non-blocking only for the open, so that a FIFO without a reader cannot
    // hang it; rows are then written blocking.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int error = errno;
        throw ResultsFileError(path, "cannot open " + Quoted(path) + ": " + Reason(error), error);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return ResultsFile(fd, true, path);
}

ResultsFile ResultsFile::Attach(int fd, std::string name)
{
    return ResultsFile(fd, false, std::move(name));
}

ssize_t ResultsFile::ReadAt(off_t offset, char* buffer, std::size_t size) const
{
    const ssize_t got = ::pread(fd_, buffer, size, offset);
    if (got >= 0 || errno != EBADF) {
        return got;
    }
    // Opened for writing only (standard output as "> file"): the same file
    // once more, for reading.
    const std::string path = "/proc/self/fd/" + std::to_string(fd_);
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader < 0) {
        return -1;
    }
    const ssize_t read = ::pread(reader, buffer, size, offset);
    ::close(reader);
    return read;
}

std::string ResultsFile::FirstLine(std::size_t maxLength) const
{
    std::string line;
    if (!HasContent()) {
        return line;
    }
    line.resize(std::min<std::size_t>(maxLength, static_cast<std::size_t>(start_)));
    const ssize_t got = ReadAt(0, line.data(), line.size());
    line.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t end = line.find_first_of("\r\n");
    if (end != std::string::npos) {
        line.resize(end);
    }
    return line;
}

bool ResultsFile::EndsWithLineEnd() const
{
    if (!HasContent()) {
        return true;
    }
    char last = 0;
    return ReadAt(start_ - 1, &last, 1) == 1 && last == '\n';
}

void ResultsFile::WriteWhole(std::string_view text)
{
    if (fd_ < 0) {
        throw ResultsFileError(name_, "cannot write to " + Quoted(name_) + ": not open", EBADF);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int error = n < 0 ? errno : ENOSPC;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // A stream set non-blocking by whoever handed it over: wait until
            // it takes more, as a blocking one would.
            pollfd ready{fd_, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        if (done > 0 && regular_) {
            CutBack(error);
        }
        throw ResultsFileError(name_, "cannot write to " + Quoted(name_) + ": " + Reason(error),
                               error);
    }
    committed_ += static_cast<off_t>(text.size());
}

void ResultsFile::CutBack(int error)
{
    if (::ftruncate(fd_, committed_) != 0) {
        const int cutError = errno;
        throw ResultsFileError(
            name_,
            "cannot write to " + Quoted(name_) + ": " + Reason(error) +
                "; the part of a row written cannot be removed: " + Reason(cutError),
            error);
    }
    if (!append_) {
        ::lseek(fd_, committed_, SEEK_SET);
    }
}

void ResultsFile::Close()
{
    if (fd_ < 0) {
        return;
    }
    const int fd = std::exchange(fd_, -1);
    if (owned_ && ::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        throw ResultsFileError(name_, "cannot write to " + Quoted(name_) + ": " + Reason(error),
                               error);
    }
}

}  // namespace measure
