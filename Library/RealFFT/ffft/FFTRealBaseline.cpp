// The passes for any x86-64 (or other) processor.
#define FFFT_ISA baseline
#include "FFTRealPasses.inc"
