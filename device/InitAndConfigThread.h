#pragma once

#include "CrateApi.h"
#include "DetectionView.h"
#include "DeviceInventory.h"
#include "IniFile.h"
#include "Thread.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace device {
struct OpenedModule;
}

// The files whose versions a pass checks: the program's own and the two
// device libraries.
struct DetectionFiles {
    std::string Program;
    std::string Ksnapi;
    std::string Ksn48api;

    // The running executable and the library files the dynamic loader
    // actually mapped for this process.
    static DetectionFiles Loaded();
};

// One detection pass: finds the crates and their KSN48 modules, fills the
// window's lists, opens the chosen module, checks the library and firmware
// versions, shows the device status, applies the saved settings and enables
// the window again.
//
// The thread sequences the steps and makes every library call itself (the
// rules are device_core's Detector); it hands the window only results,
// through Synchronize, and the window paints them (DetectionView). So a
// server that stops answering costs the pass its timeouts, never the
// window. A stop request (the window closing) skips the remaining steps
// after the call under way; the pass still ends with its last step.
class TInitAndConfigThread : public TThread {
public:
    // Fixed pauses that let the window repaint between the steps.
    static constexpr unsigned StartPauseMs = 50;
    static constexpr unsigned StepPauseMs = 100;

    TInitAndConfigThread(DetectionView& view, bool firstStart, int mode,
                         DetectionFiles files = DetectionFiles::Loaded(),
                         device::CrateApi api = device::LibraryCrateApi());
    ~TInitAndConfigThread() override;

    const bool FirstStart;
    const std::int32_t Mode;

protected:
    void Execute() override;

private:
    enum class StatusKind { Preliminary, Final };

    void BeginPass();
    void PrepareDetection();
    void CheckLibraryVersions();
    void SearchModules();
    device::OpenedModule OpenSelectedModule();
    bool OpenModuleInSelectedCrate();
    QStringList ModuleItems(std::uint16_t crate) const;
    void ShowDeviceStatus(StatusKind kind);
    void ApplySettings();
    void FinishPass();
    // Window's thread. The pass's failure: shown when it is the pass's first
    // message; the remaining steps are skipped.
    void ShowErrorDialog(const QString& text);
    // Window's thread. A failure after which the pass goes on as it would
    // have without a word: shown when it is the pass's first message.
    void ReportFailure(const QString& text);
    void ShowInfoBox(const QString& text);
    // Pauses unless the window asked the pass to end.
    void Pause(unsigned ms);
    bool Stopping() const { return Terminated().load(); }

    DetectionView& view_;
    DetectionView::State state_;
    DetectionFiles files_;
    device::CrateApi api_;

    // The pass's copy of the window's inventory: filled here, handed back
    // to the window when the search is over.
    device::DeviceInventory inventory_;
    // Wanted crate and slot (1..16; -1 none).
    std::string crateSerial_;
    int moduleSlot_ = -1;
    // Identity of the module this pass opened.
    QString moduleName_;
    std::uint8_t crateType_ = 0;
    QString crateTypeName_;
    // The remaining steps are skipped after an error dialog.
    std::atomic<bool> aborted_{false};
    // The pass has shown its one message.
    std::atomic<bool> messageShown_{false};

    // Exists only during the pass.
    std::unique_ptr<IniFile> settingsFile_;
};
