#include "FFTReal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace ffft {

namespace {

// Blocks up to this size run all their passes before the next block starts;
// two arrays of 2^13 doubles stay well inside a core's L2 cache.
constexpr int LeafBits = 13;

// Blocks up to this size run their oscillator passes one after the other over
// the whole block, so that each rotation sequence serves every sub-block.
constexpr int CacheBits = 16;

// Rotation values computed ahead of the butterflies that use them.
constexpr long OscillatorChunk = 256;

constexpr long double PiL = std::numbers::pi_v<long double>;

// Input value i of a transform: x[i], or with a window w[i] * x[i * stride].
struct PlainInput {
    const double* __restrict x;
    double operator()(long i) const { return x[i]; }
};

struct WindowedInput {
    const double* __restrict x;
    long stride;
    const double* __restrict w;
    double operator()(long i) const { return w[i] * x[i * stride]; }
};

template <class In>
void Pass12(const std::int32_t* __restrict br, In in, double* __restrict d, long offset, long count)
{
    const long end = offset + count;
    for (long c = offset; c < end; c += 4) {
        const double x0 = in(br[c]);
        const double x1 = in(br[c + 1]);
        const double x2 = in(br[c + 2]);
        const double x3 = in(br[c + 3]);
        d[c + 1] = x0 - x1;
        d[c + 3] = x2 - x3;
        const double a = x0 + x1;
        const double b = x2 + x3;
        d[c] = a + b;
        d[c + 2] = a - b;
    }
}

// Passes 1, 2 and 3 in one sweep: the eight values of a pass-3 group come
// straight from the two pass-1+2 groups that feed it. get(k) is input k of
// the group in bit-reversed order.
template <class Get>
inline void Group123(Get get, double* d)
{
    const double t1 = get(0) - get(1);
    const double t3 = get(2) - get(3);
    const double a0 = get(0) + get(1);
    const double b0 = get(2) + get(3);
    const double t0 = a0 + b0;
    const double t2 = a0 - b0;
    const double t5 = get(4) - get(5);
    const double t7 = get(6) - get(7);
    const double a1 = get(4) + get(5);
    const double b1 = get(6) + get(7);
    const double t4 = a1 + b1;
    const double t6 = a1 - b1;
    const double h = std::numbers::sqrt2 * 0.5;
    d[0] = t0 + t4;
    d[4] = t0 - t4;
    d[2] = t2;
    d[6] = t6;
    double v = (t5 - t7) * h;
    d[1] = t1 + v;
    d[3] = t1 - v;
    v = (t5 + t7) * h;
    d[5] = v + t3;
    d[7] = v - t3;
}

template <class In>
void Pass123(const std::int32_t* __restrict br, In in, double* __restrict d, long offset,
             long count)
{
    const long end = offset + count;
    for (long c = offset; c < end; c += 8) {
        const std::int32_t* r = br + c;
        double g[8];
        for (int k = 0; k < 8; ++k) {
            g[k] = in(r[k]);
        }
        Group123([&](int k) { return g[k]; }, d + c);
    }
}

// y may be d: each group is read whole before it is written.
void Pass123InOrder(const double* y, double* d, long offset, long count)
{
    const long end = offset + count;
    for (long c = offset; c < end; c += 8) {
        const double* g = y + c;
        Group123([&](int k) { return g[k]; }, d + c);
    }
}

// Passes 1 and 2 from input that is already in bit-reversed order.
void Pass12InOrder(const double* __restrict y, double* __restrict d, long offset, long count)
{
    const long end = offset + count;
    for (long c = offset; c < end; c += 4) {
        d[c + 1] = y[c] - y[c + 1];
        d[c + 3] = y[c + 2] - y[c + 3];
        const double a = y[c] + y[c + 1];
        const double b = y[c + 2] + y[c + 3];
        d[c] = a + b;
        d[c + 2] = a - b;
    }
}

void Pass3(const double* __restrict s, double* __restrict d, long offset, long count)
{
    const double h = std::numbers::sqrt2 * 0.5;
    const long end = offset + count;
    for (long c = offset; c < end; c += 8) {
        d[c] = s[c] + s[c + 4];
        d[c + 4] = s[c] - s[c + 4];
        d[c + 2] = s[c + 2];
        d[c + 6] = s[c + 6];
        double v = (s[c + 5] - s[c + 7]) * h;
        d[c + 1] = s[c + 1] + v;
        d[c + 3] = s[c + 1] - v;
        v = (s[c + 5] + s[c + 7]) * h;
        d[c + 5] = v + s[c + 3];
        d[c + 7] = v - s[c + 3];
    }
}

// Later pass with n = 2^p; cos_lut holds cos(i pi / n) for i = 0 .. n/2 - 1.
void PassTable(const double* __restrict cos_lut, long n, const double* __restrict s,
               double* __restrict d, long offset, long count)
{
    const long m = n >> 1;
    const long end = offset + count;
    for (long o = offset; o < end; o += 2 * n) {
        const double* s1 = s + o;
        const double* s2 = s1 + n;
        double* dr = d + o;
        double* di = dr + n;
        dr[0] = s1[0] + s2[0];
        di[0] = s1[0] - s2[0];
        dr[m] = s1[m];
        di[m] = s2[m];
        for (long i = 1; i < m; ++i) {
            const double c = cos_lut[i];
            const double sn = cos_lut[m - i];
            double v = s2[i] * c - s2[m + i] * sn;
            dr[i] = s1[i] + v;
            di[-i] = s1[i] - v;
            v = s2[i] * sn + s2[m + i] * c;
            di[i] = v + s1[m + i];
            di[n - i] = v - s1[m + i];
        }
    }
}

// The groups i = 1 .. h-1 of PassTablePair for `blocks` blocks of `stride`
// values: A and B are the two halves of the first 4n block. Every position
// range is reached through its own pointer and walked in one direction, so
// that the loop vectorizes.
void PassTablePairGroups(const double* __restrict tp_i, const double* __restrict tp_mmi,
                         const double* __restrict tq_i, const double* __restrict tq_mpi,
                         const double* __restrict tq_mmi, const double* __restrict tq_nmi,
                         double* __restrict a_i, double* __restrict a_mpi, double* __restrict a_npi,
                         double* __restrict a_nmpi, double* __restrict a_mmi,
                         double* __restrict a_nmi, double* __restrict a_nmmi,
                         double* __restrict a_2nmi, double* __restrict b_i,
                         double* __restrict b_mpi, double* __restrict b_npi,
                         double* __restrict b_nmpi, double* __restrict b_mmi,
                         double* __restrict b_nmi, double* __restrict b_nmmi,
                         double* __restrict b_2nmi, long h, long blocks, long stride)
{
    for (long blk = 0; blk < blocks; ++blk) {
        const long o = blk * stride;
        for (long i = 1; i < h; ++i) {
            const double cp = tp_i[i];
            const double sp = tp_mmi[1 - i];

            // Pass p, butterflies i and m-i, half A.
            double v = a_npi[o + i] * cp - a_nmpi[o + i] * sp;
            const double tA_i = a_i[o + i] + v;
            const double tA_nmi = a_i[o + i] - v;
            v = a_npi[o + i] * sp + a_nmpi[o + i] * cp;
            const double tA_npi = v + a_mpi[o + i];
            const double tA_2nmi = v - a_mpi[o + i];
            v = a_nmmi[o + 1 - i] * sp - a_2nmi[o + 1 - i] * cp;
            const double tA_mmi = a_mmi[o + 1 - i] + v;
            const double tA_mpi = a_mmi[o + 1 - i] - v;
            v = a_nmmi[o + 1 - i] * cp + a_2nmi[o + 1 - i] * sp;
            const double tA_nmmi = v + a_nmi[o + 1 - i];
            const double tA_nmpi = v - a_nmi[o + 1 - i];

            // The same for half B.
            v = b_npi[o + i] * cp - b_nmpi[o + i] * sp;
            const double tB_i = b_i[o + i] + v;
            const double tB_nmi = b_i[o + i] - v;
            v = b_npi[o + i] * sp + b_nmpi[o + i] * cp;
            const double tB_npi = v + b_mpi[o + i];
            const double tB_2nmi = v - b_mpi[o + i];
            v = b_nmmi[o + 1 - i] * sp - b_2nmi[o + 1 - i] * cp;
            const double tB_mmi = b_mmi[o + 1 - i] + v;
            const double tB_mpi = b_mmi[o + 1 - i] - v;
            v = b_nmmi[o + 1 - i] * cp + b_2nmi[o + 1 - i] * sp;
            const double tB_nmmi = v + b_nmi[o + 1 - i];
            const double tB_nmpi = v - b_nmi[o + 1 - i];

            // Pass p + 1, butterflies i, n-i, m-i and m+i.
            const double cq_i = tq_i[i];
            const double cq_nmi = tq_nmi[1 - i];
            const double cq_mmi = tq_mmi[1 - i];
            const double cq_mpi = tq_mpi[i];

            v = tB_i * cq_i - tB_npi * cq_nmi;
            a_i[o + i] = tA_i + v;
            a_2nmi[o + 1 - i] = tA_i - v;
            v = tB_i * cq_nmi + tB_npi * cq_i;
            b_i[o + i] = v + tA_npi;
            b_2nmi[o + 1 - i] = v - tA_npi;

            v = tB_nmi * cq_nmi - tB_2nmi * cq_i;
            a_nmi[o + 1 - i] = tA_nmi + v;
            a_npi[o + i] = tA_nmi - v;
            v = tB_nmi * cq_i + tB_2nmi * cq_nmi;
            b_nmi[o + 1 - i] = v + tA_2nmi;
            b_npi[o + i] = v - tA_2nmi;

            v = tB_mmi * cq_mmi - tB_nmmi * cq_mpi;
            a_mmi[o + 1 - i] = tA_mmi + v;
            a_nmpi[o + i] = tA_mmi - v;
            v = tB_mmi * cq_mpi + tB_nmmi * cq_mmi;
            b_mmi[o + 1 - i] = v + tA_nmmi;
            b_nmpi[o + i] = v - tA_nmmi;

            v = tB_mpi * cq_mpi - tB_nmpi * cq_mmi;
            a_mpi[o + i] = tA_mpi + v;
            a_nmmi[o + 1 - i] = tA_mpi - v;
            v = tB_mpi * cq_mmi + tB_nmpi * cq_mpi;
            b_mpi[o + i] = v + tA_nmpi;
            b_nmmi[o + 1 - i] = v - tA_nmpi;
        }
    }
}

// Butterflies i0 .. i0+len-1 of an oscillator pass for one block, with the
// rotation values of those i in cos_run / sin_run. Pointers are at i0 of their
// range: s1 = s + o, s1m = s1 + m, s2 = s1 + n, s2m = s2 + m, dr = d + o,
// di = dr + n; dim points at di[-i0], din at di[n - i0] (both walked downwards).
void PassOscillatorRun(const double* __restrict cos_run, const double* __restrict sin_run, long len,
                       const double* __restrict s1, const double* __restrict s1m,
                       const double* __restrict s2, const double* __restrict s2m,
                       double* __restrict dr, double* __restrict dip, double* __restrict dim,
                       double* __restrict din)
{
    for (long k = 0; k < len; ++k) {
        const double c = cos_run[k];
        const double sn = sin_run[k];
        double v = s2[k] * c - s2m[k] * sn;
        dr[k] = s1[k] + v;
        dim[-k] = s1[k] - v;
        v = s2[k] * sn + s2m[k] * c;
        dip[k] = v + s1m[k];
        din[-k] = v - s1m[k];
    }
}

// Two table passes p and p + 1 in one sweep, in place on the source of pass p
// (which is the destination of pass p + 1). Each group of eight positions
// {i, m-i, m+i, n-i, n+i, n+m-i, n+m+i, 2n-i} in the two halves of a 4n block
// is read once, goes through the four butterflies of pass p and the four of
// pass p + 1 that use exactly those positions, and is written back: the same
// arithmetic as two separate passes, with half the memory traffic.
// tp: cos(j pi / n), j < m; tq: cos(j pi / 2n), j < n; n = 2^p, m = n / 2.
void PassTablePair(const double* tp, const double* tq, long n, double* s, long offset, long count)
{
    const long m = n >> 1;
    const long h = m >> 1;
    const long end = offset + count;
    for (long o = offset; o < end; o += 4 * n) {
        double* const A = s + o;
        double* const B = A + 2 * n;

        // Positions 0, m, n, n+m.
        {
            const double tA0 = A[0] + A[n];
            const double tAn = A[0] - A[n];
            const double tAm = A[m];
            const double tAnm = A[n + m];
            const double tB0 = B[0] + B[n];
            const double tBn = B[0] - B[n];
            const double tBm = B[m];
            const double tBnm = B[n + m];
            A[0] = tA0 + tB0;
            B[0] = tA0 - tB0;
            A[n] = tAn;
            B[n] = tBn;
            const double c = tq[m];
            const double sn = tq[n - m];
            double v = tBm * c - tBnm * sn;
            A[m] = tAm + v;
            A[n + m] = tAm - v;
            v = tBm * sn + tBnm * c;
            B[m] = v + tAnm;
            B[n + m] = v - tAnm;
        }

        // Positions h, n-h, n+h, 2n-h (m+h = n-h: butterfly h is its own mirror).
        {
            const double c = tp[h];
            const double sn = tp[m - h];
            double t[2][4];  // per half: h, n-h, n+h, 2n-h
            double* const halves[2] = {A, B};
            for (int k = 0; k < 2; ++k) {
                const double* H = halves[k];
                double v = H[n + h] * c - H[n + m + h] * sn;
                t[k][0] = H[h] + v;
                t[k][1] = H[h] - v;
                v = H[n + h] * sn + H[n + m + h] * c;
                t[k][2] = v + H[m + h];
                t[k][3] = v - H[m + h];
            }
            double cq = tq[h];
            double sq = tq[n - h];
            double v = t[1][0] * cq - t[1][2] * sq;
            A[h] = t[0][0] + v;
            A[2 * n - h] = t[0][0] - v;
            v = t[1][0] * sq + t[1][2] * cq;
            B[h] = v + t[0][2];
            B[2 * n - h] = v - t[0][2];
            cq = tq[n - h];
            sq = tq[h];
            v = t[1][1] * cq - t[1][3] * sq;
            A[n - h] = t[0][1] + v;
            A[n + h] = t[0][1] - v;
            v = t[1][1] * sq + t[1][3] * cq;
            B[n - h] = v + t[0][3];
            B[n + h] = v - t[0][3];
        }
    }
    // Descending ranges are passed one element lower and indexed by 1 - i.
    double* const A = s + offset;
    double* const B = A + 2 * n;
    PassTablePairGroups(tp, tp + m - 1, tq, tq + m, tq + m - 1, tq + n - 1, A, A + m, A + n,
                        A + n + m, A + m - 1, A + n - 1, A + n + m - 1, A + 2 * n - 1, B, B + m,
                        B + n, B + n + m, B + m - 1, B + n - 1, B + n + m - 1, B + 2 * n - 1, h,
                        count / (4 * n), 4 * n);
}

}  // namespace

