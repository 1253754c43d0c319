// The detection pass in the program's window against crate servers of
// various populations.
#include "DetectionWindow.h"
#include "CaseName.h"

#include "ApplicationHooks.h"
#include "CaptionAboveCheckBox.h"
#include "CrateServer.h"
#include "DetectionTexts.h"
#include "FileVersion.h"
#include "IniFile.h"
#include "Ksn48AdcChannelFrame.h"
#include "Led.h"
#include "ListPick.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "SettingsNames.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include "TriStateCheckBox.h"
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using ksn::test::Find;

using namespace detection_test;
using ksn::test::CaseName;

// --- the built-in population ---

TEST_F(Detection, DefaultPopulationListsBothCratesAndOpensTheFirstModule)
{
    StartServer();
    CreateForm();
    const auto took = FirstStart();
    std::cout << "whole start-up pass: " << took.count() << " ms\n";
    RecordProperty("pass_ms", static_cast<int>(took.count()));

    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(Items(Find<QComboBox>(*form, "KsnCratesComboBox")),
              (QStringList{"1: KSN5-0042", "2: KSN1-0107"}));
    EXPECT_EQ(Items(Find<QComboBox>(*form, "ModulesComboBox")),
              (QStringList{"Слот 3: KSN48", "Слот 5: KSN48"}));
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->currentIndex(), 0);
    EXPECT_EQ(Find<QComboBox>(*form, "ModulesComboBox")->currentIndex(), 0);
    ExpectModuleShown(QStringLiteral("4811001"), QStringLiteral("12"));
    EXPECT_EQ(form->CrateOk.load(), 1);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), Green);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(),
              QStringLiteral("Статус 'KSN-P5' крейта -> OK"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), ProgramCaption);
    EXPECT_EQ(form->DeviceInventory.CrateCount, 2);
    EXPECT_EQ(form->DeviceInventory.ModuleCrateCount, 2);
    // The context menu no longer pops up on a right click.
    EXPECT_FALSE(form->PopupMenuAutoPopup());
    ExpectWindowReleased();
}

TEST_F(Detection, AnotherCrateReopensWithTheSlowCrateWarning)
{
    StartServer();
    CreateForm();
    FirstStart();

    PickCrate(1);

    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->DeviceInventory.SelectedCrate, 1);
    EXPECT_EQ(Items(Find<QComboBox>(*form, "ModulesComboBox")), QStringList{"Слот 1: KSN48"});
    ExpectModuleShown(QStringLiteral("4812001"), QStringLiteral("10"));
    EXPECT_EQ(form->CrateOk.load(), 1);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), Orange);
    EXPECT_EQ(
        Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(),
        QStringLiteral(
            "Статус 'KSN-P1' крейта -> OK\n"
            "Для крейта 'KSN-P1' максимальная скорость передачи данных составляет 800 Кбайт/с.\n"
            "Поэтому для модуля 'KSN48', например, при 4-х канальном сборе 20-ти битных данных\n"
            "частота АЦП не должна превышать 50.0 кГц!!!"));
    // The crate list itself is not rebuilt.
    EXPECT_EQ(Items(Find<QComboBox>(*form, "KsnCratesComboBox")),
              (QStringList{"1: KSN5-0042", "2: KSN1-0107"}));
}

TEST_F(Detection, AnotherModuleLeavesTheCrateAlone)
{
    StartServer();
    CreateForm();
    FirstStart();
    form->CrateOk = 7;
    Find<TLed>(*form, "KsnCrateStatusLed")->setToolTip(QStringLiteral("untouched"));

    PickModule(1);

    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->DeviceInventory.SelectedModule[0], 1);
    ExpectModuleShown(QStringLiteral("4811002"), QStringLiteral("8"));
    EXPECT_EQ(form->CrateOk.load(), 7);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(), QStringLiteral("untouched"));
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), Green);
    EXPECT_EQ(Items(Find<QComboBox>(*form, "ModulesComboBox")),
              (QStringList{"Слот 3: KSN48", "Слот 5: KSN48"}));
}

