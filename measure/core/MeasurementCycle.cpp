#include "MeasurementCycle.h"

#include "AdcRates.h"
#include "DataRateBudget.h"
#include "MeasurementTexts.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace measure {

namespace {

constexpr std::uint32_t RecvTimeoutMs = 5000;
constexpr std::uint64_t FftSampleCap = 16777216;
constexpr int MaxDoublings = 32;
// A "sum" frame keeps N x channels x words per sample within 32 bits.
constexpr double MaxSumFrameLength = 268435456.0;
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

std::uint32_t SumFrameLength(double maxTime, double rate) noexcept
{
    const double n = std::trunc(maxTime * rate);
    if (!(n >= 1.0)) {
        return 1;  // a frame of at least one sample, also for a NaN time
    }
    return static_cast<std::uint32_t>(std::min(n, MaxSumFrameLength));
}

MeasurementCycle::MeasurementCycle(MeasurementHost& host, Ksn48Handle& handle,
                                   const StopFlag& terminated,
                                   const std::atomic<bool>& messageShown, ModuleApi api)
    : host_(host), handle_(handle), terminated_(terminated), messageShown_(messageShown), api_(api)
{
    FramePosition.fill(-1);
}

MeasurementCycle::~MeasurementCycle()
{
    FreeBuffers();
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
    if (handle_.AcquisitionRunning != 0 && api_.Stop(&handle_) != 0) {
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
    estimator_ = std::make_unique<ChannelEstimator>(CalcMethodFromText(Settings.CalcMethod),
                                                    AmplitudeTypeFromText(Settings.AmplitudeType),
                                                    SamplesPerChannel, AdcRate, stop);
    if (!estimator_->BuildWindow(window_.get()) || ShouldStop()) {
        return false;
    }
    WindowSum = estimator_->WindowSum();
    WindowMeanSquare = estimator_->WindowMeanSquare();
    lanes_[0] = Lane{{nullptr, window_.get(), fftAdcDataPerChannel_.get(), amplitudeSpectr_.get(),
                      phaseSpectr_.get()},
                     estimator_.get(),
                     0,
                     false};
    return ActiveChannelCount < 2 || StartHelper();
}

bool MeasurementCycle::StartHelper()
{
    // The second lane's buffers; the window is shared (read only).
    const std::uint64_t n = SamplesPerChannel;
    const bool fft = CalcMethodFromText(Settings.CalcMethod) == CalcMethod::Fft;
    if (fft) {
        if (!(helperSpectrum_ = TryAllocate<double>(n + SpareElements))) {
            Show(MeasurementText::NoFftData);
            return false;
        }
        if (!(helperAmplitudes_ = TryAllocate<double>(n / 2 + SpareElements))) {
            Show(MeasurementText::NoAmplitudeSpectr);
            return false;
        }
        if (!(helperPhases_ = TryAllocate<double>(n / 2 + SpareElements))) {
            Show(MeasurementText::NoPhaseSpectr);
            return false;
        }
    }
    const StopFlag* stop = &terminated_;
    helperEstimator_ = std::make_unique<ChannelEstimator>(
        CalcMethodFromText(Settings.CalcMethod), AmplitudeTypeFromText(Settings.AmplitudeType),
        SamplesPerChannel, AdcRate, stop);
    // Writes the same values into the shared window, before any frame.
    if (!helperEstimator_->BuildWindow(window_.get()) || ShouldStop()) {
        return false;
    }
    lanes_[1] = Lane{{nullptr, window_.get(), helperSpectrum_.get(), helperAmplitudes_.get(),
                      helperPhases_.get()},
                     helperEstimator_.get(),
                     1,
                     false};
    helperQuit_ = false;
    helperJob_ = helperDone_ = 0;
    helper_ = std::thread([this] { HelperLoop(); });
    return true;
}

void MeasurementCycle::HelperLoop() noexcept
{
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(helperMutex_);
            helperWake_.wait(lock, [&] { return helperQuit_ || helperJob_ != seen; });
            if (helperQuit_) {
                return;
            }
            seen = helperJob_;
        }
        SplitChannels(1, 2);
        splitBarrier_.arrive_and_wait();
        EstimateLane(lanes_[1]);
        {
            std::lock_guard lock(helperMutex_);
            helperDone_ = seen;
        }
        helperWake_.notify_all();
    }
}

