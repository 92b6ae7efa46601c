// process built for AVX2 with BMI1 and BMI2: the masks of 32 characters
// a step, bit instructions that take no branch. This file alone is built
// with -mavx2 -mbmi -mbmi2, and it runs only where the processor has them.
#include "listing/masks.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_at_avx2(text);
}

} // namespace

#include "listing/rewrite.h"

rewritten process_avx2(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	return rewrite(text, first, most, out);
}
