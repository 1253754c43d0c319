#pragma once
// The detection pass as the operator meets it: the program's window on the
// offscreen platform, the real crate libraries and a crate server of the
// test's own, configured per case.

#include "InitAndConfigThread.h"

#include "ApplicationHooks.h"
#include "CaseName.h"
#include "CrateServer.h"
#include "IniFile.h"
#include "Led.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "SettingsNames.h"
#include "TriStateCheckBox.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace detection_test {

using ksn::test::CrateServer;
using ksn::test::Find;
using namespace std::chrono_literals;

inline const QString ProgramCaption = QStringLiteral("KSN48_vevu - " KSN_PROGRAM_VERSION_TEXT);
inline const QString PassCaption = QStringLiteral("KSN48_vevu - ?.?.?");
inline const QColor Green(0, 255, 0);
inline const QColor Red(255, 0, 0);
inline const QColor Orange(255, 158, 62);

inline std::string VariantFile(const std::string& variant, const std::string& library)
{
    return CrateServer::VersionVariantDir(variant) + "/" + library;
}

// One crate holding one KSN48 module in slot 2.
inline std::string OneModuleConfig(int crateType, int firmware)
{
    return R"({"crates": [{"serial": "KSN-A", "type": )" + std::to_string(crateType) +
           R"(, "slots": [{"slot": 2, "ksn48": {"serial": "4890001", "firmware": )" +
           std::to_string(firmware) + "}}]}]}";
}

inline QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

class Detection : public ::testing::Test {
protected:
    void TearDown() override
    {
        form.reset();
        server.reset();
    }

    void StartServer(const std::string& config = {})
    {
        server = std::make_unique<CrateServer>(config);
    }

    // A server that has gone: the libraries still point at its port.
    void StartDeadServer()
    {
        StartServer();
        server->Stop();
    }

    void CreateForm() { CreateFormWithSettingsIn(settingsDir.path()); }

    void CreateFormWithSettingsIn(const QString& directory)
    {
        MainFormSetup setup;
        setup.InitThread = [this](TMainForm& f, bool firstStart,
                                  int mode) -> std::unique_ptr<TThread> {
            return std::make_unique<TInitAndConfigThread>(f, firstStart, mode, files);
        };
        setup.ModuleIsOpened = &KSN48_IsOpened;
        setup.ModuleClose = &KSN48_Close;
        setup.SettingsDirectory = directory;
        form = std::make_unique<TMainForm>(setup);
    }

    // The crate and slot a previous run saved.
    void SaveTarget(const std::string& crateSerial, int slot)
    {
        const std::string path = form->Settings->SettingsPath();
        ASSERT_TRUE(form->Settings->CreateDefaultIniFile(path));
        IniFile file(path);
        file.WriteString(SettingsNames::DetectionSection, SettingsNames::CrateSerialKey,
                         crateSerial);
        file.WriteInteger(SettingsNames::DetectionSection, SettingsNames::ModuleSlotKey, slot);
        file.UpdateFile();
    }

    bool PassOver() const { return form->DetectionOver(); }

    // Serves the window until the requested pass has ended.
    void WaitForPass()
    {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!PassOver() && std::chrono::steady_clock::now() < deadline) {
            WaitLoopStep();
        }
        ASSERT_TRUE(PassOver()) << "the detection pass did not end";
    }

    // The first show starts the start-up pass; returns its duration.
    std::chrono::milliseconds FirstStart()
    {
        const auto start = std::chrono::steady_clock::now();
        form->show();
        WaitForPass();
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }

    void PickCrate(int index)
    {
        Find<QComboBox>(*form, "KsnCratesComboBox")->setCurrentIndex(index);
        WaitForPass();
    }

    void PickModule(int index)
    {
        Find<QComboBox>(*form, "ModulesComboBox")->setCurrentIndex(index);
        WaitForPass();
    }

    std::vector<ShownDialog> ThreadDialogs() const
    {
        std::vector<ShownDialog> found;
        for (const ShownDialog& shown : dialogs.Shown()) {
            if (shown.kind == DialogKind::ThreadDialog) {
                found.push_back(shown);
            }
        }
        return found;
    }

    void ExpectModuleShown(const QString& serial, const QString& firmware)
    {
        EXPECT_EQ(form->ModuleState.load(), 2);
        EXPECT_EQ(KSN48_IsOpened(&form->Ksn48Handle), 0);
        EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(), serial);
        EXPECT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->text(), firmware);
        EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->ShownColor(), Green);
        EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->toolTip(),
                  QStringLiteral("Статус модуля 'KSN48' -> OK"));
        EXPECT_EQ(form->windowTitle(), ProgramCaption);
        EXPECT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isEnabled());
        EXPECT_TRUE(Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->isVisible());
        // Enabled as the operator sees it: no disabled control around it.
        EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->tabBar()->isEnabled());
        EXPECT_TRUE(Find<QComboBox>(*form, "AdcRateComboBox")->isEnabled());
        EXPECT_TRUE(Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->isEnabled());
        EXPECT_TRUE(Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel")->isEnabled());
        EXPECT_TRUE(Find<QComboBox>(*form, "ModulesComboBox")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>(*form, "SaveSettingsButton")->isEnabled());
    }

    // The window after a pass that left no module open.
    void ExpectNoModule()
    {
        EXPECT_NE(form->ModuleState.load(), 2);
        EXPECT_NE(KSN48_IsOpened(&form->Ksn48Handle), 0);
        EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(),
                  QStringLiteral("????????"));
        EXPECT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->text(),
                  QStringLiteral("????????"));
        EXPECT_FALSE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isEnabled());
        EXPECT_FALSE(Find<QComboBox>(*form, "AdcRateComboBox")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>(*form, "FindDeviceLMDButton")->isEnabled());
        EXPECT_TRUE(Find<QComboBox>(*form, "KsnCratesComboBox")->isEnabled());
    }

    void ExpectWindowReleased()
    {
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(Find<QPushButton>(*form, "FindDeviceLMDButton")->isEnabled());
        EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->isEnabled());
        EXPECT_TRUE(static_cast<bool>(ApplicationHooks::ShortCut()));
    }

    DialogRecorder dialogs;
    std::unique_ptr<CrateServer> server;
    QTemporaryDir settingsDir;
    DetectionFiles files = DetectionFiles::Loaded();
    std::unique_ptr<TMainForm> form;
};

}  // namespace detection_test
