// The kernel for AVX-512 with BW, VBMI2, BMI1, BMI2 and POPCNT: this file
// alone is built for them, and it runs only where the processor has them
// and the system keeps their registers.
#include "kernels/avx512.h"

namespace {
using namespace avx512;
} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_avx512{
	isa::avx512, "avx512", masks, map_here, count_here, rewrite<path::blocks>, compress_here, expand_here};
