// The instrument's command tree, error queue and status registers against
// an engine that measures the frames a test sets.
#include "CaseName.h"
#include "FakeEngine.h"
#include "ScpiInstrument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ksn::test::FakeEngine;

class Instrument : public ::testing::Test {
protected:
    FakeEngine engine;
    scpi::ScpiInstrument instrument{engine, ksn::test::FreshSetup(), ksn::test::FreshSetup(),
                                    "1.0.0"};

    std::string Ask(const std::string& message) { return instrument.Execute(message); }
    int FirstErrorCode()
    {
        const std::string entry = Ask("SYST:ERR?");
        return std::stoi(entry.substr(0, entry.find(',')));
    }
};

TEST_F(Instrument, IdentifiesMakerModelSerialAndFirmwareWithTheVersion)
{
    EXPECT_EQ(Ask("*IDN?"), "KSN48_Vevu,KSN48,4811001,12/1.0.0");
    EXPECT_EQ(Ask("SYST:VERS?"), "1999.0");
}

struct BadCommand : ksn::test::NamedCase {
    std::string message;
    int code;
};

class BadCommands : public Instrument, public ::testing::WithParamInterface<BadCommand> {};

TEST_P(BadCommands, LeaveTheirErrorInTheQueueAndNothingElse)
{
    const BadCommand& c = GetParam();
    const int configured = engine.Configured;
    EXPECT_EQ(Ask(c.message), "");
    EXPECT_EQ(Ask("SYST:ERR:COUN?"), "1");
    EXPECT_EQ(FirstErrorCode(), c.code);
    EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
    EXPECT_EQ(engine.Configured, configured) << "a refused value reached the engine";
    // The instrument still answers.
    EXPECT_EQ(Ask("*IDN?").substr(0, 11), "KSN48_Vevu,");
}

INSTANTIATE_TEST_SUITE_P(
    Instrument, BadCommands,
    ::testing::Values(
        BadCommand{{"UnknownHeader"}, "FOO:BAR 1", -113},
        BadCommand{{"QueryOnlyAsCommand"}, "SYST:ERR", -113},
        BadCommand{{"CommandOnlyAsQuery"}, "*RST?", -113},
        BadCommand{{"UnknownCommon"}, "*XYZ", -113},
        BadCommand{{"ParameterNotAllowed"}, "*IDN? 1", -108},
        BadCommand{{"MissingParameter"}, "SENS:RATE", -109},
        BadCommand{{"RateNotInTheTable"}, "SENS:RATE 1000", -224},
        BadCommand{{"RateOutOfRange"}, "SENS:RATE 1E6", -222},
        BadCommand{{"RateWithVolts"}, "SENS:RATE 39 V", -131},
        BadCommand{{"RateAsWord"}, "SENS:RATE FAST", -224},
        BadCommand{{"RateAsString"}, "SENS:RATE 'fast'", -104},
        BadCommand{{"WidthOf16"}, "WIDT 16", -224},
        BadCommand{{"CurrentNotASource"}, "SOUR:CURR 5mA", -224},
        BadCommand{{"CurrentInVolts"}, "SOUR:CURR 2.86 V", -131},
        BadCommand{{"ReferenceBeyond8"}, "PHAS:REF 9", -222},
        BadCommand{{"ReferenceWithSuffix"}, "PHAS:REF 1 V", -138},
        BadCommand{{"UnknownMethod"}, "METH BOGUS", -224},
        BadCommand{{"MethodAsNumber"}, "METH 1", -104},
        BadCommand{{"UnknownAmplitude"}, "AMPL PEAK", -224},
        BadCommand{{"ApertureZero"}, "APER 0", -222},
        BadCommand{{"ApertureTooLong"}, "APER 1000", -222},
        BadCommand{{"ChannelZero"}, "CHAN (@0)", -222},
        BadCommand{{"ChannelNine"}, "CHAN (@2,9)", -222},
        BadCommand{{"ChannelsAsNumber"}, "CHAN 3", -104},
        BadCommand{{"ChannelsMissing"}, "CHAN", -109},
        BadCommand{{"ContinuousMaybe"}, "INIT:CONT MAYBE", -224},
        BadCommand{{"MeasureAChannelNotAcquired"}, "MEAS:VOLT:AC? (@7)", -221},
        BadCommand{{"EnableBeyondAByte"}, "*ESE 256", -222},
        BadCommand{{"FetchWithoutAFrame"}, "FETC?", -230},
        BadCommand{{"Garbage"}, std::string("\x01\x02\xfe garbage", 11), -101},
        BadCommand{{"SyntaxError"}, "SYST:ERR??", -102}),
    ksn::test::CaseName<BadCommand>);

