// How close each method's readings come to the Cramer-Rao bound (CRB), and
// whether their uncertainties are honest: Monte-Carlo frames made here (two
// channels carrying one tone at integer, half and random bins, white noise
// from 20 to 100 dB, several N and rates) go through the measurement cycle's
// own processing, once with "fft" and once with "fit". Per case and method:
// the spread over frames against the CRB of voltage, frequency and the phase
// difference, the share of frames whose true value lies within +-2u, and the
// processing time of a frame against its acquisition time; then the same for
// 8 channels. The CRB of the frequency is the one of the model the method
// uses: one channel's for "fft", the shared tone's for "fit".
// Lines are key=value pairs. The summary pools every case per method (its
// spread against the CRB over all frames), gives the worst case's ratio and
// how many of its own standard errors (1 / sqrt(2 M) for M frames) that lies
// above 1.1, and the coverage with its binomial spread; goals: fit <= 1.1 x
// CRB, coverage 95 +- 2.5 %, cost <= 1 %.

#include "MeasurementCycle.h"
#include "QuietCycle.h"
#include "ResultsFormat.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double Pi = std::numbers::pi;

// A cycle of one method, sized for the case, fed by the stand-in module.
struct Run {
    Run(const char* method, std::uint32_t channels, std::uint32_t n, double rate)
        : cycle(host, handle, host.terminated, host.shown, ksn::test::StandInModuleApi())
    {
        handle.DataFormat = 0;
        cycle.Configure(ksn::test::FirstChannels(handle, channels, rate, method, (n - 0.5) / rate),
                        false);
        ready = cycle.Config().SamplesPerChannel == n && cycle.PrepareBuffers();
    }

    ksn::test::QuietHost host{"bench_precision"};
    Ksn48Handle handle{};
    measure::MeasurementCycle cycle;
    bool ready = false;
};

struct Tally {
    double sumV = 0, sumF = 0, sumP = 0;      // squared errors
    double crbV = 0, crbF = 0, crbP = 0;      // squared bounds
    double coveredV = 0, coveredF = 0, coveredP = 0;
    double frames = 0;
    double seconds = 0;
    double centrePhase = 0, crbCentre = 0;  // "fft": its phase moved to the centre
};

struct Case {
    double rate;
    std::uint32_t n;
    double bin;
    double snrDb;
    const char* binKind;
};

struct Totals {
    double frames = 0;
    double coveredV = 0, coveredF = 0, coveredP = 0;
    double worstV = 0, worstF = 0, worstP = 0;
    double fftFactorF = 0, fftFactorP = 0;
    double sumV = 0, sumF = 0, sumP = 0, crbV = 0, crbF = 0, crbP = 0;
    double worstExcess = 0;  // the worst ratio's excess over 1.1 in its own standard errors
    double factorCases = 0;
};

void Report(const char* method, const Case& c, const Tally& t, Totals& totals)
{
    const double rv = std::sqrt(t.sumV / t.crbV);
    const double rf = std::sqrt(t.sumF / t.crbF);
    const double rp = std::sqrt(t.sumP / t.crbP);
    const double frames = t.frames;
    const double acquisition = c.n / c.rate;
    std::printf("method=%s rate=%.3f n=%u bin=%s(%.4f) snr_db=%.0f frames=%.0f "
                "v_spread_over_crb=%.3f f_spread_over_crb=%.3f dphi_spread_over_crb=%.3f "
                "v_coverage=%.3f f_coverage=%.3f dphi_coverage=%.3f cost_ratio=%.6f\n",
                method, c.rate, c.n, c.binKind, c.bin, c.snrDb, t.frames, rv, rf, rp,
                t.coveredV / frames, t.coveredF / frames, t.coveredP / frames,
                t.seconds / frames / acquisition);
    totals.frames += t.frames;
    totals.coveredV += t.coveredV;
    totals.coveredF += t.coveredF;
    totals.coveredP += t.coveredP;
    totals.sumV += t.sumV;
    totals.sumF += t.sumF;
    totals.sumP += t.sumP;
    totals.crbV += t.crbV;
    totals.crbF += t.crbF;
    totals.crbP += t.crbP;
    // A spread from M frames is known to about 1 / sqrt(2 M) of itself.
    const double standardError = 1.0 / std::sqrt(2.0 * frames);
    for (const double r : {rv, rf, rp}) {
        totals.worstExcess = std::max(totals.worstExcess, (r - 1.1) / (r * standardError));
    }
    totals.worstV = std::max(totals.worstV, rv);
    totals.worstF = std::max(totals.worstF, rf);
    totals.worstP = std::max(totals.worstP, rp);
    if (t.crbCentre > 0) {
        totals.fftFactorF += rf;
        totals.fftFactorP += std::sqrt(t.centrePhase / t.crbCentre);
        ++totals.factorCases;
    }
}

