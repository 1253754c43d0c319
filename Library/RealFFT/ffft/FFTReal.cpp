#include "FFTReal.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace ffft {

namespace {

// Blocks up to this size run all their passes before the next block starts;
// two arrays of 2^13 doubles stay well inside a core's L2 cache.
constexpr int LeafBits = 13;

constexpr long double PiL = std::numbers::pi_v<long double>;

void Pass12(const std::int32_t* __restrict br, const double* __restrict x,
                        double* __restrict d, long offset, long count)
{
    const long end = offset + count;
    for (long c = offset; c < end; c += 4) {
        const long r0 = br[c];
        const long r1 = br[c + 1];
        const long r2 = br[c + 2];
        const long r3 = br[c + 3];
        d[c + 1] = x[r0] - x[r1];
        d[c + 3] = x[r2] - x[r3];
        const double a = x[r0] + x[r1];
        const double b = x[r2] + x[r3];
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

} // namespace

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
    switch (_nbr_bits) {
    case 0:
        f[0] = x[0];
        return;
    case 1:
        f[0] = x[0] + x[1];
        f[1] = x[0] - x[1];
        return;
    case 2: {
        f[1] = x[0] - x[2];
        f[3] = x[1] - x[3];
        const double a = x[0] + x[2];
        const double b = x[1] + x[3];
        f[0] = a + b;
        f[2] = a - b;
        return;
    }
    default:
        break;
    }
    // The passes alternate between f and the work buffer; the first
    // destination is chosen so that the last pass lands in f.
    double* d0 = (_nbr_bits & 1) != 0 ? _buffer.data() : f;
    double* d1 = (_nbr_bits & 1) != 0 ? f : _buffer.data();
    transform_block(x, d0, d1, 0, _nbr_bits);
}

bool FFTReal::transform_block(const double* x, double* d0, double* d1, long offset, int bits)
{
    if (bits <= LeafBits) {
        return transform_leaf(x, d0, d1, offset, bits);
    }
    const long half = 1L << (bits - 1);
    if (!transform_block(x, d0, d1, offset, bits - 1) ||
        !transform_block(x, d0, d1, offset + half, bits - 1)) {
        return false;
    }
    // Pass bits-1 joins the two finished halves of this block.
    pass_any(bits - 1, d0, d1, offset, 2 * half);
    return !stop_requested();
}

bool FFTReal::transform_leaf(const double* x, double* d0, double* d1, long offset, int bits)
{
    const long count = 1L << bits;
    pass_1_2(x, d0, offset, count);
    if (stop_requested()) {
        return false;
    }
    for (int p = 2; p < bits; ++p) {
        pass_any(p, d0, d1, offset, count);
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

void FFTReal::pass_1_2(const double* x, double* d, long offset, long count) const
{
    Pass12(_br_lut.data(), x, d, offset, count);
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

void FFTReal::pass_oscillator(int p, const double* __restrict s, double* __restrict d,
                              long offset, long count) const
{
    const long n = 1L << p;
    const long m = n >> 1;
    const Oscillator& osc = _trigo_osc.data()[p - (TRIGO_BD_LIMIT + 1)];
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
}

} // namespace ffft