struct SettingCase : ksn::test::NamedCase {
    std::string set;
    std::string query;
    std::string answer;
};

class Settings : public Instrument, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(Settings, ReadBackAsSetAndReachTheEngine)
{
    const SettingCase& c = GetParam();
    const int configured = engine.Configured;
    EXPECT_EQ(Ask(c.set), "");
    EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
    EXPECT_EQ(Ask(c.query), c.answer);
    EXPECT_GT(engine.Configured, configured);
}

INSTANTIATE_TEST_SUITE_P(
    Instrument, Settings,
    ::testing::Values(
        SettingCase{{"RateByItsLabel"}, "SENSe:RATE 39063", "sens:rate?", "39062.5"},
        SettingCase{{"RateShortLabel"}, "rate 9765.63", "RATE?", "9765.625"},
        SettingCase{{"RateWithSuffix"}, "RATE 39.0625 kHz", "RATE?", "39062.5"},
        SettingCase{{"RateMin"}, "RATE MIN", "RATE?", "610.3515625"},
        SettingCase{{"RateDefault"}, "RATE 610.35;RATE DEF", "RATE?", "78125"},
        SettingCase{{"Width24"}, "SENS:WIDT 24", "WIDT?", "24"},
        SettingCase{{"WidthMax"}, "WIDT MAX", "WIDT?", "24"},
        SettingCase{{"CurrentInMilliamperes"}, "SOUR:CURR 10mA", "SOUR:CURR?", "0.01"},
        SettingCase{{"CurrentInAmperes"}, "SOUR:CURR:LEV 2.86E-3", "SOUR:CURR?", "0.00286"},
        SettingCase{{"Reference"}, "SENS:PHAS:REF 3", "PHAS:REF?", "3"},
        SettingCase{{"MethodSum"}, "METH sum", "METH?", "SUM"},
        SettingCase{{"AmplitudePeak"}, "AMPL AMP", "AMPL?", "AMP"},
        SettingCase{{"ApertureInMilliseconds"}, "APER 250 ms", "APER?", "0.25"},
        SettingCase{{"ApertureDefault"}, "APER 2;APER DEF", "APER?", "0.75"},
        SettingCase{{"Channels"}, "SENS:CHAN (@1,3:5)", "CHAN?", "(@1,3,4,5)"},
        SettingCase{{"ConfigureFrequency"}, "CONF:FREQ (@2)", "CONF?", "\"FREQ (@2)\""},
        SettingCase{{"ConfigureVoltage"}, "CONF (@1:2)", "CONF?", "\"VOLT:AC (@1,2)\""},
        SettingCase{{"CompoundPath"}, "SENS:RATE 19531;WIDT 24;:SOUR:CURR MAX",
                    "RATE?;WIDT?;:SOUR:CURR?", "19531.25;24;0.01"}),
    ksn::test::CaseName<SettingCase>);

TEST_F(Instrument, TheSetupReachesTheEngineInTheCycleTerms)
{
    Ask("RATE 39063;WIDT 24;:SOUR:CURR 10 MA;:CHAN (@2:4);PHAS:REF 2;:METH SUM;AMPL AMP;APER 0.5");
    const tool::MeasureSetup& s = engine.LastSetup;
    EXPECT_EQ(s.Choice.RateIndex, 6);
    EXPECT_EQ(s.Settings.DataFormat, 1);
    EXPECT_EQ(s.Settings.CurrentSource, 1);
    EXPECT_EQ(s.Choice.ChannelTicked, (std::array<bool, 8>{false, true, true, true}));
    EXPECT_EQ(s.Choice.ReferenceChannel, 1);
    EXPECT_EQ(s.Settings.CalcMethod, "sum");
    EXPECT_EQ(s.Settings.AmplitudeType, "amp");
    EXPECT_DOUBLE_EQ(s.Settings.MaxAcquisitionTime, 0.5);
}