// The two channels: 1 V on the reference, 0.4 V 30 degrees later on the
// other, the same SNR on both.
constexpr double Amplitudes[2] = {1.0, 0.4};
constexpr double Phases[2] = {0.3, 0.3 + Pi / 6};

bool RunCase(const Case& c, int frames, std::mt19937_64& random, Totals& fftTotals,
             Totals& fitTotals)
{
    Run fft("fft", 2, c.n, c.rate);
    Run fit("fit", 2, c.n, c.rate);
    if (!fft.ready || !fit.ready) {
        std::fprintf(stderr, "bench_precision: no cycle for n=%u\n", c.n);
        return false;
    }
    const double omega = 2 * Pi * c.bin / c.n;
    const double frequency = omega * c.rate / (2 * Pi);
    std::array<double, 2> sigma{};
    for (std::size_t j = 0; j < 2; ++j) {
        sigma[j] = Amplitudes[j] / std::sqrt(2.0 * std::pow(10.0, c.snrDb / 10.0));
    }
    const double nd = c.n;
    // The bounds.
    const double crbV = sigma[1] * sigma[1] / nd;
    const auto omegaBound = [&](std::size_t j) {
        return 24 * sigma[j] * sigma[j] / (Amplitudes[j] * Amplitudes[j] * nd * (nd * nd - 1));
    };
    const double crbFSingle = omegaBound(1) * std::pow(c.rate / (2 * Pi), 2);
    const double crbFShared =
        1.0 / (1.0 / omegaBound(0) + 1.0 / omegaBound(1)) * std::pow(c.rate / (2 * Pi), 2);
    const auto phaseBound = [&](std::size_t j) {
        return 2 * sigma[j] * sigma[j] / (Amplitudes[j] * Amplitudes[j] * nd);
    };
    const double crbP = (phaseBound(0) + phaseBound(1)) * std::pow(180 / Pi, 2);
    const double trueV = Amplitudes[1] / std::numbers::sqrt2;
    const double trueP = measure::PhaseDifference(-Phases[0] * 180 / Pi, -Phases[1] * 180 / Pi);

    std::vector<double> clean(2 * c.n);
    for (std::uint32_t i = 0; i < c.n; ++i) {
        for (std::uint32_t j = 0; j < 2; ++j) {
            clean[2 * i + j] = Amplitudes[j] * std::cos(omega * i + Phases[j]);
        }
    }
    ksn::test::StandInFrame().resize(clean.size());
    Tally tallies[2];
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (int f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < clean.size(); ++i) {
            ksn::test::StandInFrame()[i] = clean[i] + sigma[i % 2] * gauss(random);
        }
        for (int m = 0; m < 2; ++m) {
            measure::MeasurementCycle& cycle = m == 0 ? fft.cycle : fit.cycle;
            const auto start = Clock::now();
            if (!cycle.ProcessFrame()) {
                return false;
            }
            Tally& t = tallies[m];
            t.seconds += std::chrono::duration<double>(Clock::now() - start).count();
            if (!cycle.Readings().Uncertain[0] || !cycle.Readings().Uncertain[1]) {
                std::fprintf(stderr, "bench_precision: a frame without uncertainty\n");
                return false;
            }
            const double ev = cycle.Readings().Voltage[1] - trueV;
            const double ef = cycle.Readings().Frequency[1] - frequency;
            const double ep =
                measure::PhaseDifference(cycle.Readings().Phase[0], cycle.Readings().Phase[1]) -
                trueP;
            const double uv = cycle.Readings().VoltageU[1];
            const double uf = cycle.Readings().FrequencyU[1];
            const double up = std::hypot(cycle.Readings().PhaseU[0], cycle.Readings().PhaseU[1]);
            t.sumV += ev * ev;
            t.sumF += ef * ef;
            t.sumP += ep * ep;
            t.crbV += crbV;
            t.crbF += m == 0 ? crbFSingle : crbFShared;
            t.crbP += crbP;
            t.coveredV += std::fabs(ev) <= 2 * uv ? 1 : 0;
            t.coveredF += std::fabs(ef) <= 2 * uf ? 1 : 0;
            t.coveredP += std::fabs(ep) <= 2 * up ? 1 : 0;
            ++t.frames;
            if (m == 0) {
                // The phase of the "fft" estimate moved from the first sample
                // to the centre with its own frequency: the centre's spread.
                const double shift = 0.5 * (nd - 1) * 2 * Pi / c.rate * 180 / Pi;
                const double centre =
                    cycle.Readings().Phase[1] - cycle.Readings().Frequency[1] * shift;
                const double truth = -Phases[1] * 180 / Pi - frequency * shift;
                const double e = std::remainder(centre - truth, 360.0);
                t.centrePhase += e * e;
                t.crbCentre += phaseBound(1) * std::pow(180 / Pi, 2);
            }
        }
    }
    Report("fft", c, tallies[0], fftTotals);
    Report("fit", c, tallies[1], fitTotals);
    return true;
}

