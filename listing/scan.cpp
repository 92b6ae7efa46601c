#include "listing/scan.h"

#include "listing/chunk.h"
#include "listing/processor.h"

void map_bytes_plain(std::string_view data, const byte_maps &maps)
{
	for (std::size_t w = 0; w < bitmap_words(data.size()); w++)
		maps.newlines[w] = maps.dashes[w] = 0;
	for (std::size_t i = 0; i < data.size(); i++) {
		std::uint64_t bit = std::uint64_t{1} << (i % 64);
		char c = data[i];
		if (c == '\n')
			maps.newlines[i / 64] |= bit;
		if (c == '-')
			maps.dashes[i / 64] |= bit;
	}
}

void map_bytes(std::string_view data, const byte_maps &maps)
{
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	if (processor().avx2)
		map_bytes_avx2(data, maps);
	else
		map_bytes_sse2(data, maps);
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
	map_bytes_neon(data, maps);
#else
	map_bytes_plain(data, maps);
#endif
}

namespace {

// Inlined into a plain and a popcnt build of itself.
[[gnu::always_inline]] inline entry_run count_run_inline(std::string_view data, const std::uint64_t *newlines_of,
							 const std::uint64_t *dashes, std::size_t begin)
{
	std::size_t line = begin; // where the next line to be counted begins
	if (line == data.size() || data[line] != '-')
		return {begin, 0};
	std::int64_t counted = 0;
	std::size_t last = bitmap_words(data.size()) - 1;
	std::size_t w = line / 64;
	std::uint64_t newlines = newlines_of[w] & ~bits_below(line % 64);
	for (;;) {
		std::size_t first = w * 64 + static_cast<std::size_t>(std::countr_zero(newlines));
		if (first - line >= max_chunk)
			break;
		if (newlines != 0) {
			// The maps hold nothing past the bytes, so the last of them,
			// if a newline, stops the run too.
			std::uint64_t dash_after = dashes[w] >> 1 | dashes[w + 1] << 63;
			std::uint64_t stops = newlines & ~dash_after;
			std::uint64_t ends = stops != 0 ? newlines & (stops ^ (stops - 1)) : newlines;
			counted += std::popcount(ends);
			line = w * 64 + 64 - static_cast<std::size_t>(std::countl_zero(ends));
			if (stops != 0)
				break;
		}
		if (w == last)
			break;
		newlines = newlines_of[++w];
	}
	return {line, counted};
}

#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
// Without it, a population count is a call into the compiler's library.
[[gnu::target("popcnt")]] entry_run count_run_popcnt(std::string_view data, const std::uint64_t *newlines,
						     const std::uint64_t *dashes, std::size_t begin)
{
	return count_run_inline(data, newlines, dashes, begin);
}
#endif

} // namespace

entry_run count_run(std::string_view data, const std::uint64_t *newlines, const std::uint64_t *dashes,
		    std::size_t begin)
{
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	if (processor().popcnt)
		return count_run_popcnt(data, newlines, dashes, begin);
#endif
	return count_run_inline(data, newlines, dashes, begin);
}
