#include "MeasurementCycle.h"

#include "AdcRates.h"
#include "DataRateBudget.h"
#include "Detection.h"
#include "MeasurementTexts.h"
#include "RawWord.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numbers>

namespace measure {

namespace {

constexpr std::uint32_t RecvTimeoutMs = 5000;
constexpr std::uint64_t FftSampleCap = 16777216;
constexpr int MaxDoublings = 32;
constexpr std::uint32_t SpareElements = 16;

constexpr unsigned PauseAfterStepMs = 50;
constexpr unsigned PauseMs = 100;

template <typename T>
std::unique_ptr<T[]> TryAllocate(std::uint64_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

}  // namespace

ModuleApi LibraryModuleApi() noexcept
{
    ModuleApi api;
    api.SetADC = &KSN48_SetADC;
    api.Start = &KSN48_Start;
    api.Stop = &KSN48_Stop;
    api.Recv = &KSN48_Recv;
    api.ProcessData = &KSN48_ProcessData;
    api.CancelRecv = &KSN48_CancelRecv;
    api.Cancel = &KSN48_Cancel;
    api.ClearCancel = &KSN48_ClearCancel;
    return api;
}

std::uint32_t FftFrameLength(double maxTime, double rate, std::uint32_t channels) noexcept
{
    if (channels == 0) {
        return 1;
    }
    const std::uint64_t cap = FftSampleCap / channels;
    std::uint64_t n = 1;
    for (int i = 0; i < MaxDoublings; ++i) {
        if (n * channels >= cap || static_cast<double>(n) / rate >= maxTime) {
            break;
        }
        n *= 2;
    }
    return static_cast<std::uint32_t>(n);
}

std::uint32_t SumFrameLength(double maxTime, double rate, std::uint32_t wordsPerTick) noexcept
{
    const double n = std::trunc(maxTime * rate);
    if (!(n >= 1.0)) {
        return 1;  // a frame of at least one sample, also for a NaN time
    }
    // The frame's word count goes to the module library as 32 bits.
    const std::uint32_t cap =
        std::numeric_limits<std::uint32_t>::max() / std::max(wordsPerTick, 1u);
    return static_cast<std::uint32_t>(std::min(n, static_cast<double>(cap)));
}

double FullScaleHigh(std::uint8_t dataFormat) noexcept
{
    const bool is24 = dataFormat != 0;
    return ksn::raw::ToVolts(is24 ? ksn::raw::kMax24 : ksn::raw::kMax20, is24);
}

double FullScaleLow(std::uint8_t dataFormat) noexcept
{
    const bool is24 = dataFormat != 0;
    return ksn::raw::ToVolts(is24 ? -ksn::raw::kMax24 - 1 : -ksn::raw::kMax20 - 1, is24);
}

MeasurementCycle::MeasurementCycle(MeasurementHost& host, Ksn48Handle& handle,
                                   const StopFlag& terminated,
                                   const std::atomic<bool>& messageShown, ModuleApi api)
    : host_(host), handle_(handle), terminated_(terminated), messageShown_(messageShown), api_(api)
{}

MeasurementCycle::~MeasurementCycle()
{
    FreeBuffers();
}

int MeasurementCycle::Noted(const char* call, int result) noexcept
{
    if (result < 0 && result != KSN_ERR_CANCELLED && firstFailure_ == 0) {
        firstFailure_ = result;
        firstFailedCall_ = call;
    }
    return result;
}

bool MeasurementCycle::StoppedBy(int result) noexcept
{
    if (result != KSN_ERR_CANCELLED && !Terminated()) {
        return false;
    }
    cutShort_ = true;
    return true;
}

bool MeasurementCycle::LinkLost() const noexcept
{
    return device::IsLinkFault(firstFailure_);
}

void MeasurementCycle::Show(std::string_view text)
{
    if (MessageShown()) {
        return;
    }
    pendingMessage_ = text;
    host_.Synchronize([this] { host_.ShowThreadMessage(pendingMessage_); });
}

void MeasurementCycle::RunMultimeter()
{
    // A cancel of the last run is over; a stop request from now on is seen
    // by the flag or cuts the call short.
    cutShort_ = false;
    if (api_.ClearCancel != nullptr) {
        api_.ClearCancel(&handle_);
    }
    try {
        PrepareMeasurement();
        host_.Pause(PauseMs);
        FrameLoop();
    } catch (...) {
        Show(MeasurementText::CycleException);
    }
    try {
        StopAtEnd();
        host_.Pause(PauseMs);
        host_.Synchronize([this] { ShowMeasurementStopped(); });
    } catch (...) {
        // The window is gone or failed while restoring itself; the buffers
        // still go.
        FreeBuffers();
        throw;
    }
}

void MeasurementCycle::StopAtEnd()
{
    if (handle_.AcquisitionRunning == 0) {
        return;
    }
    const int r = Noted("KSN48_Stop", api_.Stop(&handle_));
    if (r != 0 && !StoppedBy(r)) {
        Show(MeasurementText::FinalStopBad);
    }
}

void MeasurementCycle::PrepareMeasurement()
{
    host_.Synchronize([this] { ShowMeasurementStarted(); });
    if (ShouldStop()) {
        return;
    }
    host_.Pause(PauseAfterStepMs);
    host_.Synchronize([this] { ConfigureAdc(); });
    if (ShouldStop()) {
        return;
    }
    host_.Pause(PauseAfterStepMs);
    PrepareBuffers();
}

bool MeasurementCycle::PrepareBuffers()
{
    if (!Allocate()) {
        return false;
    }
    const StopFlag* stop = &terminated_;
    estimator_ = std::make_unique<ChannelEstimator>(
        config_.Method, config_.Amplitude, config_.SamplesPerChannel, config_.AdcRate, stop);
    // The one window of the run; both lanes read it.
    if (!estimator_->BuildWindow(window_.get()) || ShouldStop()) {
        return false;
    }
    voltageSpreadFactor_ = config_.Method == CalcMethod::Fft
                               ? FftVoltageSpreadFactor(window_.get(), config_.SamplesPerChannel)
                               : 1.0;
    fullScaleLow_ = FullScaleLow(handle_.DataFormat);
    fullScaleHigh_ = FullScaleHigh(handle_.DataFormat);
    lanes_.SetFirstLane({estimator_.get(),
                         {nullptr, window_.get(), fftAdcDataPerChannel_.get(),
                          amplitudeSpectr_.get(), phaseSpectr_.get()}});
    if (config_.ActiveChannelCount < 2) {
        return true;
    }
    switch (lanes_.StartSecondLane(stop)) {
    case TwoLaneEstimation::Shortage::None:
        return true;
    case TwoLaneEstimation::Shortage::Spectrum:
        Show(MeasurementText::NoFftData);
        break;
    case TwoLaneEstimation::Shortage::Amplitudes:
        Show(MeasurementText::NoAmplitudeSpectr);
        break;
    case TwoLaneEstimation::Shortage::Phases:
        Show(MeasurementText::NoPhaseSpectr);
        break;
    }
    return false;
}

std::uint32_t MeasurementCycle::WordsPerFrame() const noexcept
{
    return (handle_.DataFormat != 0 ? 2u : 1u) * config_.FrameSampleCount;
}

bool MeasurementCycle::Allocate()
{
    const std::uint64_t n = config_.SamplesPerChannel;
    const auto fail = [this](std::string_view text) {
        Show(text);
        return false;
    };
    if (n == 0 || config_.FrameSampleCount == 0) {
        return fail(MeasurementText::NoRcvBuffer);
    }
    if (!(rcvBuffer_ = TryAllocate<std::uint32_t>(WordsPerFrame()))) {
        return fail(MeasurementText::NoRcvBuffer);
    }
    if (!(data_ = TryAllocate<double>(config_.FrameSampleCount))) {
        return fail(MeasurementText::NoData);
    }
    // The channels' samples one after the other; a single channel is read in
    // place in Data.
    const std::uint64_t perChannel =
        config_.ActiveChannelCount > 1 ? n * config_.ActiveChannelCount : 0;
    if (!(dataPerChannel_ = TryAllocate<double>(perChannel + SpareElements))) {
        return fail(MeasurementText::NoDataPerChannel);
    }
    if (!(window_ = TryAllocate<double>(n + SpareElements))) {
        return fail(MeasurementText::NoWindow);
    }
    std::fill_n(window_.get(), n, 0.0);
    if (config_.Method == CalcMethod::Fft) {
        if (!(fftAdcDataPerChannel_ = TryAllocate<double>(n + SpareElements))) {
            return fail(MeasurementText::NoFftData);
        }
        if (!(amplitudeSpectr_ = TryAllocate<double>(n / 2 + SpareElements))) {
            return fail(MeasurementText::NoAmplitudeSpectr);
        }
        if (!(phaseSpectr_ = TryAllocate<double>(n / 2 + SpareElements))) {
            return fail(MeasurementText::NoPhaseSpectr);
        }
        // Nothing writes the last bin; the phase step may read it.
        amplitudeSpectr_[n / 2] = 0.0;
        phaseSpectr_[n / 2] = 0.0;
        if (spectrumTap_ != nullptr && !spectrumTap_->Allocate(config_.SamplesPerChannel)) {
            return fail(MeasurementText::NoSpectrumPlot);
        }
    }
    return true;
}

void MeasurementCycle::FreeBuffers() noexcept
{
    lanes_.Stop();
    rcvBuffer_.reset();
    data_.reset();
    dataPerChannel_.reset();
    window_.reset();
    fftAdcDataPerChannel_.reset();
    amplitudeSpectr_.reset();
    phaseSpectr_.reset();
    estimator_.reset();
    if (spectrumTap_ != nullptr) {
        spectrumTap_->Free();
    }
}

bool MeasurementCycle::BuffersFreed() const noexcept
{
    return !rcvBuffer_ && !data_ && !dataPerChannel_ && !window_ && !fftAdcDataPerChannel_ &&
           !amplitudeSpectr_ && !phaseSpectr_ && !estimator_ && lanes_.Released() &&
           (spectrumTap_ == nullptr || !spectrumTap_->Allocated());
}

void MeasurementCycle::ShowMeasurementStarted()
{
    host_.ShowMeasurementStarted(config_.Settings);
    inputs_.PhaseCorrection = true;
}

void MeasurementCycle::ShowMeasurementStopped()
{
    FreeBuffers();
    host_.ShowMeasurementStopped();
}

void MeasurementCycle::ConfigureAdc()
{
    if (handle_.AcquisitionRunning != 0) {
        const int r =
            Noted("KSN48_Stop", host_.ModuleCall([this] { return api_.Stop(&handle_); }));
        if (r != 0) {
            if (!StoppedBy(r)) {
                host_.ShowThreadMessage(MeasurementText::StopBad);
            }
            return;
        }
    }
    const AdcChoice choice = host_.ReadAdcChoice();
    config_.FramePosition.fill(-1);
    config_.ActiveChannelCount = 0;
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        if (choice.ChannelTicked[c]) {
            handle_.Channel[c].ChannelEnabled = 1;
            config_.FramePosition[c] = static_cast<std::int16_t>(config_.ActiveChannelCount++);
        } else {
            handle_.Channel[c].ChannelEnabled = 0;
        }
    }
    handle_.DataFormat = config_.Settings.DataFormat;
    handle_.CurrentSource = config_.Settings.CurrentSource;

