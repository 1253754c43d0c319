// Pictures of the page "Спектр" for the documentation: the program's window
// as the executable builds it, with a settings file of its own, against the
// crate server named by KSN_CRATE_PORT. It ticks channels 1 to 4, picks the
// rate and the plotted channel, switches to "Спектр", presses start, and once
// a few frames are drawn saves the whole screen and ends.
//   ksn-spectrum-shot OUTPUT.png [--channel N] [--rate-index R] [--log] [--max-hold]
// scripts/screenshot.sh runs it under Xvfb.
#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "InitAndConfigThread.h"
#include "Ksn48AdcChannelFrame.h"
#include "MainForm.h"
#include "ProgramThreads.h"
#include "MainFormMeasurementView.h"
#include "MainThread.h"
#include "SpectrumPage.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "WindowWait.h"
#include "ksn48api.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

using ksn::test::Find;
using ksn::test::WaitUntil;

int Fail(const char* what)
{
    std::fprintf(stderr, "ksn-spectrum-shot: %s\n", what);
    return EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        return Fail("usage: ksn-spectrum-shot OUTPUT.png [--channel N] [--rate-index R] [--log] "
                    "[--max-hold]");
    }
    const QString output = args[1];
    int channel = 1;
    int rateIndex = 4;
    bool logarithmic = false;
    bool maxHold = false;
    for (qsizetype i = 2; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--channel") && i + 1 < args.size()) {
            channel = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--rate-index") && i + 1 < args.size()) {
            rateIndex = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--log")) {
            logarithmic = true;
        } else if (args[i] == QStringLiteral("--max-hold")) {
            maxHold = true;
        } else {
            return Fail("unknown argument");
        }
    }

    QTemporaryDir settings;
    MainFormSetup setup = ProgramThreads(settings.path());
    setup.SpectrumPage = &MakeSpectrumPage;
    auto form = std::make_unique<TMainForm>(setup);
    form->show();
    if (!WaitUntil(
            [&] { return form->WindowState == WindowDetectionRequested && form->DetectionOver(); },
            std::chrono::seconds(20)) ||
        form->ModuleState != device::ModuleOpen) {
        return Fail("no module open after the detection");
    }
    for (std::size_t c = 0; c < form->ChannelFrames.size(); ++c) {
        form->ChannelFrames[c]->ChannelNumberLMDCheckBox->setChecked(c < 4);
    }
    Find<QComboBox>(*form, "AdcRateComboBox")->setCurrentIndex(rateIndex);
    Find<QTabWidget>(*form, "MainLMDPageControl")
        ->setCurrentWidget(Find<QWidget>(*form, "SpectrumLMDTabSheet"));
    auto* page = dynamic_cast<TSpectrumPage*>(form->SpectrumPage);
    if (page == nullptr || Find<QTabWidget>(*form, "MainLMDPageControl")->currentWidget() !=
                               Find<QWidget>(*form, "SpectrumLMDTabSheet")) {
        return Fail("the page \"Спектр\" did not open");
    }
    const int item = page->ChannelLMDComboBox->findData(channel - 1);
    if (item < 0) {
        return Fail("the channel is not offered");
    }
    page->ChannelLMDComboBox->setCurrentIndex(item);
    page->LogFrequencyLMDCheckBox->setChecked(logarithmic);
    page->MaxHoldLMDCheckBox->setChecked(maxHold);
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    if (!WaitUntil([&] { return page->FramesDrawn() >= 4 || form->MeasurementIdle; },
                   std::chrono::seconds(60)) ||
        form->MeasurementIdle) {
        return Fail("no frames on the page");
    }
    WaitUntil([] { return false; }, std::chrono::seconds(1));  // the last paint
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    form->StopThread();
    if (!shot.save(output)) {
        return Fail("cannot write the picture");
    }
    std::printf("%s\n", qPrintable(output));
    form->ApplicationExitClick();
    form.reset();
    return EXIT_SUCCESS;
}
