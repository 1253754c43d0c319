#pragma once

#include "MeasurementCycle.h"
#include "MeasurementView.h"
#include "SpectrumView.h"

// The window's side of a measurement run, on the window's thread: the start
// button, the operator's choices read from the controls, and each frame's
// results written into the eight channel panels.

// Start button to "С   Т   О   П" in red, every panel's values emptied with a
// lime voltage and a blank lamp (unless the run is not the panels'); the
// run's settings from the lists and the settings record.
void ShowMeasurementStarted(MeasurementView& view, measure::MeasurementSettings& settings,
                            bool clearPanels = true);

// The ticked channels, the rate index and the settings' reference channel.
measure::AdcChoice ReadAdcChoice(const MeasurementView& view);

// The frame's inputs from the window: the settings' reference channel and
// the phase correction box.
void ReadFrameInputs(const MeasurementView& view, measure::FrameInputs& inputs);

// Values, titles, units and colours of every panel; all lamps blank.
void ShowResults(MeasurementView& view, const measure::MeasurementCycle& cycle);

// Each ticked panel's lamp: red for a short or open channel, else green.
void ShowChannelLeds(MeasurementView& view, const measure::MeasurementCycle& cycle);

// The spectrum run: the page learns the ticked channels and empties, and the
// plot takes its first request.
void ShowSpectrumStarted(MeasurementView& view, SpectrumView& spectrum, measure::SpectrumTap& tap);

// The spectrum run's frame: the plotted channel's reading (as its panel would
// show it) and plot to the page, and the page's request for the next frame.
void ShowSpectrumResults(MeasurementView& view, SpectrumView& spectrum,
                         const measure::MeasurementCycle& cycle);

// Start button back to "С   Т   А   Р   Т" in green and released; the window idle.
void ShowMeasurementStopped(MeasurementView& view);

// The hint of a value marked or dashed for the reason; empty for none.
const QString& MarkHint(measure::MarkReason reason);