TEST_F(Instrument, ResetGivesTheFreshWindowsSetupAndKeepsTheErrorQueue)
{
    Ask("RATE MIN;WIDT 24;:CHAN (@8);:CONF:PHAS;:FOO");
    Ask("*RST");
    EXPECT_EQ(Ask("RATE?;WIDT?;:CHAN?;:CONF?;:METH?;AMPL?;APER?;:SOUR:CURR?"),
              "78125;20;(@1,2,3,4,5,6);\"VOLT:AC (@1,2,3,4,5,6)\";FFT;RMS;0.75;0.00286");
    EXPECT_EQ(Ask("SYST:ERR:COUN?"), "1");
}

TEST_F(Instrument, MeasurementsAnswerPerChannelInSIUnits)
{
    EXPECT_EQ(Ask("MEAS:VOLT:AC? (@1,3)"), "0.7071067811865475,1.414213562373095");
    EXPECT_EQ(Ask("FETC:FREQ? (@2)"), "1000");
    EXPECT_EQ(Ask("FETC:PHAS?"), "0,30,-90,45,120,0");
    EXPECT_EQ(Ask("CONF:FREQ;:READ? (@1)"), "1000");
    Ask("CHAN (@1:8)");
    // Open and short: statuses 2 and 1, no values.
    EXPECT_EQ(Ask("READ:STAT? (@6:8)"), "0,2,1");
    EXPECT_EQ(Ask("FETC:VOLT? (@7)"), "9.91E+37");
    // The uncertainties come after the fields there were, none without a reading.
    EXPECT_EQ(Ask("FETC:ALL? (@8)"),
              "8,9.91E+37,9.91E+37,9.91E+37,1,1,0,0,0,9.91E+37,9.91E+37,9.91E+37");
    EXPECT_EQ(Ask("FETC:ALL? (@2)"), "2,0.35355339059327373,1000,30,0,1,0,0,0,2e-06,0.25,0.5");
    EXPECT_EQ(Ask("FETC:ALL:FIEL?"),
              "\"CHAN,VOLT,FREQ,PHAS,STAT,INBAND,VMARK,FMARK,PMARK,VOLTU,FREQU,PHASU\"");
    EXPECT_EQ(Ask("SYST:ERR:COUN?"), "0");
}

TEST_F(Instrument, ASettingChangeMakesTheLastFrameStale)
{
    EXPECT_NE(Ask("READ?"), "");
    EXPECT_NE(Ask("FETC?"), "");
    Ask("APER 0.5");
    EXPECT_EQ(Ask("FETC?"), "");
    EXPECT_EQ(FirstErrorCode(), -230);
}

TEST_F(Instrument, AFailedMeasurementAnswersNothingAndQueuesItsError)
{
    engine.Fault = scpi::EngineFault{scpi::Errors::HardwareMissing, "the link is lost"};
    EXPECT_EQ(Ask("MEAS:VOLT:AC?"), "");
    EXPECT_EQ(Ask("SYST:ERR?"), "-241,\"Hardware missing;the link is lost\"");
    // The execution error bit of the event register.
    EXPECT_EQ(Ask("*ESR?"), std::to_string(scpi::EventStatus::ExecutionError |
                                           scpi::EventStatus::PowerOn));
    engine.Fault.reset();
    EXPECT_EQ(Ask("MEAS:VOLT:AC? (@1)"), "0.7071067811865475");
}

TEST_F(Instrument, ErrorTextsStayOneLineWithTheirQuotesDoubled)
{
    engine.Fault = scpi::EngineFault{scpi::Errors::SettingsConflict, "a \"b\"\nc"};
    Ask("READ?");
    EXPECT_EQ(Ask("SYST:ERR?"), "-221,\"Settings conflict;a \"\"b\"\" c\"");
}

