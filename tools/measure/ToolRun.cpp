#include "ToolRun.h"

#include "CrateApi.h"
#include "Detection.h"
#include "DetectionMessages.h"
#include "FixedText.h"
#include "MeasureSetup.h"
#include "MeasurementTexts.h"
#include "ModuleChoice.h"
#include "ResultsWriter.h"
#include "RunStop.h"
#include "ToolHost.h"
#include "ToolSupport.h"
#include "ksn48api.h"

#include <chrono>
#include <cstdio>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* StandardOutputName = "standard output";
// A lost module is looked for again this often.
constexpr auto ReconnectPeriod = std::chrono::seconds(1);

}  // namespace

measure::ResultsLayout LayoutOf(const ToolOptions& options, const MeasureSetup& setup)
{
    measure::ResultsLayout layout;
    layout.Channels = setup.Choice.ChannelTicked;
    layout.Syntax = options.Format;
    layout.Display = options.Display;
    layout.Metrics = options.Metrics;
    layout.Uncertainties =
        options.Uncertainty || measure::IsSineFitText(setup.Settings.CalcMethod);
    layout.VoltageFormat = setup.AcFormat;
    layout.FrequencyFormat = setup.FrFormat;
    layout.PhaseFormat = setup.PhFormat;
    layout.FrequencyFormatAbove100 = MeasurementText::FrequencyFormatAbove100;
    layout.FrequencyFormatAbove1000 = MeasurementText::FrequencyFormatAbove1000;
    return layout;
}

namespace {

bool FileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

ModuleTarget TargetOf(const ToolOptions& options, const MeasureSetup& setup)
{
    ModuleTarget target;
    target.CrateNamed = options.Crate.has_value();
    target.SlotNamed = options.Slot.has_value();
    target.CrateSerial = options.Crate.value_or(setup.CrateSerial);
    // A saved slot belongs to the saved crate: a crate named alone takes its
    // first module.
    target.Slot = options.Slot.value_or(target.CrateNamed ? -1 : setup.ModuleSlot);
    return target;
}

namespace {

std::string Describe(const device::OpenedModule& module)
{
    return "slot " + std::to_string(module.Slot) + " of crate " + module.CrateSerial;
}

}  // namespace

void SayOpened(std::ostream& err, const device::OpenedModule& module, const Ksn48Handle& handle)
{
    Say(err) << module.ModuleName << " '" << device::FixedText(handle.ModuleSerial)
             << "' (firmware " << handle.FirmwareVersion << ") in " << Describe(module) << " ("
             << module.CrateTypeName << ")\n";
    if (!device::FirmwareSupported(handle.FirmwareVersion)) {
        Say(err) << device::DetectionMessages::FirmwareTooOld << '\n';
    }
    err << std::flush;
}

namespace {

// How one run of the measurement cycle ended.
enum class CycleEnd {
    Stopped,   // frames, duration or signal: done
    LinkLost,  // a library call met a lost link
    Ended,     // with the exit code set
};

// One measurement: the module open on handle, one run of the cycle after
// another while the link comes back.
class Measurement {
public:
    Measurement(const ToolOptions& options, ToolHost& host, RunStop& stop, Ksn48Handle& handle,
                std::ostream& err)
        : options_(options), host_(host), stop_(stop), handle_(handle), err_(err),
          detector_(handle, device::LibraryCrateApi(), &stop.Flag())
    {}

    // Finds and opens the module; the exit code when it cannot.
    int Open(const ModuleTarget& target)
    {
        const ModuleChoice choice = FindModule(detector_, inventory_, target);
        if (choice.Stopped || stop_.Requested()) {
            return ExitDone;
        }
        if (!choice.Opened()) {
            SayLines(err_, choice.Messages);
            return ExitNoDevice;
        }
        module_ = choice.Module;
        serial_ = device::FixedText(handle_.ModuleSerial);
        SayOpened(err_, module_, handle_);
        return ExitDone;
    }

    bool IsOpen() const { return module_.Opened(); }
    const device::OpenedModule& Module() const { return module_; }

