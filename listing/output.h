// The numeric listing: a fixed output buffer and the lines written into
// it. Nothing here writes to a file: whoever owns the buffer empties it
// before it runs short of line_room.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "listing/chunk.h"

struct output {
	int fd;
	std::span<char> bytes; // the buffer, whoever owns it
	std::size_t used = 0;
	// Where a variable line whose entry count is not yet known begins;
	// the bytes from there on are not ready to be written.
	std::optional<std::size_t> pending{};
	// Set when that count cannot be known: the line and what follows it
	// are never written.
	bool lost = false;
};

// The size of the buffer that the command writes through.
inline constexpr std::size_t output_size = std::size_t{64} * 1024;
using output_buffer = std::array<char, output_size>;

// The most that one line of the listing takes in the buffer: a rewritten
// entry line of max_chunk characters, every reference a number of eleven
// characters, with room for short copies that run past their end. The
// entry lines of 64 characters of input take less.
inline constexpr std::size_t line_room = max_chunk + std::size_t{2} * 1024 + 128;

// Whether another line fits in the buffer.
inline bool has_line_room(const output &out)
{
	return out.bytes.size() - out.used >= line_room;
}

// Each line is written whole, every number in plain decimal; there must
// be line_room for it.
void put_count_line(output &out, std::int64_t variables);
void put_variable_line(output &out, std::int32_t variable, std::int64_t entries);

// Writes a variable line whose entry count is put in later by
// settle_variable_line, once the block has been rewritten; there must be
// no other such line pending.
void put_pending_variable_line(output &out, std::int32_t variable);
void settle_variable_line(output &out, std::int64_t entries);

// The bytes that are ready to be written: all of them but a pending
// variable line and what follows it.
std::string_view ready(const output &out);

// How much of a text process has rewritten.
struct rewritten {
	std::size_t bytes;
	std::int64_t lines;
};

// Writes the rewritten form of the entry chunk made of the first
// characters of text (its lead token, the number of "Variable"
// references, then each reference's number), then of each whole entry
// line that follows it in text, up to most lines in all and while out has
// line_room. A line ends at its newline or, for the first, at the end of
// the chunk; only what stands before its first NUL counts. text must be
// followed by pad readable bytes, the first 64 of them neither a newline
// nor a minus sign, and out must have line_room.
rewritten process(std::string_view text, std::size_t first, std::int64_t most, output &out);

// process as built for any processor of its kind, and for one with AVX2
// (see processor.h); process picks the widest.
rewritten process_baseline(std::string_view text, std::size_t first, std::int64_t most, output &out);
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
rewritten process_avx2(std::string_view text, std::size_t first, std::int64_t most, output &out);
#endif