    if (config_.ActiveChannelCount == 0) {
        host_.ShowThreadMessage(MeasurementText::NoActiveChannel);
        return;
    }
    if (choice.ReferenceChannel >= MeasurementChannelCount ||
        !choice.ChannelTicked[choice.ReferenceChannel]) {
        host_.ShowThreadMessage(MeasurementText::ReferenceNotActive);
        return;
    }
    config_.ReferenceChannel = choice.ReferenceChannel;
    inputs_.ReferenceChannel = choice.ReferenceChannel;
    readings_.ReferenceChannel = choice.ReferenceChannel;
    const device::AdcRateEntry* rate = device::FindAdcRate(choice.RateIndex);
    if (rate == nullptr) {
        // Nothing chosen in the rate list: say so rather than try the module.
        host_.ShowThreadMessage(MeasurementText::NoRateChosen);
        return;
    }
    handle_.RateCode = rate->RateCode;
    config_.AdcRate = rate->Frequency;

    const device::DataRateCheck check = device::CheckDataRate(
        config_.ActiveChannelCount, config_.AdcRate, config_.Settings.DataFormat,
        config_.Module.CrateTypeCode, config_.Module.CrateTypeName, config_.Module.ModuleName);
    if (!check.Passed) {
        host_.ShowThreadMessage(check.Message);
        return;
    }
    // A stop requested while the step ran is not sent to the module first.
    if (Terminated()) {
        return;
    }
    if (const int r =
            Noted("KSN48_SetADC", host_.ModuleCall([this] { return api_.SetADC(&handle_); }));
        r != 0) {
        if (!StoppedBy(r)) {
            host_.ShowThreadMessage(MeasurementText::SetAdcBad);
        }
        return;
    }

