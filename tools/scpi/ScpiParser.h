#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The program messages of the instrument, parsed as IEEE 488.2 and SCPI
// write them: commands separated by ';', a header of mnemonics separated by
// ':' (or a common '*' command), an optional '?', then parameters separated
// by ','. Nothing here knows the command tree; ScpiInstrument does.
namespace scpi {

// A standard error of the SCPI error queue: its number and text.
struct ScpiError {
    int Code = 0;
    std::string_view Text;
};

// The numbers and texts of the errors the instrument reports.
namespace Errors {
inline constexpr ScpiError NoError{0, "No error"};
inline constexpr ScpiError CommandError{-100, "Command error"};
inline constexpr ScpiError InvalidCharacter{-101, "Invalid character"};
inline constexpr ScpiError SyntaxError{-102, "Syntax error"};
inline constexpr ScpiError InvalidSeparator{-103, "Invalid separator"};
inline constexpr ScpiError DataTypeError{-104, "Data type error"};
inline constexpr ScpiError ParameterNotAllowed{-108, "Parameter not allowed"};
inline constexpr ScpiError MissingParameter{-109, "Missing parameter"};
inline constexpr ScpiError HeaderSeparatorError{-111, "Header separator error"};
inline constexpr ScpiError MnemonicTooLong{-112, "Program mnemonic too long"};
inline constexpr ScpiError UndefinedHeader{-113, "Undefined header"};
inline constexpr ScpiError NumericDataError{-120, "Numeric data error"};
inline constexpr ScpiError InvalidSuffix{-131, "Invalid suffix"};
inline constexpr ScpiError SuffixNotAllowed{-138, "Suffix not allowed"};
inline constexpr ScpiError InvalidCharacterData{-141, "Invalid character data"};
inline constexpr ScpiError StringDataError{-150, "String data error"};
inline constexpr ScpiError ExpressionError{-170, "Expression error"};
inline constexpr ScpiError ExecutionError{-200, "Execution error"};
inline constexpr ScpiError SettingsConflict{-221, "Settings conflict"};
inline constexpr ScpiError DataOutOfRange{-222, "Data out of range"};
inline constexpr ScpiError IllegalParameterValue{-224, "Illegal parameter value"};
inline constexpr ScpiError DataStale{-230, "Data corrupt or stale"};
inline constexpr ScpiError HardwareError{-240, "Hardware error"};
inline constexpr ScpiError HardwareMissing{-241, "Hardware missing"};
inline constexpr ScpiError SelfTestFailed{-330, "Self-test failed"};
inline constexpr ScpiError QueueOverflow{-350, "Queue overflow"};
inline constexpr ScpiError InputBufferOverrun{-363, "Input buffer overrun"};
inline constexpr ScpiError QueryInterrupted{-410, "Query INTERRUPTED"};
}  // namespace Errors

// One parameter as written. Numbers keep their suffix for the command to
// judge (it knows its unit); character data is upper-cased.
struct Parameter {
    enum class Kind { Number, Character, String, ChannelList };
    Kind Type = Kind::Character;
    double Number = 0.0;
    std::string Suffix;        // upper case, without blanks; "" for none
    std::string Text;          // character data (upper case) or string contents
    std::vector<int> Channels;  // a channel list, in the order written, ranges expanded
};

// One command of a message.
struct Command {
    bool Common = false;    // "*IDN?": Mnemonics holds "IDN"
    bool Absolute = false;  // a leading ':' (the root of the tree)
    bool Query = false;
    std::vector<std::string> Mnemonics;  // as written, upper-cased
    std::vector<Parameter> Parameters;
};

// A command, or the error that kept a part of the message from being one.
struct ParsedUnit {
    bool Ok = false;
    Command Parsed;
    ScpiError Error;
    std::string Detail;  // what was wrong, for the error queue; may be empty
};

// The longest mnemonic SCPI allows.
inline constexpr std::size_t MaxMnemonicLength = 12;
// The most channels a list may name (ranges expanded).
inline constexpr std::size_t MaxListedChannels = 64;

// Splits a message (without its terminator) into its commands. A part that
// does not parse becomes an error and parsing goes on after the next ';'.
// An empty message gives no unit.
std::vector<ParsedUnit> ParseMessage(std::string_view message);

// The factor of a suffix for the unit (upper case, such as "A", "HZ", "S"):
// "MA" with "A" is 1e-3, "KHZ" 1e3, "MHZ" 1e6 (SCPI's exception), "" 1.
// False when the suffix is not the unit with a multiplier.
bool SuffixFactor(std::string_view suffix, std::string_view unit, double& factor);

// Whether a mnemonic as written (upper case) names the node whose long
// form is given in SCPI's mixed case ("SENSe"): the short form (its upper
// case letters) or the whole long form.
bool MnemonicMatches(std::string_view written, std::string_view longForm);

}  // namespace scpi
