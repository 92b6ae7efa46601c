// Bitmaps of where lines begin and end in a buffer, so that runs of entry
// lines are found and counted a word of 64 bytes at a time. Bit i % 64 of
// word i / 64 stands for byte i.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t bitmap_words(std::size_t bytes)
{
	return (bytes + 63) / 64;
}

// Each map has bitmap_words(size) words for size bytes.
struct byte_maps {
	std::uint64_t *newlines; // '\n', which ends a line
	std::uint64_t *dashes;   // '-', which begins an entry line
};

// Fills the maps for data with the widest kernel the processor has.
void map_bytes(std::string_view data, const byte_maps &maps);

// The kernels. The plain loop is the reference and the fallback.
void map_bytes_plain(std::string_view data, const byte_maps &maps);
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
void map_bytes_sse2(std::string_view data, const byte_maps &maps);
void map_bytes_avx2(std::string_view data, const byte_maps &maps);
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
void map_bytes_neon(std::string_view data, const byte_maps &maps);
#endif

// A run of whole entry lines, each ended by a newline: where it ends, and
// how many lines it holds.
struct entry_run {
	std::size_t end;
	std::int64_t lines;
};

// The run that begins at begin in data, whose maps hold nothing past its
// bytes and have a word to spare after them: each newline ends an entry
// line, and the line after it continues the run if it begins with a
// minus sign. A line of max_chunk characters or more stops it, and so
// does the end of data. The run may be empty.
entry_run count_run(std::string_view data, const std::uint64_t *newlines, const std::uint64_t *dashes,
		    std::size_t begin);

// The bits for the first n positions of a word.
inline std::uint64_t bits_below(std::size_t n)
{
	return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// The first set bit at or after from and before to; to when there is none.
inline std::size_t next_bit(const std::uint64_t *bits, std::size_t from, std::size_t to)
{
	while (from < to) {
		std::uint64_t word = bits[from / 64] >> (from % 64);
		if (word != 0) {
			std::size_t found = from + static_cast<std::size_t>(std::countr_zero(word));
			return found < to ? found : to;
		}
		from = (from | 63) + 1;
	}
	return to;
}
