// The block path of the rewriting over the plain forms of the
// primitives: no processor runs it, the tests do, so that the block path
// is held to the plain loops on every machine, whatever sets it has.
#include "kernels/masks.h"

namespace {
using namespace plain;
} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_plain_blocks{
	isa::plain, "plain blocks", masks, map_here, count_here, rewrite<path::blocks>, compress_here, expand_here};
