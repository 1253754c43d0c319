#include "Settings.h"

#include "BusyGuard.h"
#include "ChannelGroup.h"
#include "SettingsNames.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace names = SettingsNames;

namespace {

constexpr double DefaultMaxAcquisitionTime = 1.0;
constexpr double DefaultFileMaxAcquisitionTime = 0.75;
constexpr int DefaultAcDigits = 2;
constexpr int DefaultFrDigits = 5;
constexpr int DefaultPhDigits = 3;
constexpr int DefaultFileChannelsOn = 6;  // channels 1 to 6 on in the default file

std::string Str(std::string_view text)
{
    return std::string(text);
}

}  // namespace

Settings::Settings(SettingsView& view, std::string settingsPath)
    : view_(view), settingsPath_(std::move(settingsPath))
{}

std::string Settings::SettingsFilePath(const std::string& programDirectory)
{
    std::string path = programDirectory;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += names::FileName;
    return path;
}

std::string Settings::PrecisionKey(double range, std::string_view suffix)
{
    char digits[64];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, range, std::chars_format::fixed, 2);
    std::string number(digits, result.ec == std::errc() ? result.ptr : digits);
    if (number.size() < 5) {
        number.insert(0, 5 - number.size(), ' ');
    }
    return Str(names::RangeKeyPrefix) + number + Str(suffix);
}

std::string Settings::ChannelKey(int channel)
{
    return Str(names::ChannelKeyPrefix) + std::to_string(channel);
}

std::string Settings::NumberFormat(std::uint16_t digits)
{
    return "0." + std::string(digits, '0');
}

void Settings::ShowMessage(std::string_view text, std::string_view caption)
{
    view_.ShowMessage(Str(text), Str(caption), SettingsView::MessageIcon::Information);
}

Settings::OpenResult Settings::OpenSettingsFile()
{
    OpenResult result;
    IniPathState state = IniFile::Inspect(settingsPath_);
    if (state.State == IniPathState::Kind::Missing) {
        // A dangling link gets its target: the link stays and leads to the file.
        const int fd = ::open(state.Target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            if (!state.ViaLink) {
                result.FailureText = Str(names::CannotCreateSettingsFile);
                return result;
            }
            state.State = IniPathState::Kind::Unusable;
            state.Reason = Str(names::DanglingLinkStart) + state.Target +
                           Str(names::DanglingLinkEnd) + IniFile::ReasonText(error);
        } else {
            ::close(fd);
            bool created = false;
            try {
                created = CreateDefaultIniFile(settingsPath_);
            } catch (const IniFileError& e) {
                view_.ReportError(e.what());
            }
            if (!created) {
                // Leave no empty file behind, so the next pass tries again instead
                // of reading it as a file without any settings.
                struct stat info {};
                if (::stat(state.Target.c_str(), &info) == 0 && info.st_size == 0) {
                    ::unlink(state.Target.c_str());
                }
                return result;
            }
        }
    }
    if (state.State != IniPathState::Kind::Unusable) {
        try {
            result.File = std::make_unique<IniFile>(settingsPath_);
            lastWarning_.clear();
            return result;
        } catch (const IniFileError& e) {
            state.Reason = e.Reason().empty() ? e.what() : e.Reason();
        }
    }
    // Whatever is in the file's place is left alone: the pass goes on with the
    // default-file values, and a save reports that it cannot write there.
    result.File = std::make_unique<IniFile>(IniFile::Detached(settingsPath_));
    WriteDefaultApplicationSection(result.File.get());
    WriteDefaultModuleSection(result.File.get());
    const std::string warning = Str(names::UnusableFileStart) + settingsPath_ +
                                Str(names::UnusableFileMiddle) + state.Reason +
                                Str(names::UnusableFileEnd);
    // Said once; the passes after it run on the defaults without a word.
    if (warning != lastWarning_) {
        result.WarningText = warning;
        lastWarning_ = warning;
    }
    return result;
}

