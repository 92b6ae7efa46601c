// The plain loops, which every processor runs.
#include "kernels/masks.h"

namespace {
using namespace plain;
} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_plain{
	isa::plain, "plain", masks, map_here, count_here, rewrite<path::lines>, compress_here, expand_here};
