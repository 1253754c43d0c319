#include "TwoLaneEstimation.h"

#include <new>
#include <stdexcept>

namespace measure {

namespace {

// Spare room after each spectrum buffer, as for the run's own.
constexpr std::uint64_t SpareElements = 16;

std::unique_ptr<double[]> TryAllocate(std::uint64_t count)
{
    return std::unique_ptr<double[]>(new (std::nothrow) double[count]);
}

}  // namespace

TwoLaneEstimation::Shortage TwoLaneEstimation::StartSecondLane(const StopFlag* stop)
{
    StopHelper();
    const ChannelEstimator& first = *lanes_[0].Estimator;
    const std::uint64_t n = first.Length();
    if (first.Method() == CalcMethod::Fft) {
        if (!(secondSpectrum_ = TryAllocate(n + SpareElements))) {
            return Shortage::Spectrum;
        }
        if (!(secondAmplitudes_ = TryAllocate(n / 2 + SpareElements))) {
            return Shortage::Amplitudes;
        }
        if (!(secondPhases_ = TryAllocate(n / 2 + SpareElements))) {
            return Shortage::Phases;
        }
        // Nothing writes the last bin; the phase step may read it.
        secondAmplitudes_[n / 2] = 0.0;
        secondPhases_[n / 2] = 0.0;
    }
    secondEstimator_ = std::make_unique<ChannelEstimator>(first.Method(), first.Amplitude(),
                                                          first.Length(), first.AdcRate(), stop);
    if (!secondEstimator_->ShareWindow(first)) {
        throw std::logic_error("TwoLaneEstimation: the first lane has no window");
    }
    lanes_[1].Estimator = secondEstimator_.get();
    lanes_[1].Buffers = lanes_[0].Buffers;
    lanes_[1].Buffers.Samples = nullptr;
    lanes_[1].Buffers.Spectrum = secondSpectrum_.get();
    lanes_[1].Buffers.Amplitudes = secondAmplitudes_.get();
    lanes_[1].Buffers.Phases = secondPhases_.get();
    quit_ = false;
    job_ = done_ = 0;
    helper_ = std::thread([this] { HelperLoop(); });
    return Shortage::None;
}

void TwoLaneEstimation::StopHelper() noexcept
{
    if (helper_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        helper_.join();
    }
}

void TwoLaneEstimation::Stop() noexcept
{
    StopHelper();
    lanes_[0] = EstimationLane{};
    lanes_[1] = EstimationLane{};
    secondEstimator_.reset();
    secondSpectrum_.reset();
    secondAmplitudes_.reset();
    secondPhases_.reset();
}

bool TwoLaneEstimation::Released() const noexcept
{
    return !helper_.joinable() && !secondEstimator_ && !secondSpectrum_ && !secondAmplitudes_ &&
           !secondPhases_;
}

void TwoLaneEstimation::HelperLoop() noexcept
{
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || job_ != seen; });
            if (quit_) {
                return;
            }
            seen = job_;
        }
        work_.Split(1, 2);
        splitDone_.arrive_and_wait();
        work_.Estimate(lanes_[1], 1, 2);
        {
            std::lock_guard lock(mutex_);
            done_ = seen;
        }
        wake_.notify_all();
    }
}

void TwoLaneEstimation::Run(bool twoLanes) noexcept
{
    if (!twoLanes || !TwoLanes()) {
        work_.Split(0, 1);
        work_.Estimate(lanes_[0], 0, 1);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++job_;
    }
    wake_.notify_all();
    // Both halves of the frame are in place before either lane estimates.
    work_.Split(0, 2);
    splitDone_.arrive_and_wait();
    work_.Estimate(lanes_[0], 0, 2);
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return done_ == job_; });
}

}  // namespace measure
