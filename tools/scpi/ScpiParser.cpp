#include "ScpiParser.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace scpi {

namespace {

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Printable(char c)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
        return std::string("'") + c + "'";
    }
    return std::string("byte 0x") + Hex[u >> 4] + Hex[u & 0xF];
}

struct Failure {
    ScpiError Error;
    std::string Detail;
};

// Reads one command from the text, from pos to the end of its unit.
class CommandReader {
public:
    explicit CommandReader(std::string_view text) : text_(text) {}

    bool Read(Command& command, Failure& failure)
    {
        SkipBlanks();
        if (!Header(command, failure)) {
            return false;
        }
        const bool blank = SkipBlanks();
        if (AtEnd()) {
            return true;
        }
        if (!blank) {
            failure = {Errors::HeaderSeparatorError,
                       "after the header: " + Printable(text_[pos_])};
            return false;
        }
        for (;;) {
            Parameter parameter;
            if (!Value(parameter, failure)) {
                return false;
            }
            command.Parameters.push_back(std::move(parameter));
            SkipBlanks();
            if (AtEnd()) {
                return true;
            }
            if (text_[pos_] != ',') {
                failure = {Errors::InvalidSeparator, "after a parameter: " + Printable(text_[pos_])};
                return false;
            }
            ++pos_;
            SkipBlanks();
            if (AtEnd()) {
                failure = {Errors::MissingParameter, "nothing after ','"};
                return false;
            }
        }
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }

    bool SkipBlanks()
    {
        const std::size_t from = pos_;
        while (!AtEnd() && IsBlank(text_[pos_])) {
            ++pos_;
        }
        return pos_ > from;
    }

