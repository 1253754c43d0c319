#pragma once

#include "ChannelEstimator.h"
#include "FrameReadings.h"
#include "RunConfiguration.h"
#include "SineFit.h"
#include "SpectrumFigures.h"
#include "SpectrumTap.h"
#include "TwoLaneEstimation.h"
#include "ksn48api.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace measure {

// The module library calls the cycle makes. The library's own by default;
// tests put stand-ins here.
struct ModuleApi {
    int (*SetADC)(Ksn48Handle*) = nullptr;
    int (*Start)(Ksn48Handle*) = nullptr;
    int (*Stop)(Ksn48Handle*) = nullptr;
    int (*Recv)(Ksn48Handle*, std::uint32_t*, std::uint32_t*, std::uint32_t,
                std::uint32_t) = nullptr;
    int (*ProcessData)(Ksn48Handle*, const std::uint32_t*, double*, std::uint32_t*, std::uint32_t,
                       std::int32_t[KSN48_CHANNEL_COUNT]) = nullptr;
    // Called from another thread: cuts short the receive the run waits in.
    int (*CancelRecv)(Ksn48Handle*) = nullptr;
    // Called from another thread: cuts short whatever call the run waits in,
    // and the run's later calls; taken instead of CancelRecv when set.
    // ClearCancel ends it at the start of a run.
    int (*Cancel)(Ksn48Handle*) = nullptr;
    int (*ClearCancel)(Ksn48Handle*) = nullptr;
};

ModuleApi LibraryModuleApi() noexcept;

class MeasurementCycle;

// The window side of a run. Synchronize and Pause are called on the worker;
// every other member runs on the window's thread (inside Synchronize, or
// directly when the cycle's step already runs there).
class MeasurementHost {
public:
    virtual ~MeasurementHost() = default;

    // Runs step on the window's thread and returns when it is done.
    virtual void Synchronize(const std::function<void()>& step) = 0;
    virtual void Pause(unsigned ms) = 0;
    // A module library call of a step that runs on the window's thread (the
    // configuration's stop and KSN48_SetADC): makes it and returns its
    // result. A window front end keeps serving its events while the call
    // waits for the server; by default the call is simply made.
    virtual int ModuleCall(const std::function<int()>& call) { return call(); }

    // Start button to "stop", panels emptied; fills the run's settings.
    virtual void ShowMeasurementStarted(MeasurementSettings& settings) = 0;
    virtual AdcChoice ReadAdcChoice() = 0;
    // The window's live inputs for the frame about to be shown: inputs hold
    // the ones in force, the host changes what the window has changed. Called
    // once per frame, just before ShowResults; by default nothing changes.
    virtual void ReadFrameInputs(FrameInputs& inputs) { static_cast<void>(inputs); }
    // The frame's results and, 100 ms later, the panels' LEDs.
    virtual void ShowResults(const MeasurementCycle& cycle) = 0;
    virtual void ShowChannelLeds(const MeasurementCycle& cycle) = 0;
    // Start button back, the window's idle flag set.
    virtual void ShowMeasurementStopped() = 0;
    // Shows text unless a message of this run was shown already; marks the
    // run's message as shown.
    virtual void ShowThreadMessage(std::string_view text) = 0;
};

// One measurement run without any window: configure the module's ADC, size
// and allocate the buffers once, then acquire, convert, estimate and publish
// frame after frame until the stop flag or the first message. Buffers live
// from PrepareMeasurement to the end of RunMultimeter (or the destructor), so
// the frame loop allocates nothing.
class MeasurementCycle : private TwoLaneEstimation::Work {
public:
    MeasurementCycle(MeasurementHost& host, Ksn48Handle& handle, const StopFlag& terminated,
                     const std::atomic<bool>& messageShown, ModuleApi api = LibraryModuleApi());
    ~MeasurementCycle();
    MeasurementCycle(const MeasurementCycle&) = delete;
    MeasurementCycle& operator=(const MeasurementCycle&) = delete;

    // The whole run; returns when it is over, with the module stopped, the
    // buffers freed and ShowMeasurementStopped done.
    void RunMultimeter();

