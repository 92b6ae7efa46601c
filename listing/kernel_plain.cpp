// The plain loops, which every processor runs.
#include "kernels/masks.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_plain(text);
}

} // namespace

#include "listing/rewrite.h"

extern const kernel kernel_plain{isa::plain, "plain", masks_at, map_here, count_here, rewrite<nullptr>};
