// map_bytes with AVX2: 32 bytes a step. This file alone is built with
// -mavx2, and it runs only where the processor has it.
#include <immintrin.h>

#include "listing/scan.h"

namespace {

std::uint64_t mask(__m256i hits)
{
	return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

} // namespace

void map_bytes_avx2(std::string_view data, const byte_maps &maps)
{
	const __m256i newline = _mm256_set1_epi8('\n');
	const __m256i dash = _mm256_set1_epi8('-');
	std::size_t whole = data.size() / 64;
	for (std::size_t w = 0; w < whole; w++) {
		std::uint64_t newlines = 0;
		std::uint64_t dashes = 0;
		for (std::size_t part = 0; part < 2; part++) {
			__m256i bytes =
				_mm256_loadu_si256(reinterpret_cast<const __m256i *>(data.data() + 64 * w + 32 * part));
			std::size_t shift = 32 * part;
			newlines |= mask(_mm256_cmpeq_epi8(bytes, newline)) << shift;
			dashes |= mask(_mm256_cmpeq_epi8(bytes, dash)) << shift;
		}
		maps.newlines[w] = newlines;
		maps.dashes[w] = dashes;
	}
	map_bytes_plain(data.substr(64 * whole), {maps.newlines + whole, maps.dashes + whole});
}