TEST_F(Detection, PickingWhatIsAlreadyOpenRequestsNothing)
{
    StartServer();
    CreateForm();
    FirstStart();

    form->KsnCratesComboBoxChange(Find<QComboBox>(*form, "KsnCratesComboBox"));
    form->ModulesComboBoxChange(Find<QComboBox>(*form, "ModulesComboBox"));

    EXPECT_TRUE(form->InitRequestDone);
    EXPECT_EQ(form->DetectionThread(), nullptr);
    for (int i = 0; i < 3; ++i) {
        WaitLoopStep();  // a request would have been posted by now
    }
    EXPECT_TRUE(PassOver());
    EXPECT_EQ(form->ModuleState.load(), 2);
}

TEST_F(Detection, ClosingTheWindowMidPassEndsThePassAndFreesTheModule)
{
    StartServer();
    CreateForm();
    form->show();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (form->ModuleState.load() != 1 && std::chrono::steady_clock::now() < deadline) {
        WaitLoopStep();  // until the search has opened the module
    }
    ASSERT_EQ(form->ModuleState.load(), 1);

    form->close();
    form.reset();

    Ksn48Handle other{};
    KSN48_Init(&other);
    EXPECT_EQ(KSN48_Open(&other, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3), 0)
        << "the module is still held";
    KSN48_Close(&other);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- the saved choice at start-up ---

struct SavedChoiceCase : ksn::test::NamedCase {
    const char* crateSerial;
    int slot;
    int crate;
    int module;
    const char* moduleSerial;
};

class SavedChoice : public Detection, public ::testing::WithParamInterface<SavedChoiceCase> {};

TEST_P(SavedChoice, SelectsAndOpens)
{
    const SavedChoiceCase& c = GetParam();
    StartServer();
    CreateForm();
    SaveTarget(c.crateSerial, c.slot);
    FirstStart();

    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->DeviceInventory.SelectedCrate, c.crate);
    EXPECT_EQ(form->DeviceInventory.SelectedModule[static_cast<std::size_t>(c.crate)], c.module);
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->currentIndex(), c.crate);
    EXPECT_EQ(Find<QComboBox>(*form, "ModulesComboBox")->currentIndex(), c.module);
    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(),
              QString::fromLatin1(c.moduleSerial));
}

INSTANTIATE_TEST_SUITE_P(
    Detection, SavedChoice,
    ::testing::Values(SavedChoiceCase{{"CrateAndSlotExist"}, "KSN5-0042", 5, 0, 1, "4811002"},
                      SavedChoiceCase{{"SecondCrateAndSlotExist"}, "KSN1-0107", 1, 1, 0, "4812001"},
                      // Slot 5 exists in the crate chosen instead; it is still not taken.
                      SavedChoiceCase{{"CrateMissing"}, "KSN9-9999", 5, 0, 0, "4811001"},
                      SavedChoiceCase{{"SlotMissing"}, "KSN5-0042", 4, 0, 0, "4811001"},
                      // Serials compare exactly, case included.
                      SavedChoiceCase{{"CrateInOtherCase"}, "ksn1-0107", 1, 0, 0, "4811001"}),
    CaseName<SavedChoiceCase>);

TEST_F(Detection, FirstStartRestoresTheWindowPositionLaterPassesDoNot)
{
    StartServer();
    CreateForm();
    SaveTarget("KSN5-0042", 3);
    {
        IniFile file(form->Settings->SettingsPath());
        file.WriteInteger(SettingsNames::GeneralSection, SettingsNames::WindowTopKey, 40);
        file.WriteInteger(SettingsNames::GeneralSection, SettingsNames::WindowLeftKey, 70);
        file.UpdateFile();
    }
    FirstStart();
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(70, 40));

    form->move(200, 150);
    Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
    WaitForPass();
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(200, 150));
    EXPECT_EQ(form->ModuleState.load(), 2);
}

