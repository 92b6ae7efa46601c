// process built for AVX2 with BMI1 and BMI2: the masks of 32 characters
// a step, bit instructions that take no branch. This file alone is built
// with -mavx2 -mbmi -mbmi2, and it runs only where has_avx2() says so.
#include "listing/rewrite.h"

rewritten process_avx2(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	return rewrite(text, first, most, out);
}
