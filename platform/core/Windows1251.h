#pragma once

#include <string>
#include <string_view>

// Conversion between UTF-8 (the program's text) and the Windows-1251 code page
// (the settings file on disk).
namespace Windows1251 {

// Every byte maps to one character; the one unassigned byte (0x98) becomes U+FFFD.
std::string ToUtf8(std::string_view bytes);

// Characters the code page cannot hold, and bytes that are not valid UTF-8,
// become '?'.
std::string FromUtf8(std::string_view text);

// Replaces every invalid UTF-8 sequence by U+FFFD, so the result is valid UTF-8.
std::string SanitizeUtf8(std::string_view text);

// Upper-case form used to compare names regardless of letter case: Latin and
// Cyrillic letters, including those of the code page's other Cyrillic alphabets.
std::string FoldCase(std::string_view utf8);

// The first `maxChars` characters of valid UTF-8 text.
std::string_view Utf8Prefix(std::string_view utf8, std::size_t maxChars);

}  // namespace Windows1251
