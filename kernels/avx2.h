// AVX2 with BMI2: the masks 32 characters a step; compress and expand,
// which AVX2 lacks, eight bytes at a time with BMI2's gathering and
// scattering of bits. Only code built for AVX2, which runs where the
// processor has it, includes this.
#pragma once

#include <immintrin.h>

#include "kernels/masks.h"

namespace avx2 {

using plain::add, plain::bytes, plain::load, plain::pairs_at, plain::splat, plain::store, plain::sub;

// The 64 bits of each half's compare hits.
template <typename Hits> std::uint64_t bits_of(const char *text, const Hits &hits)
{
	std::uint64_t bits = 0;
	for (std::size_t half = 0; half < 2; half++) {
		__m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + 32 * half));
		bits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits(b)))} << (32 * half);
	}
	return bits;
}

inline std::uint64_t equal(const bytes &b, char c)
{
	return bits_of(b.data(), [c](__m256i v) { return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c)); });
}

// Lane i of eight bytes: 0xff in each byte whose bit of bits is set.
inline std::uint64_t byte_mask(std::uint64_t bits, std::size_t lane)
{
	return _pdep_u64(bits >> (8 * lane), 0x0101010101010101) * 0xff;
}

inline std::uint64_t lane_of(const char *at)
{
	std::uint64_t lane;
	std::memcpy(&lane, at, sizeof lane);
	return lane;
}

inline bytes blend(bytes b, std::uint64_t where, const bytes &with)
{
	for (std::size_t lane = 0; lane < 8; lane++) {
		std::uint64_t pick = byte_mask(where, lane);
		std::uint64_t mixed = (lane_of(b.data() + 8 * lane) & ~pick) | (lane_of(with.data() + 8 * lane) & pick);
		std::memcpy(b.data() + 8 * lane, &mixed, 8);
	}
	return b;
}

inline bytes compress(const bytes &b, std::uint64_t keep)
{
	std::array<char, 72> packed{};
	std::size_t n = 0;
	for (std::size_t lane = 0; lane < 8; lane++) {
		std::uint64_t kept = _pext_u64(lane_of(b.data() + 8 * lane), byte_mask(keep, lane));
		std::memcpy(packed.data() + n, &kept, 8);
		n += static_cast<std::size_t>(std::popcount(keep >> (8 * lane) & 0xff));
	}
	return load(packed.data());
}

inline bytes expand(const bytes &b, std::uint64_t into, bytes fill)
{
	std::array<char, 72> from{};
	store(from.data(), b);
	std::size_t n = 0;
	for (std::size_t lane = 0; lane < 8; lane++) {
		std::uint64_t pick = byte_mask(into, lane);
		std::uint64_t placed =
			_pdep_u64(lane_of(from.data() + n), pick) | (lane_of(fill.data() + 8 * lane) & ~pick);
		std::memcpy(fill.data() + 8 * lane, &placed, 8);
		n += static_cast<std::size_t>(std::popcount(into >> (8 * lane) & 0xff));
	}
	return fill;
}

inline std::uint64_t gather_bits(std::uint64_t bits, std::uint64_t select)
{
	return _pext_u64(bits, select);
}

inline std::uint64_t words_at(const char *text, std::string_view word)
{
	std::uint64_t found = ~std::uint64_t{0};
	for (std::size_t i = 0; i < word.size(); i++)
		found &= bits_of(text + i,
				 [c = word[i]](__m256i b) { return _mm256_cmpeq_epi8(b, _mm256_set1_epi8(c)); });
	return found;
}

inline line_masks masks(const char *text)
{
	// Moved so that '0' to '9' become the ten lowest signed bytes, which
	// one signed compare then finds.
	const __m256i to_lowest = _mm256_set1_epi8(static_cast<char>(0x80 - '0'));
	const __m256i above_digits = _mm256_set1_epi8(static_cast<char>(0x80 + 10));
	auto equal = [text](char c) {
		return bits_of(text, [c](__m256i b) { return _mm256_cmpeq_epi8(b, _mm256_set1_epi8(c)); });
	};
	return {equal('\n'),
		equal('-'),
		equal(' '),
		equal('V'),
		bits_of(text,
			[&](__m256i b) { return _mm256_cmpgt_epi8(above_digits, _mm256_add_epi8(b, to_lowest)); }),
		equal('\0')};
}

} // namespace avx2
