// masks_at with SSE2, which every x86-64 processor has, so that it can be
// inlined anywhere: 16 characters a step.
#pragma once

#include <emmintrin.h>

#include "listing/masks.h"

// Bit i of the mask for character 16 * part + i.
inline std::uint64_t bits_sse2(__m128i hits, std::size_t part)
{
	return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << (16 * part);
}

inline line_masks masks_at_sse2(const char *text)
{
	const __m128i newline = _mm_set1_epi8('\n');
	const __m128i blank = _mm_set1_epi8(' ');
	const __m128i v = _mm_set1_epi8('V');
	// Moved so that '0' to '9' become the ten lowest signed bytes, which
	// one signed compare then finds.
	const __m128i to_lowest = _mm_set1_epi8(static_cast<char>(0x80 - '0'));
	const __m128i above_digits = _mm_set1_epi8(static_cast<char>(0x80 + 10));
	line_masks m{};
	for (std::size_t part = 0; part < 4; part++) {
		__m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + 16 * part));
		m.newlines |= bits_sse2(_mm_cmpeq_epi8(bytes, newline), part);
		m.blanks |= bits_sse2(_mm_cmpeq_epi8(bytes, blank), part);
		m.vs |= bits_sse2(_mm_cmpeq_epi8(bytes, v), part);
		m.digits |= bits_sse2(_mm_cmplt_epi8(_mm_add_epi8(bytes, to_lowest), above_digits), part);
		m.nuls |= bits_sse2(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()), part);
	}
	return m;
}
