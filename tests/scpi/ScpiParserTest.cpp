// The message parser: what each kind of program message becomes, and the
// error each malformed one gets.
#include "CaseName.h"
#include "ScpiParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using scpi::Parameter;
using scpi::ParseMessage;
using scpi::ParsedUnit;

// A unit written short: "ok HEAD:PATH?" with parameters, or "err -102".
std::string Describe(const ParsedUnit& unit)
{
    if (!unit.Ok) {
        return "err " + std::to_string(unit.Error.Code);
    }
    const scpi::Command& c = unit.Parsed;
    std::string out = c.Common ? "*" : c.Absolute ? ":" : "";
    for (std::size_t i = 0; i < c.Mnemonics.size(); ++i) {
        out.append(i > 0 ? ":" : "").append(c.Mnemonics[i]);
    }
    if (c.Query) {
        out += "?";
    }
    for (const Parameter& p : c.Parameters) {
        out += " ";
        switch (p.Type) {
        case Parameter::Kind::Number: {
            char text[40];
            std::snprintf(text, sizeof text, "n%.9g", p.Number);
            out += text;
            if (!p.Suffix.empty()) {
                out.append("/").append(p.Suffix);
            }
            break;
        }
        case Parameter::Kind::Character:
            out.append("c").append(p.Text);
            break;
        case Parameter::Kind::String:
            out.append("s[").append(p.Text).append("]");
            break;
        case Parameter::Kind::ChannelList: {
            out += "@";
            for (std::size_t i = 0; i < p.Channels.size(); ++i) {
                out.append(i > 0 ? "," : "").append(std::to_string(p.Channels[i]));
            }
            break;
        }
        }
    }
    return out;
}

struct MessageCase : ksn::test::NamedCase {
    std::string message;
    std::vector<std::string> units;
};

class Messages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(Messages, ParseIntoTheirCommandsOrErrors)
{
    const MessageCase& c = GetParam();
    std::vector<std::string> got;
    for (const ParsedUnit& unit : ParseMessage(c.message)) {
        got.push_back(Describe(unit));
    }
    EXPECT_EQ(got, c.units) << "message: " << c.message;
}

INSTANTIATE_TEST_SUITE_P(
    Parser, Messages,
    ::testing::Values(
        MessageCase{{"Common"}, "*IDN?", {"*IDN?"}},
        MessageCase{{"CommonWithValue"}, "*ese 32", {"*ESE n32"}},
        MessageCase{{"LongAndShortInAnyCase"}, "sens:Rate 39063", {"SENS:RATE n39063"}},
        MessageCase{{"LeadingColon"}, ":SYST:ERR?", {":SYST:ERR?"}},
        MessageCase{{"SeveralCommands"}, "RATE 78125;WIDT?;*OPC?", {"RATE n78125", "WIDT?", "*OPC?"}},
        MessageCase{{"TrailingSemicolon"}, "*CLS;", {"*CLS"}},
        MessageCase{{"Empty"}, "   ", {}},
        MessageCase{{"Exponent"}, "SOUR:CURR 2.86E-3", {"SOUR:CURR n0.00286"}},
        MessageCase{{"ExponentWithBlanks"}, "APER 7.5 e -1", {"APER n0.75"}},
        MessageCase{{"SuffixWithMultiplier"}, "SOUR:CURR 10 mA", {"SOUR:CURR n10/MA"}},
        MessageCase{{"SuffixRightAfterTheNumber"}, "RATE 39.0625kHz", {"RATE n39.0625/KHZ"}},
        MessageCase{{"SignsAndPoint"}, "X +.5,-2.", {"X n0.5 n-2"}},
        MessageCase{{"NonDecimal"}, "*SRE #H20,#B101,#Q17", {"*SRE n32 n5 n15"}},
        MessageCase{{"Keywords"}, "APER max", {"APER cMAX"}},
        MessageCase{{"ChannelList"}, "MEAS:VOLT:AC? (@1,3:5)", {"MEAS:VOLT:AC? @1,3,4,5"}},
        MessageCase{{"DescendingRange"}, "CHAN (@3:1)", {"CHAN @3,2,1"}},
        MessageCase{{"ListWithBlanks"}, "CHAN ( @ 1 , 2 )", {"CHAN @1,2"}},
        MessageCase{{"SemicolonInsideAString"}, "X 'a;b',\"c\"\"d\"", {"X s[a;b] s[c\"d]"}},
        MessageCase{{"CarriageReturnIsBlank"}, "*RST\r", {"*RST"}},
        MessageCase{{"ErrorDoesNotStopTheRest"}, "FOO BAR BAZ;*CLS", {"err -103", "*CLS"}},
        MessageCase{{"MissingParameterAfterComma"}, "X 1,", {"err -109"}},
        MessageCase{{"EmptyParameter"}, "X 1,,2", {"err -109"}},
        MessageCase{{"HeaderEndsInColon"}, "SYST:", {"err -100"}},
        MessageCase{{"DoubleColon"}, "SYST::ERR?", {"err -102"}},
        MessageCase{{"EmptyCommandBetween"}, "*CLS;;*RST", {"*CLS", "err -100", "*RST"}},
        MessageCase{{"NoBlankBeforeParameter"}, "RATE,5", {"err -102"}},
        MessageCase{{"BinaryGarbage"}, std::string("\x01\xff\x7f", 3), {"err -101"}},
        MessageCase{{"NulInHeader"}, std::string("*ID\0N?", 6), {"err -101"}},
        MessageCase{{"MnemonicTooLong"}, "SYSTEMSYSTEMSYSTEM?", {"err -112"}},
        MessageCase{{"UnclosedString"}, "X 'abc", {"err -150"}},
        MessageCase{{"UnclosedList"}, "CHAN (@1,2", {"err -170"}},
        MessageCase{{"ListWithoutAt"}, "CHAN (1,2)", {"err -170"}},
        MessageCase{{"ListOfWords"}, "CHAN (@a)", {"err -102"}},
        MessageCase{{"NumberWithoutDigits"}, "X -", {"err -120"}},
        MessageCase{{"NumberTooBig"}, "X 1e999", {"err -120"}},
        MessageCase{{"BadRadix"}, "X #X12", {"err -120"}},
        MessageCase{{"QuestionMarkTwice"}, "*IDN??", {"err -102"}}),
    ksn::test::CaseName<MessageCase>);

