// The listing's hot loops, built once per instruction set from the same
// code (rewrite.h) on that set's masks: the read buffer's bitmaps, the
// runs of entry lines the tally counts, and the rewriting of entry lines.
// One is picked at start, the widest the processor runs, and every caller
// uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "kernels/isa.h"
#include "kernels/masks.h"
#include "listing/output.h"

inline constexpr std::size_t bitmap_words(std::size_t bytes)
{
	return (bytes + 63) / 64;
}

// Bit i % 64 of word i / 64 stands for byte i; each map has
// bitmap_words(size) words for size bytes.
struct byte_maps {
	std::uint64_t *newlines;
	std::uint64_t *dashes;
};

// A run of whole entry lines, each ended by a newline: where it ends, and
// how many lines it holds.
struct entry_run {
	std::size_t end;
	std::int64_t lines;
};

struct kernel {
	isa set;
	const char *name;
	// The masks of the 64 characters at text.
	line_masks (*masks)(const char *text);
	// Fills the maps for data, which 64 readable bytes follow.
	void (*map_bytes)(std::string_view data, const byte_maps &maps);
	// The run that begins at begin in data, whose maps hold nothing past
	// its bytes and have a word to spare after them: each newline ends an
	// entry line, and the line after it continues the run if it begins
	// with a minus sign. A line of max_chunk characters or more stops it,
	// and so does the end of data. The run may be empty.
	entry_run (*count_run)(std::string_view data, const std::uint64_t *newlines, const std::uint64_t *dashes,
			       std::size_t begin);
	// Writes the rewritten form of the entry chunk made of the first
	// characters of text (its lead token, the number of "Variable"
	// references, then each reference's number), then of each whole
	// entry line that follows it in text, up to most lines in all and
	// while out has line_room. A line ends at its newline or, for the
	// first, at the end of the chunk; only what stands before its first
	// NUL counts. text must be followed by pad readable bytes, the first
	// 64 of them neither a newline nor a minus sign, and out must have
	// line_room.
	rewritten (*process)(std::string_view text, std::size_t first, std::int64_t most, output &out);
	// The set's compress and expand of the 64 bytes at from (see
	// kernels/masks.h) into the 64 at to.
	void (*compress)(const char *from, std::uint64_t keep, char *to);
	void (*expand)(const char *from, std::uint64_t into, const char *fill, char *to);
};

// The kernels this processor runs, the plain loops first, the widest
// last.
std::span<const kernel *const> kernels();

// The kernel in use: the widest this processor runs, unless
// one was picked, or capped by the name of a set (plain, sse2 or neon,
// avx2, avx512): the widest it runs up to that. false for a name of none.
const kernel &kernel_in_use();
void pick_kernel(const kernel &k);
bool cap_kernel(std::string_view set);

inline rewritten process(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	return kernel_in_use().process(text, first, most, out);
}
