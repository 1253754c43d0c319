#pragma once

#include "IniDocument.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A write or read of a settings file that the system refused. The text names
// the file and the reason.
class IniFileError : public std::runtime_error {
public:
    IniFileError(const std::string& fileName, const std::string& message);
    // "Не могу прочитать файл '<name>': <reason>" and "Не могу записать файл ...".
    static IniFileError Reading(const std::string& fileName, const std::string& reason);
    static IniFileError Writing(const std::string& fileName, const std::string& reason);

    const std::string& FileName() const noexcept { return fileName_; }
    // What is wrong, without the file name; empty for a bare message.
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::string fileName_;
    std::string reason_;
};

// What a settings path holds, found without opening it (so that a pipe in its
// place cannot block). Symbolic links are followed one by one, also to a
// target that does not exist yet: that target is where the file is created.
struct IniPathState {
    enum class Kind {
        Missing,   // nothing there yet: the file can be created at Target
        File,      // a regular file of a size worth reading
        Unusable,  // a folder, a pipe, a device, a huge file, a link loop ...
    };
    Kind State = Kind::Missing;
    std::string Target;    // the path with its symbolic links followed
    bool ViaLink = false;  // the path itself is a symbolic link
    std::string Reason;    // Unusable: what is wrong, for the operator
};

// A private-profile file on disk with the value forms of the settings file.
//
// Reads come from the text loaded when the object was made, plus the writes made
// through it since. Writes collect until UpdateFile, which applies them to the
// file as it is on disk at that moment and replaces the file in one step:
// a temporary file in the same directory, flushed to disk, then renamed over
// the old one. A crash or a full disk leaves either the old or the new file.
class IniFile {
public:
    static constexpr std::size_t MaxStringLength = 2047;

    // A missing file reads as empty. Throws IniFileError when the file exists but
    // cannot be read.
    explicit IniFile(std::string fileName);

    // An object that never touches the disk: reads and writes act on its text
    // alone and UpdateFile only takes the writes in. For running on defaults
    // when the file named cannot be used.
    static IniFile Detached(std::string fileName);

    // What is at `path` now.
    static IniPathState Inspect(const std::string& path);
    // The reason of a failed system call in the operator's language.
    static std::string ReasonText(int error);

    const std::string& FileName() const { return fileName_; }

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Missing keys and text that is not of the form give the default.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    double ReadFloat(std::string_view section, std::string_view key, double defaultValue) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void WriteFloat(std::string_view section, std::string_view key, double value);

    // Puts the writes made since the last update into the file; does not touch
    // the file when they change nothing. Throws IniFileError when the file is
    // read-only, its folder refuses a new file, the disk is full, or the path
    // holds something other than a file; the path is then left as it was and
    // the writes are dropped.
    void UpdateFile();

    // Value forms. Integers: optional sign and decimal digits, or "0x"/"0X" and
    // up to eight hexadecimal digits taken as a 32-bit pattern. Floats: decimal
    // text with '.', finite. Text of any other form gives nullopt.
    static std::optional<int> ParseInteger(std::string_view text);
    static std::optional<double> ParseFloat(std::string_view text);
    // Shortest text that reads back to the same value, '.' as separator,
    // whatever the locale.
    static std::string FormatFloat(double value);

private:
    struct PendingWrite {
        std::string section;
        std::string key;
        std::string value;
    };

    struct DetachedTag {};
    IniFile(std::string fileName, DetachedTag);

    void Write(std::string_view section, std::string_view key, std::string value);

    std::string fileName_;
    bool detached_ = false;
    IniDocument document_;
    std::vector<PendingWrite> pending_;
};
