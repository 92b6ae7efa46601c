// AVX-512 with BW and VBMI2: each mask is one compare of all 64
// characters, and compress and expand are instructions. Only code built
// for AVX-512, which runs where the processor has it and the system keeps
// its registers, includes this.
#pragma once

#include <immintrin.h>

#include "kernels/masks.h"

namespace avx512 {

using bytes = __m512i;

inline bytes load(const char *at)
{
	return _mm512_loadu_si512(at);
}

inline void store(char *at, bytes b)
{
	_mm512_storeu_si512(at, b);
}

inline bytes splat(char c)
{
	return _mm512_set1_epi8(c);
}

inline bytes add(bytes a, bytes b)
{
	return _mm512_add_epi8(a, b);
}

inline bytes sub(bytes a, bytes b)
{
	return _mm512_sub_epi8(a, b);
}

inline std::uint64_t equal(bytes b, char c)
{
	return _mm512_cmpeq_epi8_mask(b, splat(c));
}

inline bytes blend(bytes b, std::uint64_t where, bytes with)
{
	return _mm512_mask_mov_epi8(b, where, with);
}

inline bytes compress(bytes b, std::uint64_t keep)
{
	return _mm512_maskz_compress_epi8(keep, b);
}

inline bytes expand(bytes b, std::uint64_t into, bytes fill)
{
	return _mm512_mask_expand_epi8(fill, into, b);
}

inline std::uint64_t gather_bits(std::uint64_t bits, std::uint64_t select)
{
	return _pext_u64(bits, select);
}

// The characters of word, each compared at its own offset, come to one
// test: differ | (bytes ^ character) is one instruction.
inline std::uint64_t words_at(const char *text, std::string_view word)
{
	__m512i differ = _mm512_setzero_si512();
	for (std::size_t i = 0; i < word.size(); i++)
		differ = _mm512_ternarylogic_epi64(differ, load(text + i), splat(word[i]), 0xf6);
	return _mm512_testn_epi8_mask(differ, differ);
}

// Eight bytes at a time, one to each 64-bit lane, which shifts 3 by its
// byte; a byte of 64 or more shifts it out. The masked forms of the
// instructions are used, as GCC warns of the others.
inline std::uint64_t pairs_at(bytes places, unsigned n)
{
	std::uint64_t pairs = 0;
	for (unsigned i = 0; i < n; i += 8, places = _mm512_maskz_alignr_epi64(0xff, places, places, 1)) {
		__m512i at = _mm512_maskz_cvtepu8_epi64(0xff, _mm512_maskz_extracti32x4_epi32(0xf, places, 0));
		__m512i bits = _mm512_maskz_sllv_epi64(0xff, _mm512_set1_epi64(3), at);
		__m256i four = _mm256_or_si256(_mm512_maskz_extracti64x4_epi64(0xf, bits, 0),
					       _mm512_maskz_extracti64x4_epi64(0xf, bits, 1));
		__m128i two = _mm_or_si128(_mm256_castsi256_si128(four), _mm256_extracti128_si256(four, 1));
		pairs |= static_cast<std::uint64_t>(_mm_cvtsi128_si64(two) | _mm_extract_epi64(two, 1));
	}
	return pairs;
}

inline line_masks masks(const char *text)
{
	bytes b = load(text);
	// '0' to '9' are the ten lowest bytes once '0' is taken away.
	std::uint64_t digits = _mm512_cmplt_epu8_mask(sub(b, splat('0')), splat(10));
	return {equal(b, '\n'), equal(b, '-'), equal(b, ' '), equal(b, 'V'), digits, equal(b, '\0')};
}

} // namespace avx512
