#include "ffft/FFTReal.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

std::vector<double> RandomSignal(long n, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(n));
    for (double& v : x) {
        v = dist(rng);
    }
    return x;
}

// Spectrum as (re, im) pairs for bins 0 .. N/2.
struct Reference {
    std::vector<long double> re;
    std::vector<long double> im;
};

// Direct DFT in extended precision with an exact-index twiddle table.
Reference DirectDft(const std::vector<double>& x)
{
    const long n = static_cast<long>(x.size());
    std::vector<long double> c(static_cast<std::size_t>(n));
    std::vector<long double> s(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i) {
        const long double a = 2.0L * std::numbers::pi_v<long double> * i / n;
        c[static_cast<std::size_t>(i)] = std::cos(a);
        s[static_cast<std::size_t>(i)] = std::sin(a);
    }
    Reference ref;
    for (long k = 0; k <= n / 2; ++k) {
        long double re = 0.0L;
        long double im = 0.0L;
        for (long j = 0; j < n; ++j) {
            const auto t = static_cast<std::size_t>((k * j) % n);
            re += static_cast<long double>(x[static_cast<std::size_t>(j)]) * c[t];
            im -= static_cast<long double>(x[static_cast<std::size_t>(j)]) * s[t];
        }
        ref.re.push_back(re);
        ref.im.push_back(im);
    }
    return ref;
}

