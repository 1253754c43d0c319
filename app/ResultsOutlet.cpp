#include "ResultsOutlet.h"

#include "MainForm.h"

#include "BusyGuard.h"
#include "CrateTypes.h"
#include "CycleResults.h"
#include "FileDialog.h"
#include "IniFile.h"
#include "MeasurementCycle.h"
#include "MessageBox.h"
#include "MqttSection.h"
#include "PrecisionSection.h"
#include "ResultsPublisher.h"
#include "ResultsRecorder.h"
#include "RunDescription.h"
#include "SectionValue.h"
#include "StateMove.h"
#include "WindowTexts.h"

#include <QAction>
#include <QDir>
#include <QTimer>

#include <iostream>
#include <utility>

namespace {

using Channels = std::array<bool, measure::FrameResult::ChannelCount>;

Channels RunChannels(const Ksn48Handle& handle)
{
    Channels channels{};
    for (std::size_t c = 0; c < channels.size(); ++c) {
        channels[c] = handle.Channel[c].ChannelEnabled != 0;
    }
    return channels;
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString FeedKeyName(mqtt::BrokerSetup::Field field)
{
    namespace Names = MqttSettingsNames;
    using Field = mqtt::BrokerSetup::Field;
    std::string_view key;
    switch (field) {
    case Field::Address:
        key = Names::Broker;
        break;
    case Field::TopicPrefix:
        key = Names::Topic;
        break;
    case Field::ClientId:
        key = Names::ClientId;
        break;
    case Field::Qos:
        key = Names::Qos;
        break;
    case Field::Username:
        key = Names::Username;
        break;
    case Field::PasswordFile:
        key = Names::PasswordFile;
        break;
    case Field::TlsCaFile:
        key = Names::TlsCa;
        break;
    }
    return QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
}

// Tells the operator why the recording into fileName did not start, went
// wrong or ended, later, from the event loop: the worker waits for the
// display step that found the failure, and the measurement goes on meanwhile.
void ReportRecordingFailure(QObject& context, const measure::ResultsRecorder::Result& result,
                            const QString& fileName)
{
    using Problem = measure::ResultsRecorder::Problem;
    const QString reason = Text(IniFile::ReasonText(result.Error));
    QString text;
    switch (result.Kind) {
    case Problem::CannotOpen:
        text = WindowTexts::RecordCannotOpen.arg(fileName, reason);
        break;
    case Problem::OtherColumns:
        text = WindowTexts::RecordOtherColumns.arg(fileName);
        break;
    case Problem::CutLastLine:
        text = WindowTexts::RecordCutLastLine.arg(fileName);
        break;
    case Problem::WriteFailed:
    case Problem::None:
        text = WindowTexts::RecordWriteFailed.arg(fileName, reason);
        break;
    }
    QTimer::singleShot(0, &context, [text] {
        ShowMessageBox(text, WindowTexts::RecordErrorCaption, MessageIcon::Error);
    });
}

}  // namespace

TResultsOutlet::TResultsOutlet(TMainForm& form) : form_(form) {}

TResultsOutlet::~TResultsOutlet() = default;

bool TResultsOutlet::Allowed(State from, State to) noexcept
{
    switch (from) {
    case State::Waiting:
        // An outage before the first frame could be sent (no module chosen).
        return to == State::Waiting || to == State::RunBegun || to == State::OutageSaid;
    case State::RunBegun:
        return to == State::Waiting || to == State::OutageSaid;
    case State::OutageSaid:
        return to == State::Waiting;
    }
    return false;
}

const char* TResultsOutlet::Name(State state) noexcept
{
    switch (state) {
    case State::Waiting:
        return "waiting";
    case State::RunBegun:
        return "run begun";
    case State::OutageSaid:
        return "outage said";
    }
    return "?";
}

void TResultsOutlet::Enter(State to)
{
    if (!Allowed(state_, to)) {
        ReportBadMove("results outlet", Name(state_), Name(to));
    }
    state_ = to;
}

// --- recording ---

bool TResultsOutlet::RecordingResults() const noexcept
{
    return recorder_ && recorder_->Recording();
}

void TResultsOutlet::RecordResultsClick()
{
    const auto busy = TBusyGuard::Enter(form_.Busy);
    if (!busy.Entered()) {
        form_.RecordResultsItem->setChecked(RecordingResults());
        return;
    }
    if (RecordingResults()) {
        EndRecording(true);
        return;
    }
    form_.RecordResultsItem->setChecked(false);
    FileDialogRequest request;
    request.caption = WindowTexts::RecordDialogCaption;
    request.directory = QDir::homePath();
    request.filter = WindowTexts::RecordDialogFilter;
    const QString name = GetSaveFileName(&form_, request);
    if (name.isEmpty()) {
        return;
    }
    // The columns: those of the run under way, else those ticked now (a run
    // that starts with others gets them if the file can take them).
    const Channels channels = form_.run_.Worker() != nullptr && !form_.MeasurementIdle
                                  ? RunChannels(form_.Ksn48Handle)
                                  : TickedChannels(form_.ChannelFrames);
    if (!recorder_) {
        recorder_ = std::make_unique<measure::ResultsRecorder>();
    }
    const bool uncertainties = form_.run_.Worker() != nullptr && !form_.MeasurementIdle
                                   ? runUncertainties_
                                   : UncertaintiesChosen();
    const measure::ResultsRecorder::Result started =
        recorder_->Start(name.toStdString(), channels, uncertainties);
    if (!started) {
        ReportRecordingFailure(form_, started, name);
        return;
    }
    form_.RecordResultsItem->setChecked(true);
}

void TResultsOutlet::EndRecording(bool reportFailure)
{
    if (!recorder_) {
        return;
    }
    const measure::ResultsRecorder::Result stopped = recorder_->Stop();
    form_.RecordResultsItem->setChecked(false);
    if (!stopped && reportFailure) {
        ReportRecordingFailure(form_, stopped, Text(stopped.FileName));
    }
}

void TResultsOutlet::FrameShown(const measure::MeasurementCycle& cycle)
{
    if (cycle.FramesShown() == 0) {
        // The run's columns hold for all its frames, whatever is ticked later.
        runUncertainties_ = cycle.Config().SineFit || UncertaintiesChosen();
    }
    if (!RecordingResults() && !publisher_) {
        return;
    }
    measure::FrameResult frame;
    measure::FillFrameResult(cycle, frame);
    frame.Time = std::chrono::system_clock::now();
    frame.Frame = cycle.FramesShown() + 1;
    const Channels channels = RunChannels(cycle.Handle());
    if (RecordingResults()) {
        const measure::ResultsRecorder::Result recorded =
            recorder_->Record(frame, channels, runUncertainties_);
        if (!recorded) {
            form_.RecordResultsItem->setChecked(false);
            ReportRecordingFailure(form_, recorded, Text(recorded.FileName));
        }
    }
    if (publisher_) {
        if (state_ == State::Waiting && form_.DeviceInventory.HasSelectedModule()) {
            Enter(State::RunBegun);
            const std::uint16_t crate = form_.DeviceInventory.SelectedCrate;
            const std::uint16_t module = form_.DeviceInventory.SelectedModule[crate];
            try {
                publisher_->BeginRun(
                    channels,
                    mqtt::ConfigJson(mqtt::DescribeRun(
                        cycle, form_.DeviceInventory.ModuleCrateSerials[crate].data(),
                        std::string(
                            device::CrateTypeName(form_.DeviceInventory.ModuleCrateTypes[crate])),
                        form_.DeviceInventory.ModuleSlots[crate][module])),
                    runUncertainties_);
            } catch (const std::exception& e) {
                std::cerr << "ksn48_vevu: MQTT: " << e.what() << std::endl;
            }
        }
        publisher_->Publish(frame);
        ShowFeedReports();
    }
}

void TResultsOutlet::MeasurementStopped()
{
    if (RecordingResults()) {
        EndRecording(true);
    }
    if (publisher_) {
        ShowFeedReports();
    }
}

// --- the MQTT feed ---

void TResultsOutlet::ShowFeedReports()
{
    const auto reports = publisher_->TakeReports();
    for (const auto& report : reports) {
        std::cerr << "ksn48_vevu: " << report.Text << std::endl;
        // The operator hears of the first outage of a run; the rest goes to
        // standard error only.
        if (state_ != State::OutageSaid &&
            report.What != mqtt::ResultsPublisher::Report::Kind::Back) {
            Enter(State::OutageSaid);
            const QString text = WindowTexts::FeedOutage.arg(Text(report.Text));
            QTimer::singleShot(0, &form_, [text] {
                ShowMessageBox(text, WindowTexts::FeedOutageCaption, MessageIcon::Warning);
            });
        }
    }
}

void TResultsOutlet::ReadFeedSettings()
{
    // Our other section is read at the same moments: after a pass, at a start.
    ReadPrecisionSettings();
    Enter(State::Waiting);
    const auto off = [this](const QString& problem) {
        publisher_.reset();
        publisherTarget_.reset();
        if (problem.isEmpty()) {
            feedProblemShown_.clear();
        } else if (problem != feedProblemShown_) {
            // Once per problem, not at every start.
            feedProblemShown_ = problem;
            ShowMessageBox(problem, WindowTexts::FeedErrorCaption, MessageIcon::Error);
        }
    };
    if (!form_.Settings) {
        off({});
        return;
    }
    const QString path = Text(form_.Settings->SettingsPath());
    MqttSection section;
    try {
        section = ReadMqttSection(IniFile(form_.Settings->SettingsPath()));
    } catch (const IniFileError&) {
        // The detection pass tells of a settings file it cannot read.
        off({});
        return;
    }
    const std::optional<bool> enabled = ReadSwitch(section.Enabled);
    if (!enabled) {
        off(WindowTexts::FeedBadValue.arg(path, Text(std::string(MqttSettingsNames::Enabled)),
                                          Text(SwitchProblem(section.Enabled))));
        return;
    }
    if (!*enabled) {
        off({});
        return;
    }
    mqtt::BrokerSetup setup;
    setup.Address = section.Broker;
    setup.TopicPrefix = section.Topic;
    setup.ClientId = section.ClientId;
    setup.Qos = section.Qos;
    setup.Username = section.Username;
    setup.PasswordFile = section.PasswordFile;
    setup.TlsCaFile = section.TlsCa;
    mqtt::BrokerOptions options;
    try {
        options = mqtt::MakeBrokerOptions(setup);
    } catch (const mqtt::SetupError& e) {
        off(WindowTexts::FeedBadValue.arg(path, FeedKeyName(e.Field()), Text(e.what())));
        return;
    }
    // The bench: the open module's crate and slot.
    if (form_.ModuleState != device::ModuleOpen || !form_.DeviceInventory.HasSelectedModule()) {
        publisher_.reset();
        publisherTarget_.reset();
        return;
    }
    const std::uint16_t crate = form_.DeviceInventory.SelectedCrate;
    const std::string serial = form_.DeviceInventory.ModuleCrateSerials[crate].data();
    const int slot =
        form_.DeviceInventory.ModuleSlots[crate][form_.DeviceInventory.SelectedModule[crate]];
    FeedTarget target{options, serial, slot};
    feedProblemShown_.clear();
    if (publisher_ && publisherTarget_ == target) {
        return;
    }
    publisher_.reset();
    publisherTarget_.reset();
    try {
        publisher_ = std::make_unique<mqtt::ResultsPublisher>(options, serial, slot);
        publisherTarget_ = std::move(target);
    } catch (const std::exception& e) {
        off(WindowTexts::FeedUnusable.arg(Text(e.what())));
    }
}

// --- the section [Precision] ---

bool TResultsOutlet::UncertaintiesChosen() const noexcept
{
    return form_.Settings &&
           (form_.Settings->Record.SineFit || form_.Settings->Record.UncertaintyHints);
}

void TResultsOutlet::ReadPrecisionSettings()
{
    if (!form_.Settings) {
        return;
    }
    PrecisionSection section;
    try {
        section = ReadPrecisionSection(IniFile(form_.Settings->SettingsPath()));
    } catch (const IniFileError&) {
        // The detection pass tells of a settings file it cannot read; the
        // choices stay as they are.
        return;
    }
    form_.Settings->Record.SineFit = section.SineFit;
    form_.Settings->Record.UncertaintyHints = section.Uncertainty;
    form_.PrecisionMethodItem->setChecked(section.SineFit);
    form_.UncertaintyItem->setChecked(section.Uncertainty);
    if (section.BadKey.empty()) {
        precisionProblemShown_.clear();
        return;
    }
    const QString problem = WindowTexts::PrecisionBadValue.arg(
        Text(form_.Settings->SettingsPath()), Text(section.BadKey), Text(section.Problem));
    if (problem != precisionProblemShown_) {
        // Once per problem, not at every start.
        precisionProblemShown_ = problem;
        ShowMessageBox(problem, WindowTexts::PrecisionErrorCaption, MessageIcon::Error);
    }
}

void TResultsOutlet::SavePrecisionSettings()
{
    // A menu tick is the operator's choice for good: the section is written
    // at once, our two keys alone.
    const std::string path = form_.Settings->SettingsPath();
    try {
        IniFile file(path);
        WritePrecisionSection(file, form_.Settings->Record.SineFit,
                              form_.Settings->Record.UncertaintyHints);
        file.UpdateFile();
        precisionProblemShown_.clear();
    } catch (const IniFileError& e) {
        ShowMessageBox(WindowTexts::PrecisionNotSaved.arg(Text(path), Text(e.Reason())),
                       WindowTexts::PrecisionErrorCaption, MessageIcon::Error);
    }
}

void TResultsOutlet::PrecisionMethodClick()
{
    if (!form_.Settings) {
        form_.PrecisionMethodItem->setChecked(false);
        return;
    }
    // The run under way keeps its method; the next start takes this one.
    form_.Settings->Record.SineFit = form_.PrecisionMethodItem->isChecked();
    SavePrecisionSettings();
}

void TResultsOutlet::UncertaintyClick()
{
    if (!form_.Settings) {
        form_.UncertaintyItem->setChecked(false);
        return;
    }
    // The hints follow from the next frame on; the recording's columns from
    // the next run.
    form_.Settings->Record.UncertaintyHints = form_.UncertaintyItem->isChecked();
    SavePrecisionSettings();
}
