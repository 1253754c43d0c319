// The crate and module lists of the detection bar.
#include "MainForm.h"

#include <QComboBox>
#include <QLabel>

#include <cstring>

void TMainForm::ConnectDeviceSelection()
{
    connect(KsnCratesComboBox, &QComboBox::currentIndexChanged, this,
            [this](int) { KsnCratesComboBoxChange(KsnCratesComboBox); });
    connect(ModulesComboBox, &QComboBox::currentIndexChanged, this,
            [this](int) { ModulesComboBoxChange(ModulesComboBox); });
}

void TMainForm::KsnCratesComboBoxChange(QObject*)
{
    if (Busy) {
        return;
    }
    Busy = true;
    const int index = KsnCratesComboBox->currentIndex();
    // No item (a list being emptied) is no choice.
    if (index >= 0 && index < DeviceInventory::MaxCrates &&
        index != DeviceInventory.SelectedCrate) {
        StopThread();
        DeviceInventory.SelectedCrate = static_cast<std::uint16_t>(index);
        StartInitDevicesThread(ModeCrateChanged, false);
    }
    Busy = false;
}

void TMainForm::ModulesComboBoxChange(QObject*)
{
    if (Busy) {
        return;
    }
    Busy = true;
    const int crate = KsnCratesComboBox->currentIndex();
    const int module = ModulesComboBox->currentIndex();
    if (crate >= 0 && crate < DeviceInventory::MaxCrates && module >= 0 &&
        module < DeviceInventory::MaxSlots &&
        DeviceInventory.SelectedCrate < DeviceInventory::MaxCrates) {
        const auto& field =
            DeviceInventory
                .ModuleSerials[static_cast<std::size_t>(crate)][static_cast<std::size_t>(module)];
        const auto* end = static_cast<const char*>(std::memchr(field.data(), '\0', field.size()));
        const QString serial = QString::fromLatin1(
            field.data(), end != nullptr ? static_cast<qsizetype>(end - field.data())
                                         : static_cast<qsizetype>(field.size()));
        // The module shown is the open one: nothing to do.
        if (serial != ModuleSerialNumberLMDLabel->text()) {
            StopThread();
            DeviceInventory.SelectedModule[DeviceInventory.SelectedCrate] =
                static_cast<std::uint16_t>(module);
            StartInitDevicesThread(ModeModuleChanged, false);
        }
    }
    Busy = false;
}