void MeasurementCycle::StopHelper() noexcept
{
    if (helper_.joinable()) {
        {
            std::lock_guard lock(helperMutex_);
            helperQuit_ = true;
        }
        helperWake_.notify_all();
        helper_.join();
    }
}

std::uint32_t MeasurementCycle::WordsPerFrame() const noexcept
{
    return (handle_.DataFormat != 0 ? 2u : 1u) * FrameSampleCount;
}

bool MeasurementCycle::Allocate()
{
    const std::uint64_t n = SamplesPerChannel;
    const auto fail = [this](std::string_view text) {
        Show(text);
        return false;
    };
    if (n == 0 || FrameSampleCount == 0) {
        return fail(MeasurementText::NoRcvBuffer);
    }
    if (!(rcvBuffer_ = TryAllocate<std::uint32_t>(WordsPerFrame()))) {
        return fail(MeasurementText::NoRcvBuffer);
    }
    if (!(data_ = TryAllocate<double>(FrameSampleCount))) {
        return fail(MeasurementText::NoData);
    }
    // The channels' samples one after the other; a single channel is read in
    // place in Data.
    const std::uint64_t perChannel = ActiveChannelCount > 1 ? n * ActiveChannelCount : 0;
    if (!(dataPerChannel_ = TryAllocate<double>(perChannel + SpareElements))) {
        return fail(MeasurementText::NoDataPerChannel);
    }
    if (!(window_ = TryAllocate<double>(n + SpareElements))) {
        return fail(MeasurementText::NoWindow);
    }
    std::fill_n(window_.get(), n, 0.0);
    WindowType = MeasurementWindowType;
    if (CalcMethodFromText(Settings.CalcMethod) == CalcMethod::Fft) {
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
    }
    return true;
}

void MeasurementCycle::FreeBuffers() noexcept
{
    StopHelper();
    lanes_[0] = Lane{};
    lanes_[1] = Lane{};
    helperSpectrum_.reset();
    helperAmplitudes_.reset();
    helperPhases_.reset();
    helperEstimator_.reset();
    rcvBuffer_.reset();
    data_.reset();
    dataPerChannel_.reset();
    window_.reset();
    fftAdcDataPerChannel_.reset();
    amplitudeSpectr_.reset();
    phaseSpectr_.reset();
    estimator_.reset();
}

bool MeasurementCycle::BuffersFreed() const noexcept
{
    return !rcvBuffer_ && !data_ && !dataPerChannel_ && !window_ && !fftAdcDataPerChannel_ &&
           !amplitudeSpectr_ && !phaseSpectr_ && !estimator_ && !helperSpectrum_ &&
           !helperAmplitudes_ && !helperPhases_ && !helperEstimator_ && !helper_.joinable();
}

void MeasurementCycle::ShowMeasurementStarted()
{
    host_.ShowMeasurementStarted(Settings);
    PhaseCorrection = true;
}

void MeasurementCycle::ShowMeasurementStopped()
{
    FreeBuffers();
    host_.ShowMeasurementStopped();
}