bool Settings::ReadSettings(const IniFile* file, bool /*firstStart*/)
{
    if (file == nullptr) {
        return false;
    }
    view_.SetAutoSaveChecked(file->ReadInteger(names::GeneralSection, names::AutoSaveKey, 0) != 0);
    return ReadModuleSettings(file);
}

// An index outside the list falls back to the read default, and to no
// selection when even that does not fit.
void Settings::SelectListIndex(const IniFile& file, SettingsView::ParameterList list,
                               std::string_view key, int defaultIndex)
{
    const int count = view_.ItemCount(list);
    int index = file.ReadInteger(names::ModuleSection, key, defaultIndex);
    if (index < 0 || index >= count) {
        index = defaultIndex < count ? defaultIndex : -1;
    }
    view_.SetItemIndex(list, index);
}

bool Settings::ReadModuleSettings(const IniFile* file)
{
    if (file == nullptr) {
        return false;
    }
    const std::string_view section = names::ModuleSection;
    Record.CalcMethod = file->ReadString(section, names::CalcMethodKey, names::CalcMethodFft);
    view_.SetComputationModeCaption(Record.CalcMethod);
    Record.AmplitudeType =
        file->ReadString(section, names::AmplitudeTypeKey, names::AmplitudeTypeRms);
    view_.SetAmplitudeTypeCaption(Record.AmplitudeType);
    // The frame length is derived from this time: it must be a positive number.
    Record.MaxAcquisitionTime =
        file->ReadFloat(section, names::MaxAcquisitionTimeKey, DefaultMaxAcquisitionTime);
    if (!(Record.MaxAcquisitionTime > 0.0)) {
        Record.MaxAcquisitionTime = DefaultMaxAcquisitionTime;
    }

    {
        // The control changes below trigger no operator handler; the flag
        // then is what it was before, also when a caller holds it.
        const auto hold = TBusyGuard::Hold(view_);
        SelectListIndex(*file, SettingsView::ParameterList::DataFormat, names::DataFormatKey,
                        DefaultDataFormatIndex);
        SelectListIndex(*file, SettingsView::ParameterList::CurrentValue, names::CurrentValueKey,
                        DefaultCurrentValueIndex);
        SelectListIndex(*file, SettingsView::ParameterList::AdcRate, names::AdcRateKey,
                        DefaultAdcRateIndex);
        int reference =
            file->ReadInteger(section, names::ReferenceChannelKey, DefaultReferenceChannel);
        if (reference < 0 || reference >= ChannelCount) {
            reference = DefaultReferenceChannel;
        }
        Record.ReferenceChannel = static_cast<std::uint16_t>(reference);
        // The radio buttons sit in different panels and do not exclude each other:
        // only the reference channel's may stay ticked.
        for (int channel = 0; channel < ChannelCount; ++channel) {
            view_.SetReferenceChannelChecked(channel, channel == reference);
        }
    }

    const auto readDigits = [&](double range, std::string_view suffix, int defaultDigits) {
        const auto stored = static_cast<std::uint16_t>(
            file->ReadInteger(section, PrecisionKey(range, suffix), defaultDigits));
        return std::min<std::uint16_t>(stored, MaxDigits);
    };
    for (std::size_t r = 0; r < SettingsRecord::RangeCount; ++r) {
        const double range = Record.RangeTable[r];
        Record.AcDigits[r] = readDigits(range, names::AcPrecisionSuffix, DefaultAcDigits);
        Record.AcFormat[r] = NumberFormat(Record.AcDigits[r]);
        Record.FrDigits[r] = readDigits(range, names::FrPrecisionSuffix, DefaultFrDigits);
        Record.FrFormat[r] = NumberFormat(Record.FrDigits[r]);
        Record.PhDigits[r] = readDigits(range, names::PhPrecisionSuffix, DefaultPhDigits);
        Record.PhFormat[r] = NumberFormat(Record.PhDigits[r]);
    }

    {
        const auto hold = TBusyGuard::Hold(view_);
        const bool all = file->ReadBool(section, names::AllChannelsKey, true);
        view_.SetAllChannelsState(all ? SettingsView::CheckState::Checked
                                      : SettingsView::CheckState::Unchecked);
        for (int channel = 0; channel < ChannelCount; ++channel) {
            view_.SetChannelChecked(channel,
                                    all || file->ReadBool(section, ChannelKey(channel + 1), true));
        }
        std::array<bool, ChannelCount> channels{};
        for (int channel = 0; channel < ChannelCount; ++channel) {
            channels[static_cast<std::size_t>(channel)] = view_.ChannelChecked(channel);
        }
        view_.SetAllChannelsState(ChannelGroup::CommonState(channels));
    }
    return true;
}