    SizeFrame();
}

void MeasurementCycle::SizeFrame()
{
    // The one place the settings' texts are read.
    const RunMethod& method = RunMethodFromText(config_.Settings.CalcMethod);
    config_.Method = method.Estimate;
    config_.SineFit = method.SineFit;
    config_.MethodText = method.Text;
    config_.Settings.CalcMethod = method.Text;
    config_.Amplitude = AmplitudeTypeFromText(config_.Settings.AmplitudeType);
    config_.ReceiveBlockSize =
        static_cast<std::uint32_t>(0.1 * config_.AdcRate * config_.ActiveChannelCount);
    if (config_.Method == CalcMethod::Fft) {
        config_.SamplesPerChannel = FftFrameLength(config_.Settings.MaxAcquisitionTime,
                                                   config_.AdcRate, config_.ActiveChannelCount);
    } else {
        const std::uint32_t wordsPerSample = handle_.DataFormat != 0 ? 2 : 1;
        config_.SamplesPerChannel =
            SumFrameLength(config_.Settings.MaxAcquisitionTime, config_.AdcRate,
                           wordsPerSample * std::max(config_.ActiveChannelCount, 1u));
    }
    config_.FrameSampleCount = config_.SamplesPerChannel * config_.ActiveChannelCount;
    config_.ReceiveBlockSize =
        std::max<std::uint32_t>(1, std::min(config_.ReceiveBlockSize, config_.FrameSampleCount));
}

void MeasurementCycle::Configure(const RunConfiguration& config, bool phaseCorrection)
{
    ModuleNames names = std::move(config_.Module);
    config_ = config;
    config_.Module = std::move(names);
    inputs_.PhaseCorrection = phaseCorrection;
    inputs_.ReferenceChannel = config_.ReferenceChannel;
    readings_.ReferenceChannel = config_.ReferenceChannel;
    SizeFrame();
}

bool MeasurementCycle::AcquireFrame(std::uint32_t* buffer, std::uint32_t total)
{
    bool loopError = false;
    if (const int r = Noted("KSN48_Start", api_.Start(&handle_)); r != 0) {
        if (!StoppedBy(r)) {
            Show(MeasurementText::StartBad);
        }
        loopError = true;
    } else {
        std::uint32_t received = 0;
        std::uint32_t block = std::min(config_.ReceiveBlockSize, total);
        std::uint32_t* position = buffer;
        for (;;) {
            // A stop requested while the module started may have had its
            // cancel cleared by that start: look before waiting.
            if (Terminated()) {
                break;
            }
            const int got =
                Noted("KSN48_Recv", api_.Recv(&handle_, position, nullptr, block, RecvTimeoutMs));
            if (got == KSN_ERR_CANCELLED) {
                loopError = true;  // a stop request: no message
                break;
            }
            if (got < 0) {
                if (!StoppedBy(got)) {
                    Show(MeasurementText::RecvFailed);
                }
                loopError = true;
                break;
            }
            if (got == 0) {
                Show(MeasurementText::RecvNothing);
                loopError = true;
                break;
            }
            if (static_cast<std::uint32_t>(got) != block) {
                Show(MeasurementText::RecvWrongCount);
                loopError = true;
                break;
            }
            received += block;
            if (received >= total) {
                break;
            }
            position += block;
            block = std::min(block, total - received);
            if (Terminated()) {
                break;
            }
        }
        if (handle_.AcquisitionRunning != 0) {
            const int stopped = Noted("KSN48_Stop", api_.Stop(&handle_));
            if (stopped != 0 && !StoppedBy(stopped)) {
                Show(MeasurementText::FrameStopBad);
            }
        } else if (loopError || Terminated()) {
            return false;
        }
    }
    return !loopError && !ShouldStop();
}

void MeasurementCycle::CancelReceive() noexcept
{
    if (api_.Cancel != nullptr) {
        api_.Cancel(&handle_);
    } else if (api_.CancelRecv != nullptr) {
        api_.CancelRecv(&handle_);
    }
}

bool MeasurementCycle::ConvertFrame(const std::uint32_t* source, double* destination,
                                    std::uint32_t words)
{
    frameStatus_.fill(-1);
    std::uint32_t size = words;
    std::uint32_t flags = KSN48_FLAG_CONVERT;
    if (inputs_.PhaseCorrection) {
        flags |= KSN48_FLAG_PHASE_CORRECTION;
    }
    const int converted =
        Noted("KSN48_ProcessData",
              api_.ProcessData(&handle_, source, destination, &size, flags, frameStatus_.data()));
    // The module gives its statuses in frame order; every reader takes them
    // by physical channel.
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        const std::int16_t position = config_.FramePosition[c];
        readings_.Status[c] = position >= 0 ? frameStatus_[static_cast<std::size_t>(position)] : -1;
    }
    if (converted != 0) {
        return false;
    }
    const std::uint32_t expected = handle_.DataFormat != 0 ? words / 2 : words;
    return size == expected;
}

