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
#include <span>
#include <string_view>

#include "input/fail.h"
#include "listing/chunk.h"

struct output {
	std::span<char> bytes;
	std::size_t used = 0;
	int fd = -1; // the stream the bytes belong to
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

// The bytes written into the buffer.
inline std::string_view ready(const output &out)
{
	return {out.bytes.data(), out.used};
}

// Writes bytes whole to standard output, ending the run at the first
// write it refuses, or to standard error, whose refusal cannot be told.
void write_stream(int fd, std::string_view bytes);

// Empties out by writing it to its stream: how the calling thread's
// buffers are emptied.
void write_out(output &out);

// Empties the buffer through its owner.
void flush(output &out);

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

// Reports a chunk of no known kind, shown up to its first NUL, emptying
// the buffer first where it lacks the room.
void report_unrecognised(output &err, std::string_view chunk);

// How much of a text process has rewritten.
struct rewritten {
	std::size_t bytes;
	std::int64_t lines;
};
