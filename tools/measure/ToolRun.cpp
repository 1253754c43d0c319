#include "ToolRun.h"

#include "CrateTypes.h"
#include "MeasureSetup.h"
#include "MeasurementTexts.h"
#include "ResultsWriter.h"
#include "ToolHost.h"
#include "ToolTexts.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace tool {

namespace {

constexpr std::uint16_t MinFirmware = 9;
constexpr const char* StandardOutputName = "standard output";

std::ostream& Say(std::ostream& err)
{
    return err << ToolText::ProgramName << ": ";
}

// The stop flag a signal sets; lock-free, so a handler may store into it.
std::atomic<std::atomic<bool>*> signalledStop{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

extern "C" void StopOnSignal(int)
{
    if (std::atomic<bool>* stop = signalledStop.load()) {
        stop->store(true);
    }
}

// SIGINT and SIGTERM set the run's stop flag while the object lives; the
// handler goes after the first, so that a second signal ends the program at
// once. Library calls under way are restarted, not broken off.
class StopOnSignals {
public:
    explicit StopOnSignals(std::atomic<bool>& stop)
    {
        signalledStop = &stop;
        struct sigaction action {};
        action.sa_handler = &StopOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopOnSignals()
    {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        signalledStop = nullptr;
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// Sets the stop flag when the duration has passed.
class StopAfter {
public:
    StopAfter(std::atomic<bool>& stop, std::optional<double> seconds)
    {
        if (!seconds) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(*seconds));
        watcher_ = std::thread([this, &stop, deadline] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, deadline, [this] { return done_; })) {
                stop = true;
            }
        });
    }
    ~StopAfter()
    {
        if (watcher_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                done_ = true;
            }
            wake_.notify_all();
            watcher_.join();
        }
    }
    StopAfter(const StopAfter&) = delete;
    StopAfter& operator=(const StopAfter&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread watcher_;
};

// The first failed call of the module library in the run, for the line
// under the window's message that names the library's reason. One run per
// process: the calls are plain functions, so this lives beside them.
struct ModuleFailure {
    std::atomic<const char*> Call{nullptr};
    std::atomic<int> Result{0};
};
ModuleFailure firstFailure;

int Noted(const char* call, int result)
{
    const char* none = nullptr;
    if (result < 0 && firstFailure.Call.compare_exchange_strong(none, call)) {
        firstFailure.Result = result;
    }
    return result;
}

// The library's calls, each noting a failure.
measure::ModuleApi NotingModuleApi()
{
    measure::ModuleApi api;
    api.SetADC = [](Ksn48Handle* h) { return Noted("KSN48_SetADC", KSN48_SetADC(h)); };
    api.Start = [](Ksn48Handle* h) { return Noted("KSN48_Start", KSN48_Start(h)); };
    api.Stop = [](Ksn48Handle* h) { return Noted("KSN48_Stop", KSN48_Stop(h)); };
    api.Recv = [](Ksn48Handle* h, std::uint32_t* words, std::uint32_t* marks, std::uint32_t count,
                  std::uint32_t timeout) {
        return Noted("KSN48_Recv", KSN48_Recv(h, words, marks, count, timeout));
    };
    api.ProcessData = [](Ksn48Handle* h, const std::uint32_t* words, double* samples,
                         std::uint32_t* size, std::uint32_t flags, std::int32_t status[8]) {
        return Noted("KSN48_ProcessData",
                     KSN48_ProcessData(h, words, samples, size, flags, status));
    };
    return api;
}

struct NamedModule {
    std::uint8_t CrateType = 0;
    int ExitCode = ExitDone;
};

// Opens the module in slot of the crate serial; the crate's type code for
// the data-rate budget comes from the crate API.
NamedModule OpenNamedModule(const std::string& serial, int slot, Ksn48Handle& handle,
                            std::ostream& err)
{
    NamedModule result;
    KsnCrateLink link{};
    KSN_Init(&link);
    link.Channel = 0;
    std::strncpy(link.CrateSerial, serial.c_str(), sizeof link.CrateSerial - 1);
    link.CrateSerial[sizeof link.CrateSerial - 1] = '\0';
    int status = KSN_Open(&link);
    KsnCrateInfo info{};
    if (status == KSN_OK) {
        status = KSN_GetCrateInfo(&link, &info);
        KSN_Close(&link);
    }
    if (status != KSN_OK) {
        Say(err) << (status == KSN_ERR_NOT_FOUND ? ToolText::CrateOpenFailed : ToolText::NoCrate)
                 << '\n';
        Say(err) << "crate " << serial << ": " << KSN_ErrorName(status) << '\n';
        result.ExitCode = ExitNoDevice;
        return result;
    }
    result.CrateType = info.CrateType;

    KSN48_Init(&handle);
    status = KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, serial.c_str(), slot);
    if (status != KSN_OK) {
        Say(err) << ToolText::ModuleOpenFailed << '\n';
        Say(err) << "crate " << serial << ", slot " << slot << ": " << KSN_ErrorName(status)
                 << '\n';
        result.ExitCode = ExitNoDevice;
        return result;
    }
    if (handle.FirmwareVersion < MinFirmware) {
        Say(err) << ToolText::FirmwareTooOld << '\n';
    }
    return result;
}

