#pragma once

// Inside of FFTReal: the passes of a transform, built once per instruction set.

#include <atomic>
#include <cstdint>

namespace ffft::detail {

// Rotation oscillator of a pass beyond the cosine table: the current cosine
// and sine and those of the step.
struct Oscillator {
    double cos = 1.0;
    double sin = 0.0;
    double step_cos = 1.0;
    double step_sin = 0.0;
};

// What the passes use of an FFTReal.
struct Plan {
    int bits = 0;                      // log2 N, at least 3
    const std::int32_t* br = nullptr;  // bit-reversal table
    const double* trig = nullptr;      // cosine table (bits >= 4)
    const Oscillator* osc = nullptr;   // oscillator of pass 13 + k at k
    double* buffer = nullptr;          // work buffer, N values
    const std::atomic<bool>* stop = nullptr;
};

// The transform for N >= 8 into f. Input value i is x[i], or with a window
// w[i] * x[i * stride]. Every build performs the same operations on the same
// values in the same order, so all give the same bits.
using TransformFn = void (*)(const Plan& plan, const double* x, long stride, const double* window,
                             double* f);

namespace baseline {
void Transform(const Plan& plan, const double* x, long stride, const double* window, double* f);
}  // namespace baseline

namespace avx2 {
void Transform(const Plan& plan, const double* x, long stride, const double* window, double* f);
}  // namespace avx2

}  // namespace ffft::detail