void MeasurementCycle::ConfigureAdc()
{
    if (handle_.AcquisitionRunning != 0 && api_.Stop(&handle_) != 0) {
        host_.ShowThreadMessage(MeasurementText::StopBad);
        return;
    }
    const AdcChoice choice = host_.ReadAdcChoice();
    FramePosition.fill(-1);
    ActiveChannelCount = 0;
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        if (choice.ChannelTicked[c]) {
            handle_.Channel[c].ChannelEnabled = 1;
            FramePosition[c] = static_cast<std::int16_t>(ActiveChannelCount++);
        } else {
            handle_.Channel[c].ChannelEnabled = 0;
        }
    }
    const device::AdcRateEntry* rate = device::FindAdcRate(choice.RateIndex);
    if (rate == nullptr) {
        // No rate chosen in the list: the module cannot be configured.
        host_.ShowThreadMessage(MeasurementText::SetAdcBad);
        return;
    }
    handle_.RateCode = rate->RateCode;
    AdcRate = rate->Frequency;
    handle_.DataFormat = Settings.DataFormat;
    handle_.CurrentSource = Settings.CurrentSource;

    if (ActiveChannelCount == 0) {
        host_.ShowThreadMessage(MeasurementText::NoActiveChannel);
        return;
    }
    if (choice.ReferenceChannel >= MeasurementChannelCount ||
        !choice.ChannelTicked[choice.ReferenceChannel]) {
        host_.ShowThreadMessage(MeasurementText::ReferenceNotActive);
        return;
    }
    ReferenceChannel = choice.ReferenceChannel;

    const device::DataRateCheck check = device::CheckDataRate(
        ActiveChannelCount, AdcRate, Settings.DataFormat, CrateTypeCode, CrateTypeName, ModuleName);
    if (!check.Passed) {
        host_.ShowThreadMessage(check.Message);
        return;
    }
    if (api_.SetADC(&handle_) != 0) {
        host_.ShowThreadMessage(MeasurementText::SetAdcBad);
        return;
    }

    SizeFrame();
}

void MeasurementCycle::SizeFrame()
{
    ReceiveBlockSize = static_cast<std::uint32_t>(0.1 * AdcRate * ActiveChannelCount);
    if (CalcMethodFromText(Settings.CalcMethod) == CalcMethod::Fft) {
        SamplesPerChannel =
            FftFrameLength(Settings.MaxAcquisitionTime, AdcRate, ActiveChannelCount);
    } else {
        Settings.CalcMethod = CalcMethodSumText;
        SamplesPerChannel = SumFrameLength(Settings.MaxAcquisitionTime, AdcRate);
    }
    FrameSampleCount = SamplesPerChannel * ActiveChannelCount;
    ReceiveBlockSize = std::max<std::uint32_t>(1, std::min(ReceiveBlockSize, FrameSampleCount));
    FrFormatAbove1000 = MeasurementText::FrequencyFormatAbove1000;
    FrFormatAbove100 = MeasurementText::FrequencyFormatAbove100;
}

