// map_bytes with SSE2, which every x86-64 processor has: 16 bytes a step.
#include <emmintrin.h>

#include "listing/scan.h"

namespace {

std::uint64_t mask(__m128i hits)
{
	return static_cast<std::uint16_t>(_mm_movemask_epi8(hits));
}

} // namespace

void map_bytes_sse2(std::string_view data, const byte_maps &maps)
{
	const __m128i newline = _mm_set1_epi8('\n');
	const __m128i dash = _mm_set1_epi8('-');
	std::size_t whole = data.size() / 64;
	for (std::size_t w = 0; w < whole; w++) {
		std::uint64_t newlines = 0;
		std::uint64_t dashes = 0;
		for (std::size_t part = 0; part < 4; part++) {
			__m128i bytes =
				_mm_loadu_si128(reinterpret_cast<const __m128i *>(data.data() + 64 * w + 16 * part));
			std::size_t shift = 16 * part;
			newlines |= mask(_mm_cmpeq_epi8(bytes, newline)) << shift;
			dashes |= mask(_mm_cmpeq_epi8(bytes, dash)) << shift;
		}
		maps.newlines[w] = newlines;
		maps.dashes[w] = dashes;
	}
	map_bytes_plain(data.substr(64 * whole), {maps.newlines + whole, maps.dashes + whole});
}
