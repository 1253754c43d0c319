#include "MainFormMeasurementView.h"

#include "MainForm.h"

#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>

Ksn48Handle& TMainFormMeasurementView::ModuleHandle()
{
    return form_.Ksn48Handle;
}

void TMainFormMeasurementView::SetWorkerRunning()
{
    form_.MainThreadRunning = true;
}

void TMainFormMeasurementView::SetMeasurementIdle(bool idle)
{
    form_.MeasurementIdle = idle;
}

bool TMainFormMeasurementView::ProcessingPageShown() const
{
    return form_.MainLMDPageControl != nullptr && form_.ActivePageIndex().has_value();
}

SpectrumView* TMainFormMeasurementView::Spectrum()
{
    return form_.SpectrumPage;
}

std::uint8_t TMainFormMeasurementView::SelectedCrateType() const
{
    const int crate =
        form_.KsnCratesComboBox != nullptr ? form_.KsnCratesComboBox->currentIndex() : -1;
    return crate >= 0 && crate < DeviceInventory::MaxCrates
               ? form_.DeviceInventory.ModuleCrateTypes[static_cast<std::size_t>(crate)]
               : 0;
}

const TChannelFrames& TMainFormMeasurementView::ChannelFrames() const
{
    return form_.ChannelFrames;
}

const TAdcGroupParsPanel& TMainFormMeasurementView::AcquisitionControls() const
{
    return *form_.AdcGroupParsLMDGroupBox;
}

QPushButton& TMainFormMeasurementView::StartButton()
{
    return *form_.StartMultimeterLMDSpeedButton;
}

void TMainFormMeasurementView::ReleaseStartButton()
{
    const bool busy = form_.Busy;
    form_.Busy = true;
    form_.StartMultimeterLMDSpeedButton->setChecked(false);
    form_.Busy = busy;
}

const SettingsRecord& TMainFormMeasurementView::Settings() const
{
    return form_.Settings->Record;
}

QWidget* TMainFormMeasurementView::DialogParent()
{
    return &form_;
}

void TMainFormMeasurementView::ShowModuleLost()
{
    form_.ShowModuleLost();
}

void TMainFormMeasurementView::FrameShown(const measure::MeasurementCycle& cycle)
{
    form_.outlet_.FrameShown(cycle);
}

void TMainFormMeasurementView::MeasurementStopped()
{
    form_.outlet_.MeasurementStopped();
}
