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

}  // namespace

std::string FormatFloat(std::string_view pattern, double value)
{
    const Pattern p = ParsePattern(pattern);
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }

    // Shortest digits that read back as the value: d1 d2 ... dn, exponent e,
    // meaning 0.d1d2...dn * 10^(e+1).
    char buf[64];
    const auto conv =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string digits;
    const char* c = buf;
    for (; c < conv.ptr && *c != 'e'; ++c) {
        if (IsDigit(*c)) {
            digits.push_back(*c);
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
    std::string kept;  // digits from the highest place of the value down
    bool roundUp = false;
    if (keep >= 0) {
        kept = digits.substr(
            0, static_cast<std::size_t>(std::min<long>(keep, static_cast<long>(digits.size()))));
        kept.append(
            static_cast<std::size_t>(std::max<long>(0, keep - static_cast<long>(digits.size()))),
            '0');
        roundUp = static_cast<std::size_t>(keep) < digits.size() &&
                  digits[static_cast<std::size_t>(keep)] >= '5';
    }
    // Align: the kept digits end at place 10^-decimals; pad on the left so
    // that there is at least one integer digit (and the pattern's count).
    const long highest = keep > 0 ? exponent : -p.decimals - 1;  // place of kept[0]
    std::string fixed;
    const long topPlace = std::max<long>(highest, p.integerDigits - 1);
    for (long place = topPlace; place > highest; --place) {
        fixed.push_back('0');
    }
    fixed += kept;
    if (roundUp) {
        long i = static_cast<long>(fixed.size()) - 1;
        while (i >= 0 && fixed[static_cast<std::size_t>(i)] == '9') {
            fixed[static_cast<std::size_t>(i)] = '0';
            --i;
        }
        if (i >= 0) {
            ++fixed[static_cast<std::size_t>(i)];
        } else {
            fixed.insert(fixed.begin(), '1');
        }
    }
    // fixed holds integer digits followed by p.decimals decimals.
    const std::size_t intCount = fixed.size() - static_cast<std::size_t>(p.decimals);
    std::string text = fixed.substr(0, intCount);
    if (p.decimals > 0) {
        text.push_back(DecimalSeparator);
        text += fixed.substr(intCount);
    }
    const bool zero = fixed.find_first_not_of('0') == std::string::npos;
    if (std::signbit(value) && !zero) {
        text.insert(text.begin(), '-');
    }
    return text;
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
