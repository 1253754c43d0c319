// Settings operations against a stand-in for the main window: the two
// interchange files, defaults, out-of-range values, writers and handlers.
#include "IniFile.h"
#include "MqttSection.h"
#include "PrecisionSection.h"
#include "SectionValue.h"
#include "Settings.h"
#include "SettingsNames.h"
#include "TestDirectory.h"
#include "Windows1251.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace names = SettingsNames;
using CheckState = SettingsView::CheckState;
using MessageIcon = SettingsView::MessageIcon;

// The window's controls as plain state, with a log of what the operations did.
class FakeView : public SettingsView {
public:
    bool busy = false;
    bool autoSave = false;
    std::array<int, 3> counts{2, 2, 8};
    std::array<int, 3> indexes{-1, -1, -1};
    std::array<bool, 8> channels{};
    std::array<bool, 8> reference{};
    CheckState all = CheckState::Unchecked;
    std::string modeCaption;
    std::string amplitudeCaption;
    int top = -1;
    int left = -1;
    std::optional<std::string> crate;
    std::optional<int> slot;

    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    std::vector<std::string> errors;
    std::vector<std::string> log;  // busy, save button and pause, in order
    int changesNotBusy = 0;        // control changes made while Busy was clear
    bool referenceFails = false;   // ticking a reference radio button throws

    bool Busy() const override { return busy; }
    void SetBusy(bool b) override
    {
        busy = b;
        log.push_back(b ? "busy" : "idle");
    }
    bool AutoSaveChecked() const override { return autoSave; }
    void SetAutoSaveChecked(bool checked) override { autoSave = checked; }
    void SetSaveButtonEnabled(bool enabled) override
    {
        log.push_back(enabled ? "save on" : "save off");
    }
    int ItemCount(ParameterList list) const override { return counts[Slot(list)]; }
    int ItemIndex(ParameterList list) const override { return indexes[Slot(list)]; }
    void SetItemIndex(ParameterList list, int index) override
    {
        Changed();
        indexes[Slot(list)] = index;
    }
    bool ChannelChecked(int channel) const override { return channels.at(Index(channel)); }
    void SetChannelChecked(int channel, bool checked) override
    {
        Changed();
        channels.at(Index(channel)) = checked;
    }
    void SetReferenceChannelChecked(int channel, bool checked) override
    {
        if (referenceFails) {
            throw std::runtime_error("the panel is gone");
        }
        Changed();
        reference.at(Index(channel)) = checked;
    }
    CheckState AllChannelsState() const override { return all; }
    void SetAllChannelsState(CheckState state) override
    {
        Changed();
        all = state;
    }
    void SetComputationModeCaption(const std::string& text) override { modeCaption = text; }
    void SetAmplitudeTypeCaption(const std::string& text) override { amplitudeCaption = text; }
    int WindowTop() const override { return top; }
    int WindowLeft() const override { return left; }
    void SetWindowTop(int value) override { top = value; }
    void SetWindowLeft(int value) override { left = value; }
    std::optional<std::string> SelectedCrateSerial() const override { return crate; }
    std::optional<int> SelectedModuleSlot() const override { return slot; }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override
    {
        messages.push_back({text, caption, icon});
    }
    void ReportError(const std::string& text) override { errors.push_back(text); }
    void Pause(std::chrono::milliseconds duration) override
    {
        log.push_back("pause " + std::to_string(duration.count()));
    }

private:
    static std::size_t Slot(ParameterList list) { return static_cast<std::size_t>(list); }
    static std::size_t Index(int channel) { return static_cast<std::size_t>(channel); }
    void Changed() { changesNotBusy += busy ? 0 : 1; }
};

std::string Fixture(const std::string& name)
{
    return ReadBytes(std::string(KSN_SETTINGS_TEST_DATA) + "/" + name);
}

std::string Cp(const std::string& utf8)
{
    return Windows1251::FromUtf8(utf8);
}

// Replaces the one occurrence of `from` by `to`.
std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    if (at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
        throw std::runtime_error("not found once: " + from);
    }
    return text.replace(at, from.size(), to);
}

class SettingsFileTest : public testing::Test {
protected:
    TestDirectory dir;
    std::string path = Settings::SettingsFilePath(dir.Path());
    FakeView view;
    Settings settings{view, path};

    // A detection pass's part: open, window position, read.
    void Read(bool firstStart = true)
    {
        auto opened = settings.OpenSettingsFile();
        ASSERT_NE(opened.File, nullptr) << opened.FailureText;
        settings.RestoreWindowPosition(opened.File.get(), firstStart);
        ASSERT_TRUE(settings.ReadSettings(opened.File.get(), firstStart));
        EXPECT_FALSE(view.busy);
        EXPECT_EQ(view.changesNotBusy, 0) << "controls changed without Busy";
    }
    void ReadFile(const std::string& bytes)
    {
        WriteBytes(path, bytes);
        Read();
    }
    std::array<bool, 8> Channels(std::initializer_list<int> on)
    {
        std::array<bool, 8> result{};
        for (const int c : on) {
            result[static_cast<std::size_t>(c)] = true;
        }
        return result;
    }
};

