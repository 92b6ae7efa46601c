// The masks with AVX2: 32 characters a step. Only code built for AVX2,
// which runs where the processor has it, includes this.
#pragma once

#include <immintrin.h>

#include "kernels/masks.h"

namespace avx2 {

// What the set lacks, as the plain loops do it.
using plain::add, plain::blend, plain::bytes, plain::compress, plain::equal, plain::expand, plain::gather_bits,
	plain::load, plain::pairs_at, plain::splat, plain::store, plain::sub, plain::words_at;

inline line_masks masks(const char *text)
{
	// Moved so that '0' to '9' become the ten lowest signed bytes, which
	// one signed compare then finds.
	const __m256i to_lowest = _mm256_set1_epi8(static_cast<char>(0x80 - '0'));
	const __m256i above_digits = _mm256_set1_epi8(static_cast<char>(0x80 + 10));
	line_masks m{};
	for (std::size_t part = 0; part < 2; part++) {
		__m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + 32 * part));
		auto bits = [part](__m256i hits) {
			return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits))} << (32 * part);
		};
		auto equal = [&](char c) { return bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))); };
		m.newlines |= equal('\n');
		m.dashes |= equal('-');
		m.blanks |= equal(' ');
		m.vs |= equal('V');
		m.digits |= bits(_mm256_cmpgt_epi8(above_digits, _mm256_add_epi8(bytes, to_lowest)));
		m.nuls |= equal('\0');
	}
	return m;
}

} // namespace avx2
