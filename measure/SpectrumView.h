#pragma once

#include "MeasurementCycle.h"
#include "ReadingMarks.h"
#include "SpectrumTap.h"

#include <QString>

#include <array>
#include <cstdint>

class QWidget;

// The plotted channel's reading in one frame as the spectrum page shows it:
// the multimeter's three values in its formats and marks, and the figures.
struct SpectrumReading {
    int Channel = -1;          // physical channel, 0 .. 7
    std::int32_t Status = -1;  // the module's status of it in the frame
    bool Spectral = true;      // the "fft" method: frequency, phase and spectrum exist
    bool ToneFound = false;
    bool InBand = false;
    QString Voltage;    // mV, as the channel panel shows it
    QString Frequency;  // kHz; the placeholder when it does not exist
    QString Phase;      // degrees against the reference; or the placeholder
    measure::ReadingMarks Marks;
    double VoltageVolts = 0.0;  // the estimate, for the peak's label
    double FrequencyHz = 0.0;
    // The three values' standard uncertainties (1σ, this frame's noise),
    // rounded like the values; empty where a value has none.
    QString VoltageU;
    QString FrequencyU;
    QString PhaseU;
    // The precision method ran: SINAD (dB) and ENOB (bits) from its
    // residual, NaN where it has none.
    bool SineFit = false;
    double FitSinadDb = 0.0;
    double FitEnobBits = 0.0;
};

// The window's spectrum page as the worker sees it ("Спектр", entry 1 of the
// worker's processing table). Everything runs on the window's thread; the
// worker calls it from inside Synchronize.
class SpectrumView {
public:
    virtual ~SpectrumView() = default;

    // The page itself, for the window's page control.
    virtual QWidget* Page() = 0;
    // The channels ticked on the multimeter page: the ones the page offers.
    virtual void SetChannels(const std::array<bool, measure::MeasurementChannelCount>& ticked) = 0;
    // The page's controls after the detection pass has disabled the window:
    // each back to its own state (the reset only with the maximum trace,
    // a value only when it holds one).
    virtual void SetPageEnabled(bool enabled) = 0;
    // What to plot of the coming frames.
    virtual measure::SpectrumRequest Request() = 0;
    // A run begins and ends; the page empties and keeps its last frame.
    virtual void ShowSpectrumStarted() = 0;
    virtual void ShowSpectrumStopped() = 0;
    // One frame. The page copies what it keeps and redraws after the call
    // returns, so the worker waits only for the copy.
    virtual void ShowSpectrumFrame(const SpectrumReading& reading,
                                   const measure::SpectrumFrame& frame) = 0;
};