TEST(SettingsNamesTest, PathAndBuiltKeys)
{
    EXPECT_EQ(Settings::SettingsFilePath("/opt/ksn"), "/opt/ksn/Ksn48_Vevu.ini");
    EXPECT_EQ(Settings::SettingsFilePath("/opt/ksn/"), "/opt/ksn/Ksn48_Vevu.ini");
    EXPECT_EQ(Settings::PrecisionKey(5.0, names::AcPrecisionSuffix),
              "АЦП. Диапазон  5.00 В. AC precision");
    EXPECT_EQ(Settings::PrecisionKey(10.0, names::PhPrecisionSuffix),
              "АЦП. Диапазон 10.00 В. PH precision");
    EXPECT_EQ(Settings::ChannelKey(8), "АЦП. Управление каналом 8");
}

TEST_F(SettingsFileTest, MissingFileIsCreatedAsTheDefaultFileAndRead)
{
    Read();
    EXPECT_EQ(ReadBytes(path), Fixture("default.ini")) << "the default writers' bytes";
    EXPECT_EQ(view.indexes, (std::array<int, 3>{0, 0, 7}));
    EXPECT_EQ(view.channels, Channels({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(view.all, CheckState::Mixed) << "channels disagree, group key is 0";
    EXPECT_EQ(settings.Record.CalcMethod, "fft");
    EXPECT_EQ(settings.Record.AmplitudeType, "rms");
    EXPECT_DOUBLE_EQ(settings.Record.MaxAcquisitionTime, 0.75);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(SettingsFileTest, DefaultFileReadsAsDescribed)
{
    ReadFile(Fixture("default.ini"));
    EXPECT_FALSE(view.autoSave);
    EXPECT_EQ(view.top, -1);
    EXPECT_EQ(view.left, -1);
    EXPECT_EQ(view.indexes, (std::array<int, 3>{0, 0, 7}));
    EXPECT_EQ(view.channels, Channels({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(view.all, CheckState::Mixed);
    EXPECT_EQ(view.modeCaption, "fft");
    EXPECT_EQ(view.amplitudeCaption, "rms");
    const SettingsRecord& r = settings.Record;
    EXPECT_DOUBLE_EQ(r.MaxAcquisitionTime, 0.75);
    EXPECT_EQ(r.AcDigits[0], 2);
    EXPECT_EQ(r.FrDigits[0], 5);
    EXPECT_EQ(r.PhDigits[0], 3);
    EXPECT_EQ(r.AcFormat[0], "0.00");
    EXPECT_EQ(r.FrFormat[0], "0.00000");
    EXPECT_EQ(r.PhFormat[0], "0.000");
    EXPECT_EQ(r.ReferenceChannel, 0);
    EXPECT_EQ(view.reference, Channels({0}));
    const IniFile file(path);
    const auto target = Settings::ReadDetectionTarget(file);
    EXPECT_EQ(target.CrateSerial, "");
    EXPECT_EQ(target.ModuleSlot, -1);
}

TEST_F(SettingsFileTest, EditedFileReadsAsDescribed)
{
    ReadFile(Fixture("edited.ini"));
    EXPECT_TRUE(view.autoSave);
    EXPECT_EQ(view.top, 120);
    EXPECT_EQ(view.left, 64);
    const IniFile file(path);
    const auto target = Settings::ReadDetectionTarget(file);
    EXPECT_EQ(target.CrateSerial, "KSN5-0107");
    EXPECT_EQ(target.ModuleSlot, 1);
    EXPECT_EQ(view.modeCaption, "sum");
    EXPECT_EQ(view.amplitudeCaption, "amp");
    const SettingsRecord& r = settings.Record;
    EXPECT_DOUBLE_EQ(r.MaxAcquisitionTime, 2.5);
    EXPECT_EQ(view.indexes, (std::array<int, 3>{1, 1, 3}));
    EXPECT_EQ(r.ReferenceChannel, 3);
    EXPECT_EQ(view.reference, Channels({3}));
    EXPECT_EQ(view.channels, Channels({0, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(view.all, CheckState::Mixed);
    EXPECT_EQ(r.AcDigits[0], 10);
    EXPECT_EQ(r.AcFormat[0], "0.0000000000");
    EXPECT_EQ(r.FrFormat[0], "0.00000");
    EXPECT_EQ(r.PhFormat[0], "0.");
}

TEST_F(SettingsFileTest, FirstStartOnlyRestoresTheWindowPosition)
{
    WriteBytes(path, Fixture("edited.ini"));
    view.top = 5;
    view.left = 6;
    Read(false);
    EXPECT_EQ(view.top, 5);
    EXPECT_EQ(view.left, 6);
}

TEST_F(SettingsFileTest, SavingTheEditedFileKeepsEveryUntouchedByte)
{
    const std::string edited = Fixture("edited.ini");
    ReadFile(edited);
    view.crate = "KSN5-0107";
    view.slot = 2;
    view.indexes = {0, 1, 6};
    view.channels = Channels({0, 2, 3, 4, 5, 6});
    settings.SaveIniFile(path);

    std::string expected = edited;
    expected =
        Replace(expected, Cp("Left   основной панели=0x40"), Cp("Left   основной панели=64"));
    expected = Replace(expected, Cp("Слот модуля=1"), Cp("Слот модуля=2"));
    expected = Replace(expected, Cp("Разрядность данных=1"), Cp("Разрядность данных=0"));
    expected = Replace(expected, Cp("АЦП=3"), Cp("АЦП=6"));  // the first of the two rate keys
    expected = Replace(expected, Cp("каналом 4=12abc"), Cp("каналом 4=1"));
    expected = Replace(expected, Cp("PH precision=0\r\n"),
                       Cp("PH precision=0\r\nАЦП. Управление каналом 5=1\r\n"
                          "АЦП. Управление каналом 6=1\r\nАЦП. Управление каналом 7=1\r\n"
                          "АЦП. Управление каналом 8=0\r\n"));
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(SettingsFileTest, SavingWhatWasReadLeavesTheDefaultFileAsItWas)
{
    ReadFile(Fixture("default.ini"));
    settings.SaveIniFile(path);
    EXPECT_EQ(ReadBytes(path), Fixture("default.ini"));
}

TEST_F(SettingsFileTest, FileWithoutModuleSectionGivesReadDefaults)
{
    ReadFile(Cp("[Приложение. Общие]\r\nСохранение настроек=1\r\n"));
    EXPECT_TRUE(view.autoSave);
    EXPECT_EQ(view.indexes, (std::array<int, 3>{0, 0, 7}));
    EXPECT_EQ(view.all, CheckState::Checked);
    EXPECT_EQ(view.channels, Channels({0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_DOUBLE_EQ(settings.Record.MaxAcquisitionTime, 1.0);
    EXPECT_EQ(settings.Record.CalcMethod, "fft");
    EXPECT_EQ(settings.Record.AmplitudeType, "rms");
    EXPECT_EQ(settings.Record.AcFormat[0], "0.00");
}

struct ChannelCase {
    const char* name;
    std::string keys;  // lines of the module section
    std::array<bool, 8> channels;
    CheckState all;
};

class ChannelKeys : public SettingsFileTest, public testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelKeys, GiveChannelsAndGroupState)
{
    ReadFile(Cp("[Модуль KSN48]\r\n" + GetParam().keys));
    EXPECT_EQ(view.channels, GetParam().channels);
    EXPECT_EQ(view.all, GetParam().all);
}

std::string ChannelLines(const std::string& values)
{
    std::string lines;
    for (std::size_t i = 0; i < values.size(); ++i) {
        lines += "АЦП. Управление каналом " + std::to_string(i + 1) + "=" + values[i] + "\r\n";
    }
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChannelKeys,
    testing::Values(
        ChannelCase{"GroupTicksAll",
                    "АЦП. Групповое управление каналами=1\r\n" + ChannelLines("00000000"),
                    {true, true, true, true, true, true, true, true},
                    CheckState::Checked},
        ChannelCase{"Mixed",
                    "АЦП. Групповое управление каналами=0\r\n" + ChannelLines("10100000"),
                    {true, false, true, false, false, false, false, false},
                    CheckState::Mixed},
        ChannelCase{"AllOff",
                    "АЦП. Групповое управление каналами=0\r\n" + ChannelLines("00000000"),
                    {},
                    CheckState::Unchecked},
        ChannelCase{"AllOnWithoutGroup",
                    "АЦП. Групповое управление каналами=0\r\n" + ChannelLines("11111111"),
                    {true, true, true, true, true, true, true, true},
                    CheckState::Checked},
        ChannelCase{"MissingKeysAreOn",
                    "АЦП. Групповое управление каналами=0\r\n" + ChannelLines("0"),
                    {false, true, true, true, true, true, true, true},
                    CheckState::Mixed}),
    [](const auto& test) { return std::string(test.param.name); });

struct StoredValueCase {
    const char* name;
    std::string keys;
    std::array<int, 3> indexes;
    int reference;
    std::array<int, 3> counts = {2, 2, 8};
};

class StoredValues : public SettingsFileTest,
                     public testing::WithParamInterface<StoredValueCase> {};

TEST_P(StoredValues, OutOfRangeNeverIndexesPastAListOrPanel)
{
    view.counts = GetParam().counts;
    view.reference = Channels({5});  // left from an earlier pass
    ReadFile(Cp("[Модуль KSN48]\r\n" + GetParam().keys));
    EXPECT_EQ(view.indexes, GetParam().indexes);
    EXPECT_EQ(settings.Record.ReferenceChannel, GetParam().reference);
    EXPECT_EQ(view.reference, Channels({GetParam().reference})) << "only one reference ticked";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredValues,
    testing::Values(
        StoredValueCase{"InRange",
                        "АЦП. Разрядность данных=1\r\nАЦП. Значение источника тока=1\r\n"
                        "АЦП. Индекс частоты работы АЦП=0\r\nАЦП. Опорный фазовый канал=7\r\n",
                        {1, 1, 0},
                        7},
        StoredValueCase{"TooLarge",
                        "АЦП. Разрядность данных=2\r\nАЦП. Значение источника тока=9\r\n"
                        "АЦП. Индекс частоты работы АЦП=8\r\nАЦП. Опорный фазовый канал=8\r\n",
                        {0, 0, 7},
                        0},
        StoredValueCase{"Negative",
                        "АЦП. Разрядность данных=-1\r\nАЦП. Значение источника тока=-2\r\n"
                        "АЦП. Индекс частоты работы АЦП=-1\r\nАЦП. Опорный фазовый канал=-1\r\n",
                        {0, 0, 7},
                        0},
        StoredValueCase{"HexAndGarbage",
                        "АЦП. Индекс частоты работы АЦП=0x3\r\nАЦП. Опорный фазовый канал=x\r\n",
                        {0, 0, 3},
                        0},
        StoredValueCase{
            "EmptyLists", "АЦП. Индекс частоты работы АЦП=3\r\n", {-1, -1, -1}, 0, {0, 0, 0}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SettingsFileTest, PrecisionsAreLimitedToTenDigits)
{
    const struct {
        const char* stored;
        const char* format;
    } cases[] = {{"12", "0.0000000000"}, {"10", "0.0000000000"}, {"0", "0."},
                 {"-1", "0.0000000000"}, {"65536", "0."},        {"x", "0.00"}};
    for (const auto& c : cases) {
        ReadFile(Cp("[Модуль KSN48]\r\nАЦП. Диапазон  5.00 В. AC precision=") + c.stored + "\r\n");
        EXPECT_EQ(settings.Record.AcFormat[0], c.format) << c.stored;
    }
}

TEST_F(SettingsFileTest, MaximumTimeMustBeAPositiveNumber)
{
    for (const char* stored : {"0", "-2", "nan", "inf", "1,5", ""}) {
        ReadFile(Cp("[Модуль KSN48]\r\nАЦП. Mаксимальное время сбора данных, с=") + stored +
                 "\r\n");
        EXPECT_DOUBLE_EQ(settings.Record.MaxAcquisitionTime, 1.0) << stored;
    }
}

TEST_F(SettingsFileTest, NoFileObjectIsAFailedRead)
{
    EXPECT_FALSE(settings.ReadSettings(nullptr, true));
    EXPECT_FALSE(settings.ReadModuleSettings(nullptr));
    EXPECT_FALSE(settings.WriteApplicationSection(nullptr));
    EXPECT_FALSE(settings.WriteModuleSection(nullptr));
    EXPECT_FALSE(settings.WriteDefaultApplicationSection(nullptr));
    EXPECT_FALSE(settings.WriteDefaultModuleSection(nullptr));
}

TEST_F(SettingsFileTest, DefaultSettingsRewriteOnlyTheDefaultKeys)
{
    const std::string edited = Fixture("edited.ini");
    WriteBytes(path, edited);
    view.crate = "X";
    settings.SaveDefaultSettingsClick();
    const std::string expected = Cp("; правка оператора\r\n"
                                    "[приложение. общие]\r\n"
                                    "СОХРАНЕНИЕ НАСТРОЕК=0\r\n"
                                    "Top    основной панели=-1\r\n"
                                    "Left   основной панели=-1\r\n"
                                    "Источник загрузки корректировочных коэфф.=0\r\n"
                                    "[Приложение. Обнаружение]\r\n"
                                    "Серийный номер KSN крейта=\r\n"
                                    "Слот модуля=-1\r\n"
                                    "[Модуль KSN48]\r\n"
                                    "АЦП. Метод расчёта=fft\r\n"
                                    "АЦП. Тип амплитуды=rms\r\n"
                                    "АЦП. Mаксимальное время сбора данных, с=0.75\r\n"
                                    "АЦП. Разрядность данных=0\r\n"
                                    "АЦП. Значение источника тока=0\r\n"
                                    "АЦП. Индекс частоты работы АЦП=7\r\n"
                                    "АЦП. Индекс частоты работы АЦП=5\r\n"
                                    "АЦП. Опорный фазовый канал=3\r\n"
                                    "АЦП. Групповое управление каналами=0\r\n"
                                    "АЦП. Управление каналом 1=1\r\n"
                                    "АЦП. Управление каналом 2=1\r\n"
                                    "АЦП. Управление каналом 3=1\r\n"
                                    "АЦП. Управление каналом 4=1\r\n"
                                    "АЦП. Диапазон  5.00 В. AC precision=2\r\n"
                                    "АЦП. Диапазон  5.00 В. PH precision=3\r\n"
                                    "АЦП. Управление каналом 5=1\r\n"
                                    "АЦП. Управление каналом 6=1\r\n"
                                    "АЦП. Управление каналом 7=0\r\n"
                                    "АЦП. Управление каналом 8=0\r\n"
                                    "АЦП. Диапазон  5.00 В. FR precision=5\r\n"
                                    "[Чужой раздел]\r\n"
                                    "Ключ=Значение\r\n");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(view.changesNotBusy, 0) << "the window keeps showing the old settings";
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(SettingsFileTest, TheFeedSectionStaysAsItStandsThroughEveryWriter)
{
    // Between the window's sections, with a key of the window's spelling in
    // it: no writer may take it for its own.
    const std::string feed = "[MQTT]\r\nEnabled=1\r\nBroker=broker.lab:1884\r\n"
                             "PasswordFile=/etc/ksn/mqtt password\r\nQoS=1\r\n"
                             "Top    основной панели=7\r\n";
    std::string file = Fixture("default.ini");
    const std::size_t module = file.find(Cp("[Модуль KSN48]"));
    ASSERT_NE(module, std::string::npos);
    file.insert(module, Cp(feed));
    ReadFile(file);
    settings.SaveIniFile(path);
    EXPECT_EQ(ReadBytes(path), file);
    settings.SaveDefaultSettingsClick();
    EXPECT_EQ(ReadBytes(path), file);
    EXPECT_TRUE(view.messages.empty());

    const MqttSection section = ReadMqttSection(IniFile(path));
    EXPECT_EQ(section.Enabled, "1");
    EXPECT_EQ(section.Broker, "broker.lab:1884");
    EXPECT_EQ(section.PasswordFile, "/etc/ksn/mqtt password");
    EXPECT_EQ(section.Qos, "1");
    EXPECT_EQ(section.Topic, "");
}

TEST_F(SettingsFileTest, TheFeedSectionIsOffWithoutItAndReadsWithoutTheBlanksAround)
{
    ReadFile(Fixture("default.ini"));
    const MqttSection none = ReadMqttSection(IniFile(path));
    EXPECT_EQ(none.Enabled, "");
    EXPECT_EQ(none.Broker, "");
    WriteBytes(path, "[mqtt]\r\nenabled =  1 \r\nBROKER=\t127.0.0.1 \r\nTopic= plant/line2\r\n");
    const MqttSection some = ReadMqttSection(IniFile(path));
    EXPECT_EQ(some.Enabled, "1");
    EXPECT_EQ(some.Broker, "127.0.0.1");
    EXPECT_EQ(some.Topic, "plant/line2");
}

TEST_F(SettingsFileTest, ThePrecisionSectionStaysAsItStandsThroughEveryWriter)
{
    // Between the window's sections, and the shared method key untouched.
    const std::string precision = "[Precision]\r\nMethod=fit\r\nUncertainty=1\r\n";
    std::string file = Fixture("default.ini");
    const std::size_t module = file.find(Cp("[Модуль KSN48]"));
    ASSERT_NE(module, std::string::npos);
    file.insert(module, precision);
    ReadFile(file);
    const std::string method =
        IniFile(path).ReadString(names::ModuleSection, names::CalcMethodKey, "");
    settings.SaveIniFile(path);
    EXPECT_EQ(ReadBytes(path), file);
    settings.SaveDefaultSettingsClick();
    EXPECT_EQ(ReadBytes(path), file);
    EXPECT_TRUE(view.messages.empty());
    const PrecisionSection section = ReadPrecisionSection(IniFile(path));
    EXPECT_TRUE(section.SineFit);
    EXPECT_TRUE(section.Uncertainty);
    EXPECT_EQ(IniFile(path).ReadString(names::ModuleSection, names::CalcMethodKey, ""), method);
}

// The feed's Enabled and the precision section's Uncertainty are switches of
// one rule: "1" on, "0" or nothing off, anything else refused by name.
TEST(SectionSwitch, OneIsOnZeroOrNothingIsOffAndAnythingElseIsRefused)
{
    struct Case {
        const char* value;
        std::optional<bool> on;
    };
    const Case cases[] = {
        {"1", true}, {"0", false}, {"", false}, {"yes", std::nullopt}, {"on", std::nullopt},
        {"01", std::nullopt}, {"1.0", std::nullopt}, {"-1", std::nullopt}, {"2", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadSwitch(c.value), c.on) << "'" << c.value << "'";
    }
    EXPECT_EQ(SwitchProblem("yes"), "'yes' is not 0 or 1");
}

TEST_F(SettingsFileTest, ThePrecisionSectionReadsItsValuesAndNamesTheFirstBadKey)
{
    const struct {
        const char* text;
        bool fit;
        bool uncertainty;
        const char* badKey;
    } cases[] = {
        {"", false, false, ""},
        {"[Precision]\r\nMethod=fit\r\n", true, false, ""},
        {"[precision]\r\nmethod = Fit \r\nUNCERTAINTY=1\r\n", true, true, ""},
        {"[Precision]\r\nMethod=settings\r\nUncertainty=0\r\n", false, false, ""},
        {"[Precision]\r\nMethod=\r\nUncertainty=1\r\n", false, true, ""},
        {"[Precision]\r\nMethod=sum\r\nUncertainty=1\r\n", false, true, "Method"},
        {"[Precision]\r\nMethod=fit\r\nUncertainty=2\r\n", true, false, "Uncertainty"},
        {"[Precision]\r\nMethod=fitted\r\nUncertainty=on\r\n", false, false, "Method"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WriteBytes(path, c.text);
        const PrecisionSection section = ReadPrecisionSection(IniFile(path));
        EXPECT_EQ(section.SineFit, c.fit);
        EXPECT_EQ(section.Uncertainty, c.uncertainty);
        EXPECT_EQ(section.BadKey, c.badKey);
        EXPECT_EQ(section.Problem.empty(), std::string(c.badKey).empty());
    }
    // Written back, it reads as written, whatever was there.
    for (const bool fit : {false, true}) {
        for (const bool uncertainty : {false, true}) {
            IniFile file(path);
            WritePrecisionSection(file, fit, uncertainty);
            file.UpdateFile();
            const PrecisionSection section = ReadPrecisionSection(IniFile(path));
            EXPECT_EQ(section.SineFit, fit);
            EXPECT_EQ(section.Uncertainty, uncertainty);
            EXPECT_TRUE(section.BadKey.empty());
        }
    }
}

TEST_F(SettingsFileTest, ReferenceChannelIsNeverWritten)
{
    ReadFile(Fixture("edited.ini"));
    view.reference = Channels({6});
    settings.SaveIniFile(path);
    settings.CreateDefaultIniFile(path);
    EXPECT_EQ(IniFile(path).ReadInteger(names::ModuleSection, names::ReferenceChannelKey, -1), 3);
}

TEST_F(SettingsFileTest, CrateAndModuleAreWrittenOnlyWhenSelected)
{
    const struct {
        std::optional<std::string> crate;
        std::optional<int> slot;
        std::string serialAfter;
        int slotAfter;
    } cases[] = {
        {std::nullopt, std::nullopt, "KSN5-0107", 1},
        {std::nullopt, 4, "KSN5-0107", 1},
        {"KSN7-0001", std::nullopt, "KSN7-0001", 1},
        {"KSN7-0001", 4, "KSN7-0001", 4},
    };
    for (const auto& c : cases) {
        WriteBytes(path, Fixture("edited.ini"));
        view.crate = c.crate;
        view.slot = c.slot;
        settings.SaveIniFile(path);
        const auto target = Settings::ReadDetectionTarget(IniFile(path));
        EXPECT_EQ(target.CrateSerial, c.serialAfter);
        EXPECT_EQ(target.ModuleSlot, c.slotAfter);
    }
}

TEST_F(SettingsFileTest, RandomSettingsReadBackEqual)
{
    std::mt19937 random(48);
    const auto pick = [&](int from, int to) {
        return std::uniform_int_distribution<int>(from, to)(random);
    };
    const std::vector<std::string> letters = {"K", "S", "N", "-", "0", "7",
                                              "Ж", "ё", "Ї", " ", "="};
    for (int round = 0; round < 100; ++round) {
        FakeView written;
        written.autoSave = pick(0, 1) == 1;
        written.top = pick(-5000, 5000);
        written.left = pick(-5000, 5000);
        if (written.top == -1 || written.left == -1) {
            continue;  // -1 means "keep the window where it is"
        }
        written.indexes = {pick(0, 1), pick(0, 1), pick(0, 7)};
        for (bool& on : written.channels) {
            on = pick(0, 3) != 0;
        }
        bool agree = true;
        for (const bool on : written.channels) {
            agree = agree && on == written.channels[0];
        }
        written.all = !agree ? CheckState::Mixed
                             : (written.channels[0] ? CheckState::Checked : CheckState::Unchecked);
        std::string serial = "K";
        for (int i = pick(0, 14); i > 0; --i) {
            serial +=
                letters[static_cast<std::size_t>(pick(0, static_cast<int>(letters.size()) - 1))];
        }
        serial += "7";
        written.crate = serial;
        written.slot = pick(1, 16);

        Settings writer(written, path);
        writer.SaveIniFile(path);

        FakeView read;
        read.indexes = {-1, -1, -1};
        Settings reader(read, path);
        const IniFile file(path);
        reader.RestoreWindowPosition(&file, true);
        ASSERT_TRUE(reader.ReadSettings(&file, true));
        EXPECT_EQ(read.autoSave, written.autoSave);
        EXPECT_EQ(read.top, written.top);
        EXPECT_EQ(read.left, written.left);
        EXPECT_EQ(read.indexes, written.indexes);
        EXPECT_EQ(read.channels, written.channels);
        EXPECT_EQ(read.all, written.all);
        const auto target = Settings::ReadDetectionTarget(file);
        EXPECT_EQ(target.CrateSerial, serial);
        EXPECT_EQ(target.ModuleSlot, written.slot);
    }
}

struct ButtonCase {
    const char* name;
    bool busy;
    bool autoSave;
    std::vector<std::string> log;
    bool saved;
};

class SaveButton : public SettingsFileTest, public testing::WithParamInterface<ButtonCase> {};

TEST_P(SaveButton, DisabledForHalfASecondAndWhileAutoSaveIsOn)
{
    view.busy = GetParam().busy;
    view.autoSave = GetParam().autoSave;
    settings.SaveSettingsButtonClick();
    EXPECT_EQ(view.log, GetParam().log);
    EXPECT_EQ(access(path.c_str(), F_OK) == 0, GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveButton,
    testing::Values(
        ButtonCase{"AutoSaveOff",
                   false,
                   false,
                   {"busy", "save off", "pause 500", "save on", "idle"},
                   true},
        ButtonCase{
            "AutoSaveOn", false, true, {"busy", "save off", "pause 500", "save off", "idle"}, true},
        ButtonCase{"Busy", true, false, {}, false}),
    [](const auto& test) { return std::string(test.param.name); });

// The settings read holds Busy around its control changes and then leaves
// it as it found it: a caller's own busy section goes on, and a control
// change that throws does not leave the window busy.
TEST_F(SettingsFileTest, ReadingLeavesBusyAsItFoundIt)
{
    WriteBytes(path, Fixture("default.ini"));
    auto opened = settings.OpenSettingsFile();
    ASSERT_NE(opened.File, nullptr) << opened.FailureText;

    view.busy = true;
    ASSERT_TRUE(settings.ReadSettings(opened.File.get(), false));
    EXPECT_TRUE(view.busy) << "the caller's busy section ended with the read";
    EXPECT_EQ(view.changesNotBusy, 0);

    view.busy = false;
    view.referenceFails = true;
    EXPECT_THROW(settings.ReadSettings(opened.File.get(), false), std::runtime_error);
    EXPECT_FALSE(view.busy) << "a failed control change left the window busy";
}

TEST_F(SettingsFileTest, AutoSaveBoxSwitchesTheSaveButton)
{
    const struct {
        bool busy;
        bool ticked;
        std::vector<std::string> log;
    } cases[] = {
        {false, true, {"busy", "save off", "idle"}},
        {false, false, {"busy", "save on", "idle"}},
        {true, true, {}},
    };
    for (const auto& c : cases) {
        view.log.clear();
        view.busy = c.busy;
        view.autoSave = c.ticked;
        settings.AutoSaveSettingsLMDCheckBoxChange();
        EXPECT_EQ(view.log, c.log);
    }
}

TEST_F(SettingsFileTest, CloseSavesOnlyWithAutoSaveAndReleasesTheFile)
{
    for (const bool autoSave : {false, true}) {
        WriteBytes(path, Fixture("default.ini"));
        view.autoSave = autoSave;
        view.indexes = {1, 1, 1};
        settings.SettingsFile = std::make_unique<IniFile>(path);
        settings.SaveOnClose();
        EXPECT_EQ(settings.SettingsFile, nullptr);
        EXPECT_EQ(IniFile(path).ReadInteger(names::ModuleSection, names::AdcRateKey, -1),
                  autoSave ? 1 : 7);
    }
}

TEST_F(SettingsFileTest, CreateDefaultFailures)
{
    EXPECT_FALSE(settings.CreateDefaultIniFile(""));
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // a folder where the file belongs
    EXPECT_FALSE(settings.CreateDefaultIniFile(path));
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[0].text, "Неправильное название файла штатных настроек!");
    EXPECT_EQ(view.messages[1].text, "Не могу создать файл штатных настроек '" + path + "'!");
    for (const auto& m : view.messages) {
        EXPECT_EQ(m.caption, "ОШИБКА CreateDefaultIniFile()!");
        EXPECT_EQ(m.icon, MessageIcon::Information);
    }
}

TEST_F(SettingsFileTest, OpenFailures)
{
    if (!dir.MountTmpfs(64, true)) {
        GTEST_SKIP() << "this process may not mount a file system";
    }
    const auto opened = settings.OpenSettingsFile();
    EXPECT_EQ(opened.File, nullptr);
    EXPECT_EQ(opened.FailureText, "Не могу создать файл настроек!");
}

// Something other than a usable settings file at the path. The pass goes on
// with the default-file values and says once what is wrong, naming the file;
// a save says it cannot write there; nothing at the path changes.
struct UnusableCase {
    const char* name;
    // Makes the object at `path` in `dir`; returns the reason the operator reads.
    std::string (*make)(const std::string& path, const TestDirectory& dir);
    // The save's reason when it differs from the start-up's.
    const char* saveReason;
};

const UnusableCase UnusableCases[] = {
    {"Folder",
     [](const std::string& p, const TestDirectory&) {
         EXPECT_EQ(mkdir(p.c_str(), 0755), 0);
         return std::string("это папка, а не файл");
     },
     nullptr},
    {"Pipe",
     [](const std::string& p, const TestDirectory&) {
         EXPECT_EQ(mkfifo(p.c_str(), 0644), 0);
         return std::string("это именованный канал, а не файл");
     },
     nullptr},
    {"HugeFile",
     [](const std::string& p, const TestDirectory&) {
         WriteBytes(p, "[s]\r\nk=1\r\n");
         EXPECT_EQ(truncate(p.c_str(), 65 << 20), 0);
         return std::string("файл больше 64 МБ");
     },
     nullptr},
    {"LinkLoop",
     [](const std::string& p, const TestDirectory&) {
         EXPECT_EQ(symlink(p.c_str(), p.c_str()), 0);
         return std::string("символические ссылки замкнуты в круг");
     },
     nullptr},
    {"LinkIntoMissingFolder",
     [](const std::string& p, const TestDirectory& d) {
         EXPECT_EQ(symlink("gone/Ksn48_Vevu.ini", p.c_str()), 0);
         return "это символическая ссылка на '" + d.File("gone/Ksn48_Vevu.ini") +
                "', которого нет и создать который не удалось: нет такого файла или папки";
     },
     "нет такого файла или папки"},
    // A regular file whose reading fails: the process's own memory at address 0.
    {"UnreadableFile",
     [](const std::string& p, const TestDirectory&) {
         EXPECT_EQ(symlink("/proc/self/mem", p.c_str()), 0);
         return std::string("ошибка ввода-вывода");
     },
     nullptr},
};

void PrintTo(const UnusableCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnusableFile : public SettingsFileTest, public testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableFile, PassGoesOnWithDefaultsAndNothingThereChanges)
{
    const UnusableCase c = GetParam();
    const std::string reason = c.make(path, dir);
    const std::string before = Describe(path);
    const std::string listing = dir.Listing();

    auto opened = settings.OpenSettingsFile();
    ASSERT_NE(opened.File, nullptr);
    EXPECT_EQ(opened.FailureText, "");
    EXPECT_EQ(opened.WarningText,
              "Файл настроек '" + path + "' использовать нельзя: " + reason +
                  ".\nПрограмма работает со штатными настройками, сохранить настройки в этот "
                  "файл не получится.");
    view.top = 33;
    settings.RestoreWindowPosition(opened.File.get(), true);
    ASSERT_TRUE(settings.ReadSettings(opened.File.get(), true));
    // The values of a fresh default file.
    EXPECT_EQ(view.top, 33);
    EXPECT_FALSE(view.autoSave);
    EXPECT_EQ(view.indexes, (std::array<int, 3>{0, 0, 7}));
    EXPECT_EQ(view.channels, Channels({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(view.all, CheckState::Mixed);
    EXPECT_EQ(view.modeCaption, "fft");
    EXPECT_DOUBLE_EQ(settings.Record.MaxAcquisitionTime, 0.75);
    const auto target = Settings::ReadDetectionTarget(*opened.File);
    EXPECT_EQ(target.CrateSerial, "");
    EXPECT_EQ(target.ModuleSlot, -1);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.errors.empty());

    // Told once: the next pass runs on the defaults without a word.
    opened = settings.OpenSettingsFile();
    ASSERT_NE(opened.File, nullptr);
    EXPECT_EQ(opened.WarningText, "");

    // "Сохранить", automatic save at close and the default writer.
    view.indexes = {1, 1, 3};
    settings.SaveSettingsButtonClick();
    view.autoSave = true;
    settings.SaveOnClose();
    const std::string refused =
        "Не могу записать файл '" + path + "': " + (c.saveReason ? c.saveReason : reason);
    EXPECT_EQ(view.errors, (std::vector<std::string>{refused, refused}));
    settings.SaveDefaultSettingsClick();
    if (c.saveReason == nullptr) {
        // Nothing there can even be opened as a file.
        ASSERT_EQ(view.messages.size(), 1U);
        EXPECT_EQ(view.messages[0].text, "Не могу создать файл штатных настроек '" + path + "'!");
    } else {
        EXPECT_EQ(view.errors, (std::vector<std::string>{refused, refused, refused}));
    }
    EXPECT_EQ(Describe(path), before);
    EXPECT_EQ(dir.Listing(), listing);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnusableFile, testing::ValuesIn(UnusableCases),
                         [](const testing::TestParamInfo<UnusableCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(SettingsFileTest, WarningComesAgainForAnotherProblemAndStopsWhenMended)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    EXPECT_NE(settings.OpenSettingsFile().WarningText, "");
    EXPECT_EQ(settings.OpenSettingsFile().WarningText, "");
    ASSERT_EQ(rmdir(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_NE(settings.OpenSettingsFile().WarningText.find("именованный канал"), std::string::npos);
    ASSERT_EQ(unlink(path.c_str()), 0);
    // Mended: the file is made and read again, and a later problem is told again.
    EXPECT_EQ(settings.OpenSettingsFile().WarningText, "");
    EXPECT_EQ(ReadBytes(path), Fixture("default.ini"));
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_NE(settings.OpenSettingsFile().WarningText, "");
}

// A link to a file not made yet: start-up makes the file where the link leads
// and reads it, "Сохранить" writes there, and the link stays a link.
TEST_F(SettingsFileTest, DanglingLinkLeadsToTheFileItNames)
{
    ASSERT_EQ(mkdir(dir.File("shared").c_str(), 0755), 0);
    const std::string target = dir.File("shared/ksn48.ini");
    ASSERT_EQ(symlink("shared/ksn48.ini", path.c_str()), 0);
    const std::string link = Describe(path);
    Read();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(ReadBytes(target), Fixture("default.ini"));
    EXPECT_EQ(view.indexes, (std::array<int, 3>{0, 0, 7}));

    view.indexes = {1, 1, 3};
    settings.SaveSettingsButtonClick();
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(IniFile(target).ReadInteger(names::ModuleSection, names::AdcRateKey, -1), 3);
    EXPECT_EQ(Describe(path), link);
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\nshared\n");
}

TEST_F(SettingsFileTest, DefaultsThatCannotBeWrittenLeaveNoEmptyFile)
{
    if (!dir.MountTmpfs(4)) {  // room for nothing but the empty file
        GTEST_SKIP() << "this process may not mount a file system";
    }
    WriteBytes(dir.File("filler"), std::string(4096, 'f'));
    const auto opened = settings.OpenSettingsFile();
    EXPECT_EQ(opened.File, nullptr);
    EXPECT_EQ(opened.FailureText, "") << "already reported";
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_NE(view.errors[0].find(path), std::string::npos);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

// A save that the system refuses leaves the old file, reports the error
// naming the file, and leaves the window usable.
class RefusedSave : public SettingsFileTest {
protected:
    void SaveAndExpectRefused()
    {
        const std::string before = ReadBytes(path);
        view.indexes = {1, 1, 1};
        view.top = 10;
        settings.SaveSettingsButtonClick();
        EXPECT_EQ(ReadBytes(path), before);
        ASSERT_EQ(view.errors.size(), 1u);
        EXPECT_NE(view.errors[0].find(path), std::string::npos) << view.errors[0];
        EXPECT_EQ(view.log,
                  (std::vector<std::string>{"busy", "save off", "pause 500", "save on", "idle"}));
    }
};

TEST_F(RefusedSave, ReadOnlyFile)
{
    WriteBytes(path, Fixture("edited.ini"));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    view.autoSave = false;
    SaveAndExpectRefused();
}

TEST_F(RefusedSave, FullFileSystem)
{
    if (!dir.MountTmpfs(16)) {
        GTEST_SKIP() << "this process may not mount a file system (see FileSizeLimit)";
    }
    WriteBytes(path, Fixture("edited.ini"));
    std::string filler(4096, 'f');
    for (int i = 0; i < 64; ++i) {
        try {
            WriteBytes(dir.File("filler" + std::to_string(i)), filler);
        } catch (const std::exception&) {
            break;
        }
    }
    SaveAndExpectRefused();
}

TEST_F(RefusedSave, FileSizeLimit)
{
    WriteBytes(path, Fixture("edited.ini"));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 512;  // smaller than the new file
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    SaveAndExpectRefused();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

}  // namespace