TEST_F(Detection, ASettingsFileThatCannotBeMadeEndsThePass)
{
    StartServer();
    CreateFormWithSettingsIn(settingsDir.path() + QStringLiteral("/missing-folder"));
    FirstStart();

    const auto shown = ThreadDialogs();
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(shown[0].text, QStringLiteral("Не могу создать файл настроек!"));
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 0);
    EXPECT_EQ(form->ModuleState.load(), 0);
    EXPECT_NE(KSN48_IsOpened(&form->Ksn48Handle), 0);
    ExpectWindowReleased();
}

// --- a settings path that holds no usable file ---

// What is at a path, without opening it; equal texts mean nothing changed.
std::string Snapshot(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "nothing";
    }
    std::string text = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                       std::to_string(info.st_ctim.tv_sec) + "." +
                       std::to_string(info.st_ctim.tv_nsec) + " " + std::to_string(info.st_ino);
    if (S_ISLNK(info.st_mode)) {
        text += " -> " + QFileInfo(QString::fromStdString(path)).symLinkTarget().toStdString();
    } else if (S_ISDIR(info.st_mode)) {
        text += " " + QDir(QString::fromStdString(path))
                          .entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot)
                          .join(',')
                          .toStdString();
    }
    return text;
}

struct UnusableSettingsCase {
    std::string name;
    // Makes the object at the settings path; returns the reason the operator reads.
    std::string (*make)(const std::string& path);
    // The save's reason when it differs from the start-up's.
    std::string saveReason;
};