void MeasurementCycle::TakeFrameInputs()
{
    FrameInputs inputs = inputs_;
    host_.ReadFrameInputs(inputs);
    if (inputs.ReferenceChannel < MeasurementChannelCount) {
        inputs_.ReferenceChannel = inputs.ReferenceChannel;
    }
    inputs_.PhaseCorrection = inputs.PhaseCorrection;
    readings_.ReferenceChannel = inputs_.ReferenceChannel;
}

void MeasurementCycle::FrameLoop()
{
    while (!ShouldStop()) {
        if (!AcquireFrame(rcvBuffer_.get(), WordsPerFrame()) || Terminated()) {
            break;
        }
        if (ProcessFrame() && !ShouldStop()) {
            host_.Synchronize([this] {
                TakeFrameInputs();
                host_.ShowResults(*this);
            });
            framesShown_.fetch_add(1, std::memory_order_relaxed);
            host_.Pause(PauseMs);
            host_.Synchronize([this] { host_.ShowChannelLeds(*this); });
        }
    }
}

bool MeasurementCycle::ProcessFrame()
{
    if (!ConvertFrame(rcvBuffer_.get(), data_.get(), WordsPerFrame())) {
        Show(MeasurementText::ConvertBad);
        return false;
    }
    if (Terminated()) {
        return false;
    }
    readings_.Voltage.fill(0.0);
    readings_.Frequency.fill(0.0);
    readings_.Phase.fill(0.0);
    readings_.ToneFound.fill(false);
    readings_.Uncertain.fill(false);
    readings_.VoltageU.fill(0.0);
    readings_.FrequencyU.fill(0.0);
    readings_.PhaseU.fill(0.0);
    readings_.FitSinadDb.fill(std::numeric_limits<double>::quiet_NaN());
    readings_.FitEnobBits.fill(std::numeric_limits<double>::quiet_NaN());
    fitted_.fill(false);
    readings_.InBand.fill(false);
    readings_.OverRange.fill(false);
    if (figuresWanted_ || spectrumTap_ != nullptr) {
        readings_.Figures.fill(SpectrumFigures{});
    }
    if (spectrumTap_ != nullptr) {
        spectrumTap_->BeginFrame();
    }
    if (Terminated()) {
        return false;
    }
    EstimateChannels();
    return true;
}