Reference Fftw(const std::vector<double>& x)
{
    const int n = static_cast<int>(x.size());
    double* in = fftw_alloc_real(x.size());
    fftw_complex* out = fftw_alloc_complex(x.size() / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    std::copy(x.begin(), x.end(), in);
    fftw_execute(plan);
    Reference ref;
    for (int k = 0; k <= n / 2; ++k) {
        ref.re.push_back(static_cast<long double>(out[k][0]));
        ref.im.push_back(static_cast<long double>(out[k][1]));
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
    return ref;
}

// max |error| / max |X| over the packed layout f.
double RelativeError(const std::vector<double>& f, const Reference& ref)
{
    const long half = static_cast<long>(f.size()) / 2;
    long double maxErr = 0.0L;
    long double maxAbs = 0.0L;
    for (long k = 0; k < static_cast<long>(ref.re.size()); ++k) {
        const auto ku = static_cast<std::size_t>(k);
        maxAbs = std::max(maxAbs, std::hypot(ref.re[ku], ref.im[ku]));
        maxErr = std::max(maxErr, std::fabs(static_cast<long double>(f[ku]) - ref.re[ku]));
        if (k > 0 && k < half) {
            const auto im = static_cast<long double>(f[static_cast<std::size_t>(half + k)]);
            maxErr = std::max(maxErr, std::fabs(im + ref.im[ku]));
        }
    }
    return static_cast<double>(maxErr / maxAbs);
}

std::vector<double> Transform(const std::vector<double>& x)
{
    ffft::FFTReal fft(static_cast<long>(x.size()));
    std::vector<double> f(x.size(), std::numeric_limits<double>::quiet_NaN());
    fft.forward_transform(x.data(), f.data());
    return f;
}

class FFTRealAgainstDirectDft : public testing::TestWithParam<int> {};

TEST_P(FFTRealAgainstDirectDft, MatchesToRounding)
{
    const long n = 1L << GetParam();
    const std::vector<double> x = RandomSignal(n, 100u + static_cast<unsigned>(GetParam()));
    EXPECT_LE(RelativeError(Transform(x), DirectDft(x)), 1e-12) << "N=" << n;
}

// Every power of two up to 2^12: the special small sizes, the table passes and,
// from 2^13 on (FFTW test below), the oscillator passes.
INSTANTIATE_TEST_SUITE_P(Lengths, FFTRealAgainstDirectDft, testing::Range(0, 13));

class FFTRealAgainstFftw : public testing::TestWithParam<int> {};

TEST_P(FFTRealAgainstFftw, MatchesToRounding)
{
    const int bits = GetParam();
    const long n = 1L << bits;
    const std::vector<double> x = RandomSignal(n, 200u + static_cast<unsigned>(bits));
    // The rotation oscillators of the long passes add error that grows with N.
    const double bound = bits <= 16 ? 1e-12 : 1e-12 * static_cast<double>(1L << (bits - 16));
    EXPECT_LE(RelativeError(Transform(x), Fftw(x)), bound) << "N=" << n;
}

INSTANTIATE_TEST_SUITE_P(Lengths, FFTRealAgainstFftw, testing::Range(13, 21));

// The transform's output bits, pinned: FNV-1a over the bit patterns of f for an
// input made from the raw words of a fixed generator, so that neither the
// input nor the check depends on a library's distributions. Any change of
// operation order or rounding in any pass changes the hash; loop order,
// blocking and instruction set must not.
struct PinnedCase {
    int bits;
    std::uint64_t hash;
};

std::uint64_t OutputHash(int bits, ffft::FFTReal::Isa isa)
{
    const long n = 1L << bits;
    std::mt19937_64 rng(500u + static_cast<unsigned>(bits));
    std::vector<double> x(static_cast<std::size_t>(n));
    for (double& v : x) {
        // Multiples of 2^-52 in [-1, 1).
        v = static_cast<double>(static_cast<std::int64_t>(rng() >> 11) - (std::int64_t{1} << 52)) *
            0x1p-52;
    }
    ffft::FFTReal fft(n, nullptr, isa);
    std::vector<double> f(x.size(), std::numeric_limits<double>::quiet_NaN());
    fft.forward_transform(x.data(), f.data());
    std::uint64_t hash = 14695981039346656037ULL;
    for (double v : f) {
        const auto b = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            hash ^= (b >> (8 * i)) & 0xffU;
            hash *= 1099511628211ULL;
        }
    }
    return hash;
}

class FFTRealPinned : public testing::TestWithParam<PinnedCase> {};

// Every build of the passes this processor can run.
TEST_P(FFTRealPinned, OutputBitsStayTheSame)
{
    const PinnedCase c = GetParam();
    using Isa = ffft::FFTReal::Isa;
    EXPECT_EQ(OutputHash(c.bits, Isa::Baseline), c.hash) << "N=2^" << c.bits << " baseline";
    if (ffft::FFTReal::isa_available(Isa::Avx2)) {
        EXPECT_EQ(OutputHash(c.bits, Isa::Avx2), c.hash) << "N=2^" << c.bits << " AVX2";
    }
}

// Every length up to 2^21 (small sizes, table passes, oscillator passes, both
// parities of the cache-sized and recursive orders) and the longest frame.
INSTANTIATE_TEST_SUITE_P(
    Lengths, FFTRealPinned,
    testing::Values(PinnedCase{0, 0x3bbea5f24a28d6e8ULL}, PinnedCase{1, 0x2c3f6bb7f47c6343ULL},
                    PinnedCase{2, 0x33a61a0ce5de35e7ULL}, PinnedCase{3, 0xd235b6b7392d8544ULL},
                    PinnedCase{4, 0x378f20a041ded568ULL}, PinnedCase{5, 0x4871e998380bf8b8ULL},
                    PinnedCase{6, 0x4bd9fe1377d7b38dULL}, PinnedCase{7, 0x23f2ea5509f28fe2ULL},
                    PinnedCase{8, 0x9e818da9afa84780ULL}, PinnedCase{9, 0x355fcd2ff6bb9e24ULL},
                    PinnedCase{10, 0x6bc856d28c3f1f41ULL}, PinnedCase{11, 0x4f707025214b7b7cULL},
                    PinnedCase{12, 0xb62623ccab1bec94ULL}, PinnedCase{13, 0xd849f7af5b7dd88aULL},
                    PinnedCase{14, 0x462bbaa6f3ff793eULL}, PinnedCase{15, 0x452356969cd97899ULL},
                    PinnedCase{16, 0xc83a0ca4d4d4c837ULL}, PinnedCase{17, 0xb94db07d01ee3251ULL},
                    PinnedCase{18, 0xd6027c64a1baf59bULL}, PinnedCase{19, 0xda5e9387c393f1d4ULL},
                    PinnedCase{20, 0xf08d55b0e74839bdULL}, PinnedCase{21, 0x8443fe4088936868ULL},
                    PinnedCase{24, 0xe57ac56712354798ULL}));

TEST(FFTReal, ImpulseGivesFlatRealSpectrum)
{
    const std::vector<double> f = Transform({1, 0, 0, 0, 0, 0, 0, 0});
    const std::vector<double> expected = {1, 1, 1, 1, 1, 0, 0, 0};
    EXPECT_EQ(f, expected);
}

TEST(FFTReal, LayoutStoresNegatedImaginaryParts)
{
    std::vector<double> x(8);
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / 8.0 +
                        std::numbers::pi / 4.0);
    }
    const std::vector<double> f = Transform(x);
    const double r = 2.0 * std::numbers::sqrt2;
    const std::vector<double> expected = {0, r, 0, 0, 0, -r, 0, 0};
    for (std::size_t k = 0; k < f.size(); ++k) {
        EXPECT_NEAR(f[k], expected[k], 1e-14) << "k=" << k;
    }
}

