#pragma once

#include "ChannelEstimator.h"

#include <barrier>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace measure {

// An estimator and the buffers it works in: one per lane.
struct EstimationLane {
    ChannelEstimator* Estimator = nullptr;
    EstimateBuffers Buffers;
};

// A frame's channels estimated on two lanes at once: the thread that calls
// Run() is lane 0, a helper thread started once per run is lane 1. Each lane
// has its own estimator and spectrum buffers (an FFT engine keeps scratch
// space of its own and serves one thread at a time); the window is built once
// and read by both. A frame is worked in two phases, and neither lane begins
// the second before both have finished the first: the frame is split into its
// channels by halves of its samples, then each lane estimates every second
// channel. Everything is made in StartSecondLane(); Run() allocates nothing.
class TwoLaneEstimation {
public:
    // What the lanes do with a frame, called on each lane's own thread.
    class Work {
    public:
        // Samples [lane, lane + 1) x N / lanes of every channel.
        virtual void Split(std::uint32_t lane, std::uint32_t lanes) noexcept = 0;
        // Entries lane, lane + lanes, ... of the frame's channels.
        virtual void Estimate(EstimationLane& lane, std::uint32_t index,
                              std::uint32_t lanes) noexcept = 0;

    protected:
        virtual ~Work() = default;
    };

    // The second lane's buffer that could not be had.
    enum class Shortage { None, Spectrum, Amplitudes, Phases };

    explicit TwoLaneEstimation(Work& work) : work_(work) {}
    ~TwoLaneEstimation() { Stop(); }
    TwoLaneEstimation(const TwoLaneEstimation&) = delete;
    TwoLaneEstimation& operator=(const TwoLaneEstimation&) = delete;

    // Lane 0: the run's own estimator, with its window built, and buffers.
    void SetFirstLane(const EstimationLane& lane) noexcept { lanes_[0] = lane; }

    // Lane 1 like lane 0: an estimator of its own that shares lane 0's window,
    // spectrum buffers of its own ("fft"), then the helper thread. Throws what
    // making the estimator or the thread throws, and std::logic_error when
    // lane 0 has no window.
    Shortage StartSecondLane(const StopFlag* stop);

    // Ends the helper and frees lane 1; lane 0 is forgotten. Safe to call again.
    void Stop() noexcept;

    // Whether lane 1 runs.
    bool TwoLanes() const noexcept { return helper_.joinable(); }
    // Whether nothing of lane 1 is left.
    bool Released() const noexcept;

    // Both phases of one frame, on both lanes when lane 1 runs and twoLanes
    // asks for it, else on lane 0 alone. Returns when all is done.
    void Run(bool twoLanes) noexcept;

    EstimationLane& Lane(std::uint32_t index) noexcept { return lanes_[index]; }

private:
    void HelperLoop() noexcept;
    void StopHelper() noexcept;

    Work& work_;
    EstimationLane lanes_[2];
    std::unique_ptr<ChannelEstimator> secondEstimator_;
    std::unique_ptr<double[]> secondSpectrum_;
    std::unique_ptr<double[]> secondAmplitudes_;
    std::unique_ptr<double[]> secondPhases_;

    std::thread helper_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t job_ = 0;   // frames handed to the helper
    std::uint64_t done_ = 0;  // frames it has finished
    bool quit_ = false;
    std::barrier<> splitDone_{2};  // both lanes have split their half of a frame
};

}  // namespace measure
