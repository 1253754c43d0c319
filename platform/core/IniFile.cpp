#include "IniFile.h"

#include "Windows1251.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string CannotRead = "Не могу прочитать файл '";
const std::string CannotWrite = "Не могу записать файл '";
const std::string ReasonSeparator = "': ";
const std::string ReadOnlyReason = "файл только для чтения";
const std::string NotAFileReason = "это не обычный файл";
const std::string TooLargeReason = "файл больше 64 МБ";
const std::string Utf16Reason = "файл в кодировке UTF-16, её эта программа не изменяет";

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Closes a descriptor on every path out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    // Closes now and reports the result, which for a written file can carry
    // a late write error.
    int Close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// No settings file comes near this; a larger one is not read into memory.
constexpr off_t MaxFileSize = 64 * 1024 * 1024;

// The file's bytes, or nullopt when there is no such file.
std::optional<std::string> ReadFileBytes(const std::string& path, const std::string& shownName)
{
    // Non-blocking, so that a pipe in the file's place cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            return std::nullopt;
        }
        throw IniFileError(shownName, CannotRead + shownName + ReasonSeparator + ErrnoText(error));
    }
    Descriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        throw IniFileError(shownName, CannotRead + shownName + ReasonSeparator + ErrnoText(error));
    }
    if (!S_ISREG(info.st_mode)) {
        throw IniFileError(shownName, CannotRead + shownName + ReasonSeparator + NotAFileReason);
    }
    if (info.st_size > MaxFileSize) {
        throw IniFileError(shownName, CannotRead + shownName + ReasonSeparator + TooLargeReason);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            throw IniFileError(shownName,
                               CannotRead + shownName + ReasonSeparator + ErrnoText(error));
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// The path the data lives at: a symbolic link is followed so that the
// replacement lands on its target instead of turning the link into a file.
std::string ResolveTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

void WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category());
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
}

// Replaces `target` by a file holding `bytes`, keeping the old file's mode and,
// where allowed, its owner.
void ReplaceFile(const std::string& target, std::string_view bytes, const struct stat* old,
                 const std::string& shownName)
{
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> counter{0};

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = directory + "/." + base + "." + std::to_string(::getpid()) + "." +
                    std::to_string(counter++) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        throw IniFileError(shownName, CannotWrite + shownName + ReasonSeparator + ErrnoText(error));
    }
    Descriptor file(fd);
    try {
        if (old != nullptr) {
            if (::fchmod(fd, old->st_mode & 07777) != 0) {
                throw std::system_error(errno, std::generic_category());
            }
            // Only a privileged process can give the file away; otherwise it stays ours.
            [[maybe_unused]] const int owned = ::fchown(fd, old->st_uid, old->st_gid);
        }
        WriteAll(fd, bytes);
        if (::fsync(fd) != 0 || file.Close() != 0) {
            throw std::system_error(errno, std::generic_category());
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throw std::system_error(errno, std::generic_category());
        }
    } catch (const std::system_error& e) {
        ::unlink(temporary.c_str());
        throw IniFileError(shownName,
                           CannotWrite + shownName + ReasonSeparator + ErrnoText(e.code().value()));
    }
    // Make the rename itself durable; a folder that cannot be synced is no
    // reason to report a failed write, since the new file is in place.
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

}  // namespace

IniFileError::IniFileError(const std::string& fileName, const std::string& message)
    : std::runtime_error(message), fileName_(fileName)
{}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName))
{
    if (auto bytes = ReadFileBytes(fileName_, fileName_)) {
        document_ = IniDocument(*bytes);
    }
}

bool IniFile::SectionExists(std::string_view section) const
{
    return document_.SectionExists(section);
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return document_.Value(section, key).has_value();
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const
{
    const auto value = document_.Value(section, key);
    if (!value) {
        return std::string(defaultValue);
    }
    return std::string(Windows1251::Utf8Prefix(*value, MaxStringLength));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const
{
    const auto value = document_.Value(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseInteger(*value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double defaultValue) const
{
    const auto value = document_.Value(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseFloat(*value).value_or(defaultValue);
}

void IniFile::Write(std::string_view section, std::string_view key, std::string value)
{
    document_.SetValue(section, key, value);  // rejects names that cannot be stored
    pending_.push_back(PendingWrite{std::string(section), std::string(key), std::move(value)});
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    Write(section, key, std::string(value));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    Write(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    Write(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(std::string_view section, std::string_view key, double value)
{
    Write(section, key, FormatFloat(value));
}

void IniFile::UpdateFile()
{
    if (pending_.empty()) {
        return;
    }
    const std::vector<PendingWrite> writes = std::move(pending_);
    pending_.clear();

    const std::string target = ResolveTarget(fileName_);
    const std::optional<std::string> onDisk = ReadFileBytes(target, fileName_);
    IniDocument current(onDisk.value_or(std::string()));
    document_ = current;
    if (current.TextEncoding() == IniDocument::Encoding::Utf16) {
        throw IniFileError(fileName_, CannotWrite + fileName_ + ReasonSeparator + Utf16Reason);
    }
    IniDocument updated = current;
    for (const PendingWrite& write : writes) {
        updated.SetValue(write.section, write.key, write.value);
    }
    const std::string bytes = updated.Bytes();
    if (onDisk && *onDisk == bytes) {
        return;
    }
    struct stat old {};
    const bool exists = onDisk.has_value() && ::stat(target.c_str(), &old) == 0;
    // The replacing rename would succeed on a read-only file, and a privileged
    // process passes every permission check: the mode bits decide.
    if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        throw IniFileError(fileName_, CannotWrite + fileName_ + ReasonSeparator + ReadOnlyReason);
    }
    ReplaceFile(target, bytes, exists ? &old : nullptr, fileName_);
    document_ = std::move(updated);
}

std::optional<int> IniFile::ParseInteger(std::string_view text)
{
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::string_view digits = text.substr(2);
        while (digits.size() > 1 && digits.front() == '0') {
            digits.remove_prefix(1);
        }
        std::uint32_t pattern = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), pattern, 16);
        if (error != std::errc() || end != digits.data() + digits.size()) {
            return std::nullopt;
        }
        return static_cast<int>(pattern);
    }
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> IniFile::ParseFloat(std::string_view text)
{
    text = Trim(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string IniFile::FormatFloat(double value)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("0");
}
