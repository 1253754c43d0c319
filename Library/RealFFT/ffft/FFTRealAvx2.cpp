// The passes for processors with AVX2; this file alone is compiled for it.
#define FFFT_ISA avx2
#include "FFTRealPasses.inc"