void MeasurementCycle::EstimateChannels()
{
    validCount_ = 0;
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        if (readings_.Status[c] == KSN48_STATUS_VALID) {
            validChannels_[validCount_++] = c;
        }
    }
    for (auto& lane : clipped_) {
        lane.fill(false);
    }
    noSignal_.fill(false);
    lanes_.Run(validCount_ > 1);
    for (std::size_t v = 0; v < validCount_; ++v) {
        const std::size_t c = validChannels_[v];
        readings_.OverRange[c] = clipped_[0][c] || clipped_[1][c];
    }
    if (config_.Method == CalcMethod::Fft && !noSignal_[0] && !noSignal_[1]) {
        if (config_.SineFit) {
            RefineByFit();
        }
        TakeUncertainties();
    }
    if (noSignal_[0] || noSignal_[1]) {
        Show(NoSignalMessage);
    }
}

bool MeasurementCycle::SplitWindows() const noexcept
{
    return config_.ActiveChannelCount > 1 && config_.Method == CalcMethod::Fft;
}

double* MeasurementCycle::ChannelSamples(std::size_t c) noexcept
{
    if (config_.ActiveChannelCount == 1) {
        return data_.get();
    }
    return dataPerChannel_.get() +
           static_cast<std::size_t>(config_.FramePosition[c]) * config_.SamplesPerChannel;
}