bool MeasurementCycle::AcquireFrame(std::uint32_t* buffer, std::uint32_t total)
{
    bool loopError = false;
    if (api_.Start(&handle_) != 0) {
        Show(MeasurementText::StartBad);
    } else {
        std::uint32_t received = 0;
        std::uint32_t block = std::min(ReceiveBlockSize, total);
        std::uint32_t* position = buffer;
        for (;;) {
            // A stop requested while the module started may have had its
            // cancel cleared by that start: look before waiting.
            if (Terminated()) {
                break;
            }
            const int got = api_.Recv(&handle_, position, nullptr, block, RecvTimeoutMs);
            if (got == KSN_ERR_CANCELLED) {
                loopError = true;  // a stop request: no message
                break;
            }
            if (got < 0) {
                Show(MeasurementText::RecvFailed);
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
            if (api_.Stop(&handle_) != 0) {
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
    if (api_.CancelRecv != nullptr) {
        api_.CancelRecv(&handle_);
    }
}

bool MeasurementCycle::ConvertFrame(const std::uint32_t* source, double* destination,
                                    std::uint32_t words)
{
    ChannelStatus.fill(-1);
    std::uint32_t size = words;
    std::uint32_t flags = KSN48_FLAG_CONVERT;
    if (PhaseCorrection) {
        flags |= KSN48_FLAG_PHASE_CORRECTION;
    }
    if (api_.ProcessData(&handle_, source, destination, &size, flags, ChannelStatus.data()) != 0) {
        return false;
    }
    const std::uint32_t expected = handle_.DataFormat != 0 ? words / 2 : words;
    return size == expected;
}

void MeasurementCycle::FrameLoop()
{
    while (!ShouldStop()) {
        if (!AcquireFrame(rcvBuffer_.get(), WordsPerFrame()) || Terminated()) {
            break;
        }
        if (ProcessFrame() && !ShouldStop()) {
            host_.Synchronize([this] { host_.ShowResults(*this); });
            ++framesShown_;
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
    Voltage.fill(0.0);
    Frequency.fill(0.0);
    Phase.fill(0.0);
    if (Terminated()) {
        return false;
    }
    EstimateChannels();
    return true;
}

void MeasurementCycle::EstimateChannels()
{
    // The enabled channels whose status in this frame is valid, in order.
    validCount_ = 0;
    std::size_t j = 0;
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        if (handle_.Channel[c].ChannelEnabled == 0) {
            continue;
        }
        const std::int32_t status = ChannelStatus[j++];
        if (status == 0 && FramePosition[c] >= 0) {
            validChannels_[validCount_++] = c;
        }
    }
    const bool twoLanes = helper_.joinable() && validCount_ > 1;
    if (twoLanes) {
        {
            std::lock_guard lock(helperMutex_);
            ++helperJob_;
        }
        helperWake_.notify_all();
        // Each lane splits half of the frame; both halves are in place
        // before either lane estimates.
        SplitChannels(0, 2);
        splitBarrier_.arrive_and_wait();
    } else {
        SplitChannels(0, 1);
    }
    EstimateLane(lanes_[0]);
    if (twoLanes) {
        std::unique_lock lock(helperMutex_);
        helperWake_.wait(lock, [this] { return helperDone_ == helperJob_; });
    } else {
        // A single lane takes every channel.
        lanes_[0].First = 0;
    }
    if (lanes_[0].NoSignal || (twoLanes && lanes_[1].NoSignal)) {
        Show(NoSignalMessage);
    }
}

bool MeasurementCycle::SplitWindows() const noexcept
{
    return ActiveChannelCount > 1 && estimator_ && estimator_->Method() == CalcMethod::Fft;
}

double* MeasurementCycle::ChannelSamples(std::size_t c) noexcept
{
    if (ActiveChannelCount == 1) {
        return data_.get();
    }
    return dataPerChannel_.get() + static_cast<std::size_t>(FramePosition[c]) * SamplesPerChannel;
}

void MeasurementCycle::SplitChannels(std::uint32_t part, std::uint32_t parts) noexcept
{
    if (ActiveChannelCount < 2) {
        return;
    }
    // In blocks that stay in the cache, so that the interleaved frame is read
    // once for all channels rather than once per channel.
    constexpr std::uint32_t Block = 2048;
    const std::uint64_t total = SamplesPerChannel;
    const auto begin = static_cast<std::uint32_t>(total * part / parts);
    const auto n = static_cast<std::uint32_t>(total * (part + 1) / parts);
    const std::size_t stride = ActiveChannelCount;
    // The spectral method windows its samples here, on the way, rather than
    // in a pass of its own.
    const double* window = SplitWindows() ? window_.get() : nullptr;
    for (std::uint32_t start = begin; start < n; start += Block) {
        const std::uint32_t end = std::min(n, start + Block);
        for (std::size_t v = 0; v < validCount_; ++v) {
            const std::size_t c = validChannels_[v];
            double* to = ChannelSamples(c);
            const double* from = data_.get() + static_cast<std::size_t>(FramePosition[c]);
            if (window != nullptr) {
                for (std::uint32_t i = start; i < end; ++i) {
                    to[i] = window[i] * from[i * stride];
                }
            } else {
                for (std::uint32_t i = start; i < end; ++i) {
                    to[i] = from[i * stride];
                }
            }
        }
    }
}

void MeasurementCycle::EstimateLane(Lane& lane) noexcept
{
    lane.NoSignal = false;
    const bool alone = !helper_.joinable() || validCount_ < 2;
    const std::size_t step = alone ? 1 : 2;
    const std::size_t first = alone ? 0 : lane.First;
    for (std::size_t v = first; v < validCount_; v += step) {
        const std::size_t c = validChannels_[v];
        lane.Buffers.Samples = ChannelSamples(c);
        lane.Buffers.Windowed = SplitWindows();
        if (ShouldStop()) {
            return;
        }
        const ChannelEstimate estimate = lane.Estimator->Estimate(lane.Buffers);
        switch (estimate.Outcome) {
        case EstimateOutcome::Ok:
            Voltage[c] = estimate.Voltage;
            Frequency[c] = estimate.Frequency;
            Phase[c] = estimate.Phase;
            break;
        case EstimateOutcome::NoSignal:
            lane.NoSignal = true;
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

}  // namespace measure
