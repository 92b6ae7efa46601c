// The kernel for AVX2 with BMI1, BMI2 and POPCNT: this file alone is built
// for them, and it runs only where the processor has them.
#include "kernels/avx2.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_avx2(text);
}

} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_avx2{isa::avx2, "avx2", masks_at, map_here, count_here, rewrite<nullptr>};