bool MeasurementCycle::ReachesFullScale(const double* from, std::size_t stride,
                                        std::uint32_t count) const noexcept
{
    bool reached = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const double x = from[i * stride];
        reached |= (x >= fullScaleHigh_) | (x <= fullScaleLow_);
    }
    return reached;
}

void MeasurementCycle::Split(std::uint32_t part, std::uint32_t parts) noexcept
{
    std::array<bool, MeasurementChannelCount>& clipped = clipped_[part];
    const std::uint64_t total = config_.SamplesPerChannel;
    const auto begin = static_cast<std::uint32_t>(total * part / parts);
    const auto n = static_cast<std::uint32_t>(total * (part + 1) / parts);
    if (config_.ActiveChannelCount < 2) {
        // One channel is read in place in Data; only its range is checked.
        if (validCount_ == 1) {
            clipped[validChannels_[0]] = ReachesFullScale(data_.get() + begin, 1, n - begin);
        }
        return;
    }
    // In blocks that stay in the cache, so that the interleaved frame is read
    // once for all channels rather than once per channel.
    constexpr std::uint32_t Block = 2048;
    const std::size_t stride = config_.ActiveChannelCount;
    // The spectral method windows its samples here, on the way, rather than
    // in a pass of its own.
    const double* window = SplitWindows() ? window_.get() : nullptr;
    for (std::uint32_t start = begin; start < n; start += Block) {
        const std::uint32_t end = std::min(n, start + Block);
        for (std::size_t v = 0; v < validCount_; ++v) {
            const std::size_t c = validChannels_[v];
            double* to = ChannelSamples(c);
            const double* from = data_.get() + static_cast<std::size_t>(config_.FramePosition[c]);
            bool reached = false;
            if (window != nullptr) {
                for (std::uint32_t i = start; i < end; ++i) {
                    const double x = from[i * stride];
                    reached |= (x >= fullScaleHigh_) | (x <= fullScaleLow_);
                    to[i] = window[i] * x;
                }
            } else {
                for (std::uint32_t i = start; i < end; ++i) {
                    const double x = from[i * stride];
                    reached |= (x >= fullScaleHigh_) | (x <= fullScaleLow_);
                    to[i] = x;
                }
            }
            clipped[c] = clipped[c] || reached;
        }
    }
}

