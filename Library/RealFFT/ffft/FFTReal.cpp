#include "FFTReal.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace ffft {

namespace {

constexpr long double PiL = std::numbers::pi_v<long double>;

#if defined(FFFT_HAVE_AVX2)
bool Avx2Usable() noexcept
{
    return __builtin_cpu_supports("avx2");
}
constexpr detail::TransformFn Avx2Transform = detail::avx2::Transform;
#else
bool Avx2Usable() noexcept
{
    return false;
}
constexpr detail::TransformFn Avx2Transform = nullptr;
#endif

}  // namespace

bool FFTReal::isa_available(Isa isa) noexcept
{
    switch (isa) {
    case Isa::Baseline:
    case Isa::Best:
        return true;
    case Isa::Avx2:
        return Avx2Usable();
    }
    return false;
}

FFTReal::FFTReal(long length, const StopFlag* stop, Isa isa) : _stop(stop)
{
    if (!FFTReal_is_pow2(length) || length > (1L << MAX_BIT_DEPTH)) {
        throw std::invalid_argument("ffft::FFTReal: length " + std::to_string(length) +
                                    " is not a power of two from 1 to 2^" +
                                    std::to_string(MAX_BIT_DEPTH));
    }
    if (!isa_available(isa)) {
        throw std::invalid_argument("ffft::FFTReal: instruction set not available here");
    }
    if (isa == Isa::Best) {
        isa = isa_available(Isa::Avx2) ? Isa::Avx2 : Isa::Baseline;
    }
    _isa = isa;
    _transform = isa == Isa::Avx2 ? Avx2Transform : detail::baseline::Transform;
    _length = static_cast<std::int32_t>(length);
    _nbr_bits = 0;
    for (long rest = length - 1; rest != 0; rest >>= 1) {
        ++_nbr_bits;
    }
    _buffer.resize(length);
    init_br_lut();
    init_trigo_lut();
    init_trigo_osc();
    _plan.bits = _nbr_bits;
    _plan.br = _br_lut.data();
    _plan.trig = _trigo_lut.data();
    _plan.osc = _trigo_osc.data();
    _plan.buffer = _buffer.data();
    _plan.stop = _stop;
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
        detail::Oscillator& osc = _trigo_osc[p];
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
    _transform(_plan, x, stride, window, f);
}

}  // namespace ffft
