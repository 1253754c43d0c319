// What writing a frame's row to the results log costs against the frame's
// own processing: one raw frame per case comes from a fast-mode crate server,
// the measurement cycle converts and estimates it (best of several runs, as
// bench_measure does), and the row of that frame is then written many times
// into a file through the results writer, in CSV, NDJSON and the display's
// strings. Prints one line per case with frame_ratio=<row/acquisition time>
// and, last, row_ratio=<row/processing>, both for the dearest of the three
// forms. A row costs a few microseconds, most of it the write call that puts
// it into the file at once; against the short frames' processing of a few
// microseconds that is much, against their time of at least N / Fs + 100 ms
// it is nothing.

#include "AdcRates.h"
#include "CrateServer.h"
#include "CycleResults.h"
#include "MeasurementCycle.h"
#include "QuietCycle.h"
#include "MeasurementTexts.h"
#include "ResultsWriter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Repeats = 5;
constexpr int Rows = 2000;           // rows per timing
constexpr double LargestTime = 1e9;  // seconds: only the frame cap limits N

struct Case {
    std::uint32_t channels;
    int rateIndex;
    double time;
    const char* label;
};

// Seconds per row, best of the repeats, for one form of the log.
double RowSeconds(const measure::FrameResult& frame, std::uint32_t channels,
                  measure::ResultsSyntax syntax, bool display, const std::string& path)
{
    measure::ResultsLayout layout;
    for (std::uint32_t c = 0; c < channels; ++c) {
        layout.Channels[c] = true;
    }
    layout.Syntax = syntax;
    layout.Display = display;
    layout.VoltageFormat = "0.00";
    layout.FrequencyFormat = "0.00000";
    layout.PhaseFormat = "0.000";
    layout.FrequencyFormatAbove100 = MeasurementText::FrequencyFormatAbove100;
    layout.FrequencyFormatAbove1000 = MeasurementText::FrequencyFormatAbove1000;
    double best = 1e300;
    for (int r = 0; r < Repeats; ++r) {
        ::unlink(path.c_str());
        measure::ResultsWriter writer(layout, measure::ResultsFile::Append(path));
        writer.Begin();
        writer.Write(frame);  // the first row may allocate; the others not
        measure::FrameResult next = frame;
        const auto start = Clock::now();
        for (int i = 0; i < Rows; ++i) {
            ++next.Frame;
            writer.Write(next);
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count() / Rows);
        writer.Close();
    }
    ::unlink(path.c_str());
    return best;
}

// Returns false when the frame could not be had or processed.
bool RunCase(Ksn48Handle& handle, const Case& c, const std::string& path)
{
    ksn::test::QuietHost host("bench_results");
    measure::MeasurementCycle cycle(host, handle, host.terminated, host.shown);
    const device::AdcRateEntry& rate = *device::FindAdcRate(c.rateIndex);
    if (!ksn::test::ConfigureModule(cycle, handle, rate.RateCode, rate.Frequency, c.channels,
                                    c.time)) {
        return false;
    }
    const double processing = ksn::test::BestFrameProcessing(cycle, Repeats);
    if (processing < 0.0) {
        return false;
    }
    measure::FrameResult frame;
    measure::FillFrameResult(cycle, frame);
    frame.Time = std::chrono::system_clock::now();
    frame.Frame = 1;
    const double csv = RowSeconds(frame, c.channels, measure::ResultsSyntax::Csv, false, path);
    const double ndjson =
        RowSeconds(frame, c.channels, measure::ResultsSyntax::Ndjson, false, path);
    const double display = RowSeconds(frame, c.channels, measure::ResultsSyntax::Csv, true, path);
    const double row = std::max({csv, ndjson, display});
    const double acquisition = cycle.Config().SamplesPerChannel / rate.Frequency;
    std::printf("results channels=%u rate=%.4f time=%s N=%u processing_s=%.6f row_csv_s=%.9f "
                "row_ndjson_s=%.9f row_display_s=%.9f frame_ratio=%.8f row_ratio=%.6f\n",
                c.channels, rate.Frequency, c.label, cycle.Config().SamplesPerChannel, processing,
                csv, ndjson, display, row / acquisition, row / processing);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main()
{
    ksn::test::CrateServer server;  // fast mode, own port
    Ksn48Handle handle;
    KSN48_Init(&handle);
    if (KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3) != 0) {
        std::fprintf(stderr, "bench_results: cannot open the module\n");
        return 1;
    }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("bench-results-" + std::to_string(::getpid()) + ".log"))
                                 .string();
    int failed = 0;
    for (const std::uint32_t channels : {1u, 6u, 8u}) {
        for (int rate = 0; rate < 8; ++rate) {
            for (const auto& [time, label] : {std::pair{0.75, "0.75"}, std::pair{10.0, "10"}}) {
                failed += RunCase(handle, {channels, rate, time, label}, path) ? 0 : 1;
            }
        }
        failed += RunCase(handle, {channels, 7, LargestTime, "largest"}, path) ? 0 : 1;
    }
    KSN48_Close(&handle);
    return failed == 0 ? 0 : 1;
}
