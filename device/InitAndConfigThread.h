#pragma once

#include "IniFile.h"
#include "Thread.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QWidget;
class TMainForm;

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
// the window again. Every step that touches the window runs there through
// Synchronize; the thread only sequences the steps, pauses between them and
// opens the module for requests 1 and 2.
class TInitAndConfigThread : public TThread {
public:
    // Fixed pauses that let the window repaint between the steps.
    static constexpr unsigned StartPauseMs = 50;
    static constexpr unsigned StepPauseMs = 100;
    // The oldest library file version that is fully supported: 1.32.15.
    static constexpr std::uint32_t MinLibraryVersionCode = 0x01200F;

    TInitAndConfigThread(TMainForm& form, bool firstStart, int mode,
                         DetectionFiles files = DetectionFiles::Loaded());
    ~TInitAndConfigThread() override;

    // (major << 16) | (minor << 8) | release; the build number is ignored.
    static std::uint32_t LibraryVersionCode(std::uint16_t major, std::uint16_t minor,
                                            std::uint16_t release) noexcept;

    // Enables or disables a control and, except for the channel area when
    // enabling, every control inside it.
    static void SetSubtreeEnabled(TMainForm& form, QWidget* control, bool enabled);

    const bool FirstStart;
    const std::int32_t Mode;

protected:
    void Execute() override;

private:
    enum class StatusKind { Preliminary, Final };

    void BeginPass();
    void PrepareDetection();
    bool CheckLibraryVersions();
    void RestoreWindowPosition();
    void SearchModules();
    bool ListCrates();
    bool ScanCrates();
    bool OpenSelectedModule();
    bool OpenModuleInSelectedCrate();
    void FillModulesComboBox(std::uint16_t crate);
    void ShowDeviceStatus(StatusKind kind);
    void ApplySettings();
    void FinishPass();
    void SetDetectionControlsEnabled(bool enabled);
    void ShowErrorDialog();
    void ShowInfoBox();
    void CloseModuleIfOpen();
    // Pauses unless the window asked the pass to end.
    void Pause(unsigned ms);
    bool Stopping() const { return Terminated().load(); }

    TMainForm& form_;
    DetectionFiles files_;

    // Wanted crate and slot (1..16; -1 none).
    std::string CrateSerial;
    std::int16_t ModuleSlot = -1;
    // Identity of the module this pass opened.
    QString ModuleName;
    std::uint8_t CrateType = 0;
    QString CrateTypeName;
    // An error dialog has been shown in this pass.
    std::atomic<bool> Aborted{false};
    QString MessageText;

    // Exists only during the pass.
    std::unique_ptr<IniFile> settingsFile_;
    bool cursorOverridden_ = false;
};