void PrintTo(const UnusableSettingsCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnusableSettings : public Detection,
                         public ::testing::WithParamInterface<UnusableSettingsCase> {};

// The start-up pass says what is wrong with the file in its information box,
// naming it, and goes on: the module opens and the window shows the default
// file's values. "Сохранить" says it cannot write there, the next pass says
// nothing new, and whatever sits at the path is never changed (nor waited on).
TEST_P(UnusableSettings, PassWarnsOnceAndGoesOnWithTheDefaults)
{
    const UnusableSettingsCase& c = GetParam();
    StartServer();
    CreateForm();
    const std::string path = form->Settings->SettingsPath();
    const std::string reason = c.make(path);
    const std::string before = Snapshot(path);
    FirstStart();

    ASSERT_EQ(dialogs.Shown().size(), 1U);
    const ShownDialog& warning = dialogs.Shown()[0];
    EXPECT_EQ(warning.kind, DialogKind::MessageBox);
    EXPECT_EQ(warning.caption, QStringLiteral("Сообщение TInitAndConfigThread::Execute()!"));
    EXPECT_EQ(warning.icon, MessageIcon::Information);
    EXPECT_EQ(warning.text.toStdString(),
              "Файл настроек '" + path + "' использовать нельзя: " + reason +
                  ".\nПрограмма работает со штатными настройками, сохранить настройки в этот "
                  "файл не получится.");
    ExpectModuleShown(QStringLiteral("4811001"), QStringLiteral("12"));
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->currentIndex(), 7);
    for (std::size_t channel = 0; channel < form->ChannelFrames.size(); ++channel) {
        EXPECT_EQ(form->ChannelFrames[channel]->ChannelNumberLMDCheckBox->isChecked(), channel < 6)
            << channel;
    }
    ExpectWindowReleased();
    EXPECT_EQ(Snapshot(path), before);

    dialogs.Clear();
    Find<QPushButton>(*form, "SaveSettingsButton")->click();
    ASSERT_EQ(dialogs.Shown().size(), 1U);
    EXPECT_EQ(dialogs.Shown()[0].kind, DialogKind::Exception);
    EXPECT_EQ(dialogs.Shown()[0].text.toStdString(),
              "Не могу записать файл '" + path +
                  "': " + (c.saveReason.empty() ? reason : c.saveReason));
    EXPECT_TRUE(Find<QPushButton>(*form, "SaveSettingsButton")->isEnabled());

    dialogs.Clear();
    Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
    WaitForPass();
    EXPECT_TRUE(dialogs.Shown().empty());
    ExpectModuleShown(QStringLiteral("4811001"), QStringLiteral("12"));
    EXPECT_EQ(Snapshot(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Detection, UnusableSettings,
    ::testing::Values(
        UnusableSettingsCase{"Folder",
                             [](const std::string& path) {
                                 EXPECT_TRUE(QDir().mkpath(QString::fromStdString(path)));
                                 return std::string("это папка, а не файл");
                             },
                             ""},
        UnusableSettingsCase{"Pipe",
                             [](const std::string& path) {
                                 EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
                                 return std::string("это именованный канал, а не файл");
                             },
                             ""},
        UnusableSettingsCase{"HugeFile",
                             [](const std::string& path) {
                                 QFile file(QString::fromStdString(path));
                                 EXPECT_TRUE(file.open(QIODevice::WriteOnly));
                                 EXPECT_TRUE(file.resize(qint64{65} << 20));
                                 return std::string("файл больше 64 МБ");
                             },
                             ""},
        UnusableSettingsCase{"LinkIntoMissingFolder",
                             [](const std::string& path) {
                                 EXPECT_EQ(::symlink("gone/ksn48.ini", path.c_str()), 0);
                                 const std::string folder = path.substr(0, path.rfind('/') + 1);
                                 return "это символическая ссылка на '" + folder +
                                        "gone/ksn48.ini', которого нет и создать который не "
                                        "удалось: нет такого файла или папки";
                             },
                             "нет такого файла или папки"}),
    CaseName<UnusableSettingsCase>);

// A link to a settings file not made yet: the start-up pass makes the file
// where the link leads, "Сохранить" writes there, and the link stays.
TEST_F(Detection, ASettingsLinkToNoFileYetGetsItsFile)
{
    StartServer();
    CreateForm();
    const std::string path = form->Settings->SettingsPath();
    ASSERT_TRUE(QDir(settingsDir.path()).mkdir(QStringLiteral("shared")));
    ASSERT_EQ(::symlink("shared/ksn48.ini", path.c_str()), 0);
    const std::string link = Snapshot(path);
    const std::string target = settingsDir.path().toStdString() + "/shared/ksn48.ini";
    FirstStart();

    EXPECT_TRUE(dialogs.Shown().empty());
    ExpectModuleShown(QStringLiteral("4811001"), QStringLiteral("12"));
    EXPECT_EQ(
        IniFile(target).ReadInteger(SettingsNames::ModuleSection, SettingsNames::AdcRateKey, -1),
        7);
    Find<QComboBox>(*form, "AdcRateComboBox")->setCurrentIndex(3);
    Find<QPushButton>(*form, "SaveSettingsButton")->click();
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(
        IniFile(target).ReadInteger(SettingsNames::ModuleSection, SettingsNames::AdcRateKey, -1),
        3);
    EXPECT_EQ(Snapshot(path), link);
}

// --- nothing to open ---

TEST_F(Detection, NoCrateServerSaysSoOnceAndShowsBothAsBad)
{
    StartDeadServer();
    CreateForm();
    bool shortcutDetached = false;
    dialogs.OnShown = [&](const ShownDialog&) { shortcutDetached = !ApplicationHooks::ShortCut(); };
    FirstStart();

    ASSERT_EQ(dialogs.Shown().size(), 1U);
    EXPECT_EQ(dialogs.Shown()[0].kind, DialogKind::ThreadDialog);
    EXPECT_EQ(dialogs.Shown()[0].caption,
              QStringLiteral("Сообщение TInitAndConfigThread::Execute()!!!"));
    EXPECT_EQ(dialogs.Shown()[0].text, QStringLiteral("Не могу найти ни одного KSN крейта!"));
    EXPECT_EQ(dialogs.Shown()[0].buttons, QStringList{"Принято"});
    EXPECT_TRUE(shortcutDetached);
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 0);
    EXPECT_EQ(Find<QComboBox>(*form, "ModulesComboBox")->count(), 0);
    EXPECT_EQ(form->CrateOk.load(), 0);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), Red);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(),
              QStringLiteral("Статус KSN крейта -> BAD"));
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->ShownColor(), Red);
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->toolTip(),
              QStringLiteral("Статус модуля '\?\?\?' -> BAD"));
    ExpectNoModule();
    ExpectWindowReleased();
}