void Settings::SaveIniFile(const std::string& path)
{
    SettingsFile.reset();
    try {
        SettingsFile = std::make_unique<IniFile>(path);
    } catch (const IniFileError& e) {
        // A file that cannot be read is not written either; say so as a write.
        throw IniFileError::Writing(e.FileName(), e.Reason().empty() ? e.what() : e.Reason());
    }
    if (!WriteApplicationSection(SettingsFile.get())) {
        ShowMessage(names::CannotSaveApplication, names::SaveCaption);
    }
    if (!WriteModuleSection(SettingsFile.get())) {
        ShowMessage(names::CannotSaveModule, names::SaveCaption);
    }
}

bool Settings::WriteApplicationSection(IniFile* file)
{
    if (file == nullptr) {
        return false;
    }
    file->WriteBool(names::GeneralSection, names::AutoSaveKey, view_.AutoSaveChecked());
    file->WriteInteger(names::GeneralSection, names::WindowTopKey, view_.WindowTop());
    file->WriteInteger(names::GeneralSection, names::WindowLeftKey, view_.WindowLeft());
    if (const auto serial = view_.SelectedCrateSerial()) {
        file->WriteString(names::DetectionSection, names::CrateSerialKey, *serial);
        if (const auto slot = view_.SelectedModuleSlot()) {
            file->WriteInteger(names::DetectionSection, names::ModuleSlotKey, *slot);
        }
    }
    file->UpdateFile();
    return true;
}

bool Settings::WriteModuleSection(IniFile* file)
{
    if (file == nullptr) {
        return false;
    }
    const std::string_view section = names::ModuleSection;
    file->WriteInteger(section, names::DataFormatKey,
                       view_.ItemIndex(SettingsView::ParameterList::DataFormat));
    file->WriteInteger(section, names::CurrentValueKey,
                       view_.ItemIndex(SettingsView::ParameterList::CurrentValue));
    file->WriteInteger(section, names::AdcRateKey,
                       view_.ItemIndex(SettingsView::ParameterList::AdcRate));
    file->WriteBool(section, names::AllChannelsKey,
                    ChannelGroup::TicksAll(view_.AllChannelsState()));
    for (int channel = 0; channel < ChannelCount; ++channel) {
        file->WriteBool(section, ChannelKey(channel + 1), view_.ChannelChecked(channel));
    }
    file->UpdateFile();
    return true;
}

bool Settings::CreateDefaultIniFile(const std::string& path)
{
    SettingsFile.reset();
    if (path.empty()) {
        ShowMessage(names::BadDefaultFileName, names::CreateDefaultCaption);
        return false;
    }
    try {
        SettingsFile = std::make_unique<IniFile>(path);
    } catch (const IniFileError&) {
        ShowMessage(Str(names::CannotCreateDefaultFileStart) + path +
                        Str(names::CannotCreateDefaultFileEnd),
                    names::CreateDefaultCaption);
        return false;
    }
    if (!WriteDefaultApplicationSection(SettingsFile.get())) {
        ShowMessage(names::CannotWriteDefaultApplication, names::CreateDefaultCaption);
        return false;
    }
    if (!WriteDefaultModuleSection(SettingsFile.get())) {
        ShowMessage(names::CannotWriteDefaultModule, names::CreateDefaultCaption);
        return false;
    }
    return true;
}

