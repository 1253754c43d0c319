#pragma once

#include "ChannelPanels.h"
#include "ksn48api.h"

#include <cstdint>

namespace measure {
class MeasurementCycle;
}

class QPushButton;
class QWidget;
class SpectrumView;
class TAdcGroupParsPanel;
struct SettingsRecord;

// What the worker and the results display need of the main window: its
// flags and module handle, the selected crate, and the controls a run reads
// and writes. The window implements it; the executable's worker factory
// hands it to each worker it makes. Every member is called on the window's
// thread, except those that say otherwise.
class MeasurementView {
public:
    virtual ~MeasurementView() = default;

    // The open module's handle; it lives as long as the window. Any thread.
    virtual Ksn48Handle& ModuleHandle() = 0;
    // The window's MainThreadRunning flag, set by the worker when it runs.
    // Any thread.
    virtual void SetWorkerRunning() = 0;
    // The window's MeasurementIdle flag.
    virtual void SetMeasurementIdle(bool idle) = 0;
    // Whether the page control shows a page with processing of its own (one
    // of PageList): "Мультиметр" or "Спектр".
    virtual bool ProcessingPageShown() const = 0;
    // The spectrum page, or null when the window has none.
    virtual SpectrumView* Spectrum() = 0;
    // Type code of the crate selected in KsnCratesComboBox, 0 for none.
    virtual std::uint8_t SelectedCrateType() const = 0;

    // The eight channel panels, the group "Общие параметры", the start
    // button and the settings record.
    virtual const TChannelFrames& ChannelFrames() const = 0;
    virtual const TAdcGroupParsPanel& AcquisitionControls() const = 0;
    virtual QPushButton& StartButton() = 0;
    // Releases the start button without any operator handler reacting.
    virtual void ReleaseStartButton() = 0;
    virtual const SettingsRecord& Settings() const = 0;
    // The window the worker's message box is centred over.
    virtual QWidget* DialogParent() = 0;
    // The run ended at a lost link to the module: the window shows the module
    // as not open, and its next start opens it again first.
    virtual void ShowModuleLost() = 0;

    // Where the results leave the program (a recording, a feed): after a
    // frame's results are shown, inside the display step, and after the
    // run's end is shown. Nothing by default.
    virtual void FrameShown(const measure::MeasurementCycle& /*cycle*/) {}
    virtual void MeasurementStopped() {}
};