TEST_F(Detection, CratesWithoutKsn48ModulesAreNotListed)
{
    StartServer(
        R"({"crates": [{"serial": "KSN-E", "type": 40, "slots": [{"slot": 1, "module_id": "0x3131"}]},
                               {"serial": "KSN-F", "type": 10}]})");
    CreateForm();
    FirstStart();

    const auto shown = ThreadDialogs();
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(
        shown[0].text,
        QStringLiteral("Не могу найти ни одного KSN крейта, где бы был установлен модуль KSN48!"));
    EXPECT_EQ(form->DeviceInventory.CrateCount, 2);
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 0);
    EXPECT_EQ(Find<QComboBox>(*form, "ModulesComboBox")->count(), 0);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(),
              QStringLiteral("Статус KSN крейта -> BAD"));
    ExpectNoModule();
}

TEST_F(Detection, AModuleThatRefusesAfterTheSearchShowsTheCrateGoodAndTheModuleBad)
{
    StartServer();
    CreateForm();
    // The scan has opened every module; the list being filled is the moment
    // after it.
    bool refused = false;
    QObject::connect(Find<QComboBox>(*form, "KsnCratesComboBox"), &QComboBox::currentIndexChanged,
                     form.get(), [&](int index) {
                         if (index >= 0 && !refused) {
                             refused = true;
                             EXPECT_EQ(server->Ctl({"refuse", "KSN5-0042", "3", "on"}), 0);
                         }
                     });
    FirstStart();

    ASSERT_TRUE(refused);
    // The open that failed is named; the pass goes on as it would without a word.
    const auto shown = ThreadDialogs();
    ASSERT_EQ(dialogs.Shown().size(), 1U);
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(shown[0].text, QStringLiteral("Не могу открыть выбранный модуль KSN48 в слоте 3 KSN "
                                            "крейта 'KSN5-0042': модуль отказался открыться!"));
    EXPECT_EQ(Items(Find<QComboBox>(*form, "ModulesComboBox")),
              (QStringList{"Слот 3: KSN48", "Слот 5: KSN48"}));
    EXPECT_EQ(form->CrateOk.load(), 1);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), Green);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->toolTip(),
              QStringLiteral("Статус '\?\?\?' крейта -> OK"));
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->ShownColor(), Red);
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->toolTip(),
              QStringLiteral("Статус модуля '\?\?\?' -> BAD"));
    ExpectNoModule();
}

// --- requests 1 and 2 whose module refuses ---

struct RefusedRequestCase : ksn::test::NamedCase {
    const char* crate;
    const char* slot;
    bool pickCrate;  // else the module
    int index;
    const char* message;
};

class RefusedRequest : public Detection,
                       public ::testing::WithParamInterface<RefusedRequestCase> {};