FFTReal::FFTReal(long length, const StopFlag* stop) : _stop(stop)
{
    if (!FFTReal_is_pow2(length) || length > (1L << MAX_BIT_DEPTH)) {
        throw std::invalid_argument("ffft::FFTReal: length " + std::to_string(length) +
                                    " is not a power of two from 1 to 2^" +
                                    std::to_string(MAX_BIT_DEPTH));
    }
    _length = static_cast<std::int32_t>(length);
    _nbr_bits = 0;
    for (long rest = length - 1; rest != 0; rest >>= 1) {
        ++_nbr_bits;
    }
    _buffer.resize(length);
    init_br_lut();
    init_trigo_lut();
    init_trigo_osc();
}

void FFTReal::init_br_lut()
{
    const long len = 1L << _nbr_bits;
    _br_lut.resize(len);
    std::int32_t* br = _br_lut.data();
    br[0] = 0;
    std::int32_t r = 0;
    for (long i = 1; i < len; ++i) {
        std::int32_t b = static_cast<std::int32_t>(len >> 1);
        r ^= b;
        while ((r & b) == 0) {
            b >>= 1;
            r ^= b;
        }
        br[i] = r;
    }
}

void FFTReal::init_trigo_lut()
{
    if (_nbr_bits < 4) {
        return;
    }
    _trigo_lut.resize((1L << (_nbr_bits - 1)) - 4);
    double* lut = _trigo_lut.data();
    for (int level = 3; level < _nbr_bits; ++level) {
        const long n = 1L << (level - 1);
        double* dst = lut + (n - 4);
        const long double mul = PiL / static_cast<long double>(2 * n);
        for (long i = 0; i < n; ++i) {
            dst[i] = static_cast<double>(std::cos(static_cast<long double>(i) * mul));
        }
    }
}

