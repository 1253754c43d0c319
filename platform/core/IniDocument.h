#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The text of a private-profile file held line by line, so that a change touches
// only the line it is about and every other byte stays as it was.
//
// Names and values go in and out as UTF-8; on disk the text is Windows-1251, or
// UTF-8 when the file starts with the UTF-8 byte-order mark. Section and key
// names match regardless of letter case; of two equal sections or two equal keys
// in one section the first counts. Lines are ended by CR, LF or CRLF; new lines
// are written with CRLF.
class IniDocument {
public:
    enum class Encoding { Windows1251, Utf8, Utf16 };

    IniDocument();
    explicit IniDocument(std::string_view bytes);

    // Utf16 means a file this class cannot edit: it is read as Windows-1251 (and
    // so yields no useful names) and must not be written back.
    Encoding TextEncoding() const { return encoding_; }

    bool SectionExists(std::string_view section) const;
    // The value with leading and trailing blanks removed; nullopt when absent.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Replaces the key's value in place, keeping everything before the '=' of its
    // line, or adds the key at the end of its section, adding the section at the
    // end of the document. Line breaks in the value become blanks. Throws
    // std::invalid_argument for a name that could not be read back as written.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    std::string Bytes() const;

private:
    enum class LineEnd { None, Cr, Lf, CrLf };
    struct Line {
        std::string text;
        LineEnd end = LineEnd::None;
    };
    struct Section {
        std::vector<Line> lines;  // the header line first, except for the lead-in
        std::unordered_map<std::string, std::size_t> keys;  // folded name -> line
        std::size_t lastKeyLine = 0;
    };

    void Parse(std::string_view bytes);
    void AddLine(std::string_view text, LineEnd end, bool first);
    std::string Decode(std::string_view bytes) const;
    std::string Encode(std::string_view text) const;
    std::string NameKey(std::string_view name) const;
    const Section* FindSection(std::string_view section) const;

    Encoding encoding_ = Encoding::Windows1251;
    std::size_t bomLength_ = 0;
    // sections_[0] holds the lines before the first section header.
    std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> sectionIndex_;  // folded name -> section
};