    // The steps of a run, public for the window's side and for tests.
    void PrepareMeasurement();
    // Window's thread.
    void ShowMeasurementStarted();
    void ConfigureAdc();
    void ShowMeasurementStopped();
    // Allocates the buffers and builds the window for the sized frame; false
    // after a message or when stopped.
    bool PrepareBuffers();
    bool AcquireFrame(std::uint32_t* buffer, std::uint32_t total);
    // Converts the frame in RcvBuffer() and estimates every enabled channel
    // with a valid status; false after a message or when stopped.
    bool ProcessFrame();
    std::uint32_t* RcvBuffer() noexcept { return rcvBuffer_.get(); }
    std::uint32_t WordsPerFrame() const noexcept;
    bool ConvertFrame(const std::uint32_t* source, double* destination, std::uint32_t words);
    // Frees the buffers and the estimator; safe to call again.
    void FreeBuffers() noexcept;

    // Any thread, after the stop flag is set: a receive the run waits in
    // returns at once, and the run ends without a message. With the module
    // library's Cancel, so does any other module call of the run.
    void CancelReceive() noexcept;

    // The result of the run's first failed module library call, 0 while
    // none failed; a receive cut short by a stop is no failure.
    int FirstFailure() const noexcept { return firstFailure_; }
    // Its name ("KSN48_Recv", ...), null while none failed.
    const char* FirstFailedCall() const noexcept { return firstFailedCall_; }
    // The run ended because the link to the module was lost (server gone,
    // connection dropped, no answer, a reply that makes no sense): the
    // module must be opened again before it can measure.
    bool LinkLost() const noexcept;

    bool Terminated() const noexcept { return terminated_.load(std::memory_order_relaxed); }
    bool MessageShown() const noexcept { return messageShown_.load(); }
    const Ksn48Handle& Handle() const noexcept { return handle_; }

    // Status of physical channel c in the last frame (KSN48_STATUS_*, or -1
    // when the conversion gave none); -1 for a channel that is not enabled.
    std::int32_t StatusOf(std::size_t c) const noexcept
    {
        return c < MeasurementChannelCount ? readings_.Status[c] : -1;
    }
    // Whether physical channel c read a tone in the last frame.
    bool ReadsTone(std::size_t c) const noexcept { return readings_.ReadsTone(c); }

    // Set before the run. With "fft", the distortion and noise figures of
    // every channel with a reading come after its estimate, from the same
    // spectrum (Figures).
    void ComputeFigures(bool on) noexcept { figuresWanted_ = on; }
    // Set before the run, or null: the plot of one channel's spectrum, which
    // the cycle sizes with its buffers and fills after that channel's
    // estimate; it must outlive the cycle (the cycle frees its buffers). Its request may change
    // between frames (in ShowResults). The tap's channel also gets its Figures.
    void AttachSpectrum(SpectrumTap* tap) noexcept { spectrumTap_ = tap; }
    SpectrumTap* Spectrum() const noexcept { return spectrumTap_; }

    // Set before the run: the crate and module named in the data-rate refusal.
    void SetModuleNames(ModuleNames names) { config_.Module = std::move(names); }
    // A run set up without ConfigureAdc (the module's ADC already set, the
    // handle's channels enabled as config's FramePosition says): takes config
    // (all but its Module) and sizes the frame as ConfigureAdc's end does;
    // the first frame is converted with phaseCorrection.
    void Configure(const RunConfiguration& config, bool phaseCorrection = true);

    // The run's configuration; fixed once ConfigureAdc is done.
    const RunConfiguration& Config() const noexcept { return config_; }
    // The last frame's readings, per physical channel.
    const FrameReadings& Readings() const noexcept { return readings_; }

    // Whether every buffer is gone (tests).
    bool BuffersFreed() const noexcept;
    // Frames shown so far in this run; read from any thread.
    std::uint64_t FramesShown() const noexcept
    {
        return framesShown_.load(std::memory_order_relaxed);
    }

private:
    bool ShouldStop() const noexcept
    {
        return Terminated() || MessageShown() || cutShort_.load(std::memory_order_relaxed);
    }
    // A failed call that a stop request cut short (or that failed as the
    // stop came) is no failure to report: true for one, and the run ends
    // without a message.
    bool StoppedBy(int result) noexcept;
    // Notes a failed library call and its result for FirstFailure; returns
    // the result.
    int Noted(const char* call, int result) noexcept;
    // From the worker: the message through the window's thread.
    void Show(std::string_view text);
    void FrameLoop();
    // The method and amplitude from the settings' texts, then the frame
    // length and receive block (the end of ConfigureAdc and of Configure).
    void SizeFrame();
    // The frame's inputs from the host, just before it is shown.
    void TakeFrameInputs();
    void EstimateChannels();
    // TwoLaneEstimation::Work: the frame's samples of the valid channels,
    // channel after channel, and the estimates of every lanes-th of them.
    void Split(std::uint32_t part, std::uint32_t parts) noexcept override;
    void Estimate(EstimationLane& lane, std::uint32_t index, std::uint32_t lanes) noexcept override;
    // True when the split applies the window ("fft" with several channels).
    bool SplitWindows() const noexcept;
    double* ChannelSamples(std::size_t c) noexcept;
    // Whether a sample of count values from `from` (every stride-th) sits at
    // full scale.
    bool ReachesFullScale(const double* from, std::size_t stride,
                          std::uint32_t count) const noexcept;
    bool Allocate();
    void StopAtEnd();
    // After an Ok estimate of channel c on lane: its figures and plot, when asked for.
    void TakeSpectrum(EstimationLane& lane, std::size_t c, double centre) noexcept;
    // After an Ok "fft" estimate of channel c: the frame's noise and side tones.
    void TakeNoise(EstimationLane& lane, std::size_t c, double centre) noexcept;
    // After every channel's estimate: the sine fit ("fit"), then every
    // reading's uncertainty.
    void RefineByFit() noexcept;
    void TakeUncertainties() noexcept;

