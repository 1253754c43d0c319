#include "MainThread.h"

#include "CrateTypes.h"
#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsDisplay.h"
#include "ThreadDialog.h"
#include "WaitLoop.h"

#include <cstring>

namespace {

constexpr unsigned StartPauseMs = 100;
constexpr unsigned IdleStepMs = 50;

}  // namespace

TMainThread::TMainThread(bool createSuspended, std::uint16_t pageNumber,
                         std::unique_ptr<MeasurementView> view, measure::ModuleApi api)
    : view_(std::move(view)), cycle_(*this, view_->ModuleHandle(), Terminated(), MessageShown, api)
{
    FreeOnTerminate = false;
    ProcessingIndex = pageNumber;
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
                if (cycle_.LinkLost()) {
                    TThread::Synchronize([this] { view_->ShowModuleLost(); });
                }
            } else {
                MessageText = MeasureText::NoProcessingFunction;
                TThread::Synchronize([this] { ShowThreadMessage(); });
            }
        }
    } catch (const EConvertError&) {
        // Number text never follows the C locale, so the separator in force
        // is always the point and nothing needs setting back afterwards.
        MessageText = MeasureText::ConvertErrorStart + QChar(NumberText::DecimalSeparator) +
                      MeasureText::ConvertErrorEnd;
        try {
            TThread::Synchronize([this] { ShowThreadMessage(); });
        } catch (...) {
            // The window could not show it; the run is over all the same.
        }
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
    view_->SetWorkerRunning();
    // The process-wide number locale is left alone: setting it from this
    // thread would race with the window's thread, and no number text of the
    // run depends on it.
    MessageShown = false;
    ProcessingFunctions[0] = &TMainThread::RunMultimeter;
    TThread::Synchronize([this] {
        if (view_->ProcessingPageShown()) {
            view_->SetMeasurementIdle(false);
        }
        // A window without a spectrum page leaves entry 1 missing.
        if (view_->Spectrum() != nullptr) {
            ProcessingFunctions[1] = &TMainThread::RunSpectrum;
        }
        CrateTypeCode = view_->SelectedCrateType();
        CrateTypeName = device::CrateTypeName(CrateTypeCode);
        const Ksn48Handle& handle = view_->ModuleHandle();
        ModuleName.assign(handle.ModuleName, strnlen(handle.ModuleName, sizeof handle.ModuleName));
    });
    cycle_.SetModuleNames({CrateTypeCode, CrateTypeName, ModuleName});
}

void TMainThread::RunMultimeter(TMainThread& thread)
{
    thread.cycle_.RunMultimeter();
}

void TMainThread::RunSpectrum(TMainThread& thread)
{
    // The page was there when the run was set up; the window outlives the
    // worker.
    thread.spectrum_ = thread.view_->Spectrum();
    thread.cycle_.AttachSpectrum(&thread.spectrumTap_);
    thread.cycle_.RunMultimeter();
}

void TMainThread::ShowThreadMessage()
{
    if (MessageShown) {
        return;
    }
    MessageShown = true;
    MessageResult =
        ShowThreadDialog(view_->DialogParent(), MeasureText::ThreadMessageCaption, MessageText);
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

int TMainThread::ModuleCall(const std::function<int()>& call)
{
    return CallWhileServing(call);
}

void TMainThread::ShowMeasurementStarted(measure::MeasurementSettings& settings)
{
    ::ShowMeasurementStarted(*view_, settings, spectrum_ == nullptr);
    if (spectrum_ != nullptr) {
        ::ShowSpectrumStarted(*view_, *spectrum_, spectrumTap_);
    }
}

measure::AdcChoice TMainThread::ReadAdcChoice()
{
    return ::ReadAdcChoice(*view_);
}

void TMainThread::ReadFrameInputs(measure::FrameInputs& inputs)
{
    ::ReadFrameInputs(*view_, inputs);
}

void TMainThread::ShowResults(const measure::MeasurementCycle& cycle)
{
    if (spectrum_ != nullptr) {
        ::ShowSpectrumResults(*view_, *spectrum_, cycle);
    } else {
        ::ShowResults(*view_, cycle);
    }
    view_->FrameShown(cycle);
}

void TMainThread::ShowChannelLeds(const measure::MeasurementCycle& cycle)
{
    // The spectrum page has no lamps; its panels stay as the last
    // multimeter run left them.
    if (spectrum_ == nullptr) {
        ::ShowChannelLeds(*view_, cycle);
    }
}

void TMainThread::ShowMeasurementStopped()
{
    ::ShowMeasurementStopped(*view_);
    if (spectrum_ != nullptr) {
        spectrum_->ShowSpectrumStopped();
    }
    view_->MeasurementStopped();
}
