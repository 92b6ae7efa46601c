// The kernel for NEON, which every AArch64 processor has.
#include "kernels/neon.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_neon(text);
}

} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_neon{isa::neon, "neon", masks_at, map_here, count_here, rewrite<nullptr>};
