#include "NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>

namespace NumberText {

namespace {

struct Pattern {
    int integerDigits = 0;
    int decimals = 0;
};

Pattern ParsePattern(std::string_view pattern)
{
    Pattern result;
    std::size_t pos = 0;
    while (pos < pattern.size() && pattern[pos] == '0') {
        ++result.integerDigits;
        ++pos;
    }
    if (pos < pattern.size() && pattern[pos] == '.') {
        ++pos;
        while (pos < pattern.size() && pattern[pos] == '0') {
            ++result.decimals;
            ++pos;
        }
    }
    if (result.integerDigits == 0 || pos != pattern.size() || result.decimals > 30) {
        throw std::invalid_argument("NumberText::FormatFloat: unsupported pattern \"" +
                                    std::string(pattern) + "\"");
    }
    return result;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The shape of a decimal number; from_chars alone would also take "inf",
// "nan" and hexadecimal forms.
bool IsDecimalNumber(std::string_view s)
{
    std::size_t pos = 0;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        ++pos;
    }
    std::size_t digits = 0;
    while (pos < s.size() && IsDigit(s[pos])) {
        ++pos;
        ++digits;
    }
    if (pos < s.size() && s[pos] == DecimalSeparator) {
        ++pos;
        while (pos < s.size() && IsDigit(s[pos])) {
            ++pos;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        ++pos;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
            ++pos;
        }
        std::size_t expDigits = 0;
        while (pos < s.size() && IsDigit(s[pos])) {
            ++pos;
            ++expDigits;
        }
        if (expDigits == 0) {
            return false;
        }
    }
    return pos == s.size();
}

// The digits of a double written to a pattern, straight into [first, last).
char* FormatInto(char* first, char* last, const Pattern& p, double value) noexcept
{
    const auto put = [first, last](std::string_view text) -> char* {
        if (static_cast<std::size_t>(last - first) < text.size()) {
            return nullptr;
        }
        return std::copy(text.begin(), text.end(), first);
    };
    if (std::isnan(value)) {
        return put("NAN");
    }
    if (std::isinf(value)) {
        return put(value < 0 ? "-INF" : "INF");
    }

    // Shortest digits that read back as the value: d1 d2 ... dn, exponent e,
    // meaning d1.d2...dn * 10^e.
    char buf[64];
    const auto conv =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    char digits[32];
    long count = 0;
    const char* c = buf;
    for (; c < conv.ptr && *c != 'e'; ++c) {
        if (IsDigit(*c) && count < static_cast<long>(sizeof digits)) {
            digits[count++] = *c;
        }
    }
    int exponent = 0;
    const char* e = c + 1;  // after 'e'; from_chars takes no '+'
    if (e < conv.ptr && *e == '+') {
        ++e;
    }
    std::from_chars(e, conv.ptr, exponent);

    // Digit i of `digits` has the place value 10^(exponent - i). Keep the
    // places down to 10^-decimals and round on the first one dropped.
    const long keep = static_cast<long>(exponent) + 1 + p.decimals;
    const long kept = std::max<long>(keep, 0);  // kept places, zeros beyond the digits
    const bool roundUp = keep >= 0 && keep < count && digits[keep] >= '5';
    // Align: the kept digits end at place 10^-decimals; zeros on the left give
    // at least one integer digit (and the pattern's count).
    const long highest = keep > 0 ? exponent : -p.decimals - 1;  // place of the first kept digit
    const long topPlace = std::max<long>(highest, p.integerDigits - 1);
    const long lead = topPlace - highest;
    const long total = lead + kept;  // integer digits followed by p.decimals decimals
    const long given = std::min(kept, count);
    const bool zero =
        !roundUp && std::all_of(digits, digits + given, [](char d) { return d == '0'; });
    const bool negative = std::signbit(value) && !zero;
    // Room for a carry into a new digit and for the point.
    const long need = (negative ? 1 : 0) + total + 1 + (p.decimals > 0 ? 1 : 0);
    if (last - first < need) {
        return nullptr;
    }

    char* out = first;
    if (negative) {
        *out++ = '-';
    }
    char* const fixed = out;
    out = std::fill_n(out, lead, '0');
    out = std::copy(digits, digits + given, out);
    out = std::fill_n(out, kept - given, '0');
    if (roundUp) {
        char* d = out;
        while (d > fixed && *(d - 1) == '9') {
            *--d = '0';
        }
        if (d > fixed) {
            ++*(d - 1);
        } else {
            std::copy_backward(fixed, out, out + 1);
            *fixed = '1';
            ++out;
        }
    }
    if (p.decimals > 0) {
        char* point = out - p.decimals;
        std::copy_backward(point, out, out + 1);
        *point = DecimalSeparator;
        ++out;
    }
    return out;
}

// Sign, a carry digit and the point around the digits of the largest double.
constexpr std::size_t MaxIntegerPlaces = 309;
constexpr std::size_t SignCarryAndPoint = 3;

std::size_t MaxLength(const Pattern& p) noexcept
{
    const std::size_t integer =
        std::max<std::size_t>(MaxIntegerPlaces, static_cast<std::size_t>(p.integerDigits));
    return integer + static_cast<std::size_t>(p.decimals) + SignCarryAndPoint;
}

}  // namespace

std::string FormatFloat(std::string_view pattern, double value)
{
    const Pattern p = ParsePattern(pattern);
    std::string text(MaxLength(p), '\0');
    char* end = FormatInto(text.data(), text.data() + text.size(), p, value);
    text.resize(static_cast<std::size_t>(end - text.data()));
    return text;
}

char* FormatFloatTo(char* first, char* last, std::string_view pattern, double value)
{
    return FormatInto(first, last, ParsePattern(pattern), value);
}

std::size_t FormatFloatMaxLength(std::string_view pattern)
{
    return MaxLength(ParsePattern(pattern));
}

bool TryStrToFloat(std::string_view text, double& value) noexcept
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    std::string_view s = text.substr(begin, end - begin);
    if (!IsDecimalNumber(s)) {
        return false;
    }
    // from_chars takes no leading '+'.
    const bool plus = s.front() == '+';
    if (plus) {
        s.remove_prefix(1);
    }
    double parsed = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
    if (ec != std::errc() || ptr != s.data() + s.size()) {
        return false;
    }
    value = parsed;
    return true;
}

double StrToFloat(std::string_view text)
{
    double value = 0.0;
    if (!TryStrToFloat(text, value)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    }
    return value;
}

}  // namespace NumberText
