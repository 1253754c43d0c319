#pragma once

#include "MeasurementCycle.h"
#include "MeasurementView.h"
#include "SpectrumTap.h"
#include "Thread.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The worker of the main window: runs one measurement run away from the
// window's thread and reports its first failure in the orange thread dialog.
// The page the run was started on picks the processing: entry 0 the
// multimeter cycle, entry 1 the same cycle for the spectrum page, which also
// plots one channel's spectrum. After the run it idles until the window
// terminates it; the window deletes it. It reaches the window only through
// its MeasurementView.
class TMainThread : public TThread, public measure::MeasurementHost {
public:
    using ProcessingFunction = std::function<void(TMainThread&)>;

    // Starts at once unless createSuspended; the page number (the index in
    // the window's PageList) picks the entry of ProcessingFunctions.
    TMainThread(bool createSuspended, std::uint16_t pageNumber,
                std::unique_ptr<MeasurementView> view,
                measure::ModuleApi api = measure::LibraryModuleApi());
    ~TMainThread() override;

    // Window's thread: shows MessageText unless a message of this run was
    // shown already.
    void ShowThreadMessage();

    std::atomic<bool> MessageShown{false};
    std::uint16_t ProcessingIndex = 0;
    // Entry 1 only when the window has a spectrum page.
    std::array<ProcessingFunction, 2> ProcessingFunctions;
    std::uint8_t CrateTypeCode = 0;
    std::string CrateTypeName;
    std::string ModuleName;
    QString MessageText;
    int MessageResult = 0;

    // The run's state and steps.
    measure::MeasurementCycle& Cycle() noexcept { return cycle_; }
    const measure::MeasurementCycle& Cycle() const noexcept { return cycle_; }

    // measure::MeasurementHost
    void Synchronize(const std::function<void()>& step) override;
    void Pause(unsigned ms) override;
    // On the window's thread the call waits while the window goes on.
    int ModuleCall(const std::function<int()>& call) override;
    void ShowMeasurementStarted(measure::MeasurementSettings& settings) override;
    measure::AdcChoice ReadAdcChoice() override;
    void ReadFrameInputs(measure::FrameInputs& inputs) override;
    void ShowResults(const measure::MeasurementCycle& cycle) override;
    void ShowChannelLeds(const measure::MeasurementCycle& cycle) override;
    void ShowMeasurementStopped() override;
    void ShowThreadMessage(std::string_view text) override;

protected:
    void Execute() override;
    // A stop request cuts short the module call the run may wait in.
    void TerminateRequested() noexcept override { cycle_.CancelReceive(); }

private:
    void InitMainThread();
    static void RunMultimeter(TMainThread& thread);
    static void RunSpectrum(TMainThread& thread);

    std::unique_ptr<MeasurementView> view_;
    // The spectrum run's plot; its buffers live with the cycle's, and it
    // outlives the cycle, whose end frees them.
    measure::SpectrumTap spectrumTap_;
    SpectrumView* spectrum_ = nullptr;
    measure::MeasurementCycle cycle_;
};
