#include "ChannelEstimator.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using measure::AmplitudeType;
using measure::CalcMethod;
using measure::ChannelEstimate;
using measure::ChannelEstimator;
using measure::EstimateOutcome;

constexpr double Deg = std::numbers::pi / 180.0;

// Buffers of one run, sized the way the measurement cycle sizes them.
struct Frame {
    Frame(CalcMethod method, AmplitudeType amplitude, std::uint32_t n, double rate,
        const measure::StopFlag* stop = nullptr)
        : estimator(method, amplitude, n, rate, stop), samples(n + 16), window(n + 16, 0.0),
          spectrum(n + 16), amplitudes(n / 2 + 16), phases(n / 2 + 16)
    {
        built = estimator.BuildWindow(window.data());
    }

    // samples[i] = dc + sum of amplitude * cos(2 pi f t + phase)
    ChannelEstimate Estimate(double dc, const std::vector<std::array<double, 3>>& tones)
    {
        const double rate = estimator.AdcRate();
        for (std::uint32_t i = 0; i < estimator.Length(); ++i) {
            long double v = dc;
            for (const auto& [amplitude, frequency, phaseDeg] : tones) {
                const long double t = static_cast<long double>(i) / rate;
                v += amplitude * std::cos(2.0L * std::numbers::pi_v<long double> * frequency * t +
                                          phaseDeg * Deg);
            }
            samples[i] = static_cast<double>(v);
        }
        return estimator.Estimate(
            {samples.data(), window.data(), spectrum.data(), amplitudes.data(), phases.data()});
    }

    ChannelEstimator estimator;
    std::vector<double> samples;
    std::vector<double> window;
    std::vector<double> spectrum;
    std::vector<double> amplitudes;
    std::vector<double> phases;
    bool built = false;
};

struct ToneCase {
    const char* name;
    double rate;
    std::uint32_t n;
    double bin; // tone frequency in bins of the frame
    double amplitude;
    double phaseDeg;
};

class ToneEstimate : public testing::TestWithParam<ToneCase> {};

TEST_P(ToneEstimate, GivesVoltageFrequencyAndPhase)
{
    const ToneCase& c = GetParam();
    const double frequency = c.bin * c.rate / c.n;
    for (AmplitudeType type : {AmplitudeType::Rms, AmplitudeType::Amp}) {
        Frame run(CalcMethod::Fft, type, c.n, c.rate);
        ASSERT_TRUE(run.built);
        const ChannelEstimate e = run.Estimate(0.0, {{c.amplitude, frequency, c.phaseDeg}});
        ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
        const double voltage =
            type == AmplitudeType::Rms ? c.amplitude / std::numbers::sqrt2 : c.amplitude;
        EXPECT_NEAR(e.Voltage, voltage, 1e-9 * voltage);
        EXPECT_NEAR(e.Frequency, frequency, 1e-9 * frequency);
        // The estimate is the negated phase of the tone, wrapped once.
        double expected = -c.phaseDeg;
        expected += expected < -180.0 ? 360.0 : expected > 180.0 ? -360.0 : 0.0;
        EXPECT_NEAR(e.Phase, expected, 1e-9 * 180.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndLengths, ToneEstimate,
    testing::Values(ToneCase{"OnBin_610Hz_1024", 610.3515625, 1024, 100.0, 1.0, 0.0},
                    ToneCase{"OnBin_78125Hz_65536", 78125.0, 65536, 5000.0, 2.5, 45.0},
                    ToneCase{"HalfBin_9765Hz_4096", 9765.625, 4096, 419.5, 1.0, 30.0},
                    ToneCase{"OffBin_9765Hz_4096", 9765.625, 4096, 419.4304, 0.3, -120.0},
                    ToneCase{"OffBin_39062Hz_16384", 39062.5, 16384, 1234.71, 4.0, 170.0},
                    ToneCase{"OffBin_2441Hz_8192", 2441.40625, 8192, 37.25, 0.01, -179.0},
                    ToneCase{"OffBin_78125Hz_262144", 78125.0, 262144, 99999.9, 1.5, 90.0},
                    ToneCase{"NearNyquist_19531Hz_2048", 19531.25, 2048, 1000.3, 1.0, 10.0}),
    [](const testing::TestParamInfo<ToneCase>& p) { return std::string(p.param.name); });

} // namespace
