// Signal synthesis of the simulated module.

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

#include "Generator.h"

namespace {

using namespace ksn::sim;

double Exact(const Sine& s, double rate, uint64_t n)
{
    // In long double, reduced per turn, so that it stays exact for large n.
    const long double turns = static_cast<long double>(s.frequency) * n / rate + s.phase / 360.0L;
    const long double frac = turns - std::floor(turns);
    return s.amplitude *
           static_cast<double>(std::sin(2.0L * std::numbers::pi_v<long double> * frac));
}

TEST(Generator, SinesMatchAnyFrequencyAndPhaseAtAnyIndex)
{
    const struct {
        Sine sine;
        double rate;
    } cases[] = {
        {{1.0, 1000.0, 0.0}, 78125.0},        // not locked to the sample rate
        {{2.0, 1234.5678, -90.0}, 9765.625},  // fractional frequency
        {{0.25, 0.01, 120.0}, 610.3515625},   // very slow
        {{1.0, 30000.0, 45.0}, 78125.0},      // near Nyquist
        {{3.0, 1000.0, 400.0}, 78125.0},      // phase beyond a turn
    };
    const uint64_t indices[] = {0, 1, 2, 77, 78125, 123456789, 10'000'000'000ULL};
    for (const auto& c : cases) {
        std::array<ChannelSignal, kChannels> chans{};
        chans[2].sines = {c.sine};
        const Generator g(chans, c.rate, 1);
        for (uint64_t n : indices) {
            EXPECT_NEAR(g.Sample(2, n), Exact(c.sine, c.rate, n), 1e-7 * c.sine.amplitude)
                << c.sine.frequency << " Hz at n=" << n;
        }
        EXPECT_EQ(g.Sample(0, 5), 0.0);  // other channels silent
    }
}

TEST(Generator, SumsSinesAndDcAndKeepsChannelsCoherent)
{
    std::array<ChannelSignal, kChannels> chans{};
    chans[0].sines = {{1.0, 1000.0, 0.0}};
    chans[1].sines = {{1.0, 1000.0, 30.0}, {0.5, 3000.0, 0.0}};
    chans[1].dc = -0.25;
    const double rate = 78125.0;
    const Generator g(chans, rate, 1);
    for (uint64_t n = 0; n < 500; n += 7) {
        const double expected =
            Exact({1.0, 1000.0, 30.0}, rate, n) + Exact({0.5, 3000.0, 0.0}, rate, n) - 0.25;
        EXPECT_NEAR(g.Sample(1, n), expected, 2e-7);
    }
}

TEST(Generator, NoiseHasTheRmsAskedForAndIsReproducible)
{
    std::array<ChannelSignal, kChannels> chans{};
    chans[4].noise = 0.01;
    const Generator g(chans, 78125.0, 42);
    const Generator same(chans, 78125.0, 42);
    double sum = 0.0;
    double sumSq = 0.0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const double v = g.Sample(4, static_cast<uint64_t>(i));
        ASSERT_EQ(v, same.Sample(4, static_cast<uint64_t>(i)));
        sum += v;
        sumSq += v * v;
    }
    EXPECT_NEAR(sum / n, 0.0, 1e-4);
    EXPECT_NEAR(std::sqrt(sumSq / n), 0.01, 2e-4);
}

TEST(Generator, WordsAreTheSameHoweverTheStreamIsCut)
{
    std::array<ChannelSignal, kChannels> chans{};
    for (auto& c : chans) {
        c.sines = {{1.0, 777.0, 10.0}};
        c.noise = 0.001;
    }
    chans[3].status = KSN48_STATUS_OPEN;
    for (bool is24 : {false, true}) {
        const Generator g(chans, 9765.625, 9);
        const uint8_t mask = 0b10101011;  // channels 0, 1, 3, 5, 7
        std::vector<uint32_t> whole(1000);
        g.Words(mask, is24, 0, 1000, whole.data());
        std::vector<uint32_t> pieces(1000);
        uint32_t at = 0;
        for (uint32_t step : {1U, 3U, 7U, 250U, 739U}) {
            g.Words(mask, is24, at, step, pieces.data() + at);
            at += step;
        }
        EXPECT_EQ(pieces, whole) << (is24 ? "24-bit" : "20-bit");
        // Channel tags follow the enabled channels in order.
        const unsigned order[] = {0, 1, 3, 5, 7};
        const unsigned perSample = is24 ? 2 : 1;
        for (uint32_t i = 0; i < 1000; ++i) {
            ASSERT_EQ(ksn::raw::ChannelOf(whole[i]), order[(i / perSample) % 5]) << i;
        }
    }
}

}  // namespace