// Processing of one frame of `channels` channels, the best of several runs,
// against its acquisition time: wall time, and the process's CPU time (both
// lanes; on a loaded machine the steadier of the two, and no less than the
// wall time of an idle one).
struct Cost {
    double Wall = -1;
    double Cpu = -1;
};

double ProcessSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

Cost CostRatio(const char* method, std::uint32_t channels, std::uint32_t n, double rate)
{
    Run run(method, channels, n, rate);
    if (!run.ready) {
        return {};
    }
    std::mt19937_64 random(99);
    std::normal_distribution<double> gauss(0.0, 1e-4);
    ksn::test::StandInFrame().resize(static_cast<std::size_t>(channels) * n);
    for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t j = 0; j < channels; ++j) {
            // Two tones among the channels, so the fit makes two groups.
            const double bin = j % 2 == 0 ? 1000.3 : 2345.7;
            ksn::test::StandInFrame()[i * channels + j] =
                (1.0 - 0.1 * j) * std::cos(2 * Pi * bin * i / n + 0.2 * j) + gauss(random);
        }
    }
    double best = 1e300;
    double bestCpu = 1e300;
    for (int r = 0; r < 20; ++r) {
        const auto start = Clock::now();
        const double cpu = ProcessSeconds();
        if (!run.cycle.ProcessFrame()) {
            return {};
        }
        bestCpu = std::min(bestCpu, ProcessSeconds() - cpu);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return {best / (n / rate), bestCpu / (n / rate)};
}

}  // namespace

int main(int argc, char** argv)
{
    // --quick: fewer frames, for a look; --cost: the cost lines alone.
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const bool costOnly = argc > 1 && std::strcmp(argv[1], "--cost") == 0;
    const int frames = quick ? 100 : 400;
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    Totals fftTotals;
    Totals fitTotals;
    bool ok = true;
    std::vector<std::pair<double, std::uint32_t>> sizes;
    if (!costOnly) {
        sizes = {{9765.625, 1024u}, {9765.625, 8192u}, {78125.0, 8192u}, {78125.0, 65536u}};
    }
    for (const auto& [rate, n] : sizes) {
        for (const double snr : {20.0, 40.0, 60.0, 80.0, 100.0}) {
            const double low = 16.0;
            const double high = n / 2.0 - 9.0;
            const double random_bin = low + 1 + (high - low - 2) * fraction(random);
            for (const auto& [bin, kind] :
                 {std::pair{std::floor(n * 0.1), "integer"}, std::pair{std::floor(n * 0.3) + 0.5, "half"},
                  std::pair{random_bin, "random"}}) {
                ok = RunCase({rate, n, bin, snr, kind}, n >= 65536 ? frames / 2 : frames, random,
                             fftTotals, fitTotals) &&
                     ok;
            }
        }
    }
    for (const auto& [name, t] : {std::pair{"fft", fftTotals}, std::pair{"fit", fitTotals}}) {
        if (costOnly) {
            break;
        }
        const double f = t.frames;
        std::printf("summary method=%s frames=%.0f worst_v_spread_over_crb=%.3f "
                    "worst_f_spread_over_crb=%.3f worst_dphi_spread_over_crb=%.3f "
                        "pooled_v=%.3f pooled_f=%.3f pooled_dphi=%.3f "
                    "worst_excess_over_1.1_in_sigma=%.2f "
                    "v_coverage=%.4f f_coverage=%.4f dphi_coverage=%.4f coverage_sigma=%.4f\n",
                    name, t.frames, t.worstV, t.worstF, t.worstP, std::sqrt(t.sumV / t.crbV),
                    std::sqrt(t.sumF / t.crbF), std::sqrt(t.sumP / t.crbP), t.worstExcess,
                    t.coveredV / f, t.coveredF / f, t.coveredP / f, std::sqrt(0.95 * 0.05 / f));
    }
    if (!costOnly) {
        std::printf("summary fft_frequency_factor=%.3f fft_centre_phase_factor=%.3f\n",
                fftTotals.fftFactorF / std::max(1.0, fftTotals.factorCases),
                    fftTotals.fftFactorP / std::max(1.0, fftTotals.factorCases));
    }
    // 262144: the largest frame of 8 channels (16 777 216 / 8 / 8).
    for (const std::uint32_t n : {8192u, 65536u, 262144u}) {
        for (const char* method : {"fft", "fit"}) {
            const Cost cost = CostRatio(method, 8, n, 78125.0);
            ok = cost.Wall >= 0 && ok;
            std::printf("cost method=%s channels=8 rate=78125 n=%u realtime_ratio=%.6f "
                        "cpu_ratio=%.6f\n",
                        method, n, cost.Wall, cost.Cpu);
        }
    }
    return ok ? 0 : 1;
}