    bool Mnemonic(std::string& out, Failure& failure)
    {
        if (AtEnd() || !IsAlpha(text_[pos_])) {
            failure = AtEnd() ? Failure{Errors::CommandError, "a header ends in ':'"}
                              : Failure{IsBlank(text_[pos_]) || text_[pos_] == ':' ||
                                                text_[pos_] == '?' || text_[pos_] == ','
                                            ? Errors::SyntaxError
                                            : Errors::InvalidCharacter,
                                        "in a header: " + Printable(text_[pos_])};
            return false;
        }
        while (!AtEnd() && (IsAlpha(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '_')) {
            out.push_back(Upper(text_[pos_++]));
        }
        if (out.size() > MaxMnemonicLength) {
            failure = {Errors::MnemonicTooLong, out.substr(0, MaxMnemonicLength) + "..."};
            return false;
        }
        return true;
    }

    bool Header(Command& command, Failure& failure)
    {
        if (AtEnd()) {
            failure = {Errors::CommandError, "an empty command"};
            return false;
        }
        if (text_[pos_] == '*') {
            ++pos_;
            command.Common = true;
            std::string name;
            if (!Mnemonic(name, failure)) {
                return false;
            }
            command.Mnemonics.push_back(std::move(name));
        } else {
            if (text_[pos_] == ':') {
                command.Absolute = true;
                ++pos_;
            }
            for (;;) {
                std::string name;
                if (!Mnemonic(name, failure)) {
                    return false;
                }
                command.Mnemonics.push_back(std::move(name));
                if (AtEnd() || text_[pos_] != ':') {
                    break;
                }
                ++pos_;
            }
        }
        if (!AtEnd() && text_[pos_] == '?') {
            command.Query = true;
            ++pos_;
        }
        if (!AtEnd() && !IsBlank(text_[pos_])) {
            const char c = text_[pos_];
            failure = {IsAlpha(c) || IsDigit(c) || c == ':' || c == '?' || c == ',' || c == '*' ||
                               c == '(' || c == '"' || c == '\''
                           ? Errors::SyntaxError
                           : Errors::InvalidCharacter,
                       "in a header: " + Printable(c)};
            return false;
        }
        return true;
    }

    bool Value(Parameter& parameter, Failure& failure)
    {
        const char c = text_[pos_];
        if (c == '"' || c == '\'') {
            return String(parameter, failure);
        }
        if (c == '(') {
            return ChannelList(parameter, failure);
        }
        if (c == '#') {
            return NonDecimal(parameter, failure);
        }
        if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
            return Number(parameter, failure);
        }
        if (IsAlpha(c)) {
            parameter.Type = Parameter::Kind::Character;
            while (!AtEnd() &&
                   (IsAlpha(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '_')) {
                parameter.Text.push_back(Upper(text_[pos_++]));
            }
            if (parameter.Text.size() > MaxMnemonicLength) {
                failure = {Errors::InvalidCharacterData, "longer than 12 characters"};
                return false;
            }
            return true;
        }
        failure = {c == ',' ? Errors::MissingParameter : Errors::InvalidCharacter,
                   "a parameter begins with " + Printable(c)};
        return false;
    }

    bool String(Parameter& parameter, Failure& failure)
    {
        const char quote = text_[pos_++];
        parameter.Type = Parameter::Kind::String;
        for (;;) {
            if (AtEnd()) {
                failure = {Errors::StringDataError, "a string without its closing quote"};
                return false;
            }
            const char c = text_[pos_++];
            if (c == quote) {
                // A doubled quote stands for one.
                if (!AtEnd() && text_[pos_] == quote) {
                    parameter.Text.push_back(quote);
                    ++pos_;
                    continue;
                }
                return true;
            }
            parameter.Text.push_back(c);
        }
    }

    bool Digits(std::string& out)
    {
        const std::size_t from = out.size();
        while (!AtEnd() && IsDigit(text_[pos_])) {
            out.push_back(text_[pos_++]);
        }
        return out.size() > from;
    }

    bool Number(Parameter& parameter, Failure& failure)
    {
        // Mantissa, optional exponent, then an optional suffix: <NRf> [suffix].
        std::string number;
        if (text_[pos_] == '+' || text_[pos_] == '-') {
            number.push_back(text_[pos_++]);
        }
        const bool whole = Digits(number);
        bool fraction = false;
        if (!AtEnd() && text_[pos_] == '.') {
            number.push_back(text_[pos_++]);
            fraction = Digits(number);
        }
        if (!whole && !fraction) {
            failure = {Errors::NumericDataError, "a number without digits"};
            return false;
        }
        // An 'E' followed by digits is an exponent; otherwise a suffix may
        // begin with it ("2E" is not a number, "2 EX" is 2 exa-).
        std::size_t mark = pos_;
        while (mark < text_.size() && IsBlank(text_[mark])) {
            ++mark;
        }
        if (mark < text_.size() && Upper(text_[mark]) == 'E') {
            std::size_t look = mark + 1;
            while (look < text_.size() && IsBlank(text_[look])) {
                ++look;
            }
            if (look < text_.size() && (text_[look] == '+' || text_[look] == '-')) {
                ++look;
            }
            while (look < text_.size() && IsBlank(text_[look])) {
                ++look;
            }
            if (look < text_.size() && IsDigit(text_[look])) {
                number.push_back('e');
                pos_ = mark + 1;
                SkipBlanks();
                if (text_[pos_] == '+' || text_[pos_] == '-') {
                    number.push_back(text_[pos_++]);
                }
                SkipBlanks();
                Digits(number);
            }
        }
        const char* first = number.data();
        const char* last = number.data() + number.size();
        if (*first == '+') {
            ++first;
        }
        double value = 0.0;
        const auto result = std::from_chars(first, last, value);
        if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value)) {
            failure = {Errors::NumericDataError, "'" + number + "' is not a number it can hold"};
            return false;
        }
        parameter.Type = Parameter::Kind::Number;
        parameter.Number = value;
        // A suffix: letters (and '/' as in "V/S"), after optional blanks.
        std::size_t look = pos_;
        while (look < text_.size() && IsBlank(text_[look])) {
            ++look;
        }
        if (look < text_.size() && IsAlpha(text_[look])) {
            pos_ = look;
            while (!AtEnd() && (IsAlpha(text_[pos_]) || text_[pos_] == '/')) {
                parameter.Suffix.push_back(Upper(text_[pos_++]));
            }
            if (parameter.Suffix.size() > MaxMnemonicLength) {
                failure = {Errors::InvalidSuffix, "longer than 12 characters"};
                return false;
            }
        }
        return true;
    }

    bool NonDecimal(Parameter& parameter, Failure& failure)
    {
        ++pos_;
        if (AtEnd()) {
            failure = {Errors::NumericDataError, "'#' ends the message"};
            return false;
        }
        const char base = Upper(text_[pos_++]);
        const int radix = base == 'H' ? 16 : base == 'Q' ? 8 : base == 'B' ? 2 : 0;
        if (radix == 0) {
            failure = {Errors::NumericDataError, "'#' takes H, Q or B"};
            return false;
        }
        std::string digits;
        while (!AtEnd() && (IsDigit(text_[pos_]) || IsAlpha(text_[pos_]))) {
            digits.push_back(text_[pos_++]);
        }
        unsigned long long value = 0;
        const auto result =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, radix);
        if (digits.empty() || result.ec != std::errc() ||
            result.ptr != digits.data() + digits.size()) {
            failure = {Errors::NumericDataError, "not a number of base " + std::to_string(radix)};
            return false;
        }
        parameter.Type = Parameter::Kind::Number;
        parameter.Number = static_cast<double>(value);
        return true;
    }

    bool ListNumber(int& value, Failure& failure)
    {
        SkipBlanks();
        std::string digits;
        if (!Digits(digits) || digits.size() > 3) {
            failure = {Errors::SyntaxError, "a channel list holds channel numbers"};
            return false;
        }
        value = std::atoi(digits.c_str());
        SkipBlanks();
        return true;
    }

    bool ChannelList(Parameter& parameter, Failure& failure)
    {
        ++pos_;
        SkipBlanks();
        if (AtEnd() || text_[pos_] != '@') {
            failure = {Errors::ExpressionError, "a list begins with \"(@\""};
            return false;
        }
        ++pos_;
        parameter.Type = Parameter::Kind::ChannelList;
        for (;;) {
            int first = 0;
            if (!ListNumber(first, failure)) {
                return false;
            }
            int last = first;
            if (!AtEnd() && text_[pos_] == ':') {
                ++pos_;
                if (!ListNumber(last, failure)) {
                    return false;
                }
            }
            const int step = last >= first ? 1 : -1;
            for (int c = first;; c += step) {
                if (parameter.Channels.size() >= MaxListedChannels) {
                    failure = {Errors::ExpressionError, "a list of too many channels"};
                    return false;
                }
                parameter.Channels.push_back(c);
                if (c == last) {
                    break;
                }
            }
            if (AtEnd()) {
                failure = {Errors::ExpressionError, "a list without its ')'"};
                return false;
            }
            if (text_[pos_] == ')') {
                ++pos_;
                return true;
            }
            if (text_[pos_] != ',') {
                failure = {Errors::ExpressionError, "in a list: " + Printable(text_[pos_])};
                return false;
            }
            ++pos_;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// The units of one message: split at ';' outside strings and lists.
std::vector<std::string_view> SplitUnits(std::string_view message)
{
    std::vector<std::string_view> units;
    std::size_t from = 0;
    char quote = 0;
    int depth = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (c == ';' && depth == 0) {
            units.push_back(message.substr(from, i - from));
            from = i + 1;
        }
    }
    units.push_back(message.substr(from));
    return units;
}

bool AllBlank(std::string_view text)
{
    for (const char c : text) {
        if (!IsBlank(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<ParsedUnit> ParseMessage(std::string_view message)
{
    std::vector<ParsedUnit> units;
    if (AllBlank(message)) {
        return units;
    }
    const std::vector<std::string_view> parts = SplitUnits(message);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        // A message may end in ';'.
        if (i + 1 == parts.size() && i > 0 && AllBlank(parts[i])) {
            break;
        }
        ParsedUnit unit;
        Failure failure;
        CommandReader reader(parts[i]);
        unit.Ok = reader.Read(unit.Parsed, failure);
        if (!unit.Ok) {
            unit.Error = failure.Error;
            unit.Detail = std::move(failure.Detail);
            unit.Parsed = Command{};
        }
        units.push_back(std::move(unit));
    }
    return units;
}

bool SuffixFactor(std::string_view suffix, std::string_view unit, double& factor)
{
    factor = 1.0;
    if (suffix.empty()) {
        return true;
    }
    if (suffix.size() < unit.size() || suffix.substr(suffix.size() - unit.size()) != unit) {
        return false;
    }
    const std::string_view prefix = suffix.substr(0, suffix.size() - unit.size());
    if (prefix.empty()) {
        return true;
    }
    struct Multiplier {
        std::string_view Prefix;
        double Factor;
    };
    static constexpr std::array<Multiplier, 10> Multipliers = {{
        {"EX", 1e18},
        {"PE", 1e15},
        {"T", 1e12},
        {"G", 1e9},
        {"MA", 1e6},
        {"K", 1e3},
        {"M", 1e-3},
        {"U", 1e-6},
        {"N", 1e-9},
        {"P", 1e-12},
    }};
    // "MHZ" is megahertz, not millihertz.
    if (unit == "HZ" && prefix == "M") {
        factor = 1e6;
        return true;
    }
    for (const Multiplier& m : Multipliers) {
        if (m.Prefix == prefix) {
            factor = m.Factor;
            return true;
        }
    }
    return false;
}

bool MnemonicMatches(std::string_view written, std::string_view longForm)
{
    std::string shortForm;
    std::string full;
    for (const char c : longForm) {
        if (c >= 'A' && c <= 'Z') {
            shortForm.push_back(c);
        }
        full.push_back(Upper(c));
    }
    return written == shortForm || written == full;
}

}  // namespace scpi
