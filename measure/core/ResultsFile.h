#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace measure {

// A results file or stream the system refused; names the file and the reason
// (an errno value, 0 when the reason is not the system's).
class ResultsFileError : public std::runtime_error {
public:
    ResultsFileError(const std::string& fileName, const std::string& message, int error);
    const std::string& FileName() const noexcept { return fileName_; }
    int Error() const noexcept { return error_; }

private:
    std::string fileName_;
    int error_ = 0;
};

// Where the rows of a results log go: a file, or a stream such as standard
// output or a pipe. Every row goes in whole or not at all.
//
// A row is handed over in one piece and written at once (write(2), no buffer
// of ours), so a row that was written is in the file even if the program dies
// next. A regular file that takes only part of a row (full disk, file size
// limit) is cut back to the end of the row before it, and the failure
// reported. Anything else (pipe, terminal) gets each row in one write call; a
// row of up to PIPE_BUF bytes is thereby atomic on a pipe, so a reader that
// has gone away never sees part of one, and a reader that stays sees whole
// rows. The file is taken to be written by this object alone while it is open.
class ResultsFile {
public:
    ResultsFile() = default;
    ~ResultsFile();
    ResultsFile(ResultsFile&& other) noexcept;
    ResultsFile& operator=(ResultsFile&& other) noexcept;
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;

    // Appends to the file at path, making it (mode 0666 less the umask) when
    // it does not exist. Throws ResultsFileError.
    static ResultsFile Append(const std::string& path);
    // Writes to a descriptor that is not ours to close (standard output);
    // name is what messages call it. Throws ResultsFileError for a closed one.
    static ResultsFile Attach(int fd, std::string name);

    bool IsOpen() const noexcept { return fd_ >= 0; }
    const std::string& Name() const noexcept { return name_; }

    // A file opened by Append that already holds bytes. What an attached
    // stream held before is not this log's: it gets a header of its own.
    bool HasContent() const noexcept { return owned_ && regular_ && start_ > 0; }
    // Of such content: its first line without the line end, at most
    // maxLength bytes, and whether its last byte ends a line.
    std::string FirstLine(std::size_t maxLength) const;
    bool EndsWithLineEnd() const;

    // Writes all of text or, for a regular file, leaves the file as it was;
    // throws ResultsFileError.
    void WriteWhole(std::string_view text);

    // Closes a file of ours, reporting a write error that only shows at the
    // close; a stream is let go. Throws ResultsFileError.
    void Close();

private:
    ResultsFile(int fd, bool owned, std::string name);
    void Release() noexcept;
    ssize_t ReadAt(off_t offset, char* buffer, std::size_t size) const;
    // A regular file back to committed_ bytes after part of a row went in.
    void CutBack(int error);

    int fd_ = -1;
    bool owned_ = false;
    bool regular_ = false;
    bool append_ = false;  // O_APPEND: each write goes to the end
    off_t start_ = 0;      // where the first row goes
    off_t committed_ = 0;  // end of the last whole row
    std::string name_;
};

}  // namespace measure
