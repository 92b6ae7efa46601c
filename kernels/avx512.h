// The masks with AVX-512BW: one compare a mask for all 64 characters.
// Only code built for AVX-512, which runs where the processor has it and
// the system keeps its registers, includes this.
#pragma once

#include <immintrin.h>

#include "kernels/masks.h"

inline line_masks masks_avx512(const char *text)
{
	__m512i bytes = _mm512_loadu_si512(text);
	auto equal = [&](char c) { return std::uint64_t{_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(c))}; };
	// '0' to '9' are the ten lowest bytes once '0' is taken away.
	__m512i from_zero = _mm512_sub_epi8(bytes, _mm512_set1_epi8('0'));
	std::uint64_t digits = _mm512_cmplt_epu8_mask(from_zero, _mm512_set1_epi8(10));
	return {equal('\n'), equal('-'), equal(' '), equal('V'), digits, equal('\0')};
}
