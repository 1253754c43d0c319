#include "MeasureSetup.h"

#include "AdcRates.h"
#include "Settings.h"
#include "SettingsView.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace tool {

namespace {

constexpr int DataFormatCount = 2;    // "   20 бит", "  24 бита"
constexpr int CurrentValueCount = 2;  // "  2.86 мА", " 10.0  мА"

// The window's controls as the settings operations see them, without a window.
class HeadlessSettingsView : public SettingsView {
public:
    bool Busy() const override { return busy_; }
    void SetBusy(bool busy) override { busy_ = busy; }
    bool AutoSaveChecked() const override { return autoSave_; }
    void SetAutoSaveChecked(bool checked) override { autoSave_ = checked; }
    void SetSaveButtonEnabled(bool) override {}

    int ItemCount(ParameterList list) const override
    {
        switch (list) {
        case ParameterList::DataFormat:
            return DataFormatCount;
        case ParameterList::CurrentValue:
            return CurrentValueCount;
        case ParameterList::AdcRate:
            return static_cast<int>(device::AdcRateTable.size());
        }
        return 0;
    }
    int ItemIndex(ParameterList list) const override { return index_[Slot(list)]; }
    void SetItemIndex(ParameterList list, int index) override { index_[Slot(list)] = index; }

    bool ChannelChecked(int channel) const override { return channels_.at(Channel(channel)); }
    void SetChannelChecked(int channel, bool checked) override
    {
        channels_.at(Channel(channel)) = checked;
    }
    void SetReferenceChannelChecked(int, bool) override {}
    CheckState AllChannelsState() const override { return allChannels_; }
    void SetAllChannelsState(CheckState state) override { allChannels_ = state; }

    void SetComputationModeCaption(const std::string&) override {}
    void SetAmplitudeTypeCaption(const std::string&) override {}

    int WindowTop() const override { return -1; }
    int WindowLeft() const override { return -1; }
    void SetWindowTop(int) override {}
    void SetWindowLeft(int) override {}
    std::optional<std::string> SelectedCrateSerial() const override { return std::nullopt; }
    std::optional<int> SelectedModuleSlot() const override { return std::nullopt; }

    void ShowMessage(const std::string& text, const std::string&, MessageIcon) override
    {
        failure_ = text;
    }
    void ReportError(const std::string& text) override { failure_ = text; }
    void Pause(std::chrono::milliseconds duration) override
    {
        std::this_thread::sleep_for(duration);
    }

    const std::string& Failure() const { return failure_; }

private:
    static std::size_t Slot(ParameterList list) { return static_cast<std::size_t>(list); }
    static std::size_t Channel(int channel) { return static_cast<std::size_t>(channel); }

    bool busy_ = false;
    bool autoSave_ = false;
    std::array<int, 3> index_{-1, -1, -1};
    std::array<bool, Settings::ChannelCount> channels_{};
    CheckState allChannels_ = CheckState::Unchecked;
    std::string failure_;
};

MeasureSetup ReadThrough(Settings& settings, HeadlessSettingsView& view, const std::string& path)
{
    std::unique_ptr<IniFile> file;
    try {
        file = std::make_unique<IniFile>(path);
    } catch (const IniFileError& e) {
        throw SetupError(e.what());
    }
    if (!settings.ReadSettings(file.get(), true)) {
        throw SetupError("cannot read the settings file '" + path + "'");
    }
    const SettingsRecord& record = settings.Record;
    MeasureSetup setup;
    // As the window's start of a measurement takes them from its lists.
    setup.Settings.DataFormat = static_cast<std::uint8_t>(
        std::max(0, view.ItemIndex(SettingsView::ParameterList::DataFormat)));
    setup.Settings.CurrentSource = static_cast<std::uint8_t>(
        std::max(0, view.ItemIndex(SettingsView::ParameterList::CurrentValue)));
    setup.Settings.CalcMethod = record.CalcMethod;
    setup.Settings.AmplitudeType = record.AmplitudeType;
    setup.Settings.MaxAcquisitionTime = record.MaxAcquisitionTime;
    for (int c = 0; c < Settings::ChannelCount; ++c) {
        setup.Choice.ChannelTicked[static_cast<std::size_t>(c)] = view.ChannelChecked(c);
    }
    setup.Choice.RateIndex = view.ItemIndex(SettingsView::ParameterList::AdcRate);
    setup.Choice.ReferenceChannel = record.ReferenceChannel;
    setup.AcFormat = record.AcFormat[0];
    setup.FrFormat = record.FrFormat[0];
    setup.PhFormat = record.PhFormat[0];
    const Settings::DetectionTarget target = Settings::ReadDetectionTarget(*file);
    setup.CrateSerial = target.CrateSerial;
    setup.ModuleSlot = target.ModuleSlot;
    return setup;
}

}  // namespace

MeasureSetup ReadSetup(const std::string& settingsPath)
{
    HeadlessSettingsView view;
    Settings settings(view, settingsPath);
    return ReadThrough(settings, view, settingsPath);
}

MeasureSetup DefaultSetup()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string folder = (fs::temp_directory_path(ec) / "ksn48-measure-XXXXXX").string();
    if (ec || ::mkdtemp(folder.data()) == nullptr) {
        throw SetupError("cannot make a scratch folder for the default settings");
    }
    const std::string path = Settings::SettingsFilePath(folder);
    HeadlessSettingsView view;
    Settings settings(view, path);
    bool made = false;
    try {
        made = settings.CreateDefaultIniFile(path);
    } catch (const IniFileError& e) {
        view.ReportError(e.what());
    }
    settings.SettingsFile.reset();
    MeasureSetup setup;
    std::string failure = view.Failure();
    if (made) {
        try {
            setup = ReadThrough(settings, view, path);
        } catch (const SetupError& e) {
            failure = e.what();
            made = false;
        }
    }
    fs::remove_all(folder, ec);
    if (!made) {
        throw SetupError("cannot make the default settings: " + failure);
    }
    return setup;
}

void ApplyOptions(const ToolOptions& options, MeasureSetup& setup)
{
    if (options.RateIndex) {
        setup.Choice.RateIndex = *options.RateIndex;
    }
    if (options.DataFormat) {
        setup.Settings.DataFormat = *options.DataFormat;
    }
    if (options.CurrentSource) {
        setup.Settings.CurrentSource = *options.CurrentSource;
    }
    if (options.Channels) {
        setup.Choice.ChannelTicked = *options.Channels;
    }
    if (options.Reference) {
        setup.Choice.ReferenceChannel = static_cast<std::uint16_t>(*options.Reference);
    }
    if (options.Method) {
        setup.Settings.CalcMethod = *options.Method;
    }
    if (options.Amplitude) {
        setup.Settings.AmplitudeType = *options.Amplitude;
    }
    if (options.MaxTime) {
        setup.Settings.MaxAcquisitionTime = *options.MaxTime;
    }
}

}  // namespace tool
