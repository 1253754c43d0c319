// What a frame of the page "Спектр" costs the window: the capture of one
// channel's spectrum (levels, maximum trace, reduction to the plot's pixel
// columns) and the chart's update, on the offscreen platform. Prints one line
// per length: spectrum N=<N> update_ms=<capture + chart update, best of the
// runs> (goal: at most 10 ms at N = 2^20), its two parts, and paint_ms, what
// painting the updated chart into an image of its size takes on top.

#include "ChannelEstimator.h"
#include "SpectrumChart.h"
#include "SpectrumFigures.h"
#include "SpectrumTap.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

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

constexpr int Repeats = 7;
constexpr double Rate = 78125.0;
constexpr int Width = 1600;
constexpr int Height = 800;
constexpr double GoalMs = 10.0;
constexpr std::uint32_t GoalLength = 1u << 20;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    TSpectrumChart chart;
    chart.resize(Width, Height);
    chart.show();
    QApplication::processEvents();
    QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);

    bool met = true;
    for (std::uint32_t n = 1u << 14; n <= GoalLength; n <<= 2) {
        // A tone with harmonics in noise through the estimate, as a frame is.
        measure::ChannelEstimator estimator(measure::CalcMethod::Fft, measure::AmplitudeType::Rms,
                                            n, Rate, nullptr);
        std::vector<double> samples(n + 16), window(n + 16), spectrum(n + 16),
            amplitudes(n / 2 + 16), phases(n / 2 + 16);
        estimator.BuildWindow(window.data());
        std::mt19937_64 random(1);
        std::normal_distribution<double> noise(0.0, 1e-4);
        for (std::uint32_t i = 0; i < n; ++i) {
            const double t = i / Rate;
            samples[i] = std::cos(2 * std::numbers::pi * 1000.0 * t) +
                         0.01 * std::cos(2 * std::numbers::pi * 2000.0 * t) + noise(random);
        }
        const measure::ChannelEstimate estimate = estimator.Estimate(
            {samples.data(), window.data(), spectrum.data(), amplitudes.data(), phases.data()});
        const measure::SpectrumScale scale{n, estimator.Analyzer()->PeakHalfWidth(),
                                           estimator.WindowSum(), estimator.WindowMeanSquare()};
        const measure::SpectrumFigures figures =
            measure::ComputeSpectrumFigures(spectrum.data(), scale, estimate.PeakCentre);

        measure::SpectrumTap tap;
        if (!tap.Allocate(n)) {
            std::fprintf(stderr, "bench_spectrum: no memory for N=%u\n", n);
            return 1;
        }
        measure::SpectrumRequest request;
        request.Channel = 0;
        request.Columns = chart.PlotColumns();
        request.MaxHold = true;
        tap.SetRequest(request);

        double best = 1e300;
        double bestCapture = 0.0;
        double bestChart = 0.0;
        double bestPaint = 1e300;
        for (int r = 0; r < Repeats; ++r) {
            const auto start = Clock::now();
            tap.Capture(spectrum.data(), scale, Rate, figures);
            const auto captured = Clock::now();
            chart.ShowFrame(tap.Frame(), QStringLiteral("N = %1").arg(n),
                            QStringLiteral("707.11 мВ\n1.00000 кГц"));
            const auto updated = Clock::now();
            QPainter painter(&image);
            chart.render(&painter);
            painter.end();
            const auto painted = Clock::now();
            const double total = Ms(updated - start);
            if (total < best) {
                best = total;
                bestCapture = Ms(captured - start);
                bestChart = Ms(updated - captured);
            }
            bestPaint = std::min(bestPaint, Ms(painted - updated));
        }
        std::printf("spectrum N=%u points=%zu update_ms=%.3f capture_ms=%.3f chart_ms=%.3f "
                    "paint_ms=%.3f%s\n",
                    n, tap.Frame().Trace.size() + tap.Frame().MaxTrace.size(), best, bestCapture,
                    bestChart, bestPaint,
                    n == GoalLength ? (best <= GoalMs ? " goal=met" : " goal=missed") : "");
        if (n == GoalLength) {
            met = best <= GoalMs;
        }
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