    MeasurementHost& host_;
    RunConfiguration config_;
    FrameReadings readings_;
    // The inputs in force; the phase correction applies to the next frame.
    FrameInputs inputs_;
    // The module's statuses in frame order, as the conversion gives them.
    std::array<std::int32_t, MeasurementChannelCount> frameStatus_{};
    Ksn48Handle& handle_;
    const StopFlag& terminated_;
    const std::atomic<bool>& messageShown_;
    ModuleApi api_;
    std::string_view pendingMessage_;
    std::atomic<bool> cutShort_{false};
    int firstFailure_ = 0;
    const char* firstFailedCall_ = nullptr;
    bool figuresWanted_ = false;
    SpectrumTap* spectrumTap_ = nullptr;
    // Written by the worker, read by the window's thread and tests.
    std::atomic<std::uint64_t> framesShown_{0};

    std::unique_ptr<std::uint32_t[]> rcvBuffer_;
    std::unique_ptr<double[]> data_;
    std::unique_ptr<double[]> dataPerChannel_;
    std::unique_ptr<double[]> window_;
    std::unique_ptr<double[]> fftAdcDataPerChannel_;
    std::unique_ptr<double[]> amplitudeSpectr_;
    std::unique_ptr<double[]> phaseSpectr_;
    std::unique_ptr<ChannelEstimator> estimator_;
    // The smallest and largest value a converted sample can take: a clipped
    // input reads one of them.
    double fullScaleLow_ = 0.0;
    double fullScaleHigh_ = 0.0;

    // The enabled channels whose status in the frame is valid, in order.
    std::array<std::size_t, MeasurementChannelCount> validChannels_{};
    std::size_t validCount_ = 0;
    // Per lane: the channels whose part of the frame reached full scale, and
    // whether an estimate found no signal.
    std::array<std::array<bool, MeasurementChannelCount>, 2> clipped_{};
    std::array<bool, 2> noSignal_{};
    // Per physical channel: the frame's noise and side tones, the tone's
    // peak amplitude as estimated, and whether the fit refined it.
    std::array<FrameNoise, MeasurementChannelCount> noise_{};
    std::array<double, MeasurementChannelCount> peak_{};
    std::array<bool, MeasurementChannelCount> fitted_{};
    std::array<double, MeasurementChannelCount> centre_{};
    // The frequency's variance (radians per sample, squared) of each channel's
    // group with "fit".
    std::array<double, MeasurementChannelCount> omegaVariance_{};
    double voltageSpreadFactor_ = 1.0;
    TwoLaneEstimation lanes_{*this};
};

// N for the "fft" method: the smallest power of two that covers maxTime at
// rate, capped so that N x channels stays within 16 777 216 / channels.
std::uint32_t FftFrameLength(double maxTime, double rate, std::uint32_t channels) noexcept;
// N for the "sum" method: maxTime x rate, truncated, at least 1, and capped
// so that a frame of N x wordsPerTick words (the enabled channels times the
// words of a sample) stays within 32 bits.
std::uint32_t SumFrameLength(double maxTime, double rate, std::uint32_t wordsPerTick = 1) noexcept;

// The largest and the smallest value the module's conversion gives for the
// data format (0 = 20-bit, 1 = 24-bit): the codes at the ends of the +-5 V
// range. A sample that reads one of them was clipped.
double FullScaleHigh(std::uint8_t dataFormat) noexcept;
double FullScaleLow(std::uint8_t dataFormat) noexcept;

}  // namespace measure