TEST_P(RefusedRequest, ReportsAndLeavesTheModuleClosed)
{
    const RefusedRequestCase& c = GetParam();
    StartServer();
    CreateForm();
    FirstStart();
    ASSERT_EQ(server->Ctl({"refuse", c.crate, c.slot, "on"}), 0);

    if (c.pickCrate) {
        PickCrate(c.index);
    } else {
        PickModule(c.index);
    }

    const auto shown = ThreadDialogs();
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(shown[0].text, QString::fromUtf8(c.message));
    // No final status: the caption of the running pass stays.
    EXPECT_EQ(form->windowTitle(), PassCaption);
    EXPECT_EQ(form->ModuleState.load(), 0);
    ExpectNoModule();
    ExpectWindowReleased();

    // Once the module opens again, picking it again retries.
    ASSERT_EQ(server->Ctl({"refuse", c.crate, c.slot, "off"}), 0);
    if (c.pickCrate) {
        Find<QComboBox>(*form, "ModulesComboBox")->setCurrentIndex(-1);  // as after the refill
        Find<QComboBox>(*form, "ModulesComboBox")->setCurrentIndex(0);
    } else {
        form->ModulesComboBoxChange(Find<QComboBox>(*form, "ModulesComboBox"));
    }
    WaitForPass();
    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(form->windowTitle(), ProgramCaption);
}

INSTANTIATE_TEST_SUITE_P(
    Detection, RefusedRequest,
    ::testing::Values(RefusedRequestCase{{"Module"},
                                         "KSN5-0042",
                                         "5",
                                         false,
                                         1,
                                         "Не могу проинициализировать модуль в указанном слоте!"},
                      RefusedRequestCase{
                          {"Crate"},
                          "KSN1-0107",
                          "1",
                          true,
                          1,
                          "Не могу проинициализировать KSN крейт с модулями в указанном слоте!"}),
    CaseName<RefusedRequestCase>);

// Picking the module in its list as the operator does: the open one again
// asks for nothing; after its open failed, the same item retries it.
TEST_F(Detection, PickingTheSameModuleAgainRetriesOnlyAFailedOpen)
{
    StartServer();
    CreateForm();
    FirstStart();
    ksn::test::PickListItem(*Find<QComboBox>(*form, "ModulesComboBox"), 0);
    for (int i = 0; i < 3; ++i) {
        WaitLoopStep();  // a request would have been posted by now
    }
    EXPECT_TRUE(PassOver());
    EXPECT_TRUE(form->InitRequestDone);

    ASSERT_EQ(server->Ctl({"refuse", "KSN5-0042", "5", "on"}), 0);
    PickModule(1);
    ASSERT_EQ(form->ModuleState.load(), 0);
    ASSERT_EQ(Find<QComboBox>(*form, "ModulesComboBox")->currentIndex(), 1);
    dialogs.Clear();
    ASSERT_EQ(server->Ctl({"refuse", "KSN5-0042", "5", "off"}), 0);
    ksn::test::PickListItem(*Find<QComboBox>(*form, "ModulesComboBox"), 1);
    WaitForPass();
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->ModuleState.load(), 2);
    ExpectModuleShown(QStringLiteral("4811002"), QStringLiteral("8"));
}

// --- crate type and firmware ---

struct ModuleLookCase : ksn::test::NamedCase {
    int crateType;
    int firmware;
    QColor crateColor;
    QColor firmwareBackground;
    QColor firmwareText;
    bool warnsFirmware;
};

class ModuleLook : public Detection, public ::testing::WithParamInterface<ModuleLookCase> {};