void MeasurementCycle::Estimate(EstimationLane& lane, std::uint32_t index,
                                std::uint32_t lanes) noexcept
{
    for (std::size_t v = index; v < validCount_; v += lanes) {
        const std::size_t c = validChannels_[v];
        lane.Buffers.Samples = ChannelSamples(c);
        lane.Buffers.Windowed = SplitWindows();
        if (ShouldStop()) {
            return;
        }
        const ChannelEstimate estimate = lane.Estimator->Estimate(lane.Buffers);
        switch (estimate.Outcome) {
        case EstimateOutcome::Ok:
            readings_.Voltage[c] = estimate.Voltage;
            readings_.Frequency[c] = estimate.Frequency;
            readings_.Phase[c] = estimate.Phase;
            readings_.ToneFound[c] = estimate.ToneFound;
            readings_.InBand[c] = estimate.InBand;
            TakeSpectrum(lane, c, estimate.PeakCentre);
            TakeNoise(lane, c, estimate.PeakCentre);
            peak_[c] = config_.Amplitude == AmplitudeType::Rms
                           ? estimate.Voltage * std::numbers::sqrt2
                           : estimate.Voltage;
            centre_[c] = estimate.PeakCentre;
            break;
        case EstimateOutcome::NoSignal:
            noSignal_[index] = true;
            return;
        case EstimateOutcome::Stopped:
        case EstimateOutcome::InvalidInput:
            return;
        }
        if (ShouldStop()) {
            return;
        }
    }
}

void MeasurementCycle::TakeSpectrum(EstimationLane& lane, std::size_t c, double centre) noexcept
{
    const bool plotted =
        spectrumTap_ != nullptr && spectrumTap_->Request().Channel == static_cast<int>(c);
    if ((!figuresWanted_ && !plotted) || config_.Method != CalcMethod::Fft) {
        return;
    }
    // The spectrum the estimate has just made, still in the lane's buffer.
    ChannelEstimator& estimator = *lane.Estimator;
    SpectrumScale scale;
    scale.Length = config_.SamplesPerChannel;
    scale.HalfWidth = estimator.Analyzer()->PeakHalfWidth();
    scale.WindowSum = estimator.WindowSum();
    scale.WindowMeanSquare = estimator.WindowMeanSquare();
    readings_.Figures[c] = ComputeSpectrumFigures(lane.Buffers.Spectrum, scale, centre);
    if (plotted) {
        spectrumTap_->Capture(lane.Buffers.Spectrum, scale, config_.AdcRate, readings_.Figures[c]);
    }
}

void MeasurementCycle::TakeNoise(EstimationLane& lane, std::size_t c, double centre) noexcept
{
    if (config_.Method != CalcMethod::Fft) {
        return;
    }
    SpectrumScale scale;
    scale.Length = config_.SamplesPerChannel;
    scale.HalfWidth = lane.Estimator->Analyzer()->PeakHalfWidth();
    scale.WindowSum = lane.Estimator->WindowSum();
    scale.WindowMeanSquare = lane.Estimator->WindowMeanSquare();
    noise_[c] = ReadFrameNoise(lane.Buffers.Spectrum, scale, centre);
}

