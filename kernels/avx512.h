// The masks with AVX-512BW: one compare a mask for all 64 characters.
// Only code built for AVX-512, which runs where the processor has it and
// the system keeps its registers, includes this.
#pragma once

#include <immintrin.h>

#include "kernels/masks.h"

// The characters among the 64 of bytes that are c.
inline std::uint64_t equal_mask(__m512i bytes, char c)
{
	return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(c));
}

inline line_masks masks_avx512(const char *text)
{
	__m512i bytes = _mm512_loadu_si512(text);
	// '0' to '9' are the ten lowest bytes once '0' is taken away.
	__m512i from_zero = _mm512_sub_epi8(bytes, _mm512_set1_epi8('0'));
	std::uint64_t digits = _mm512_cmplt_epu8_mask(from_zero, _mm512_set1_epi8(10));
	return {equal_mask(bytes, '\n'),
		equal_mask(bytes, '-'),
		equal_mask(bytes, ' '),
		equal_mask(bytes, 'V'),
		digits,
		equal_mask(bytes, '\0')};
}
