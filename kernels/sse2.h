// The masks with SSE2, which every x86-64 processor has: 16 characters a
// step.
#pragma once

#include <emmintrin.h>

#include "kernels/masks.h"

namespace sse2 {

// What the set lacks, as the plain loops do it.
using plain::add, plain::blend, plain::bytes, plain::compress, plain::equal, plain::expand, plain::gather_bits,
	plain::load, plain::pairs_at, plain::splat, plain::store, plain::sub, plain::words_at;

inline line_masks masks(const char *text)
{
	// Moved so that '0' to '9' become the ten lowest signed bytes, which
	// one signed compare then finds.
	const __m128i to_lowest = _mm_set1_epi8(static_cast<char>(0x80 - '0'));
	const __m128i above_digits = _mm_set1_epi8(static_cast<char>(0x80 + 10));
	line_masks m{};
	for (std::size_t part = 0; part < 4; part++) {
		__m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + 16 * part));
		auto bits = [part](__m128i hits) {
			return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << (16 * part);
		};
		auto equal = [&](char c) { return bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))); };
		m.newlines |= equal('\n');
		m.dashes |= equal('-');
		m.blanks |= equal(' ');
		m.vs |= equal('V');
		m.digits |= bits(_mm_cmplt_epi8(_mm_add_epi8(bytes, to_lowest), above_digits));
		m.nuls |= equal('\0');
	}
	return m;
}

} // namespace sse2
