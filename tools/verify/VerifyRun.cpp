#include "VerifyRun.h"

#include "AdcRates.h"
#include "CrateApi.h"
#include "CycleResults.h"
#include "DataRateBudget.h"
#include "Detection.h"
#include "FileVersion.h"
#include "FixedText.h"
#include "MeasureSetup.h"
#include "MeasurementCycle.h"
#include "ModuleChoice.h"
#include "ResultsWriter.h"
#include "RunStop.h"
#include "ToolHost.h"
#include "ToolRun.h"
#include "ToolSupport.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace verify {

namespace {

// Pixel columns of a report's spectrum.
constexpr std::uint32_t SpectrumColumns = 640;

std::size_t CountOf(const tool::ChannelSet& channels)
{
    return static_cast<std::size_t>(std::count(channels.begin(), channels.end(), true));
}

std::string VersionText(const void* function)
{
    const std::optional<FileVersion> v = ReadFileVersion(LoadedFilePath(function));
    if (!v) {
        return "?";
    }
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
           std::to_string(v->release) + "." + std::to_string(v->build);
}

// The tool's options for one point of the plan.
tool::ToolOptions OptionsOf(const Plan& plan, const PlanPoint& point)
{
    tool::ToolOptions o;
    o.RateIndex = point.RateIndex;
    o.DataFormat = point.DataFormat;
    o.CurrentSource = point.CurrentSource;
    o.Channels = point.Channels;
    o.Reference = plan.ReferenceChannel;
    o.Method = point.Method;
    // Every voltage of a verification is RMS, as its reference is stated.
    o.Amplitude = "rms";
    o.MaxTime = point.MaxTime;
    o.Frames = FramesOfPoint(point);
    o.Metrics = true;
    return o;
}

// The tool's host, which also keeps each frame and, frame by frame, the
// spectrum of one channel after the other, and says how far the run is.
class VerifyHost : public tool::ToolHost {
public:
    VerifyHost(const tool::MeasureSetup& setup, measure::ResultsWriter& writer,
               tool::RunStop& stop, std::uint64_t frames, std::ostream& err, PointData& data,
               measure::SpectrumTap& tap, std::size_t pointNumber, std::size_t pointCount)
        : ToolHost(setup, writer, stop, frames, err), err_(err), data_(data), tap_(tap),
          frames_(frames), pointNumber_(pointNumber), pointCount_(pointCount),
          tty_(::isatty(STDERR_FILENO) == 1)
    {
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (data.Point.Channels[c]) {
                channels_.push_back(static_cast<int>(c));
            }
        }
        Request(0);
    }

    void ShowResults(const measure::MeasurementCycle& cycle) override
    {
        const std::uint64_t before = FramesWritten();
        ToolHost::ShowResults(cycle);
        if (FramesWritten() == before) {
            return;  // the row was refused: the run ends
        }
        measure::FrameResult frame;
        measure::FillFrameResult(cycle, frame);
        frame.Time = std::chrono::system_clock::now();
        frame.Frame = FramesWritten();
        data_.Frames.push_back(frame);
        data_.SamplesPerChannel = cycle.Config().SamplesPerChannel;

        const int plotted = tap_.Request().Channel;
        const measure::SpectrumFrame& spectrum = tap_.Frame();
        if (plotted >= 0 && spectrum.Valid && spectrum.Channel == plotted) {
            data_.Spectra[static_cast<std::size_t>(plotted)] = spectrum;
        }
        Progress(plotted);
        Request(FramesWritten());
    }

    void EndProgress()
    {
        if (tty_ && progressShown_) {
            err_ << '\n' << std::flush;
        }
    }

private:
    void Request(std::uint64_t frameIndex)
    {
        measure::SpectrumRequest request;
        request.Channel = channels_[frameIndex % channels_.size()];
        request.Columns = SpectrumColumns;
        tap_.SetRequest(request);
    }

    void Progress(int channel)
    {
        tool::Say(err_) << "point " << pointNumber_ << " of " << pointCount_ << ", frame "
                        << FramesWritten() << " of " << frames_ << ", channel " << channel + 1;
        err_ << (tty_ ? "\r" : "\n") << std::flush;
        progressShown_ = true;
    }

    std::ostream& err_;
    PointData& data_;
    measure::SpectrumTap& tap_;
    std::uint64_t frames_;
    std::size_t pointNumber_;
    std::size_t pointCount_;
    bool tty_;
    bool progressShown_ = false;
    std::vector<int> channels_;
};

std::string RateLabel(const PlanPoint& point)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10g Hz, %s, %s mA", point.RateHz,
                  point.DataFormat == 0 ? "20-bit" : "24-bit",
                  point.CurrentSource == 0 ? "2.86" : "10");
    return text;
}

}  // namespace

std::uint64_t FramesOfPoint(const PlanPoint& point)
{
    return std::max<std::uint64_t>(point.Frames, CountOf(point.Channels));
}