void FFTReal::init_trigo_osc()
{
    if (_nbr_bits <= TRIGO_BD_LIMIT) {
        return;
    }
    const long count = _nbr_bits - TRIGO_BD_LIMIT;
    _trigo_osc.resize(count);
    for (long p = 0; p < count; ++p) {
        const long double angle = (PiL / 2) / static_cast<long double>(1L << (p + 12));
        Oscillator& osc = _trigo_osc[p];
        osc.step_cos = static_cast<double>(std::cos(angle));
        osc.step_sin = static_cast<double>(std::sin(angle));
    }
}

void FFTReal::forward_transform(const double* x, double* f)
{
    const double* buf = _buffer.data();
    if (x == nullptr || f == nullptr || x == f || x == buf || f == buf) {
        throw std::invalid_argument(
            "ffft::FFTReal::forward_transform: input and output must be present, distinct "
            "and not the work buffer");
    }
    run(x, 1, nullptr, f);
}

namespace {

// True when [a, a + na) and [b, b + nb) share an element.
bool overlap(const double* a, long na, const double* b, long nb)
{
    const auto lo_a = reinterpret_cast<std::uintptr_t>(a);
    const auto lo_b = reinterpret_cast<std::uintptr_t>(b);
    const auto hi_a = lo_a + static_cast<std::uintptr_t>(na) * sizeof(double);
    const auto hi_b = lo_b + static_cast<std::uintptr_t>(nb) * sizeof(double);
    return lo_a < hi_b && lo_b < hi_a;
}

}  // namespace

