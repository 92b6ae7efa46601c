// The kernel for NEON, which every AArch64 processor has.
#include "kernels/neon.h"

namespace {
using namespace neon;
} // namespace

#include "listing/rewrite.h"

// Each line alone: the block path, with the plain loops for compress and
// expand, measures many times as slow.

extern const kernel kernel_neon{
	isa::neon, "neon", masks, map_here, count_here, rewrite<path::lines>, compress_here, expand_here};