    int Run()
    {
        while (!stop_.Requested()) {
            const CycleEnd end = RunCycle();
            if (end == CycleEnd::Stopped) {
                break;
            }
            if (end == CycleEnd::Ended) {
                return exitCode_;
            }
            if (!Reconnect()) {
                return exitCode_;
            }
        }
        return ExitDone;
    }

    void Close() { detector_.CloseModuleIfOpen(); }

private:
    CycleEnd RunCycle()
    {
        host_.BeginCycle();
        measure::MeasurementCycle cycle(host_, handle_, stop_.Flag(), host_.MessageShown);
        cycle.SetModuleNames(
            {module_.CrateType, std::string(module_.CrateTypeName), module_.ModuleName});
        cycle.ComputeFigures(options_.Metrics);
        bool escaped = false;
        stop_.Arm(&cycle);
        try {
            cycle.RunMultimeter();
        } catch (const std::exception& e) {
            Say(err_) << e.what() << '\n';
            escaped = true;
        }
        stop_.Arm(nullptr);

        if (!host_.WriteError().empty()) {
            Say(err_) << host_.WriteError() << '\n';
            return End(ExitRunFailure);
        }
        if (host_.Refused()) {
            return End(ExitRefused);
        }
        if (escaped) {
            return End(ExitRunFailure);
        }
        if (!host_.Failed()) {
            return CycleEnd::Stopped;
        }
        if (cycle.FirstFailedCall() != nullptr) {
            Say(err_) << cycle.FirstFailedCall() << ": " << KSN_ErrorName(cycle.FirstFailure())
                      << '\n';
        }
        if (options_.Reconnect && cycle.LinkLost() && !stop_.Requested()) {
            return CycleEnd::LinkLost;
        }
        return End(ExitRunFailure);
    }

    CycleEnd End(int exitCode)
    {
        exitCode_ = exitCode;
        return CycleEnd::Ended;
    }

