#include "IniFile.h"

#include "Windows1251.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
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
const std::string FolderReason = "это папка, а не файл";
const std::string PipeReason = "это именованный канал, а не файл";
const std::string SocketReason = "это сокет, а не файл";
const std::string DeviceReason = "это устройство, а не файл";
const std::string TooLargeReason = "файл больше 64 МБ";
const std::string Utf16Reason = "файл в кодировке UTF-16, её эта программа не изменяет";

std::string ErrnoText(int error)
{
    return IniFile::ReasonText(error);
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

// What is wrong with an object that is not a regular file.
std::string KindReason(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return FolderReason;
    }
    if (S_ISFIFO(mode)) {
        return PipeReason;
    }
    if (S_ISSOCK(mode)) {
        return SocketReason;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return DeviceReason;
    }
    return NotAFileReason;
}

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
        throw IniFileError::Reading(shownName, ErrnoText(error));
    }
    Descriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        throw IniFileError::Reading(shownName, ErrnoText(error));
    }
    if (!S_ISREG(info.st_mode)) {
        throw IniFileError::Reading(shownName, KindReason(info.st_mode));
    }
    if (info.st_size > MaxFileSize) {
        throw IniFileError::Reading(shownName, TooLargeReason);
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
            throw IniFileError::Reading(shownName, ErrnoText(error));
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// Where a path leads: each symbolic link is replaced by its target, relative
// targets taken from the link's folder, until something that is not a link
// (or nothing) is reached. error is ELOOP for a chain that does not end.
struct LinkWalk {
    std::string target;
    bool viaLink = false;
    int error = 0;
};

LinkWalk FollowLinks(const std::string& path)
{
    // The system's own limit on links in one lookup.
    constexpr int MaxLinks = 40;
    LinkWalk walk{path, false, 0};
    for (int links = 0;; ++links) {
        struct stat info {};
        if (::lstat(walk.target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return walk;
        }
        if (links == MaxLinks) {
            walk.error = ELOOP;
            return walk;
        }
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(walk.target.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
            // Gone or changed meanwhile: let the open that follows tell.
            return walk;
        }
        link.resize(static_cast<std::size_t>(length));
        walk.viaLink = true;
        if (!link.empty() && link.front() == '/') {
            walk.target = link;
        } else {
            const std::size_t slash = walk.target.rfind('/');
            walk.target =
                slash == std::string::npos ? link : walk.target.substr(0, slash + 1) + link;
        }
    }
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
        throw IniFileError::Writing(shownName, ErrnoText(error));
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
        throw IniFileError::Writing(shownName, ErrnoText(e.code().value()));
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

IniFileError IniFileError::Reading(const std::string& fileName, const std::string& reason)
{
    IniFileError error(fileName, CannotRead + fileName + ReasonSeparator + reason);
    error.reason_ = reason;
    return error;
}

IniFileError IniFileError::Writing(const std::string& fileName, const std::string& reason)
{
    IniFileError error(fileName, CannotWrite + fileName + ReasonSeparator + reason);
    error.reason_ = reason;
    return error;
}

std::string IniFile::ReasonText(int error)
{
    switch (error) {
    case EACCES:
        return "нет прав доступа";
    case EPERM:
        return "действие не разрешено";
    case EROFS:
        return "файловая система только для чтения";
    case ENOSPC:
        return "на диске нет места";
    case EDQUOT:
        return "исчерпана дисковая квота";
    case EISDIR:
        return FolderReason;
    case ENOENT:
        return "нет такого файла или папки";
    case ENAMETOOLONG:
        return "слишком длинное имя файла";
    case EIO:
        return "ошибка ввода-вывода";
    case EFBIG:
        return "файл слишком велик";
    case ELOOP:
        return "символические ссылки замкнуты в круг";
    default:
        // The system's own words for the rare rest, for whoever looks into it.
        return "системная ошибка " + std::to_string(error) + " (" +
               std::generic_category().message(error) + ")";
    }
}

IniPathState IniFile::Inspect(const std::string& path)
{
    IniPathState state;
    const LinkWalk walk = FollowLinks(path);
    state.Target = walk.target;
    state.ViaLink = walk.viaLink;
    if (walk.error != 0) {
        state.State = IniPathState::Kind::Unusable;
        state.Reason = ReasonText(walk.error);
        return state;
    }
    struct stat info {};
    if (::stat(walk.target.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT) {
            state.State = IniPathState::Kind::Missing;
        } else {
            state.State = IniPathState::Kind::Unusable;
            state.Reason = ReasonText(error);
        }
        return state;
    }
    if (!S_ISREG(info.st_mode)) {
        state.State = IniPathState::Kind::Unusable;
        state.Reason = KindReason(info.st_mode);
    } else if (info.st_size > MaxFileSize) {
        state.State = IniPathState::Kind::Unusable;
        state.Reason = TooLargeReason;
    } else {
        state.State = IniPathState::Kind::File;
    }
    return state;
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName))
{
    if (auto bytes = ReadFileBytes(fileName_, fileName_)) {
        document_ = IniDocument(*bytes);
    }
}

IniFile::IniFile(std::string fileName, DetachedTag)
    : fileName_(std::move(fileName)), detached_(true)
{}

IniFile IniFile::Detached(std::string fileName)
{
    return IniFile(std::move(fileName), DetachedTag{});
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
    if (detached_) {
        return;  // the document has them already
    }

    // The replacement lands on a link's target (also one still to be
    // created) instead of turning the link into a file.
    const IniPathState state = Inspect(fileName_);
    if (state.State == IniPathState::Kind::Unusable) {
        throw IniFileError::Writing(fileName_, state.Reason);
    }
    const std::string& target = state.Target;
    std::optional<std::string> onDisk;
    try {
        onDisk = ReadFileBytes(target, fileName_);
    } catch (const IniFileError& e) {
        // What cannot be read cannot be updated either.
        throw IniFileError::Writing(fileName_, e.Reason());
    }
    IniDocument current(onDisk.value_or(std::string()));
    document_ = current;
    if (current.TextEncoding() == IniDocument::Encoding::Utf16) {
        throw IniFileError::Writing(fileName_, Utf16Reason);
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
    if (exists && (old.st_mode & 0222) == 0) {
        throw IniFileError::Writing(fileName_, ReadOnlyReason);
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        const int error = errno;
        throw IniFileError::Writing(fileName_, error == EROFS ? ErrnoText(error) : ReadOnlyReason);
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
