#pragma once

#include "IniFile.h"
#include "SettingsRecord.h"
#include "SettingsView.h"
#include "ksn48api.h"

#include <memory>
#include <string>

// The settings record and every operation on the settings file, acting on the
// main window through SettingsView. All calls come on the window's thread.
//
// Writes that the system refuses (read-only file or folder, full disk) throw
// IniFileError from the operations; the operator handlers catch it and hand
// its text to SettingsView::ReportError.
class Settings {
public:
    static constexpr int ChannelCount = KSN48_CHANNEL_COUNT;
    static constexpr int MaxDigits = 10;
    static constexpr std::chrono::milliseconds SaveButtonPause{500};

    // Read defaults of the values that index something.
    static constexpr int DefaultDataFormatIndex = 0;
    static constexpr int DefaultCurrentValueIndex = 0;
    static constexpr int DefaultAdcRateIndex = 7;
    static constexpr int DefaultReferenceChannel = 0;

    // `settingsPath` is the file every operation and handler uses.
    Settings(SettingsView& view, std::string settingsPath);

    // The program directory's settings file: programDirectory + "/Ksn48_Vevu.ini".
    static std::string SettingsFilePath(const std::string& programDirectory);
    const std::string& SettingsPath() const { return settingsPath_; }

    SettingsRecord Record;
    // The object the window keeps for writing; replaced by every save.
    std::unique_ptr<IniFile> SettingsFile;

    // A failure with an empty text has been shown to the operator already.
    // When something other than a usable file sits at the path (a folder, a
    // pipe, a huge file, a link that leads nowhere it can be created), File
    // holds the default-file values in memory, nothing on disk is touched, and
    // WarningText says what is wrong, naming the file; the pass shows it and
    // goes on. The text comes once per problem, not at every pass.
    struct OpenResult {
        std::unique_ptr<IniFile> File;
        std::string FailureText;
        std::string WarningText;
    };
    OpenResult OpenSettingsFile();

    bool ReadSettings(const IniFile* file, bool firstStart);
    bool ReadModuleSettings(const IniFile* file);

    void SaveIniFile(const std::string& path);
    bool WriteApplicationSection(IniFile* file);
    bool WriteModuleSection(IniFile* file);

    bool CreateDefaultIniFile(const std::string& path);
    bool WriteDefaultApplicationSection(IniFile* file);
    bool WriteDefaultModuleSection(IniFile* file);

    // Operator handlers of the main window.
    void SaveSettingsButtonClick();
    void SaveCurrentSettingsClick();
    void SaveDefaultSettingsClick();
    void AutoSaveSettingsLMDCheckBoxChange();
    // The settings part of closing the window: save when automatic save is
    // ticked, then release SettingsFile. The window's Busy check comes first.
    void SaveOnClose();

    // For the detection pass: the stored window edges, applied when not -1
    // (only on a first start, and only with a settings file).
    void RestoreWindowPosition(const IniFile* file, bool firstStart);
    // The crate serial ("" when none) and module slot (-1) to select.
    struct DetectionTarget {
        std::string CrateSerial;
        int ModuleSlot = -1;
    };
    static DetectionTarget ReadDetectionTarget(const IniFile& file);

    // "АЦП. Диапазон " + range as "%5.2f" + suffix, whatever the locale.
    static std::string PrecisionKey(double range, std::string_view suffix);
    static std::string ChannelKey(int channel);
    // "0." followed by `digits` zeros.
    static std::string NumberFormat(std::uint16_t digits);

private:
    void ShowMessage(std::string_view text, std::string_view caption);
    void SelectListIndex(const IniFile& file, SettingsView::ParameterList list,
                         std::string_view key, int defaultIndex);

    SettingsView& view_;
    std::string settingsPath_;
    // The last warning OpenSettingsFile gave about the file; empty once the
    // file is usable again.
    std::string lastWarning_;
};
