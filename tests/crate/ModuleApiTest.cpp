// Module API against a running crate server: opening, configuring,
// streaming and converting raw words into volts.

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <numbers>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrateServer.h"
#include "ModuleSteps.h"
#include "RawWord.h"
#include "ksn48api.h"

namespace {

using ksn::test::Configure;
using ksn::test::CrateServer;
using ksn::test::OpenModule;
using ksn::test::ReceiveFrame;

class ModuleApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new CrateServer(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void TearDown() override
    {
        if (KSN48_IsOpened(&h_) == KSN_OK) {
            KSN48_Close(&h_);
        }
    }
    static CrateServer* server_;
    Ksn48Handle h_{};
};

CrateServer* ModuleApi::server_ = nullptr;

// Calling order 3: open the chosen module and read its information.
TEST_F(ModuleApi, OpenFillsTheModuleInformation)
{
    const struct {
        const char* crate;
        int slot;
        const char* serial;
        uint16_t firmware;
    } cases[] = {{"KSN5-0042", 3, "4811001", 12},
                 {"KSN5-0042", 5, "4811002", 8},
                 {"KSN1-0107", 1, "4812001", 10}};
    for (const auto& c : cases) {
        if (KSN48_IsOpened(&h_) == KSN_OK) {
            KSN48_Close(&h_);
        }
        ASSERT_EQ(OpenModule(h_, c.crate, c.slot), KSN_OK) << c.crate << " " << c.slot;
        EXPECT_EQ(KSN48_IsOpened(&h_), KSN_OK);
        EXPECT_STREQ(h_.ModuleName, "KSN48");
        EXPECT_STREQ(h_.ModuleSerial, c.serial);
        EXPECT_EQ(h_.FirmwareVersion, c.firmware);
        EXPECT_EQ(h_.AcquisitionRunning, 0);
    }
}

TEST_F(ModuleApi, OpenRefusesWhatIsNotAnOpenableModule)
{
    const struct {
        const char* crate;
        int slot;
        int expected;
    } cases[] = {
        {"KSN5-0042", 1, KSN_ERR_NOT_MODULE},  // another module type
        {"KSN5-0042", 2, KSN_ERR_NOT_MODULE},  // empty slot
        {"KSN9-9999", 3, KSN_ERR_NOT_FOUND},
        {"KSN5-0042", 0, KSN_ERR_INVALID_ARGUMENT},
        {"KSN5-0042", 17, KSN_ERR_INVALID_ARGUMENT},
        {"", 3, KSN_ERR_INVALID_ARGUMENT},
        {"0123456789ABCDEF", 3, KSN_ERR_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OpenModule(h_, c.crate, c.slot), c.expected) << c.crate << " " << c.slot;
        EXPECT_EQ(KSN48_IsOpened(&h_), KSN_ERR_NOT_OPEN);
    }
    EXPECT_EQ(KSN48_Open(&h_, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, nullptr, 3),
              KSN_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KSN48_Open(nullptr, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3),
              KSN_ERR_INVALID_ARGUMENT);
}

TEST_F(ModuleApi, CallsOutOfOrderAreRefused)
{
    uint32_t words[8];
    EXPECT_EQ(KSN48_SetADC(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_Start(&h_), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_Recv(&h_, words, nullptr, 8, 100), KSN_ERR_NOT_OPEN);
    EXPECT_EQ(KSN48_Close(&h_), KSN_ERR_NOT_OPEN);
    ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
    EXPECT_EQ(KSN48_Open(&h_, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3),
              KSN_ERR_STATE);
    EXPECT_EQ(KSN48_Start(&h_), KSN_ERR_STATE);  // not configured yet
    EXPECT_EQ(KSN48_Stop(&h_), KSN_ERR_STATE);
    EXPECT_EQ(KSN48_Recv(&h_, words, nullptr, 8, 100), KSN_ERR_STATE);

    const struct {
        const char* what;
        uint8_t mask, rate, format, current;
    } bad[] = {{"no channel", 0, 0, 0, 0},
               {"rate code 8", 1, 8, 0, 0},
               {"format 2", 1, 0, 2, 0},
               {"current 2", 1, 0, 0, 2}};
    for (const auto& b : bad) {
        EXPECT_EQ(Configure(h_, b.mask, b.rate, b.format, b.current), KSN_ERR_INVALID_ARGUMENT)
            << b.what;
    }
    Configure(h_, 1, 0, 0);
    h_.Channel[2].ChannelEnabled = 7;  // neither 0 nor 1
    EXPECT_EQ(KSN48_SetADC(&h_), KSN_ERR_INVALID_ARGUMENT);

    ASSERT_EQ(Configure(h_, 0x0F, 0, 0), KSN_OK);
    ASSERT_EQ(KSN48_Start(&h_), KSN_OK);
    EXPECT_EQ(KSN48_Start(&h_), KSN_ERR_STATE);
    EXPECT_EQ(KSN48_SetADC(&h_), KSN_ERR_STATE);
    uint32_t marks[8];
    EXPECT_EQ(KSN48_Recv(&h_, words, marks, 8, 100), KSN_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KSN48_Recv(&h_, words, nullptr, 0, 100), KSN_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KSN48_Recv(&h_, nullptr, nullptr, 8, 100), KSN_ERR_INVALID_ARGUMENT);
    // Close stops a running acquisition.
    EXPECT_EQ(KSN48_Close(&h_), KSN_OK);
    EXPECT_EQ(h_.AcquisitionRunning, 0);
}

double Expected(double amplitude, double phaseDeg, double dc, double rate, uint64_t n)
{
    const long double turns = 1000.0L * n / rate + phaseDeg / 360.0L;
    return dc + amplitude * static_cast<double>(std::sin(2.0L * std::numbers::pi_v<long double> *
                                                         (turns - std::floor(turns))));
}

struct VoltsCase {
    uint8_t format;
    uint8_t rateCode;
    uint8_t mask;
};

class DefaultSignals : public ModuleApi, public ::testing::WithParamInterface<VoltsCase> {};

// Calling order 4, and the volts of the default signals within one
// quantisation step; the short and open channels report their status.
TEST_P(DefaultSignals, VoltsMatchTheConfiguredSines)
{
    const VoltsCase c = GetParam();
    const bool is24 = c.format == 1;
    ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
    if (h_.AcquisitionRunning) {
        KSN48_Stop(&h_);
    }
    ASSERT_EQ(Configure(h_, c.mask, c.rateCode, c.format), KSN_OK);
    const int n = ksn::test::EnabledCount(h_);
    const uint32_t ticks = 2000;
    const uint32_t words = ticks * static_cast<uint32_t>(n) * (is24 ? 2U : 1U);
    const double rate = 78125.0 / (1U << c.rateCode);
    // Blocks that split samples and ticks, as a tenth of a second often does.
    const auto raw = ReceiveFrame(h_, words, 1237);
    ASSERT_EQ(raw.size(), words);

    std::vector<double> volts(words);
    uint32_t size = words;
    int32_t status[KSN48_CHANNEL_COUNT];
    std::fill(std::begin(status), std::end(status), -1);
    ASSERT_EQ(KSN48_ProcessData(&h_, raw.data(), volts.data(), &size, KSN48_FLAG_CONVERT, status),
              KSN_OK);
    ASSERT_EQ(size, is24 ? words / 2 : words);

    const double amplitude[8] = {1.0, 0.5, 2.0, 1.0, 0.25, 1.0, 0, 0};
    const double phase[8] = {0, 30, -90, 45, 120, 0, 0, 0};
    const double step = 5.0 / (is24 ? 8388608.0 : 524288.0);
    int k = 0;
    for (int ch = 0; ch < 8; ++ch) {
        if (!((c.mask >> ch) & 1)) {
            continue;
        }
        const int32_t expectedStatus = ch == 6 ? 2 : ch == 7 ? 1 : 0;
        EXPECT_EQ(status[k], expectedStatus) << "channel " << ch + 1;
        double worst = 0.0;
        double noiseSq = 0.0;
        for (uint32_t i = 0; i < ticks; ++i) {
            const double v = volts[static_cast<uint32_t>(k) + i * static_cast<uint32_t>(n)];
            double want = 0.0;
            if (ch == 6) {
                want = 5.0 - step;  // an open input sits at the positive rail
            } else if (ch < 6) {
                want = Expected(amplitude[ch], phase[ch], ch == 5 ? 0.5 : 0.0, rate, i);
            }
            const double err = v - want;
            worst = std::max(worst, std::abs(err));
            noiseSq += err * err;
        }
        if (ch == 5) {
            // 1 mV RMS of noise on top of the sine and the 0.5 V offset.
            EXPECT_NEAR(std::sqrt(noiseSq / ticks), 0.001, 0.0002) << "channel 6";
        } else {
            EXPECT_LE(worst, step / 2 + 1e-7) << "channel " << ch + 1;
        }
        ++k;
    }
    for (int j = n; j < 8; ++j) {
        EXPECT_EQ(status[j], -1) << "status past the enabled channels was written";
    }
    // The phase correction flag is accepted and converts the same words alike.
    std::vector<double> again(words);
    size = words;
    ASSERT_EQ(KSN48_ProcessData(&h_, raw.data(), again.data(), &size,
                                KSN48_FLAG_CONVERT | KSN48_FLAG_PHASE_CORRECTION, status),
              KSN_OK);
    again.resize(size);
    volts.resize(size);
    EXPECT_EQ(again, volts);
}

INSTANTIATE_TEST_SUITE_P(FormatsRatesAndChannels, DefaultSignals,
                         ::testing::Values(VoltsCase{0, 0, 0xFF}, VoltsCase{1, 0, 0xFF},
                                           VoltsCase{0, 7, 0xFF}, VoltsCase{1, 3, 0b10100101},
                                           VoltsCase{1, 0, 0x40}, VoltsCase{0, 2, 0x04}),
                         [](const auto& p) {
                             return std::string(p.param.format ? "Bits24" : "Bits20") + "_Rate" +
                                    std::to_string(p.param.rateCode) + "_Mask" +
                                    std::to_string(p.param.mask);
                         });

// Frames longer than the decoder's blocks, ending in a cut tick: every
// sample comes back, a channel's status is its last fault in the frame, and
// a bad word deep in the frame is still found.
TEST_F(ModuleApi, ProcessDataKeepsEverySampleAndTheLastFaultOfLongFrames)
{
    ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
    using namespace ksn::raw;
    const struct {
        uint8_t mask;
        uint8_t format;
        uint32_t samples;
    } cases[] = {{0b00000001, 0, 1001},
                 {0b10100101, 0, 8 * 4 * 5 + 3},
                 {0xFF, 0, 64 * 7 + 9},
                 {0b01000010, 1, 16 * 9 + 1},
                 {0xFF, 1, 64 * 5 + 63}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << int{c.mask} << " format " << int{c.format});
        ASSERT_EQ(Configure(h_, c.mask, 0, c.format), KSN_OK);
        std::vector<unsigned> channels;
        for (unsigned ch = 0; ch < 8; ++ch) {
            if ((c.mask >> ch & 1U) != 0) {
                channels.push_back(ch);
            }
        }
        const auto n = static_cast<uint32_t>(channels.size());
        const bool is24 = c.format == 1;
        const int32_t max = is24 ? kMax24 : kMax20;
        std::vector<uint32_t> words;
        std::vector<int32_t> codes;
        for (uint32_t i = 0; i < c.samples; ++i) {
            const uint32_t k = i % n;
            // The first channel shorts early and opens late; the last one
            // only shorts early. Every other sample is valid.
            uint32_t st = KSN48_STATUS_VALID;
            if (i / n == 2 && (k == 0 || k == n - 1)) {
                st = KSN48_STATUS_SHORT;
            } else if (k == 0 && i / n == (c.samples / n) * 2 / 3) {
                st = KSN48_STATUS_OPEN;
            }
            const int32_t code =
                static_cast<int32_t>((i * 7919U) % (2U * static_cast<uint32_t>(max))) - max;
            codes.push_back(code);
            if (is24) {
                words.resize(words.size() + 2);
                Encode24(channels[k], st, code, &words[words.size() - 2]);
            } else {
                words.push_back(Encode20(channels[k], st, code));
            }
        }
        std::vector<double> out(c.samples);
        int32_t status[KSN48_CHANNEL_COUNT];
        uint32_t size = static_cast<uint32_t>(words.size());
        ASSERT_EQ(KSN48_ProcessData(&h_, words.data(), out.data(), &size, 0x81, status), KSN_OK);
        ASSERT_EQ(size, c.samples);
        for (uint32_t i = 0; i < c.samples; ++i) {
            ASSERT_EQ(out[i], ToVolts(codes[i], is24)) << "sample " << i;
        }
        EXPECT_EQ(status[0], 2) << "open after the short: the last fault counts";
        if (n > 1) {
            EXPECT_EQ(status[n - 1], 1);
        }
        for (uint32_t k = 1; k + 1 < n; ++k) {
            EXPECT_EQ(status[k], 0) << k;
        }
        // One reserved bit set in the last whole tick.
        words[words.size() - (is24 ? 2 : 1) * (n + c.samples % n)] |= 1U << 24U;
        size = static_cast<uint32_t>(words.size());
        EXPECT_EQ(KSN48_ProcessData(&h_, words.data(), out.data(), &size, 0x81, status),
                  KSN_ERR_BAD_DATA);
        EXPECT_EQ(size, 0U);
    }
}

// Count rules and the checks of ProcessData on words built by hand.
TEST_F(ModuleApi, ProcessDataCountsAndChecksTheWords)
{
    ASSERT_EQ(OpenModule(h_, "KSN5-0042", 3), KSN_OK);
    using namespace ksn::raw;
    int32_t status[KSN48_CHANNEL_COUNT];
    double out[16];

    ASSERT_EQ(Configure(h_, 0b00000110, 0, 0), KSN_OK);  // channels 2 and 3, 20-bit
    const uint32_t w20[5] = {Encode20(1, KSN48_STATUS_VALID, kMax20),
                             Encode20(2, KSN48_STATUS_SHORT, -kMax20 - 1),
                             Encode20(1, KSN48_STATUS_VALID, -1),
                             Encode20(2, KSN48_STATUS_VALID, 0), Encode20(1, KSN48_STATUS_OPEN, 1)};
    uint32_t size = 5;
    ASSERT_EQ(KSN48_ProcessData(&h_, w20, out, &size, 0x81, status), KSN_OK);
    EXPECT_EQ(size, 5U);  // 20-bit: one sample per word, partial tick included
    EXPECT_DOUBLE_EQ(out[0], 5.0 * kMax20 / 524288.0);
    EXPECT_DOUBLE_EQ(out[1], -5.0);
    EXPECT_DOUBLE_EQ(out[2], -5.0 / 524288.0);
    EXPECT_EQ(out[3], 0.0);
    EXPECT_EQ(status[0], 2);  // channel 2 went open in the frame
    EXPECT_EQ(status[1], 1);  // channel 3 shorted in the frame

    ASSERT_EQ(Configure(h_, 0b00000001, 0, 1), KSN_OK);  // channel 1, 24-bit
    uint32_t w24[5];
    Encode24(0, KSN48_STATUS_VALID, -kMax24 - 1, w24);
    Encode24(0, KSN48_STATUS_VALID, 0x123456, w24 + 2);
    w24[4] = w24[0];
    for (uint32_t in : {4U, 5U}) {
        size = in;
        ASSERT_EQ(KSN48_ProcessData(&h_, w24, out, &size, 0x91, status), KSN_OK) << in;
        EXPECT_EQ(size, 2U) << "24-bit: out = in / 2 for in = " << in;
        EXPECT_DOUBLE_EQ(out[0], -5.0);
        EXPECT_DOUBLE_EQ(out[1], 0x123456 * 5.0 / 8388608.0);
        EXPECT_EQ(status[0], 0);
    }

    // Words that do not fit the applied configuration are refused.
    uint32_t pair[2];
    Encode24(0, KSN48_STATUS_VALID, 5, pair);
    const struct {
        const char* what;
        std::vector<uint32_t> words;
    } bad[] = {
        {"20-bit word in 24-bit data",
         {Encode20(0, KSN48_STATUS_VALID, 5), Encode20(0, KSN48_STATUS_VALID, 5)}},
        {"parts swapped", {pair[1], pair[0]}},
        {"other channel", {pair[0] | (3U << kChannelShift), pair[1] | (3U << kChannelShift)}},
        {"status differs in the parts", {pair[0] | (1U << kStatusShift), pair[1]}},
        {"status 3", {pair[0] | (3U << kStatusShift), pair[1] | (3U << kStatusShift)}},
        {"reserved bits", {pair[0] | 0x00100000U, pair[1]}},
    };
    for (const auto& b : bad) {
        size = static_cast<uint32_t>(b.words.size());
        EXPECT_EQ(KSN48_ProcessData(&h_, b.words.data(), out, &size, 0x81, status),
                  KSN_ERR_BAD_DATA)
            << b.what;
        EXPECT_EQ(size, 0U) << b.what;
    }

    const struct {
        const char* what;
        uint32_t flags;
        uint32_t size;
    } args[] = {{"no convert bit", 0x10, 2},
                {"half the convert bits", 0x80, 2},
                {"unknown bit", 0x181, 2},
                {"no words", 0x81, 0},
                {"half a sample", 0x81, 1}};
    for (const auto& a : args) {
        size = a.size;
        EXPECT_EQ(KSN48_ProcessData(&h_, w24, out, &size, a.flags, status),
                  KSN_ERR_INVALID_ARGUMENT)
            << a.what;
    }
    size = 2;
    EXPECT_EQ(KSN48_ProcessData(&h_, w24, out, nullptr, 0x81, status), KSN_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KSN48_ProcessData(&h_, w24, out, &size, 0x81, nullptr), KSN_ERR_INVALID_ARGUMENT);
    Ksn48Handle fresh;
    KSN48_Init(&fresh);
    EXPECT_EQ(KSN48_ProcessData(&fresh, w24, out, &size, 0x81, status), KSN_ERR_STATE);
}

TEST_F(ModuleApi, AModuleIsOpenToOneClientAtATime)
{
    ASSERT_EQ(OpenModule(h_, "KSN1-0107", 1), KSN_OK);
    Ksn48Handle other{};
    EXPECT_EQ(OpenModule(other, "KSN1-0107", 1), KSN_ERR_BUSY);
    EXPECT_EQ(OpenModule(other, "KSN5-0042", 5), KSN_OK);  // another module is free
    KSN48_Close(&other);
    KSN48_Close(&h_);
    EXPECT_EQ(OpenModule(other, "KSN1-0107", 1), KSN_OK);  // free again right after close
    KSN48_Close(&other);
}

TEST_F(ModuleApi, AClientThatDiesFreesItsModule)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Ksn48Handle h{};
        const char ok = OpenModule(h, "KSN5-0042", 5) == KSN_OK ? '1' : '0';
        if (write(ready[1], &ok, 1) != 1) {
            _exit(1);
        }
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(ok, '1');
    EXPECT_EQ(OpenModule(h_, "KSN5-0042", 5), KSN_ERR_BUSY);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // The server notices the dead connection at once; allow it a moment.
    int r = KSN_ERR_BUSY;
    for (int i = 0; i < 100 && r == KSN_ERR_BUSY; ++i) {
        r = OpenModule(h_, "KSN5-0042", 5);
        if (r == KSN_ERR_BUSY) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(r, KSN_OK);
}

TEST_F(ModuleApi, SignalAndStatusChangesReachTheData)
{
    ASSERT_EQ(OpenModule(h_, "KSN1-0107", 1), KSN_OK);
    ASSERT_EQ(server_->Ctl({"signal", "KSN1-0107", "1", "1", "--no-sines", "--dc", "1.25"}), 0);
    ASSERT_EQ(server_->Ctl({"status", "KSN1-0107", "1", "2", "short"}), 0);
    ASSERT_EQ(Configure(h_, 0b11, 0, 1), KSN_OK);
    const auto raw = ReceiveFrame(h_, 400, 400);
    ASSERT_EQ(raw.size(), 400U);
    std::vector<double> volts(400);
    uint32_t size = 400;
    int32_t status[KSN48_CHANNEL_COUNT];
    ASSERT_EQ(KSN48_ProcessData(&h_, raw.data(), volts.data(), &size, 0x81, status), KSN_OK);
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(status[1], 1);
    for (uint32_t i = 0; i < size; i += 2) {
        ASSERT_NEAR(volts[i], 1.25, 5.0 / 8388608.0) << i;
        ASSERT_EQ(volts[i + 1], 0.0) << i;
    }
    // Back to the default, for the other tests.
    ASSERT_EQ(server_->Ctl({"signal", "KSN1-0107", "1", "1", "--sine", "1,1000,0", "--dc", "0"}),
              0);
    ASSERT_EQ(server_->Ctl({"status", "KSN1-0107", "1", "2", "ok"}), 0);
}

// Clients on their own threads stream from three modules at once; each gets
// its own, intact stream.
TEST_F(ModuleApi, ModulesStreamToSeveralClientsAtOnce)
{
    const struct {
        const char* crate;
        int slot;
    } modules[] = {{"KSN5-0042", 3}, {"KSN5-0042", 5}, {"KSN1-0107", 1}};
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (const auto& m : modules) {
        threads.emplace_back([&good, m] {
            Ksn48Handle h{};
            if (OpenModule(h, m.crate, m.slot) != KSN_OK || Configure(h, 0xFF, 0, 1) != KSN_OK) {
                return;
            }
            int frames = 0;
            std::vector<uint32_t> raw(16000);
            std::vector<double> volts(8000);
            for (int f = 0; f < 20; ++f) {
                if (KSN48_Start(&h) != KSN_OK) {
                    break;
                }
                const bool got = KSN48_Recv(&h, raw.data(), nullptr, 7000, 5000) == 7000 &&
                                 KSN48_Recv(&h, raw.data() + 7000, nullptr, 9000, 5000) == 9000;
                if (KSN48_Stop(&h) != KSN_OK || !got) {
                    break;
                }
                uint32_t size = 16000;
                int32_t status[KSN48_CHANNEL_COUNT];
                // Channel 3 starts at -2 V (2 V at -90 degrees) in every frame.
                if (KSN48_ProcessData(&h, raw.data(), volts.data(), &size, 0x81, status) !=
                        KSN_OK ||
                    size != 8000 || std::abs(volts[2] + 2.0) > 1e-6 || status[6] != 2 ||
                    status[7] != 1) {
                    break;
                }
                ++frames;
            }
            KSN48_Close(&h);
            if (frames == 20) {
                ++good;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(good, 3);
}

// Without --fast the server delivers a word once its sample tick has
// passed: a frame of N samples takes N / Fs.
TEST(RealTimeServer, PacesTheStreamAtTheSampleRate)
{
    CrateServer server("", false);
    Ksn48Handle h{};
    ASSERT_EQ(OpenModule(h, "KSN5-0042", 3), KSN_OK);
    ASSERT_EQ(Configure(h, 0b11, 7, 0), KSN_OK);  // 610.35 Hz, two channels
    const double rate = 78125.0 / 128;
    std::vector<uint32_t> words(2 * 122);  // 122 ticks: 0.2 s
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(KSN48_Start(&h), KSN_OK);
    ASSERT_EQ(KSN48_Recv(&h, words.data(), nullptr, 2 * 61, 5000), 2 * 61);
    ASSERT_EQ(KSN48_Recv(&h, words.data() + 122, nullptr, 2 * 61, 5000), 2 * 61);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took, 121 / rate);
    // Asking for a second of data with 50 ms to wait gets what is there by then.
    const int r = KSN48_Recv(&h, words.data(), nullptr, 2 * 610, 50);
    EXPECT_GT(r, 0);
    EXPECT_LT(r, 2 * 610);
    EXPECT_EQ(KSN48_Stop(&h), KSN_OK);
    EXPECT_EQ(KSN48_Close(&h), KSN_OK);
}

}  // namespace
