#include "Windows1251.h"

#include <array>
#include <cstdint>

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Characters of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> UpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char32_t ByteToChar(unsigned char byte)
{
    if (byte < 0x80) {
        return byte;
    }
    if (byte >= 0xC0) {
        return char32_t{0x0410} + (byte - 0xC0u);
    }
    return UpperHalf[byte - 0x80u];
}

// Returns the byte of a character, or '?' when the code page has none.
unsigned char CharToByte(char32_t c)
{
    if (c < 0x80) {
        return static_cast<unsigned char>(c);
    }
    if (c >= 0x0410 && c <= 0x044F) {
        return static_cast<unsigned char>(0xC0u + (c - 0x0410u));
    }
    for (std::size_t i = 0; i < UpperHalf.size(); ++i) {
        if (UpperHalf[i] == c && c != Replacement) {
            return static_cast<unsigned char>(0x80u + i);
        }
    }
    return '?';
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0u | (c >> 6)));
        out.push_back(static_cast<char>(0x80u | (c & 0x3Fu)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0u | (c >> 12)));
        out.push_back(static_cast<char>(0x80u | ((c >> 6) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (c & 0x3Fu)));
    } else {
        out.push_back(static_cast<char>(0xF0u | (c >> 18)));
        out.push_back(static_cast<char>(0x80u | ((c >> 12) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | ((c >> 6) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (c & 0x3Fu)));
    }
}

// Decodes one character at `pos` and advances past it. An invalid sequence
// (overlong, surrogate, beyond U+10FFFF, truncated) yields U+FFFD and
// consumes one byte.
char32_t NextChar(std::string_view text, std::size_t& pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0u) == 0xC0u) {
        length = 2;
        c = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0u) == 0xE0u) {
        length = 3;
        c = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8u) == 0xF0u) {
        length = 4;
        c = lead & 0x07u;
        minimum = 0x10000;
    } else {
        ++pos;
        return Replacement;
    }
    if (text.size() - pos < length) {
        ++pos;
        return Replacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0u) != 0x80u) {
            ++pos;
            return Replacement;
        }
        c = (c << 6) | (next & 0x3Fu);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return Replacement;
    }
    pos += length;
    return c;
}

char32_t UpperCase(char32_t c)
{
    if (c >= U'a' && c <= U'z') {
        return c - 0x20;
    }
    if (c >= 0x0430 && c <= 0x044F) {  // а..я
        return c - 0x20;
    }
    if (c >= 0x0450 && c <= 0x045F) {  // ѐ..џ
        return c - 0x50;
    }
    if (c == 0x0491) {  // ґ
        return 0x0490;
    }
    return c;
}

}  // namespace

namespace Windows1251 {

std::string ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        AppendUtf8(out, ByteToChar(static_cast<unsigned char>(byte)));
    }
    return out;
}

std::string FromUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        out.push_back(static_cast<char>(CharToByte(NextChar(text, pos))));
    }
    return out;
}

std::string SanitizeUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        AppendUtf8(out, NextChar(text, pos));
    }
    return out;
}

std::string FoldCase(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        AppendUtf8(out, UpperCase(NextChar(utf8, pos)));
    }
    return out;
}

std::string_view Utf8Prefix(std::string_view utf8, std::size_t maxChars)
{
    std::size_t pos = 0;
    for (std::size_t count = 0; count < maxChars && pos < utf8.size(); ++count) {
        NextChar(utf8, pos);
    }
    return utf8.substr(0, pos);
}

}  // namespace Windows1251