void FFTReal::forward_transform(const double* x, long stride, const double* window, double* f)
{
    const double* buf = _buffer.data();
    const bool stride_ok = stride >= 1 && stride <= std::numeric_limits<long>::max() / _length;
    const long span = stride_ok ? (_length - 1) * stride + 1 : 0;
    if (x == nullptr || f == nullptr || window == nullptr || !stride_ok ||
        overlap(f, _length, buf, _length) || overlap(x, span, f, _length) ||
        overlap(x, span, buf, _length) || overlap(window, _length, f, _length) ||
        overlap(window, _length, buf, _length)) {
        throw std::invalid_argument(
            "ffft::FFTReal::forward_transform: input, window and output must be present, "
            "the stride positive, and the output and work buffer apart from the inputs");
    }
    run(x, stride, window, f);
}

void FFTReal::run(const double* x, long stride, const double* window, double* f)
{
    _in_stride = stride;
    _in_window = window;
    if (_nbr_bits <= 2) {
        double v[4];
        for (long i = 0; i < _length; ++i) {
            v[i] = window != nullptr ? window[i] * x[i * stride] : x[i];
        }
        switch (_nbr_bits) {
        case 0:
            f[0] = v[0];
            return;
        case 1:
            f[0] = v[0] + v[1];
            f[1] = v[0] - v[1];
            return;
        default: {
            f[1] = v[0] - v[2];
            f[3] = v[1] - v[3];
            const double a = v[0] + v[2];
            const double b = v[1] + v[3];
            f[0] = a + b;
            f[2] = a - b;
            return;
        }
        }
    }
    // The passes alternate between f and the work buffer; the first
    // destination is chosen so that the last pass lands in f.
    double* d0 = (_nbr_bits & 1) != 0 ? _buffer.data() : f;
    double* d1 = (_nbr_bits & 1) != 0 ? f : _buffer.data();
    if (_nbr_bits <= LeafBits) {
        transform_block(x, false, d0, d1, 0, _nbr_bits);
        return;
    }
    // Long transforms first gather the input in bit-reversed order, tile by
    // tile, into the array that pass 3 writes: the combined first passes then
    // read memory in sequence instead of one cache line per value.
    if (window != nullptr) {
        // Windowed in sequence into d0, which is free until the fourth pass:
        // cheaper than reading the window in bit-reversed order below.
        for (long i = 0; i < _length; ++i) {
            d0[i] = window[i] * x[i * stride];
        }
        _in_stride = 1;
        _in_window = nullptr;
        x = d0;
    }
    bit_reverse_copy(x, d1);
    if (stop_requested()) {
        return;
    }
    transform_block(d1, true, d0, d1, 0, _nbr_bits);
}