TEST_F(Instrument, AFullQueueEndsInQueueOverflow)
{
    for (int i = 0; i < 25; ++i) {
        Ask("FOO");
    }
    EXPECT_EQ(Ask("SYST:ERR:COUN?"), std::to_string(scpi::ScpiInstrument::ErrorQueueSize));
    std::string last;
    for (std::size_t i = 0; i < scpi::ScpiInstrument::ErrorQueueSize; ++i) {
        last = Ask("SYST:ERR?");
    }
    EXPECT_EQ(last, "-350,\"Queue overflow\"");
    EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Instrument, StatusByteSummarisesQueueEventsAndMessages)
{
    EXPECT_EQ(Ask("*CLS;*STB?"), "0");
    EXPECT_EQ(Ask("*IDN?;*STB?").substr(Ask("*IDN?").size() + 1), "16");  // MAV
    Ask("FOO");
    EXPECT_EQ(Ask("*STB?"), "4");  // error queue
    Ask("*ESE 32;*SRE 36");
    EXPECT_EQ(Ask("*ESE?;*SRE?"), "32;36");
    // Error queue, event summary (command error), master summary.
    EXPECT_EQ(Ask("*STB?"), "100");
    EXPECT_EQ(Ask("*ESR?"), "32");
    EXPECT_EQ(Ask("*ESR?"), "0");
    Ask("*CLS");
    EXPECT_EQ(Ask("*STB?"), "0");
    Ask("*OPC");
    EXPECT_EQ(Ask("*ESR?"), "1");
    EXPECT_EQ(Ask("*OPC?"), "1");
}

TEST_F(Instrument, QuestionableBitsComeFromTheReadings)
{
    engine.Frame.Result.Channels[1].Status = measure::ReadingStatus::NoTone;
    engine.Frame.Result.Channels[2].Status = measure::ReadingStatus::OverRange;
    engine.Frame.Result.Channels[3].InBand = false;
    Ask("STAT:QUES:ENAB 512");
    EXPECT_EQ(Ask("STAT:QUES:ENAB?"), "512");
    Ask("READ?");
    const unsigned bits =
        scpi::Questionable::NoTone | scpi::Questionable::OverRange | scpi::Questionable::OutOfBand;
    EXPECT_EQ(Ask("STAT:QUES:COND?"), std::to_string(bits));
    EXPECT_EQ(Ask("*STB?"), "8");  // questionable summary
    EXPECT_EQ(Ask("STAT:QUES?"), std::to_string(bits));
    EXPECT_EQ(Ask("STAT:QUES?"), "0");
    EXPECT_EQ(Ask("FETC:STAT? (@2,3)"), "4,5");
    Ask("STAT:PRES");
    EXPECT_EQ(Ask("STAT:QUES:ENAB?"), "0");
}

TEST_F(Instrument, ContinuousModeIgnoresInitiate)
{
    Ask("INIT:CONT ON");
    EXPECT_TRUE(engine.Continuous);
    Ask("INIT");
    EXPECT_EQ(FirstErrorCode(), -213);
    Ask("ABOR");
    EXPECT_FALSE(engine.Continuous);
    EXPECT_EQ(Ask("INIT:CONT?"), "0");
}

TEST_F(Instrument, AClientThatGoesEndsTheMeasurementAndLeavesTheRestForTheNext)
{
    Ask("RATE 39063;:INIT:CONT ON;:FOO");
    const int aborted = engine.Aborted;
    instrument.ClientGone();
    EXPECT_GT(engine.Aborted, aborted);
    EXPECT_FALSE(engine.Continuous);
    EXPECT_EQ(Ask("INIT:CONT?;:RATE?;:SYST:ERR:COUN?"), "0;39062.5;1");
}

TEST_F(Instrument, AnOverlongMessageIsOneErrorAndTheInstrumentGoesOn)
{
    instrument.InputOverrun();
    EXPECT_EQ(Ask("SYST:ERR?"), "-363,\"Input buffer overrun;the message was discarded\"");
    EXPECT_EQ(Ask("*OPC?"), "1");
}

}  // namespace
