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
	const __m128i blank = _mm_set1_epi8(' ');
	const __m128i v = _mm_set1_epi8('V');
	std::size_t whole = data.size() / 64;
	for (std::size_t w = 0; w < whole; w++) {
		std::uint64_t newlines = 0;
		std::uint64_t dashes = 0;
		std::uint64_t marks = 0;
		for (std::size_t part = 0; part < 4; part++) {
			__m128i bytes =
				_mm_loadu_si128(reinterpret_cast<const __m128i *>(data.data() + 64 * w + 16 * part));
			std::size_t shift = 16 * part;
			auto is_newline = _mm_cmpeq_epi8(bytes, newline);
			newlines |= mask(is_newline) << shift;
			dashes |= mask(_mm_cmpeq_epi8(bytes, dash)) << shift;
			auto ends = _mm_or_si128(is_newline, _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
			auto inner = _mm_or_si128(_mm_cmpeq_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, v));
			marks |= mask(_mm_or_si128(ends, inner)) << shift;
		}
		maps.newlines[w] = newlines;
		maps.dashes[w] = dashes;
		maps.marks[w] = marks;
	}
	map_bytes_plain(data.substr(64 * whole), {maps.newlines + whole, maps.dashes + whole, maps.marks + whole});
}
