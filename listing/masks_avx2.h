// masks_at with AVX2: 32 characters a step. It is inlined where the
// code is built for AVX2, and runs only where the processor has it.
#pragma once

#include <immintrin.h>

#include "listing/masks.h"

// Bit i of the mask for character 32 * part + i.
[[gnu::target("avx2")]] inline std::uint64_t bits_avx2(__m256i hits, std::size_t part)
{
	return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits))} << (32 * part);
}

[[gnu::target("avx2")]] inline line_masks masks_at_avx2(const char *text)
{
	const __m256i newline = _mm256_set1_epi8('\n');
	const __m256i blank = _mm256_set1_epi8(' ');
	const __m256i v = _mm256_set1_epi8('V');
	// Moved so that '0' to '9' become the ten lowest signed bytes, which
	// one signed compare then finds.
	const __m256i to_lowest = _mm256_set1_epi8(static_cast<char>(0x80 - '0'));
	const __m256i above_digits = _mm256_set1_epi8(static_cast<char>(0x80 + 10));
	line_masks m{};
	for (std::size_t part = 0; part < 2; part++) {
		__m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + 32 * part));
		m.newlines |= bits_avx2(_mm256_cmpeq_epi8(bytes, newline), part);
		m.blanks |= bits_avx2(_mm256_cmpeq_epi8(bytes, blank), part);
		m.vs |= bits_avx2(_mm256_cmpeq_epi8(bytes, v), part);
		m.digits |= bits_avx2(_mm256_cmpgt_epi8(above_digits, _mm256_add_epi8(bytes, to_lowest)), part);
		m.nuls |= bits_avx2(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256()), part);
	}
	return m;
}
