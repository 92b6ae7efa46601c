// The kernel for AVX2 with BMI1, BMI2 and POPCNT: this file alone is built
// for them, and it runs only where the processor has them.
#include "kernels/avx2.h"

namespace {
using namespace avx2;
} // namespace

#include "listing/rewrite.h"

// Each line alone: the block path, with compress and expand made even of
// BMI2's gathering and scattering of bits, measures three times as slow
// (see bench/README.md).

extern const kernel kernel_avx2{
	isa::avx2, "avx2", masks, map_here, count_here, rewrite<path::lines>, compress_here, expand_here};
