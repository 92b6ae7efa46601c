// The kernel for AVX-512 with BW, BMI1, BMI2 and POPCNT: this file alone
// is built for them, and it runs only where the processor has them and
// the system keeps their registers.
#include "kernels/avx512.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_avx512(text);
}

} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_avx512{isa::avx512, "avx512", masks_at, map_here, count_here, rewrite};