bool Settings::WriteDefaultApplicationSection(IniFile* file)
{
    if (file == nullptr) {
        return false;
    }
    file->WriteBool(names::GeneralSection, names::AutoSaveKey, false);
    file->WriteInteger(names::GeneralSection, names::WindowTopKey, -1);
    file->WriteInteger(names::GeneralSection, names::WindowLeftKey, -1);
    file->WriteInteger(names::GeneralSection, names::CoefficientSourceKey, 0);
    file->WriteString(names::DetectionSection, names::CrateSerialKey, "");
    file->WriteInteger(names::DetectionSection, names::ModuleSlotKey, -1);
    file->UpdateFile();
    return true;
}

bool Settings::WriteDefaultModuleSection(IniFile* file)
{
    if (file == nullptr) {
        return false;
    }
    const std::string_view section = names::ModuleSection;
    file->WriteString(section, names::CalcMethodKey, names::CalcMethodFft);
    file->WriteString(section, names::AmplitudeTypeKey, names::AmplitudeTypeRms);
    file->WriteFloat(section, names::MaxAcquisitionTimeKey, DefaultFileMaxAcquisitionTime);
    file->WriteInteger(section, names::DataFormatKey, DefaultDataFormatIndex);
    file->WriteInteger(section, names::CurrentValueKey, DefaultCurrentValueIndex);
    file->WriteInteger(section, names::AdcRateKey, DefaultAdcRateIndex);
    file->WriteBool(section, names::AllChannelsKey, false);
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        file->WriteBool(section, ChannelKey(channel), channel <= DefaultFileChannelsOn);
    }
    for (const double range : Record.RangeTable) {
        file->WriteInteger(section, PrecisionKey(range, names::AcPrecisionSuffix), DefaultAcDigits);
        file->WriteInteger(section, PrecisionKey(range, names::FrPrecisionSuffix), DefaultFrDigits);
        file->WriteInteger(section, PrecisionKey(range, names::PhPrecisionSuffix), DefaultPhDigits);
    }
    file->UpdateFile();
    return true;
}

void Settings::SaveSettingsButtonClick()
{
    const auto busy = TBusyGuard::Enter(view_);
    if (!busy.Entered()) {
        return;
    }
    view_.SetSaveButtonEnabled(false);
    try {
        SaveIniFile(settingsPath_);
    } catch (const std::exception& e) {
        view_.ReportError(e.what());
    }
    view_.Pause(SaveButtonPause);
    // While automatic save is on the button stays disabled, also when the save
    // came from the menu.
    view_.SetSaveButtonEnabled(!view_.AutoSaveChecked());
}

void Settings::SaveCurrentSettingsClick()
{
    SaveSettingsButtonClick();
}

void Settings::SaveDefaultSettingsClick()
{
    try {
        CreateDefaultIniFile(settingsPath_);
    } catch (const std::exception& e) {
        view_.ReportError(e.what());
    }
}

void Settings::AutoSaveSettingsLMDCheckBoxChange()
{
    const auto busy = TBusyGuard::Enter(view_);
    if (!busy.Entered()) {
        return;
    }
    view_.SetSaveButtonEnabled(!view_.AutoSaveChecked());
}

void Settings::SaveOnClose()
{
    if (view_.AutoSaveChecked()) {
        try {
            SaveIniFile(settingsPath_);
        } catch (const std::exception& e) {
            view_.ReportError(e.what());
        }
    }
    SettingsFile.reset();
}

void Settings::RestoreWindowPosition(const IniFile* file, bool firstStart)
{
    if (!firstStart || file == nullptr) {
        return;
    }
    const int top = file->ReadInteger(names::GeneralSection, names::WindowTopKey, -1);
    const int left = file->ReadInteger(names::GeneralSection, names::WindowLeftKey, -1);
    if (top != -1) {
        view_.SetWindowTop(top);
    }
    if (left != -1) {
        view_.SetWindowLeft(left);
    }
}

Settings::DetectionTarget Settings::ReadDetectionTarget(const IniFile& file)
{
    return DetectionTarget{file.ReadString(names::DetectionSection, names::CrateSerialKey, ""),
                           file.ReadInteger(names::DetectionSection, names::ModuleSlotKey, -1)};
}