TEST(FFTReal, StopFlagEndsAfterFirstPasses)
{
    ffft::StopFlag stop{true};
    ffft::FFTReal fft(8, &stop);
    const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<double> f(8, -99.0);
    fft.forward_transform(x.data(), f.data());

    // Eight points: passes 1+2 go to the work buffer, pass 3 would go to f.
    EXPECT_EQ(f, std::vector<double>(8, -99.0));
    // Inputs in bit-reversed order 1 5 3 7 2 6 4 8, combined in fours.
    const std::vector<double> passes12 = {16, -4, -4, -4, 20, -4, -4, -4};
    EXPECT_EQ(std::vector<double>(fft.use_buffer(), fft.use_buffer() + 8), passes12);

    // Clearing the flag makes the same object transform fully again.
    stop = false;
    fft.forward_transform(x.data(), f.data());
    EXPECT_EQ(f[0], 36.0);
    EXPECT_EQ(f[4], -4.0);
}

TEST(FFTReal, StopFlagEndsLongTransformsEarly)
{
    // Both pass parities; a transform that ignored the flag would finish.
    for (int bits : {19, 20}) {
        const long n = 1L << bits;
        const std::vector<double> x = RandomSignal(n, static_cast<unsigned>(bits));
        const std::vector<double> full = Transform(x);

        ffft::StopFlag stop{true};
        ffft::FFTReal fft(n, &stop);
        std::vector<double> f(static_cast<std::size_t>(n), 0.0);
        fft.forward_transform(x.data(), f.data());
        EXPECT_NE(f, full) << "N=" << n;

        // The same object transforms fully once the flag is cleared.
        stop = false;
        fft.forward_transform(x.data(), f.data());
        EXPECT_EQ(f, full) << "N=" << n;
    }
}

TEST(FFTReal, RejectsBadLengthsAndBuffers)
{
    for (long n : {0L, -8L, 3L, 12L, 1000L, 1L << 31}) {
        EXPECT_THROW(ffft::FFTReal{n}, std::invalid_argument) << n;
    }
    ffft::FFTReal fft(16);
    EXPECT_EQ(fft.get_nbr_bits(), 4);
    std::vector<double> x(16, 1.0);
    std::vector<double> f(16);
    EXPECT_THROW(fft.forward_transform(nullptr, f.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x.data(), nullptr), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x.data(), x.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x.data(), fft.use_buffer()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(fft.use_buffer(), f.data()), std::invalid_argument);
}