void FFTReal::bit_reverse_copy(const double* __restrict x, double* __restrict y) const
{
    // Index c = [a: q bits][b: middle bits][e: q bits]; y[c] = x[rev(c)] with
    // rev(c) = [rev(e)][rev(b)][rev(a)]. For each b, the 2^q x 2^q tile of
    // (a, e) is read as 2^q runs of x and written as 2^q runs of y through a
    // local copy, so that both sides use whole cache lines.
    constexpr int q = 4;
    constexpr long tile = 1L << q;
    const std::int32_t* br = _br_lut.data();
    const int high_shift = _nbr_bits - q;
    long rev_low[tile];   // rev(a) for a < 2^q, in the low bits
    long rev_high[tile];  // rev(e) for e < 2^q, in the high bits
    for (long k = 0; k < tile; ++k) {
        rev_low[k] = br[k << high_shift];
        rev_high[k] = br[k];
    }
    double t[tile][tile];
    const long middle = 1L << (_nbr_bits - 2 * q);
    for (long b = 0; b < middle; ++b) {
        const long mid = b << q;
        const long rev_mid = br[mid];
        for (long e = 0; e < tile; ++e) {
            const double* row = x + (rev_high[e] | rev_mid);
            for (long a = 0; a < tile; ++a) {
                t[a][e] = row[rev_low[a]];
            }
        }
        for (long a = 0; a < tile; ++a) {
            double* row = y + ((a << high_shift) | mid);
            for (long e = 0; e < tile; ++e) {
                row[e] = t[a][e];
            }
        }
    }
}