measure::ResultsLayout LayoutOf(const ToolOptions& options, const MeasureSetup& setup)
{
    measure::ResultsLayout layout;
    layout.Channels = setup.Choice.ChannelTicked;
    layout.Syntax = options.Format;
    layout.Display = options.Display;
    layout.VoltageFormat = setup.AcFormat;
    layout.FrequencyFormat = setup.FrFormat;
    layout.PhaseFormat = setup.PhFormat;
    layout.FrequencyFormatAbove100 = MeasurementText::FrequencyFormatAbove100;
    layout.FrequencyFormatAbove1000 = MeasurementText::FrequencyFormatAbove1000;
    return layout;
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

int RunMeasurement(const ToolOptions& options, std::ostream& err)
{
    if (options.List) {
        Say(err) << ToolText::ListNotAvailable << '\n';
        return ExitUsage;
    }
    if (options.Reconnect) {
        Say(err) << ToolText::ReconnectNotAvailable << '\n';
        return ExitUsage;
    }
    if (!options.Crate || !options.Slot) {
        Say(err) << ToolText::AutomaticPickNotAvailable << '\n';
        return ExitUsage;
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

    Ksn48Handle handle{};
    const NamedModule module = OpenNamedModule(*options.Crate, *options.Slot, handle, err);
    if (module.ExitCode != ExitDone) {
        dropEmptyFile();
        return module.ExitCode;
    }

    ToolHost host(setup, *writer, options.Frames, err);
    int exitCode = ExitDone;
    {
        StopOnSignals signals(host.Terminated);
        StopAfter duration(host.Terminated, options.Duration);
        measure::MeasurementCycle cycle(host, handle, host.Terminated, host.MessageShown,
                                        NotingModuleApi());
        cycle.CrateTypeCode = module.CrateType;
        cycle.CrateTypeName = device::CrateTypeName(module.CrateType);
        cycle.ModuleName = handle.ModuleName;
        try {
            cycle.RunMultimeter();
        } catch (const std::exception& e) {
            Say(err) << e.what() << '\n';
            exitCode = ExitRunFailure;
        }
    }
    if (KSN48_IsOpened(&handle) == KSN_OK) {
        KSN48_Close(&handle);
    }

    if (!host.WriteError().empty()) {
        Say(err) << host.WriteError() << '\n';
        exitCode = ExitRunFailure;
    } else if (host.Refused()) {
        exitCode = ExitRefused;
    } else if (host.Failed()) {
        if (const char* call = firstFailure.Call.load()) {
            Say(err) << call << ": " << KSN_ErrorName(firstFailure.Result.load()) << '\n';
        }
        exitCode = ExitRunFailure;
    }
    try {
        writer->Close();
    } catch (const measure::ResultsFileError& e) {
        Say(err) << e.what() << '\n';
        exitCode = ExitRunFailure;
    }
    dropEmptyFile();
    const std::uint64_t rows = writer->RowsWritten();
    Say(err) << rows << (rows == 1 ? " frame" : " frames") << " written to "
             << (options.Output ? "'" + *options.Output + "'" : std::string(StandardOutputName))
             << '\n';
    return exitCode;
}

}  // namespace tool
