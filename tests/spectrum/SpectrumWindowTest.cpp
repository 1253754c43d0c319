// The page "Спектр" as the operator uses it: the program's window (offscreen)
// with its real detection and worker threads against a crate server of the
// test's own that serves distorted channels (crate/examples/distorted.json).
#include "SpectrumPage.h"

#include "CaptionAboveCheckBox.h"
#include "CaseName.h"
#include "CrateServer.h"
#include "InitAndConfigThread.h"
#include "Ksn48AdcChannelFrame.h"
#include "MainForm.h"
#include "ProgramThreads.h"
#include "MainFormMeasurementView.h"
#include "MainThread.h"
#include "MessageBox.h"
#include "SettingsRecord.h"
#include "SpectrumChart.h"
#include "ValueEdit.h"
#include "ViewTexts.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "WindowWait.h"
#include "ksn48api.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

namespace {

using ksn::test::Find;
using ksn::test::WaitUntil;

using ksn::test::CrateServer;

// How long a wait of these tests may take.
constexpr std::chrono::milliseconds WaitLimit = std::chrono::seconds(20);

std::string DistortedConfig()
{
    std::ifstream file(KSN_SOURCE_DIR "/crate/examples/distorted.json");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class SpectrumWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<CrateServer>(DistortedConfig(), true);
        MainFormSetup setup = ProgramThreads(settingsDir.path());
        setup.SpectrumPage = &MakeSpectrumPage;
        form = std::make_unique<TMainForm>(setup);
        page = dynamic_cast<TSpectrumPage*>(form->SpectrumPage);
        ASSERT_NE(page, nullptr);
        form->show();
        ASSERT_TRUE(WaitUntil([this] { return form->DetectionOver(); }, WaitLimit));
        ASSERT_EQ(form->ModuleState.load(), 2);
        // Channels 1 to 4 and the reference on channel 1.
        for (std::size_t c = 0; c < 8; ++c) {
            form->ChannelFrames[c]->ChannelNumberLMDCheckBox->setChecked(c < 4);
        }
    }

    void TearDown() override
    {
        if (form) {
            form->StopThread();
            form.reset();
        }
    }

    void ShowSpectrumPage()
    {
        Find<QTabWidget>(*form, "MainLMDPageControl")
            ->setCurrentWidget(Find<QWidget>(*form, "SpectrumLMDTabSheet"));
        ASSERT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->currentWidget(),
                  Find<QWidget>(*form, "SpectrumLMDTabSheet"));
    }

    void PickChannel(int channel)
    {
        const int index = page->ChannelLMDComboBox->findData(channel);
        ASSERT_GE(index, 0) << "channel " << channel + 1 << " not offered";
        page->ChannelLMDComboBox->setCurrentIndex(index);
    }

    // Presses start and waits until the page has drawn `frames` more frames.
    void StartAndWaitFrames(std::uint64_t frames)
    {
        const std::uint64_t before = page->FramesDrawn();
        ASSERT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
                  ViewText::StartCaption);
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        ASSERT_NE(form->Worker(), nullptr);
        WaitFrames(before + frames);
    }

    void WaitFrames(std::uint64_t total)
    {
        ASSERT_TRUE(WaitUntil([&] { return page->FramesDrawn() >= total || form->MeasurementIdle; },
                              WaitLimit));
        ASSERT_FALSE(form->MeasurementIdle) << "the run ended";
        ASSERT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    }

    void ExpectStopped() const
    {
        EXPECT_EQ(form->Worker(), nullptr);
        EXPECT_TRUE(form->MeasurementIdle);
        EXPECT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
                  ViewText::StartCaption);
        EXPECT_FALSE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
        EXPECT_EQ(form->Ksn48Handle.AcquisitionRunning, 0);
    }

    static std::string Text(const TValueEdit* edit) { return edit->text().toStdString(); }

    QTemporaryDir settingsDir;
    std::unique_ptr<CrateServer> server;
    std::unique_ptr<TMainForm> form;
    TSpectrumPage* page = nullptr;
    DialogRecorder dialogs;
};

