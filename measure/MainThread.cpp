#include "MainThread.h"

#include "CrateTypes.h"
#include "DecimalSeparator.h"
#include "MainForm.h"
#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsDisplay.h"
#include "ThreadDialog.h"
#include "WaitLoop.h"

#include <QComboBox>
#include <QTabWidget>

#include <cstring>

namespace {

constexpr unsigned StartPauseMs = 100;
constexpr unsigned IdleStepMs = 50;

}  // namespace

TMainThread::TMainThread(bool createSuspended, std::uint16_t /*pageNumber*/, TMainForm& form,
                         measure::ModuleApi api)
    : form_(form), cycle_(*this, form.Ksn48Handle, Terminated(), MessageShown, api)
{
    FreeOnTerminate = false;
    if (!createSuspended) {
        Start();
    }
}

TMainThread::~TMainThread()
{
    // The thread may still run the cycle, which refers to this object.
    Terminate();
    WaitFor();
}

void TMainThread::Execute()
{
    try {
        InitMainThread();
        Sleep(StartPauseMs);
        if (!MessageShown) {
            const ProcessingFunction& function = ProcessingIndex < ProcessingFunctions.size()
                                                     ? ProcessingFunctions[ProcessingIndex]
                                                     : ProcessingFunction{};
            if (function) {
                function(*this);
            } else {
                MessageText = MeasureText::NoProcessingFunction;
                TThread::Synchronize([this] { ShowThreadMessage(); });
            }
        }
    } catch (const EConvertError&) {
        MessageText = MeasureText::ConvertErrorStart + QChar(DecimalSeparator()) +
                      MeasureText::ConvertErrorEnd;
        try {
            TThread::Synchronize([this] { ShowThreadMessage(); });
        } catch (...) {
            // The window could not show it; the run is over all the same.
        }
        SetDecimalSeparatorDot();
    } catch (...) {
        MessageText = MeasureText::ThreadException;
        try {
            TThread::Synchronize([this] { ShowThreadMessage(); });
        } catch (...) {
            // As above.
        }
    }
    cycle_.FreeBuffers();
    while (!Terminated()) {
        Sleep(IdleStepMs);
    }
}

void TMainThread::InitMainThread()
{
    form_.MainThreadRunning = true;
    SetDecimalSeparatorDot();
    MessageShown = false;
    ProcessingFunctions[0] = &TMainThread::RunMultimeter;
    TThread::Synchronize([this] {
        if (form_.MainLMDPageControl != nullptr && form_.MainLMDPageControl->currentIndex() == 0) {
            form_.MeasurementIdle = false;
        }
        const int crate =
            form_.KsnCratesComboBox != nullptr ? form_.KsnCratesComboBox->currentIndex() : -1;
        CrateTypeCode =
            crate >= 0 && crate < DeviceInventory::MaxCrates
                ? form_.DeviceInventory.ModuleCrateTypes[static_cast<std::size_t>(crate)]
                : 0;
        CrateTypeName = device::CrateTypeName(CrateTypeCode);
        const char* name = form_.Ksn48Handle.ModuleName;
        ModuleName.assign(name, strnlen(name, sizeof form_.Ksn48Handle.ModuleName));
    });
    cycle_.CrateTypeCode = CrateTypeCode;
    cycle_.CrateTypeName = CrateTypeName;
    cycle_.ModuleName = ModuleName;
}

void TMainThread::RunMultimeter(TMainThread& thread)
{
    thread.cycle_.RunMultimeter();
}

void TMainThread::ShowThreadMessage()
{
    if (MessageShown) {
        return;
    }
    MessageShown = true;
    MessageResult = ShowThreadDialog(&form_, MeasureText::ThreadMessageCaption, MessageText);
}

void TMainThread::ShowThreadMessage(std::string_view text)
{
    if (MessageShown) {
        return;
    }
    MessageText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    ShowThreadMessage();
}

void TMainThread::Synchronize(const std::function<void()>& step)
{
    TThread::Synchronize(step);
}

void TMainThread::Pause(unsigned ms)
{
    Sleep(ms);
}

void TMainThread::ShowMeasurementStarted(measure::MeasurementSettings& settings)
{
    ::ShowMeasurementStarted(form_, settings);
}

measure::AdcChoice TMainThread::ReadAdcChoice()
{
    return ::ReadAdcChoice(form_);
}

void TMainThread::ShowResults(measure::MeasurementCycle& cycle)
{
    ::ShowResults(form_, cycle);
}

void TMainThread::ShowChannelLeds(const measure::MeasurementCycle& cycle)
{
    ::ShowChannelLeds(form_, cycle);
}

void TMainThread::ShowMeasurementStopped()
{
    ::ShowMeasurementStopped(form_);
}
