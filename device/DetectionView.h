#pragma once

#include "DeviceInventory.h"
#include "ksn48api.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <optional>

class Settings;

// How an indicator of the detection bar shows its device.
enum class StatusLed {
    ButtonFace,  // not known yet
    Ok,
    SlowLinkOk,  // a crate whose link is slower: working, with a warning hint
    Bad,
};

struct StatusLedLook {
    StatusLed Colour = StatusLed::ButtonFace;
    QString Hint;
};

// What the detection bar shows after a step of the pass.
struct DeviceStatusLook {
    // Window caption and application title; nullopt: the window's stored
    // default caption.
    std::optional<QString> Caption;
    // Empty both lists first.
    bool ClearLists = false;
    // nullopt: the crate indicator keeps what it shows.
    std::optional<StatusLedLook> Crate;
    StatusLedLook Module;
    QString Serial;
    // Red label with FirmwareHint; otherwise the label's normal look.
    bool FirmwareTooOld = false;
    QString FirmwareHint;
    // Set: the firmware label shows this text.
    std::optional<QString> FirmwareText;
};

// The window's side of a detection pass (TInitAndConfigThread). The window
// implements it; the pass calls every member on the window's thread, inside
// its Synchronize steps, except DetectionState(), which it calls once when it
// is made.
class DetectionView {
public:
    // The window's device state that a pass fills. The inventory is touched
    // on the window's thread only; the module handle belongs to the pass
    // while it runs (nothing else uses it then); the flags are shared.
    struct State {
        device::DeviceInventory& Inventory;
        Ksn48Handle& Handle;
        std::atomic<std::int32_t>& CrateOk;
        std::atomic<std::uint8_t>& ModuleState;
        // Set by the pass when it starts: the window waits for it.
        std::atomic<bool>& PassRunning;
    };

    virtual ~DetectionView() = default;

    virtual State DetectionState() = 0;
    // The settings operations through which the pass opens and reads the
    // settings file.
    virtual ::Settings& DetectionSettings() = 0;

    // The context menu no longer pops up on a right click.
    virtual void DisablePopupMenu() = 0;
    // Start of a pass: pages disabled, the hourglass cursor, the first page
    // active and the start panel hidden.
    virtual void BeginDetectionPass() = 0;
    // The detection bar and the page area, with everything inside.
    virtual void SetDetectionControlsEnabled(bool enabled) = 0;
    virtual void ClearModuleList() = 0;
    // Fills a list and selects an item (-1: none).
    virtual void FillCrateList(const QStringList& items, int selected) = 0;
    virtual void FillModuleList(const QStringList& items, int selected) = 0;
    virtual void ShowDeviceStatus(const DeviceStatusLook& status) = 0;
    // End of a pass: the controls enabled again, all of them when a module
    // is open, else only what lets the operator search again.
    virtual void EnableAfterDetection(bool moduleOpen) = 0;
    // Then the firmware label's text (when given), repaint, the cursor back.
    virtual void EndDetectionPass(const std::optional<QString>& firmwareText) = 0;
    // The pass's error dialog and its information box, both modal.
    virtual void ShowDetectionError(const QString& caption, const QString& text) = 0;
    virtual void ShowDetectionInfo(const QString& caption, const QString& text) = 0;
};