bool FFTReal::transform_block(const double* x, bool permuted, double* d0, double* d1, long offset,
                              int bits)
{
    if (bits <= LeafBits) {
        return transform_leaf(x, permuted, d0, d1, offset, bits);
    }
    if (bits <= CacheBits) {
        const long count = 1L << bits;
        for (long o = offset; o < offset + count; o += 1L << LeafBits) {
            if (!transform_leaf(x, permuted, d0, d1, o, LeafBits)) {
                return false;
            }
        }
        for (int p = LeafBits; p < bits; ++p) {
            pass_any(p, d0, d1, offset, count);
            if (stop_requested()) {
                return false;
            }
        }
        return true;
    }
    const long half = 1L << (bits - 1);
    if (!transform_block(x, permuted, d0, d1, offset, bits - 1) ||
        !transform_block(x, permuted, d0, d1, offset + half, bits - 1)) {
        return false;
    }
    // Pass bits-1 joins the two finished halves of this block.
    pass_any(bits - 1, d0, d1, offset, 2 * half);
    return !stop_requested();
}

bool FFTReal::transform_leaf(const double* x, bool permuted, double* d0, double* d1, long offset,
                             int bits)
{
    const long count = 1L << bits;
    if (stop_requested()) {
        // Already asked to stop: the first passes alone, then the check.
        if (permuted) {
            Pass12InOrder(x, d0, offset, count);
        } else if (_in_window == nullptr) {
            Pass12(_br_lut.data(), PlainInput{x}, d0, offset, count);
        } else {
            Pass12(_br_lut.data(), WindowedInput{x, _in_stride, _in_window}, d0, offset, count);
        }
        return false;
    }
    // Passes 1 to 3 together; pass 3 writes d1. With `permuted`, x is d1
    // itself: each group of eight is read before it is written.
    if (permuted) {
        Pass123InOrder(x, d1, offset, count);
    } else if (_in_window == nullptr) {
        Pass123(_br_lut.data(), PlainInput{x}, d1, offset, count);
    } else {
        Pass123(_br_lut.data(), WindowedInput{x, _in_stride, _in_window}, d1, offset, count);
    }
    if (stop_requested()) {
        return false;
    }
    int p = 3;
    while (p < bits) {
        if (p >= 3 && p + 1 < bits && p + 1 <= TRIGO_BD_LIMIT) {
            // Passes p and p + 1 together, in the array pass p reads from.
            double* s = ((p - 1) & 1) == 0 ? d1 : d0;
            const long n = 1L << p;
            const double* lut = _trigo_lut.data();
            PassTablePair(lut + ((n >> 1) - 4), lut + (n - 4), n, s, offset, count);
            p += 2;
        } else {
            pass_any(p, d0, d1, offset, count);
            ++p;
        }
        if (stop_requested()) {
            return false;
        }
    }
    return true;
}