TEST_P(ModuleLook, ShowsCrateAndFirmware)
{
    const ModuleLookCase& c = GetParam();
    StartServer(OneModuleConfig(c.crateType, c.firmware));
    CreateForm();
    const QColor face = form->palette().color(QPalette::Button);
    FirstStart();

    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(Find<TLed>(*form, "KsnCrateStatusLed")->ShownColor(), c.crateColor);
    QLabel* label = Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel");
    EXPECT_EQ(label->text(), QString::number(c.firmware));
    EXPECT_EQ(label->palette().color(QPalette::Window),
              c.firmwareBackground.isValid() ? c.firmwareBackground : face);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), c.firmwareText);
    EXPECT_EQ(label->toolTip(), c.warnsFirmware ? DetectionTexts::FirmwareTooOld
                                                : QStringLiteral("Версия микропрограммы модуля"));
    // Still usable with old firmware.
    EXPECT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Detection, ModuleLook,
    ::testing::Values(ModuleLookCase{{"Firmware8"}, 40, 8, Green, Red, Qt::white, true},
                      ModuleLookCase{{"Firmware9"}, 40, 9, Green, QColor(), Qt::black, false},
                      ModuleLookCase{{"Type21"}, 21, 9, Orange, QColor(), Qt::black, false},
                      ModuleLookCase{{"UnknownType"}, 99, 10, Green, QColor(), Qt::black, false}),
    CaseName<ModuleLookCase>);

TEST_F(Detection, FirmwareWarningGoesWithTheOldModule)
{
    StartServer();
    CreateForm();
    SaveTarget("KSN5-0042", 5);  // firmware 8
    FirstStart();
    ASSERT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->toolTip(),
              DetectionTexts::FirmwareTooOld);

    PickModule(0);  // firmware 12

    EXPECT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->text(), QStringLiteral("12"));
    EXPECT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->toolTip(),
              QStringLiteral("Версия микропрограммы модуля"));
    EXPECT_EQ(
        Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->palette().color(QPalette::WindowText),
        QColor(Qt::black));
}

// --- file versions ---

TEST(DetectionFiles, LoadedAreTheFilesTheLoaderMapped)
{
    const DetectionFiles files = DetectionFiles::Loaded();
    EXPECT_EQ(files.Ksnapi, CrateServer::LibraryDir() + "/libksnapi.so");
    EXPECT_EQ(files.Ksn48api, CrateServer::LibraryDir() + "/libksn48api.so");
    const auto version = ReadFileVersion(files.Ksnapi);
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(*version, (FileVersion{1, 33, 0, 0}));
    EXPECT_TRUE(ReadFileVersion(files.Program).has_value()) << files.Program;
}

struct LibraryVersionCase : ksn::test::NamedCase {
    const char* ksnapi;  // variant, or "" for the regular file
    const char* ksn48api;
    DialogKind kind;
    const char* message;  // "" when nothing is said
    bool detects;
};

class LibraryVersion : public Detection,
                       public ::testing::WithParamInterface<LibraryVersionCase> {};

TEST_P(LibraryVersion, IsCheckedBeforeTheSearch)
{
    const LibraryVersionCase& c = GetParam();
    if (*c.ksnapi != '\0') {
        files.Ksnapi = VariantFile(c.ksnapi, "libksnapi.so");
    }
    if (*c.ksn48api != '\0') {
        files.Ksn48api = VariantFile(c.ksn48api, "libksn48api.so");
    }
    StartServer();
    CreateForm();
    FirstStart();

    if (*c.message == '\0') {
        EXPECT_TRUE(dialogs.Shown().empty());
    } else {
        ASSERT_EQ(dialogs.Shown().size(), 1U);
        EXPECT_EQ(dialogs.Shown()[0].kind, c.kind);
        EXPECT_EQ(dialogs.Shown()[0].text, QString::fromUtf8(c.message));
        if (c.kind == DialogKind::MessageBox) {
            EXPECT_EQ(dialogs.Shown()[0].caption,
                      QStringLiteral("Сообщение TInitAndConfigThread::Execute()!"));
            EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::Information);
        }
    }
    if (c.detects) {
        EXPECT_EQ(form->ModuleState.load(), 2);
        EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 2);
    } else {
        // The pass ends before the search: nothing listed, nothing opened.
        EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 0);
        EXPECT_EQ(form->ModuleState.load(), 0);
        EXPECT_EQ(form->windowTitle(), PassCaption);
        ExpectNoModule();
    }
    ExpectWindowReleased();
}

