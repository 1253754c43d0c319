// Streams the heaviest configuration (8 channels, 78125 Hz, 24-bit) from a
// fast-mode server through KSN48_Recv and KSN48_ProcessData, in the
// measurement's blocks of a tenth of a second, and prints the sustained
// rate over what real time needs as throughput_ratio=X.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "CrateServer.h"
#include "ksn48api.h"

namespace {

constexpr double kRate = 78125.0;
constexpr uint32_t kChannels = 8;
constexpr uint32_t kWordsPerSecond =
    static_cast<uint32_t>(kRate) * kChannels * 2;                            // 24-bit: two words
constexpr uint32_t kBlock = static_cast<uint32_t>(0.1 * kRate * kChannels);  // counted in words
constexpr double kStreamSeconds = 20.0;                                      // of signal time
constexpr uint32_t kFrameWords = kWordsPerSecond;  // one second of data per frame

int Fail(const char* what, int r)
{
    std::fprintf(stderr, "bench_crate: %s failed: %s\n", what, KSN_ErrorName(r));
    return 1;
}

}  // namespace

int main()
{
    ksn::test::CrateServer server;  // fast mode, own port
    Ksn48Handle h;
    KSN48_Init(&h);
    int r = KSN48_Open(&h, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3);
    if (r != KSN_OK) {
        return Fail("KSN48_Open", r);
    }
    for (auto& c : h.Channel) {
        c.ChannelEnabled = 1;
    }
    h.RateCode = 0;
    h.DataFormat = 1;
    h.CurrentSource = 0;
    if ((r = KSN48_SetADC(&h)) != KSN_OK) {
        return Fail("KSN48_SetADC", r);
    }
    std::vector<uint32_t> words(kFrameWords);
    std::vector<double> volts(kFrameWords / 2);
    int32_t status[KSN48_CHANNEL_COUNT];
    const auto frames = static_cast<int>(kStreamSeconds);
    uint64_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
        if ((r = KSN48_Start(&h)) != KSN_OK) {
            return Fail("KSN48_Start", r);
        }
        for (uint32_t at = 0; at < kFrameWords;) {
            const uint32_t ask = std::min(kBlock, kFrameWords - at);
            r = KSN48_Recv(&h, words.data() + at, nullptr, ask, 5000);
            if (r != static_cast<int>(ask)) {
                return Fail("KSN48_Recv", r < 0 ? r : KSN_ERR_PROTOCOL);
            }
            at += ask;
        }
        if ((r = KSN48_Stop(&h)) != KSN_OK) {
            return Fail("KSN48_Stop", r);
        }
        uint32_t size = kFrameWords;
        if ((r = KSN48_ProcessData(&h, words.data(), volts.data(), &size, KSN48_FLAG_CONVERT,
                                   status)) != KSN_OK ||
            size != kFrameWords / 2) {
            return Fail("KSN48_ProcessData", r);
        }
        total += kFrameWords;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KSN48_Close(&h);
    const double wordsPerSecond = static_cast<double>(total) / seconds;
    std::printf("streamed %.0f s of 8 x 78125 Hz 24-bit data in %.3f s: %.1f Mwords/s, %.1f MB/s\n",
                kStreamSeconds, seconds, wordsPerSecond / 1e6, wordsPerSecond * 4 / 1e6);
    std::printf("real time needs %.2f Mwords/s\n", kWordsPerSecond / 1e6);
    std::printf("throughput_ratio=%.1f\n", wordsPerSecond / kWordsPerSecond);
    return 0;
}