void FFTReal::pass_any(int p, double* d0, double* d1, long offset, long count) const
{
    // Passes 1+2 write d0; every later pass writes the other array.
    const bool to_d0 = ((p - 1) & 1) == 0;
    double* d = to_d0 ? d0 : d1;
    const double* s = to_d0 ? d1 : d0;
    if (p == 2) {
        pass_3(s, d, offset, count);
    } else if (p <= TRIGO_BD_LIMIT) {
        pass_table(p, s, d, offset, count);
    } else {
        pass_oscillator(p, s, d, offset, count);
    }
}

void FFTReal::pass_3(const double* s, double* d, long offset, long count)
{
    Pass3(s, d, offset, count);
}

void FFTReal::pass_table(int p, const double* s, double* d, long offset, long count) const
{
    const long n = 1L << p;
    PassTable(_trigo_lut.data() + ((n >> 1) - 4), n, s, d, offset, count);
}

void FFTReal::pass_oscillator(int p, const double* __restrict s, double* __restrict d, long offset,
                              long count) const
{
    const long n = 1L << p;
    const long m = n >> 1;
    const Oscillator& osc = _trigo_osc.data()[p - (TRIGO_BD_LIMIT + 1)];
    // Locals: stores through d could otherwise alias the oscillator.
    const double step_c = osc.step_cos;
    const double step_s = osc.step_sin;
    const long end = offset + count;
    for (long o = offset; o < end; o += 2 * n) {
        const double* s1 = s + o;
        const double* s2 = s1 + n;
        double* dr = d + o;
        double* di = dr + n;
        dr[0] = s1[0] + s2[0];
        di[0] = s1[0] - s2[0];
        dr[m] = s1[m];
        di[m] = s2[m];
    }
    if (count / (2 * n) < 4) {
        // Few blocks: rotate while doing the butterflies, so that the
        // rotation's dependency chain overlaps with the arithmetic.
        for (long o = offset; o < end; o += 2 * n) {
            const double* s1 = s + o;
            const double* s2 = s1 + n;
            double* dr = d + o;
            double* di = dr + n;
            double c = 1.0;
            double sn = 0.0;
            for (long i = 1; i < m; ++i) {
                const double nc = c * step_c - sn * step_s;
                sn = c * step_s + sn * step_c;
                c = nc;
                double v = s2[i] * c - s2[m + i] * sn;
                dr[i] = s1[i] + v;
                di[-i] = s1[i] - v;
                v = s2[i] * sn + s2[m + i] * c;
                di[i] = v + s1[m + i];
                di[n - i] = v - s1[m + i];
            }
        }
        return;
    }
    // Every block restarts the oscillator from (1, 0), so all blocks see the
    // same rotation sequence: run it once per chunk of i and use it for each
    // block in the range.
    double cos_run[OscillatorChunk];
    double sin_run[OscillatorChunk];
    double c = 1.0;
    double sn = 0.0;
    for (long i0 = 1; i0 < m; i0 += OscillatorChunk) {
        const long len = std::min(OscillatorChunk, m - i0);
        for (long k = 0; k < len; ++k) {
            const double nc = c * step_c - sn * step_s;
            sn = c * step_s + sn * step_c;
            c = nc;
            cos_run[k] = c;
            sin_run[k] = sn;
        }
        for (long o = offset; o < end; o += 2 * n) {
            PassOscillatorRun(cos_run, sin_run, len, s + o + i0, s + o + m + i0, s + o + n + i0,
                              s + o + n + m + i0, d + o + i0, d + o + n + i0, d + o + n - i0,
                              d + o + 2 * n - i0);
        }
    }
}

}  // namespace ffft