TEST_F(SpectrumWindow, TheSpectrumPageStandsNextToTheMultimeter)
{
    ASSERT_EQ(form->PageList.size(), 2u);
    EXPECT_EQ(form->PageList[0], Find<QWidget>(*form, "MultimeterLMDTabSheet"));
    EXPECT_EQ(form->PageList[1], Find<QWidget>(*form, "SpectrumLMDTabSheet"));
    const int index = Find<QTabWidget>(*form, "MainLMDPageControl")
                          ->indexOf(Find<QWidget>(*form, "SpectrumLMDTabSheet"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->tabText(index),
              QStringLiteral("Спектр"));
    EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(0));
    EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(index));
    EXPECT_FALSE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(1));
    EXPECT_FALSE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(2));
    // The page offers the ticked channels.
    ShowSpectrumPage();
    ASSERT_EQ(page->ChannelLMDComboBox->count(), 4);
    EXPECT_EQ(page->ChannelLMDComboBox->itemText(3), QStringLiteral("Канал 4"));
}

TEST_F(SpectrumWindow, ReadsTheThdOfADistortedChannelAndEscapeStops)
{
    ShowSpectrumPage();
    PickChannel(0);
    StartAndWaitFrames(2);
    EXPECT_EQ(form->PageNumber, 1);
    EXPECT_EQ(Text(page->ThdLMDEdit), "1.000");
    EXPECT_EQ(Text(page->VoltageLMDEdit), "707.11");
    EXPECT_EQ(Text(page->FrequencyLMDEdit), "1.00000");
    EXPECT_EQ(Text(page->PhaseLMDEdit), "0.000");
    EXPECT_EQ(page->ThdLMDEdit->FontColor(), TValueEdit::Lime);
    // Peak marked at 1 kHz and labelled with its voltage and frequency.
    const TSpectrumChart& chart = *page->SpectrumChart;
    ASSERT_EQ(chart.Peak()->count(), 1);
    EXPECT_NEAR(chart.Peak()->at(0).x(), 1000.0, 1.0);
    EXPECT_TRUE(chart.PeakText()->isVisible());
    EXPECT_EQ(chart.PeakText()->text(), QStringLiteral("707.11 мВ\n1.00000 кГц"));
    EXPECT_GT(chart.Trace()->count(), 100);
    EXPECT_LE(chart.Trace()->count(), 2 * static_cast<int>(measure::MaxPlotColumns));
    // The multimeter panels are not the spectrum run's.
    EXPECT_EQ(Text(form->ChannelFrames[0]->Value1LMDEdit), "--------");

    form->ApplicationShortCut(Qt::Key_Escape);
    ExpectStopped();
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(SpectrumWindow, FollowsTheChosenChannelAxisAndMaximum)
{
    ShowSpectrumPage();
    PickChannel(1);
    StartAndWaitFrames(1);
    EXPECT_EQ(Text(page->ThdLMDEdit), "1.118");
    // Another channel, the logarithmic axis and the maximum from the next frame on.
    PickChannel(3);
    page->LogFrequencyLMDCheckBox->setChecked(true);
    page->MaxHoldLMDCheckBox->setChecked(true);
    WaitFrames(page->FramesDrawn() + 2);
    EXPECT_EQ(Text(page->ThdLMDEdit), "0.000");
    EXPECT_TRUE(page->SpectrumChart->Logarithmic());
    EXPECT_GT(page->SpectrumChart->MaxTrace()->count(), 0);
    EXPECT_TRUE(page->ResetMaxHoldLMDButton->isEnabled());
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    ExpectStopped();
}

TEST_F(SpectrumWindow, TheSumMethodShowsTheVoltageAndNoSpectrum)
{
    form->Settings->Record.CalcMethod = "sum";
    ShowSpectrumPage();
    PickChannel(0);
    StartAndWaitFrames(1);
    // The RMS of all of it, the 1 % harmonic included: sqrt(0.5 + 0.00005) V.
    EXPECT_EQ(Text(page->VoltageLMDEdit), "707.14");
    EXPECT_EQ(Text(page->FrequencyLMDEdit), "--------");
    EXPECT_EQ(Text(page->ThdLMDEdit), "--------");
    EXPECT_EQ(page->SpectrumChart->Trace()->count(), 0);
    EXPECT_FALSE(page->SpectrumChart->PeakText()->isVisible());
    form->ApplicationShortCut(Qt::Key_Escape);
    ExpectStopped();
}

struct PageChangeCase : ksn::test::NamedCase {
    bool StartOnSpectrum;
};

class SpectrumPageChange : public SpectrumWindow,
                           public ::testing::WithParamInterface<PageChangeCase> {};

TEST_P(SpectrumPageChange, StopsTheMeasurementFirst)
{
    if (GetParam().StartOnSpectrum) {
        ShowSpectrumPage();
        StartAndWaitFrames(1);
        Find<QTabWidget>(*form, "MainLMDPageControl")->setCurrentIndex(0);
    } else {
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        ASSERT_TRUE(WaitUntil(
            [&] {
                auto* worker = dynamic_cast<TMainThread*>(form->Worker());
                return worker != nullptr && worker->Cycle().FramesShown() >= 1;
            },
            WaitLimit));
        ShowSpectrumPage();
    }
    ExpectStopped();
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_FALSE(Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Spectrum, SpectrumPageChange,
                         ::testing::Values(PageChangeCase{{"SpectrumToMultimeter"}, true},
                                           PageChangeCase{{"MultimeterToSpectrum"}, false}),
                         ksn::test::CaseName<PageChangeCase>);

TEST_F(SpectrumWindow, WithoutAnOpenModuleThePageIsRefused)
{
    form->ModuleState = 1;
    Find<QTabWidget>(*form, "MainLMDPageControl")
        ->setCurrentWidget(Find<QWidget>(*form, "SpectrumLMDTabSheet"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->currentIndex(), 0);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text,
              QStringLiteral("Нет открытого модуля! Поэтому данная опция не доступна!"));
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Внимание!!!"));
}

// SINAD, ENOB and SFDR beside THD; with the precision method (the window's
// section [Precision]) SINAD and ENOB a second time from the fit's residual.
// Channel 1 carries a 1 % second harmonic and nothing else: 40 dB, and
// log2(10 / (0.01 / sqrt 2 * sqrt 12)) = 8.67 bits.
struct ConverterCase {
    const char* name;
    const char* section;  // appended to the settings file
    bool fit;
};

class ConverterFigures : public SpectrumWindow,
                         public ::testing::WithParamInterface<ConverterCase> {};

TEST_P(ConverterFigures, StandBesideTheDistortionOfADistortedChannel)
{
    const ConverterCase& c = GetParam();
    std::ofstream(settingsDir.filePath(QStringLiteral("Ksn48_Vevu.ini")).toStdString(),
                  std::ios::app | std::ios::binary)
        << c.section;
    ShowSpectrumPage();
    PickChannel(0);
    StartAndWaitFrames(2);
    EXPECT_EQ(Text(page->ThdLMDEdit), "1.000");
    EXPECT_EQ(Text(page->SinadLMDEdit), "40.0");
    EXPECT_EQ(Text(page->EnobLMDEdit), "8.67");
    EXPECT_EQ(Text(page->SfdrLMDEdit), "40.0");
    EXPECT_EQ(Text(page->SpurFrequencyLMDEdit), "2.000");
    for (const TValueEdit* edit : {page->SinadLMDEdit, page->EnobLMDEdit, page->SfdrLMDEdit}) {
        EXPECT_EQ(edit->FontColor(), TValueEdit::Lime);
        EXPECT_TRUE(edit->isEnabled());
    }
    if (c.fit) {
        EXPECT_EQ(Text(page->FitSinadLMDEdit), "40.0");
        EXPECT_EQ(Text(page->FitEnobLMDEdit), "8.67");
        EXPECT_TRUE(page->FitSinadLMDEdit->isEnabled());
    } else {
        EXPECT_EQ(Text(page->FitSinadLMDEdit), "--------");
        EXPECT_EQ(Text(page->FitEnobLMDEdit), "--------");
        EXPECT_FALSE(page->FitEnobLMDEdit->isEnabled());
    }
    // The readings' uncertainties, rounded like the readings: a clean tone
    // has next to none.
    EXPECT_EQ(Text(page->VoltageULMDEdit), "± 0.00");
    EXPECT_EQ(Text(page->FrequencyULMDEdit), "± 0.00000");
    EXPECT_EQ(Text(page->PhaseULMDEdit), "± 0.000");
    // The noisy channel with hum: its uncertainty shows, and a marked
    // reading shows none.
    PickChannel(2);
    WaitFrames(page->FramesDrawn() + 2);
    EXPECT_NEAR(page->VoltageLMDEdit->text().toDouble(), 353.55, 0.05);
    EXPECT_EQ(page->VoltageULMDEdit->text().left(2), QStringLiteral("± "));
    EXPECT_TRUE(page->VoltageULMDEdit->isEnabled());
    form->ApplicationShortCut(Qt::Key_Escape);
    ExpectStopped();
    EXPECT_TRUE(dialogs.Shown().empty());
}

const ConverterCase converterCases[] = {
    {"SpecifiedMethod", "", false},
    {"UncertaintyKeyAlone", "[Precision]\r\nUncertainty=1\r\n", false},
    {"PrecisionMethod", "[Precision]\r\nMethod=fit\r\n", true},
};

INSTANTIATE_TEST_SUITE_P(Table, ConverterFigures, ::testing::ValuesIn(converterCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
