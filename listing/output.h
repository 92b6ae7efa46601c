// The numeric listing and the diagnostics, written a line at a time into
// fixed buffers. Whoever owns a buffer says how it is emptied: the
// calling thread writes it to its file, a worker hands it to the ordered
// writer and takes another.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "input/fail.h"
#include "listing/chunk.h"

struct output {
	std::span<char> bytes;
	std::size_t used = 0;
	// Where a variable line whose entry count is not yet known begins;
	// the bytes from there on are not ready to be written.
	std::optional<std::size_t> pending{};
	// Set when that count cannot be known: the line and the listing's
	// lines that follow it are never written, its diagnostics are.
	bool lost = false;
	// Takes the ready bytes; may put another buffer in place of bytes.
	std::function<void(output &)> empty{};
};

// The size of the buffers the command writes through.
inline constexpr std::size_t output_size = std::size_t{64} * 1024;

// The most that one line takes in a buffer: a rewritten entry line of
// max_chunk characters, every reference a number of eleven characters,
// with room for short copies that run past their end; a diagnostic of a
// chunk takes less.
inline constexpr std::size_t line_room = max_chunk + std::size_t{2} * 1024 + 128;

// Whether another line fits in the buffer.
inline bool has_line_room(const output &out)
{
	return out.bytes.size() - out.used >= line_room;
}

// The bytes that are ready to be written: all of them but a pending
// variable line and what follows it.
inline std::string_view ready(const output &out)
{
	return {out.bytes.data(), out.pending.value_or(out.used)};
}

// Writes bytes whole to standard output, ending the run at the first
// write it refuses, or to standard error, whose refusal cannot be told.
void write_stream(int fd, std::string_view bytes);

// Empties the buffer through its owner.
void flush(output &out);

// Drops the listing's lines written since mark where a variable line
// before them was lost.
inline void drop_if_lost(output &out, std::size_t mark)
{
	if (out.lost) {
		out.used = mark;
		out.pending.reset();
	}
}

// Room for one number: a sign and 19 digits.
inline constexpr std::size_t number_room = 20;

inline char *decimal(char *at, std::int64_t n)
{
	// Most counts are one digit.
	if (n >= 0 && n < 10) {
		*at = static_cast<char>('0' + n);
		return at + 1;
	}
	return std::to_chars(at, at + number_room, n).ptr;
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

// Reports a chunk of no known kind, shown up to its first NUL, emptying
// the buffer first where it lacks the room.
void report_unrecognised(output &err, std::string_view chunk);

// How much of a text process has rewritten.
struct rewritten {
	std::size_t bytes;
	std::int64_t lines;
};
