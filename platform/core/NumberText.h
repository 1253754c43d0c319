#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

// Text that is not a number where a number was expected.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Numbers as text with '.' as the decimal separator, whatever the process
// locale says: nothing here reads the locale.
namespace NumberText {

inline constexpr char DecimalSeparator = '.';

// Fixed-point text by a pattern of zeros: "0.000" gives three decimals, "0.0"
// one, "0." and "0" the whole number; zeros before the point set the least
// count of integer digits. Rounds half away from zero on the value as it is
// written in shortest form (2.675 with "0.00" gives "2.68"); a result that
// rounds to zero has no minus sign. NaN and infinities give "NAN", "INF",
// "-INF". Throws std::invalid_argument for any other pattern.
std::string FormatFloat(std::string_view pattern, double value);

// As FormatFloat, into [first, last) and without allocating: returns the end
// of the text, or nullptr when it does not fit (nothing useful is then in the
// range). A range of FormatFloatMaxLength(pattern) characters always fits.
// Throws std::invalid_argument for a pattern FormatFloat refuses.
char* FormatFloatTo(char* first, char* last, std::string_view pattern, double value);

// The longest text FormatFloat can give for the pattern, for any double.
std::size_t FormatFloatMaxLength(std::string_view pattern);

// Decimal text with '.': optional sign, digits with an optional point,
// optional exponent; blanks around it are ignored, anything else in the text
// is an error. Throws EConvertError for text that is not such a number or
// that does not fit a double.
double StrToFloat(std::string_view text);

// As StrToFloat, but false instead of the exception; value is left unchanged.
bool TryStrToFloat(std::string_view text, double& value) noexcept;

}  // namespace NumberText