    // Marks the gap, then looks for the module every second until it is
    // open again (true) or the run is stopped (false, exit 0) or the log
    // fails (false, exit 1).
    bool Reconnect()
    {
        const std::uint64_t lost = host_.NextFrame();
        if (!host_.WriteGap()) {
            Say(err_) << host_.WriteError() << '\n';
            exitCode_ = ExitRunFailure;
            return false;
        }
        Say(err_) << "the link to " << Describe(module_) << " is lost";
        if (host_.NextFrame() > lost) {
            err_ << "; frame " << lost << " is marked lost";
        }
        err_ << "; trying again every second\n" << std::flush;

        const device::OpenedModule was = module_;
        const std::string wasSerial = serial_;
        const ModuleTarget same{was.CrateSerial, was.Slot, true, true};
        const Clock::time_point since = Clock::now();
        std::vector<std::string> said;
        exitCode_ = ExitDone;
        for (;;) {
            const Clock::time_point attempt = Clock::now();
            const ModuleChoice choice = FindModule(detector_, inventory_, same);
            if (choice.Stopped || stop_.Requested()) {
                return false;
            }
            if (choice.Opened()) {
                module_ = choice.Module;
                break;
            }
            // Why it is not back, each time the reason changes.
            if (choice.Messages != said) {
                SayLines(err_, choice.Messages);
                said = choice.Messages;
            }
            if (stop_.WaitFor(attempt + ReconnectPeriod - Clock::now())) {
                return false;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - since).count();
        serial_ = device::FixedText(handle_.ModuleSerial);
        char took[32];
        std::snprintf(took, sizeof took, "%.1f", seconds);
        Say(err_) << Describe(module_) << " is back after " << took << " s";
        if (serial_ != wasSerial) {
            err_ << "; it now holds module '" << serial_ << "', not '" << wasSerial << "'";
        }
        err_ << '\n';
        SayOpened(err_, module_, handle_);
        return true;
    }

    const ToolOptions& options_;
    ToolHost& host_;
    RunStop& stop_;
    Ksn48Handle& handle_;
    std::ostream& err_;
    device::Detector detector_;
    device::DeviceInventory inventory_;
    device::OpenedModule module_;
    std::string serial_;
    int exitCode_ = ExitDone;
};

// The publisher for the module's crate and slot, and the host's rows to it.
int StartPublisher(const mqtt::BrokerOptions& options, const device::OpenedModule& module,
                   ToolHost& host, std::optional<mqtt::ResultsPublisher>& publisher,
                   std::ostream& err)
{
    try {
        publisher.emplace(options, module.CrateSerial, module.Slot);
    } catch (const std::exception& e) {
        Say(err) << "MQTT: " << e.what() << '\n';
        return ExitUsage;
    }
    host.SetPublisher(&*publisher, module.CrateSerial, std::string(module.CrateTypeName),
                      module.Slot);
    Say(err) << "publishing every frame to the MQTT broker " << mqtt::DescribeBroker(options)
             << " under '" << publisher->TopicBase() << "'\n"
             << std::flush;
    return ExitDone;
}

}  // namespace

int RunMeasurement(const ToolOptions& options, std::ostream& err)
{
    if (!LibrariesUsable(err)) {
        return ExitNoDevice;
    }
    MeasureSetup setup;
    try {
        setup = options.SettingsPath ? ReadSetup(*options.SettingsPath) : DefaultSetup();
    } catch (const SetupError& e) {
        Say(err) << e.what() << '\n';
        return options.SettingsPath ? ExitUsage : ExitRunFailure;
    }
    ApplyOptions(options, setup);

    // The log is checked before the module is touched; a file made here and
    // left without a row goes again.
    const bool madeFile = options.Output && !FileExists(*options.Output);
    std::optional<measure::ResultsWriter> writer;
    try {
        writer.emplace(LayoutOf(options, setup),
                       options.Output
                           ? measure::ResultsFile::Append(*options.Output)
                           : measure::ResultsFile::Attach(STDOUT_FILENO, StandardOutputName));
        writer->CheckContinuation();
    } catch (const std::exception& e) {
        Say(err) << e.what() << '\n';
        return ExitUsage;
    }
    const auto dropEmptyFile = [&] {
        struct stat info {};
        if (madeFile && writer->RowsWritten() == 0 && ::stat(options.Output->c_str(), &info) == 0 &&
            info.st_size == 0) {
            ::unlink(options.Output->c_str());
        }
    };

    // Before any other thread: the signals go to the stop's thread only.
    std::optional<RunStop> stop;
    try {
        stop.emplace(options.Duration);
    } catch (const std::system_error& e) {
        Say(err) << e.what() << '\n';
        dropEmptyFile();
        return ExitRunFailure;
    }

    Ksn48Handle handle{};
    ToolHost host(setup, *writer, *stop, options.Frames, err);
    Measurement measurement(options, host, *stop, handle, err);
    std::optional<mqtt::ResultsPublisher> publisher;
    int exitCode = measurement.Open(TargetOf(options, setup));
    if (exitCode == ExitDone && measurement.IsOpen() && options.Mqtt) {
        exitCode = StartPublisher(*options.Mqtt, measurement.Module(), host, publisher, err);
    }
    if (exitCode == ExitDone && measurement.IsOpen()) {
        exitCode = measurement.Run();
    }
    measurement.Close();
    if (publisher) {
        publisher->Close();
        host.SayPublisherReports();
        Say(err) << publisher->FramesPublished() << " frames published under '"
                 << publisher->TopicBase() << "'";
        if (const std::uint64_t dropped = publisher->FramesDropped(); dropped > 0) {
            err << " (" << dropped << " dropped while the broker was slow or away)";
        }
        err << '\n';
        host.SetPublisher(nullptr, {}, {}, 0);
    }
    if (exitCode == ExitNoDevice) {
        dropEmptyFile();
        return exitCode;
    }

    try {
        writer->Close();
    } catch (const measure::ResultsFileError& e) {
        Say(err) << e.what() << '\n';
        exitCode = ExitRunFailure;
    }
    dropEmptyFile();
    const std::uint64_t frames = host.FramesWritten();
    Say(err) << frames << (frames == 1 ? " frame" : " frames") << " written to "
             << (options.Output ? "'" + *options.Output + "'" : std::string(StandardOutputName));
    if (const std::uint64_t gaps = host.GapsWritten(); gaps > 0) {
        err << " (" << gaps << (gaps == 1 ? " gap" : " gaps") << " marked lost)";
    }
    err << '\n';
    return exitCode;
}

}  // namespace tool
