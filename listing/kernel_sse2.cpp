// The kernel for SSE2, which every x86-64 processor has.
#include "kernels/sse2.h"

namespace {
using namespace sse2;
} // namespace

#include "listing/rewrite.h"

// Each line alone: the block path, with the plain loops for compress and
// expand, measures many times as slow.

extern const kernel kernel_sse2{
	isa::sse2, "sse2", masks, map_here, count_here, rewrite<path::lines>, compress_here, expand_here};