// The windowed, strided entry point against windowing a gathered copy and
// transforming it: the results must be the same bits, for the small special
// sizes, the lengths whose first passes gather value by value and those that
// gather four values at a time, with every build of the passes.
struct WindowedCase {
    int bits;
    long stride;
    long position;  // of the channel within each stride
};

class FFTRealWindowed : public testing::TestWithParam<WindowedCase> {};

TEST_P(FFTRealWindowed, EqualsWindowedCopyBitForBit)
{
    const WindowedCase c = GetParam();
    const long n = 1L << c.bits;
    const std::vector<double> frame =
        RandomSignal(n * c.stride, 300u + static_cast<unsigned>(c.bits));
    const std::vector<double> window = RandomSignal(n, 400u + static_cast<unsigned>(c.bits));
    std::vector<double> copy(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        copy[k] = window[k] * frame[static_cast<std::size_t>(i * c.stride + c.position)];
    }
    const std::vector<double> expected = Transform(copy);

    using Isa = ffft::FFTReal::Isa;
    for (Isa isa : {Isa::Baseline, Isa::Avx2}) {
        if (!ffft::FFTReal::isa_available(isa)) {
            continue;
        }
        ffft::FFTReal fft(n, nullptr, isa);
        std::vector<double> f(static_cast<std::size_t>(n),
                              std::numeric_limits<double>::quiet_NaN());
        const std::vector<double> before = frame;
        fft.forward_transform(frame.data() + c.position, c.stride, window.data(), f.data());
        ASSERT_EQ(f.size(), expected.size());
        for (std::size_t k = 0; k < f.size(); ++k) {
            ASSERT_EQ(f[k], expected[k]) << "N=" << n << " stride=" << c.stride << " k=" << k
                                         << " isa=" << static_cast<int>(isa);
        }
        EXPECT_EQ(frame, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FFTRealWindowed,
                         testing::Values(WindowedCase{0, 1, 0}, WindowedCase{1, 3, 2},
                                         WindowedCase{2, 8, 5}, WindowedCase{3, 1, 0},
                                         WindowedCase{6, 2, 1}, WindowedCase{13, 8, 7},
                                         WindowedCase{14, 1, 0}, WindowedCase{15, 6, 3},
                                         WindowedCase{18, 8, 0}));

TEST(FFTReal, WindowedTransformHonoursTheStopFlag)
{
    const long n = 1L << 16;
    const std::vector<double> x = RandomSignal(n, 7u);
    const std::vector<double> window(static_cast<std::size_t>(n), 1.0);
    const std::vector<double> full = Transform(x);
    ffft::StopFlag stop{true};
    ffft::FFTReal fft(n, &stop);
    std::vector<double> f(static_cast<std::size_t>(n), 0.0);
    fft.forward_transform(x.data(), 1, window.data(), f.data());
    EXPECT_NE(f, full);
    stop = false;
    fft.forward_transform(x.data(), 1, window.data(), f.data());
    EXPECT_EQ(f, full);
}

TEST(FFTReal, WindowedTransformRejectsBadArguments)
{
    ffft::FFTReal fft(16);
    std::vector<double> frame(64, 1.0);
    std::vector<double> w(16, 1.0);
    std::vector<double> f(16);
    double* x = frame.data();
    EXPECT_THROW(fft.forward_transform(nullptr, 1, w.data(), f.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 1, nullptr, f.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 1, w.data(), nullptr), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 0, w.data(), f.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, -4, w.data(), f.data()), std::invalid_argument);
    // The output inside the span the strided input reads, or on the window.
    EXPECT_THROW(fft.forward_transform(x, 4, w.data(), x + 40), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 1, w.data(), w.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 1, fft.use_buffer(), f.data()), std::invalid_argument);
    EXPECT_THROW(fft.forward_transform(x, 1, w.data(), fft.use_buffer()), std::invalid_argument);
    // Right after the span is fine.
    EXPECT_NO_THROW(fft.forward_transform(x, 3, w.data(), x + 46));
}

}  // namespace
