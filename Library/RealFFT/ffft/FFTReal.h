#pragma once

#include "DynArray.h"
#include "FFTRealKernels.h"

#include <atomic>
#include <cstdint>

namespace ffft {

// Stop request shared with the thread that runs the transform; the transform
// only reads it.
using StopFlag = std::atomic<bool>;

// True when x is a positive power of two (x equals its lowest set bit).
constexpr bool FFTReal_is_pow2(long x) noexcept
{
    return x > 0 && (x & -x) == x;
}

// Forward real FFT, radix 2, decimation in time, double precision.
//
// Output layout for X_k = sum x_n exp(-j 2 pi k n / N), not normalised:
//   f[k]       =  Re X_k   for k = 0 .. N/2
//   f[N/2 + k] = -Im X_k   for k = 1 .. N/2 - 1
//
// Tables and the work buffer are built once in the constructor; a transform
// allocates nothing. The stop flag is checked after every pass over a block
// (passes that run together in one sweep count as one); once it is set the
// transform returns and its output is to be discarded. A flag already set
// when the call starts ends it right after passes 1 and 2.
class FFTReal {
public:
    static constexpr int MAX_BIT_DEPTH = 30;
    static constexpr int TRIGO_BD_LIMIT = 12;

    // Instruction set the passes are built for. Every set performs the same
    // operations in the same order and gives the same bits; Best takes the
    // widest the processor offers.
    enum class Isa { Baseline, Avx2, Best };

    // True when this processor (and this build) can run the set.
    static bool isa_available(Isa isa) noexcept;

    // Throws std::invalid_argument unless length is a power of two up to
    // 2^MAX_BIT_DEPTH and the set is available.
    explicit FFTReal(long length, const StopFlag* stop = nullptr, Isa isa = Isa::Best);

    FFTReal(const FFTReal&) = delete;
    FFTReal& operator=(const FFTReal&) = delete;

    long get_length() const noexcept { return _length; }
    int get_nbr_bits() const noexcept { return _nbr_bits; }
    const StopFlag* stop_flag() const noexcept { return _stop; }
    Isa isa() const noexcept { return _isa; }

    // x: N input values, f: N output values. Both must be present, distinct
    // and not the work buffer (std::invalid_argument otherwise).
    void forward_transform(const double* x, double* f);

    // The transform of w[i] * x[i * stride], i = 0 .. N-1: the values are
    // gathered and windowed as the first passes read them, with the same
    // product per value as windowing a copy first, so the output is
    // identical. x spans (N-1) * stride + 1 values and is only read; f must
    // not overlap x, the window or the work buffer, and neither input may be
    // the work buffer (std::invalid_argument otherwise, as for a null pointer
    // or a stride below 1). Stops as forward_transform does.
    void forward_transform(const double* x, long stride, const double* window, double* f);

    // N doubles of scratch space; the next transform overwrites it.
    double* use_buffer() noexcept { return _buffer.data(); }

private:
    void run(const double* x, long stride, const double* window, double* f);
    void init_br_lut();
    void init_trigo_lut();
    void init_trigo_osc();

    std::int32_t _length = 0;
    std::int32_t _nbr_bits = 0;
    DynArray<std::int32_t> _br_lut;
    DynArray<double> _trigo_lut;
    DynArray<double> _buffer;
    DynArray<detail::Oscillator> _trigo_osc;
    const StopFlag* _stop = nullptr;
    Isa _isa = Isa::Baseline;
    detail::TransformFn _transform = nullptr;
    detail::Plan _plan;
};

}  // namespace ffft
