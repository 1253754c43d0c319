#include "IniDocument.h"

#include "Windows1251.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniDocument::IniDocument()
{
    sections_.emplace_back();
}

IniDocument::IniDocument(std::string_view bytes)
{
    Parse(bytes);
}

void IniDocument::Parse(std::string_view bytes)
{
    sections_.clear();
    sectionIndex_.clear();
    sections_.emplace_back();
    if (bytes.substr(0, Utf8Bom.size()) == Utf8Bom) {
        encoding_ = Encoding::Utf8;
        bomLength_ = Utf8Bom.size();
    } else if (bytes.size() >= 4 &&
               ((bytes[0] == '\xFF' && bytes[1] == '\xFE' && bytes[3] == '\0') ||
                (bytes[0] == '\xFE' && bytes[1] == '\xFF' && bytes[2] == '\0'))) {
        encoding_ = Encoding::Utf16;
    }
    std::size_t pos = 0;
    bool first = true;
    while (pos < bytes.size()) {
        const std::size_t brk = bytes.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            AddLine(bytes.substr(pos), LineEnd::None, first);
            break;
        }
        LineEnd end = LineEnd::Lf;
        std::size_t next = brk + 1;
        if (bytes[brk] == '\r') {
            if (next < bytes.size() && bytes[next] == '\n') {
                end = LineEnd::CrLf;
                ++next;
            } else {
                end = LineEnd::Cr;
            }
        }
        AddLine(bytes.substr(pos, brk - pos), end, first);
        first = false;
        pos = next;
    }
}

void IniDocument::AddLine(std::string_view text, LineEnd end, bool first)
{
    std::string_view content = text;
    if (first) {
        content.remove_prefix(std::min(bomLength_, content.size()));
    }
    content = Trim(content);
    if (!content.empty() && content.front() == '[') {
        std::string_view name = content.substr(1);
        name = Trim(name.substr(0, name.find(']')));
        sectionIndex_.emplace(Windows1251::FoldCase(Decode(name)), sections_.size());
        sections_.emplace_back().lines.push_back(Line{std::string(text), end});
        return;
    }
    Section& section = sections_.back();
    if (!content.empty() && content.front() != ';') {
        const std::size_t eq = content.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view key = Trim(content.substr(0, eq));
            if (!key.empty()) {
                section.keys.emplace(Windows1251::FoldCase(Decode(key)), section.lines.size());
                section.lastKeyLine = section.lines.size();
            }
        }
    }
    section.lines.push_back(Line{std::string(text), end});
}

std::string IniDocument::Decode(std::string_view bytes) const
{
    if (encoding_ == Encoding::Utf8) {
        return Windows1251::SanitizeUtf8(bytes);
    }
    return Windows1251::ToUtf8(bytes);
}

std::string IniDocument::Encode(std::string_view text) const
{
    if (encoding_ == Encoding::Utf8) {
        return Windows1251::SanitizeUtf8(text);
    }
    return Windows1251::FromUtf8(text);
}

// A name as it will compare once written to this file and read back.
std::string IniDocument::NameKey(std::string_view name) const
{
    return Windows1251::FoldCase(Decode(Encode(Trim(name))));
}

const IniDocument::Section* IniDocument::FindSection(std::string_view section) const
{
    const auto it = sectionIndex_.find(NameKey(section));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

bool IniDocument::SectionExists(std::string_view section) const
{
    return FindSection(section) != nullptr;
}

std::optional<std::string> IniDocument::Value(std::string_view section, std::string_view key) const
{
    const Section* found = FindSection(section);
    if (found == nullptr) {
        return std::nullopt;
    }
    const auto it = found->keys.find(NameKey(key));
    if (it == found->keys.end()) {
        return std::nullopt;
    }
    const std::string& text = found->lines[it->second].text;
    return Decode(Trim(std::string_view(text).substr(text.find('=') + 1)));
}

void IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = Trim(section);
    key = Trim(key);
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos) {
        throw std::invalid_argument("section name cannot be stored: " + std::string(section));
    }
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';') {
        throw std::invalid_argument("key name cannot be stored: " + std::string(key));
    }
    std::string encoded = Encode(value);
    for (char& c : encoded) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }

    const auto sectionIt = sectionIndex_.find(NameKey(section));
    if (sectionIt != sectionIndex_.end()) {
        Section& target = sections_[sectionIt->second];
        const std::string keyName = NameKey(key);
        const auto keyIt = target.keys.find(keyName);
        if (keyIt != target.keys.end()) {
            std::string& text = target.lines[keyIt->second].text;
            text.resize(text.find('=') + 1);
            text += encoded;
            return;
        }
        // Lines after the last key (blank lines, comments) shift down; none of
        // them is a key, so the key index stays valid.
        const std::size_t at = target.lastKeyLine + 1;
        Line& previous = target.lines[at - 1];
        if (previous.end == LineEnd::None) {
            previous.end = LineEnd::CrLf;
        }
        const auto offset = static_cast<std::ptrdiff_t>(at);
        target.lines.insert(target.lines.begin() + offset,
                            Line{Encode(key) + "=" + encoded, LineEnd::CrLf});
        target.keys.emplace(keyName, at);
        target.lastKeyLine = at;
        return;
    }

    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
        if (!it->lines.empty()) {
            if (it->lines.back().end == LineEnd::None) {
                it->lines.back().end = LineEnd::CrLf;
            }
            break;
        }
    }
    Section added;
    std::string header(1, '[');
    header += Encode(section);
    header += ']';
    added.lines.push_back(Line{std::move(header), LineEnd::CrLf});
    added.lines.push_back(Line{Encode(key) + "=" + encoded, LineEnd::CrLf});
    added.keys.emplace(NameKey(key), 1);
    added.lastKeyLine = 1;
    sectionIndex_.emplace(NameKey(section), sections_.size());
    sections_.push_back(std::move(added));
}

std::string IniDocument::Bytes() const
{
    std::string out;
    for (const Section& section : sections_) {
        for (const Line& line : section.lines) {
            out += line.text;
            switch (line.end) {
            case LineEnd::None:
                break;
            case LineEnd::Cr:
                out += '\r';
                break;
            case LineEnd::Lf:
                out += '\n';
                break;
            case LineEnd::CrLf:
                out += "\r\n";
                break;
            }
        }
    }
    return out;
}