TEST(Parser, AListOfEveryChannelTooOftenIsRefusedNotGrownWithoutBound)
{
    const auto units = ParseMessage("CHAN (@1:999)");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_FALSE(units[0].Ok);
    EXPECT_EQ(units[0].Error.Code, -170);
}

struct SuffixCase : ksn::test::NamedCase {
    const char* suffix;
    const char* unit;
    bool ok;
    double factor;
};

class Suffixes : public ::testing::TestWithParam<SuffixCase> {};

TEST_P(Suffixes, ScaleByTheirMultiplier)
{
    const SuffixCase& c = GetParam();
    double factor = 0.0;
    EXPECT_EQ(scpi::SuffixFactor(c.suffix, c.unit, factor), c.ok);
    if (c.ok) {
        EXPECT_DOUBLE_EQ(factor, c.factor);
    }
}

INSTANTIATE_TEST_SUITE_P(Parser, Suffixes,
                         ::testing::Values(SuffixCase{{"None"}, "", "A", true, 1.0},
                                           SuffixCase{{"Unit"}, "A", "A", true, 1.0},
                                           SuffixCase{{"Milliampere"}, "MA", "A", true, 1e-3},
                                           SuffixCase{{"Microampere"}, "UA", "A", true, 1e-6},
                                           SuffixCase{{"Kilohertz"}, "KHZ", "HZ", true, 1e3},
                                           SuffixCase{{"MegahertzIsMHZ"}, "MHZ", "HZ", true, 1e6},
                                           SuffixCase{{"Milliseconds"}, "MS", "S", true, 1e-3},
                                           SuffixCase{{"OtherUnit"}, "V", "A", false, 0.0},
                                           SuffixCase{{"UnknownMultiplier"}, "QA", "A", false, 0.0}),
                         ksn::test::CaseName<SuffixCase>);

TEST(Parser, MnemonicsMatchTheirShortAndLongFormOnly)
{
    EXPECT_TRUE(scpi::MnemonicMatches("SENS", "SENSe"));
    EXPECT_TRUE(scpi::MnemonicMatches("SENSE", "SENSe"));
    EXPECT_FALSE(scpi::MnemonicMatches("SEN", "SENSe"));
    EXPECT_FALSE(scpi::MnemonicMatches("SENSES", "SENSe"));
    EXPECT_TRUE(scpi::MnemonicMatches("QUES", "QUEStionable"));
}

}  // namespace