void MeasurementCycle::RefineByFit() noexcept
{
    // The channels a fit can stand on: a tone in band, noise read, no clipping.
    std::array<std::size_t, MeasurementChannelCount> open{};
    std::size_t openCount = 0;
    for (std::size_t v = 0; v < validCount_; ++v) {
        const std::size_t c = validChannels_[v];
        if (readings_.ToneFound[c] && readings_.InBand[c] && !readings_.OverRange[c] &&
            noise_[c].Valid && peak_[c] > 0.0) {
            open[openCount++] = c;
        }
    }
    const std::uint32_t n = config_.SamplesPerChannel;
    const double toBins = n / (2.0 * std::numbers::pi);
    std::array<FitChannel, MeasurementChannelCount> group{};
    std::array<std::size_t, MeasurementChannelCount> members{};
    while (openCount > 0 && !ShouldStop()) {
        // The clearest tone leads its group: every open channel whose
        // spectral frequency agrees with it within six of their combined
        // spreads carries the same tone.
        std::size_t lead = 0;
        double best = -1.0;
        for (std::size_t i = 0; i < openCount; ++i) {
            const std::size_t c = open[i];
            const double snr = peak_[c] * peak_[c] / std::max(noise_[c].Variance, 1e-300);
            if (snr > best) {
                best = snr;
                lead = i;
            }
        }
        const std::size_t leader = open[lead];
        const auto spreadBins = [&](std::size_t c) {
            return FftSpread(peak_[c], noise_[c].Variance, n, 1.0).Omega * toBins;
        };
        std::size_t count = 0;
        std::size_t kept = 0;
        double weightSum = 0.0;
        double centreSum = 0.0;
        for (std::size_t i = 0; i < openCount; ++i) {
            const std::size_t c = open[i];
            const double tolerance =
                6.0 * std::hypot(spreadBins(c), spreadBins(leader)) + 1e-9 * centre_[leader];
            if (std::fabs(centre_[c] - centre_[leader]) <= tolerance) {
                FitChannel& channel = group[count];
                channel = FitChannel{};
                channel.Samples = data_.get() + static_cast<std::size_t>(config_.FramePosition[c]);
                channel.Stride = config_.ActiveChannelCount;
                channel.Variance = noise_[c].Variance;
                channel.Noise = &noise_[c];
                members[count++] = c;
                const double s = spreadBins(c);
                const double weight = s > 0.0 ? 1.0 / (s * s) : 1e300;
                weightSum += weight;
                centreSum += weight * centre_[c];
            } else {
                open[kept++] = c;
            }
        }
        openCount = kept;
        double omega = 2.0 * std::numbers::pi * (centreSum / weightSum) / n;
        if (!FitSharedTone(group.data(), count, n, omega)) {
            continue;  // the spectral estimate stands
        }
        double information = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double s = CramerRaoSpread(group[i].Amplitude, group[i].Variance, n).Omega;
            information += s > 0.0 ? 1.0 / (s * s) : std::numeric_limits<double>::infinity();
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t c = members[i];
            const FitChannel& fit = group[i];
            const double rms = fit.Amplitude / std::numbers::sqrt2;
            readings_.Voltage[c] = config_.Amplitude == AmplitudeType::Rms ? rms : fit.Amplitude;
            readings_.Frequency[c] = omega * config_.AdcRate / (2.0 * std::numbers::pi);
            // The estimate's convention: the negated phase, here at the centre.
            readings_.Phase[c] =
                -std::remainder(fit.PhaseCentre, 2.0 * std::numbers::pi) * 180.0 / std::numbers::pi;
            peak_[c] = fit.Amplitude;
            omegaVariance_[c] = information > 0.0 ? 1.0 / information : 0.0;
            fitted_[c] = true;
            if (fit.ResidualMeanSquare > 0.0) {
                readings_.FitSinadDb[c] =
                    10.0 * std::log10(0.5 * fit.Amplitude * fit.Amplitude / fit.ResidualMeanSquare);
                readings_.FitEnobBits[c] = EffectiveBits(std::sqrt(fit.ResidualMeanSquare));
            }
        }
    }
}

void MeasurementCycle::TakeUncertainties() noexcept
{
    const std::uint32_t n = config_.SamplesPerChannel;
    const double toHz = config_.AdcRate / (2.0 * std::numbers::pi);
    const double toDegrees = 180.0 / std::numbers::pi;
    const double voltageScale = config_.Amplitude == AmplitudeType::Rms ? 1.0 : std::numbers::sqrt2;
    for (std::size_t v = 0; v < validCount_; ++v) {
        const std::size_t c = validChannels_[v];
        if (!readings_.ToneFound[c] || !readings_.InBand[c] || readings_.OverRange[c] ||
            !noise_[c].Valid || !(peak_[c] > 0.0)) {
            continue;
        }
        const ReadingSpread spread =
            fitted_[c] ? CramerRaoSpread(peak_[c], noise_[c].Variance, n)
                       : FftSpread(peak_[c], noise_[c].Variance, n, voltageSpreadFactor_);
        const double omega = fitted_[c] ? std::sqrt(omegaVariance_[c]) : spread.Omega;
        if (!std::isfinite(spread.Rms) || !std::isfinite(omega) || !std::isfinite(spread.Phase)) {
            continue;
        }
        readings_.Uncertain[c] = true;
        readings_.VoltageU[c] = spread.Rms * voltageScale;
        readings_.FrequencyU[c] = omega * toHz;
        readings_.PhaseU[c] = spread.Phase * toDegrees;
    }
}

}  // namespace measure
