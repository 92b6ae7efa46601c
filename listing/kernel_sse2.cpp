// The kernel for SSE2, which every x86-64 processor has.
#include "kernels/sse2.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_sse2(text);
}

} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_sse2{isa::sse2, "sse2", masks_at, map_here, count_here, rewrite<nullptr>};