INSTANTIATE_TEST_SUITE_P(
    Detection, LibraryVersion,
    ::testing::Values(
        LibraryVersionCase{{"Crate1_32_14"},
                           "1.32.14",
                           "",
                           DialogKind::MessageBox,
                           "Версия библиотеки Ksnapi.dll должна быть не ниже 1.32.15!!!",
                           true},
        LibraryVersionCase{{"Module1_32_14"},
                           "",
                           "1.32.14",
                           DialogKind::MessageBox,
                           "Версия библиотеки Ksn48api.dll должна быть не ниже 1.32.15!!!",
                           true},
        LibraryVersionCase{{"Both1_32_15"}, "1.32.15", "1.32.15", DialogKind::MessageBox, "", true},
        LibraryVersionCase{{"Both2_0_0"}, "2.0.0", "2.0.0", DialogKind::MessageBox, "", true},
        LibraryVersionCase{{"CrateMissing"},
                           "none",
                           "",
                           DialogKind::ThreadDialog,
                           "Опаньки!!! Не могу определить версию библиотеки Ksnapi.dll!!!",
                           false},
        LibraryVersionCase{{"ModuleMissing"},
                           "",
                           "none",
                           DialogKind::ThreadDialog,
                           "Опаньки!!! Не могу определить версию библиотеки Ksn48api.dll!!!",
                           false}),
    CaseName<LibraryVersionCase>);

TEST_F(Detection, ProgramWithoutVersionHasAnEmptyCaption)
{
    files.Program = VariantFile("none", "libksnapi.so");
    StartServer();
    CreateForm();
    FirstStart();

    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(form->windowTitle(), QString());
}

// --- an exception escaping the pass ---

struct EscapeCase : ksn::test::NamedCase {
    bool serverUp;
    const char* ksnapi;  // variant, or ""
    std::vector<QString> expected;
};

class EscapingException : public Detection, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapingException, IsReportedOnceAndResetsTheFlags)
{
    const EscapeCase& c = GetParam();
    if (*c.ksnapi != '\0') {
        files.Ksnapi = VariantFile(c.ksnapi, "libksnapi.so");
    }
    if (c.serverUp) {
        StartServer();
    } else {
        StartDeadServer();
    }
    CreateForm();
    // The first dialog of the pass throws out of the step that shows it.
    dialogs.OnShown = [this](const ShownDialog&) {
        if (dialogs.Shown().size() == 1) {
            throw std::runtime_error("escaped");
        }
    };
    FirstStart();

    std::vector<QString> texts;
    for (const ShownDialog& shown : dialogs.Shown()) {
        texts.push_back(shown.text);
    }
    EXPECT_EQ(texts, c.expected);
    EXPECT_EQ(form->CrateOk.load(), 0);
    EXPECT_EQ(form->ModuleState.load(), 0);
    ExpectNoModule();
    ExpectWindowReleased();
}

INSTANTIATE_TEST_SUITE_P(Detection, EscapingException,
                         ::testing::Values(
                             // After the error dialog: nothing more is said.
                             EscapeCase{{"AfterAnError"}, false, "", {DetectionTexts::NoCrate}},
                             // After an information box, which is no error: the exception is.
                             EscapeCase{{"AfterAnInformation"},
                                        true,
                                        "1.32.14",
                                        {DetectionTexts::KsnapiVersionTooOld,
                                         DetectionTexts::Unrecoverable}}),
                         CaseName<EscapeCase>);

// --- the pass after a full detection that found nothing ---

TEST_F(Detection, FindAgainAfterTheServerCameBack)
{
    StartServer();
    server->Stop();
    CreateForm();
    FirstStart();
    ASSERT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 0);

    server->Restart();
    dialogs.Clear();
    Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
    WaitForPass();

    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->count(), 2);
    ExpectModuleShown(QStringLiteral("4811001"), QStringLiteral("12"));
}

}  // namespace
