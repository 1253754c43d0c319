// Timings of the real FFT against FFTW (FFTW_ESTIMATE, real to complex) run in
// the same process, of the whole one-channel estimate and of the window build.
//
//   bench_dsp [max_bits]     N = 2^10 .. 2^max_bits, default 24
//
// Every figure is the best of several rounds, to see through the noise of a
// shared machine. Lines:
//   fft N=<n> own_ns=<t> fftw_ns=<t> ratio=<own/fftw> goal=<g> <ok|OVER>
//   fft_error N=<n> max_rel=<max |own - fftw| / max |X|>
//   estimate N=<n> ns=<t>
//   window N=<n> ns=<t>
//   window_in_ffts N=<n> ratio=<window build time / own FFT time>

#include "ChannelEstimator.h"
#include "ffft/FFTReal.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The own/FFTW ratio a length should stay within: in-cache lengths within
// 2.5, those up to a million points within 2.0, and the long frames, whose
// time goes to memory for both, within 1.2.
double RatioGoal(long n)
{
    if (n <= (1L << 16)) {
        return 2.5;
    }
    if (n <= (1L << 20)) {
        return 2.0;
    }
    return 1.2;
}

// Best time per call in ns: rounds of enough calls to last about 20 ms each.
template <class Setup, class Work>
double BestNs(int rounds, Setup setup, Work work)
{
    setup();
    const auto t0 = Clock::now();
    work();
    const double once = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
    const long calls = std::max(1L, static_cast<long>(2e7 / std::max(once, 1.0)));
    double best = once;
    for (int r = 0; r < rounds; ++r) {
        double total = 0.0;
        for (long c = 0; c < calls; ++c) {
            setup();
            const auto a = Clock::now();
            work();
            total += std::chrono::duration<double, std::nano>(Clock::now() - a).count();
        }
        best = std::min(best, total / static_cast<double>(calls));
    }
    return best;
}

void NoSetup() {}

struct Fftw {
    explicit Fftw(long n)
        : in(fftw_alloc_real(static_cast<std::size_t>(n))),
          out(fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1))),
          plan(fftw_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_ESTIMATE))
    {}
    ~Fftw()
    {
        fftw_destroy_plan(plan);
        fftw_free(out);
        fftw_free(in);
    }
    Fftw(const Fftw&) = delete;
    Fftw& operator=(const Fftw&) = delete;

    double* in;
    fftw_complex* out;
    fftw_plan plan;
};

void BenchFft(long n, int rounds)
{
    std::mt19937_64 rng(static_cast<unsigned long>(n));
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(n));
    for (double& v : x) {
        v = dist(rng);
    }
    std::vector<double> f(static_cast<std::size_t>(n));
    ffft::FFTReal own(n);
    Fftw ref(n);
    std::copy(x.begin(), x.end(), ref.in);

    double ownNs = 1e300;
    double fftwNs = 1e300;
    // Alternate the two so that both see the same machine load.
    for (int r = 0; r < rounds; ++r) {
        ownNs =
            std::min(ownNs, BestNs(1, NoSetup, [&] { own.forward_transform(x.data(), f.data()); }));
        fftwNs = std::min(fftwNs, BestNs(1, NoSetup, [&] { fftw_execute(ref.plan); }));
    }
    const double ratio = ownNs / fftwNs;
    const double goal = RatioGoal(n);
    std::printf("fft N=%ld own_ns=%.0f fftw_ns=%.0f ratio=%.3f goal=%.1f %s\n", n, ownNs, fftwNs,
                ratio, goal, ratio <= goal ? "ok" : "OVER");

    double maxErr = 0.0;
    double maxAbs = 0.0;
    const long half = n / 2;
    for (long k = 0; k <= half; ++k) {
        const double re = ref.out[k][0];
        const double im = ref.out[k][1];
        maxAbs = std::max(maxAbs, std::hypot(re, im));
        maxErr = std::max(maxErr, std::fabs(f[static_cast<std::size_t>(k)] - re));
        if (k > 0 && k < half) {
            maxErr = std::max(maxErr, std::fabs(f[static_cast<std::size_t>(half + k)] + im));
        }
    }
    std::printf("fft_error N=%ld max_rel=%.3g\n", n, maxErr / maxAbs);
    std::fflush(stdout);
}

void BenchEstimate(long n, int rounds)
{
    const double rate = 78125.0;
    const auto len = static_cast<std::uint32_t>(n);
    measure::ChannelEstimator estimator(measure::CalcMethod::Fft, measure::AmplitudeType::Rms, len,
                                        rate, nullptr);
    std::vector<double> window(len + 16);
    std::vector<double> frame(len);
    std::vector<double> samples(len + 16);
    std::vector<double> spectrum(len + 16);
    std::vector<double> amplitudes(len / 2 + 16);
    std::vector<double> phases(len / 2 + 16);
    estimator.BuildWindow(window.data());
    for (std::uint32_t i = 0; i < len; ++i) {
        frame[i] = 0.1 + std::cos(2.0 * std::numbers::pi * 1234.5 * i / rate + 0.4);
    }
    const measure::EstimateBuffers buffers{samples.data(), window.data(), spectrum.data(),
                                           amplitudes.data(), phases.data()};
    const double ns = BestNs(
        rounds, [&] { std::copy(frame.begin(), frame.end(), samples.begin()); },
        [&] {
            if (estimator.Estimate(buffers).Outcome != measure::EstimateOutcome::Ok) {
                std::fprintf(stderr, "estimate N=%ld failed\n", n);
                std::exit(1);
            }
        });
    std::printf("estimate N=%ld ns=%.0f\n", n, ns);
    std::fflush(stdout);
}

void BenchWindow(long n, int rounds)
{
    const auto len = static_cast<std::uint32_t>(n);
    std::vector<double> window(len);
    std::vector<double> x(len, 0.5);
    std::vector<double> f(len);
    measure::WindowCoefficients coefficients;
    const double windowNs = BestNs(rounds, NoSetup, [&] {
        measure::BuildWindow(coefficients, measure::MeasurementWindowType, window.data(), len,
                             nullptr);
    });
    ffft::FFTReal own(n);
    const double fftNs =
        BestNs(rounds, NoSetup, [&] { own.forward_transform(x.data(), f.data()); });
    std::printf("window N=%ld ns=%.0f\n", n, windowNs);
    std::printf("window_in_ffts N=%ld ratio=%.2f\n", n, windowNs / fftNs);
    std::fflush(stdout);
}

// Half a second of transforms first, so that the first figures are not taken
// while the processor is still raising its clock.
void WarmUp()
{
    const long n = 1L << 12;
    std::vector<double> x(static_cast<std::size_t>(n), 0.25);
    std::vector<double> f(static_cast<std::size_t>(n));
    ffft::FFTReal own(n);
    Fftw ref(n);
    const auto until = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < until) {
        own.forward_transform(x.data(), f.data());
        fftw_execute(ref.plan);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int maxBits = 24;
    if (argc > 1) {
        maxBits = std::atoi(argv[1]);
        if (maxBits < 10 || maxBits > 24) {
            std::fprintf(stderr, "usage: %s [max_bits 10..24]\n", argv[0]);
            return 2;
        }
    }
    WarmUp();
    for (int bits = 10; bits <= maxBits; ++bits) {
        BenchFft(1L << bits, bits >= 22 ? 3 : 5);
    }
    for (int bits = 10; bits <= maxBits; ++bits) {
        BenchEstimate(1L << bits, bits >= 22 ? 2 : 3);
    }
    BenchWindow(1L << maxBits, 2);
    return 0;
}