RunOutcome MeasurePlan(const Plan& plan, const VerifyOptions& options, std::ostream& err)
{
    RunOutcome outcome;
    const auto fail = [&](int code) {
        outcome.ExitCode = code;
        return outcome;
    };
    if (!tool::LibrariesUsable(err)) {
        return fail(ExitNoDevice);
    }
    tool::MeasureSetup base;
    try {
        base = options.SettingsPath ? tool::ReadSetup(*options.SettingsPath) : tool::DefaultSetup();
    } catch (const tool::SetupError& e) {
        tool::Say(err) << e.what() << '\n';
        return fail(options.SettingsPath ? ExitUsage : ExitRunFailure);
    }

    std::optional<tool::RunStop> stop;
    try {
        stop.emplace(std::nullopt);
    } catch (const std::system_error& e) {
        tool::Say(err) << e.what() << '\n';
        return fail(ExitRunFailure);
    }

    // The module: the command line's, else the plan's, else the window's rule.
    tool::ToolOptions targetOptions;
    targetOptions.Crate = options.Crate ? options.Crate : plan.Crate;
    targetOptions.Slot = options.Slot ? options.Slot : plan.Slot;
    Ksn48Handle handle{};
    device::Detector detector(handle, device::LibraryCrateApi(), &stop->Flag());
    device::DeviceInventory inventory;
    const tool::ModuleChoice choice =
        tool::FindModule(detector, inventory, tool::TargetOf(targetOptions, base));
    if (choice.Stopped || stop->Requested()) {
        tool::Say(err) << "stopped before anything was measured\n";
        return fail(ExitRunFailure);
    }
    if (!choice.Opened()) {
        tool::SayLines(err, choice.Messages);
        return fail(ExitNoDevice);
    }
    const device::OpenedModule& module = choice.Module;
    tool::SayOpened(err, module, handle);
    ModuleInfo& info = outcome.Module;
    info.Serial = device::FixedText(handle.ModuleSerial);
    info.Name = module.ModuleName;
    info.Firmware = handle.FirmwareVersion;
    info.CrateSerial = module.CrateSerial;
    info.CrateModel = std::string(module.CrateTypeName);
    info.Slot = module.Slot;
    info.CrateLibraryVersion = VersionText(reinterpret_cast<const void*>(&KSN_Init));
    info.ModuleLibraryVersion = VersionText(reinterpret_cast<const void*>(&KSN48_Init));

    // Every point must fit the crate's link before the first is measured.
    for (std::size_t i = 0; i < plan.Points.size(); ++i) {
        const PlanPoint& point = plan.Points[i];
        const device::DataRateCheck check = device::CheckDataRate(
            static_cast<std::uint32_t>(CountOf(point.Channels)), point.RateHz, point.DataFormat,
            module.CrateType, module.CrateTypeName, module.ModuleName);
        if (!check.Passed) {
            tool::Say(err) << "point " << i + 1 << " (" << RateLabel(point)
                           << ") cannot be measured in this crate; nothing was measured:\n";
            tool::Say(err) << check.Message << '\n' << std::flush;
            detector.CloseModuleIfOpen();
            return fail(ExitRefused);
        }
    }

    for (std::size_t i = 0; i < plan.Points.size(); ++i) {
        PointData data;
        data.Point = plan.Points[i];
        data.CsvFile = "point-" + std::to_string(i + 1) + ".csv";
        const tool::ToolOptions pointOptions = OptionsOf(plan, data.Point);
        tool::MeasureSetup setup = base;
        tool::ApplyOptions(pointOptions, setup);
        const std::string path = (std::filesystem::path(options.OutDir) / data.CsvFile).string();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);

        std::optional<measure::ResultsWriter> writer;
        try {
            writer.emplace(tool::LayoutOf(pointOptions, setup), measure::ResultsFile::Append(path));
        } catch (const std::exception& e) {
            tool::Say(err) << e.what() << '\n';
            detector.CloseModuleIfOpen();
            return fail(ExitRunFailure);
        }
        tool::Say(err) << "point " << i + 1 << " of " << plan.Points.size() << ": "
                       << RateLabel(data.Point) << ", " << FramesOfPoint(data.Point)
                       << " frames into '" << path << "'\n"
                       << std::flush;

        measure::SpectrumTap tap;
        VerifyHost host(setup, *writer, *stop, FramesOfPoint(data.Point), err, data, tap, i + 1,
                        plan.Points.size());
        host.BeginCycle();
        bool escaped = false;
        int failure = 0;
        const char* failedCall = nullptr;
        {
            measure::MeasurementCycle cycle(host, handle, stop->Flag(), host.MessageShown);
            cycle.SetModuleNames(
                {module.CrateType, std::string(module.CrateTypeName), module.ModuleName});
            cycle.ComputeFigures(true);
            cycle.AttachSpectrum(&tap);
            stop->Arm(&cycle);
            try {
                cycle.RunMultimeter();
            } catch (const std::exception& e) {
                tool::Say(err) << e.what() << '\n';
                escaped = true;
            }
            stop->Arm(nullptr);
            failure = cycle.FirstFailure();
            failedCall = cycle.FirstFailedCall();
        }
        host.EndProgress();
        try {
            writer->Close();
        } catch (const std::exception& e) {
            tool::Say(err) << e.what() << '\n';
            escaped = true;
        }
        const bool complete = host.FramesWritten() >= FramesOfPoint(data.Point);
        outcome.Points.push_back(std::move(data));
        int code = ExitPass;
        if (!host.WriteError().empty()) {
            tool::Say(err) << host.WriteError() << '\n';
            code = ExitRunFailure;
        } else if (host.Refused()) {
            code = ExitRefused;
        } else if (escaped || host.Failed()) {
            if (failedCall != nullptr) {
                tool::Say(err) << failedCall << ": " << KSN_ErrorName(failure) << '\n';
            }
            code = ExitRunFailure;
        } else if (!complete || !stop->Rearm()) {
            tool::Say(err) << "interrupted at point " << i + 1
                           << "; the frames measured so far are kept, no report is made\n";
            code = ExitRunFailure;
        }
        if (code != ExitPass) {
            err << std::flush;
            detector.CloseModuleIfOpen();
            return fail(code);
        }
    }
    detector.CloseModuleIfOpen();
    return outcome;
}

}  // namespace verify
