// Reads a listing through a fixed buffer and cuts it into chunks, as a
// line reader with a 1024-byte buffer would. With each read it maps the
// bytes that give the listing its structure, so that lines are found a
// word at a time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <sys/types.h>

#include "input/copy.h"
#include "kernels/masks.h"
#include "listing/chunk.h"
#include "listing/kernel.h"
#include "listing/output.h"

// Tests build with a small read size to cross many refills.
#ifndef VBLOCKS_READ_SIZE
#define VBLOCKS_READ_SIZE (std::size_t{128} * 1024)
#endif
inline constexpr std::size_t read_size = VBLOCKS_READ_SIZE;
static_assert(read_size >= max_chunk && read_size % 64 == 0, "a read holds a whole chunk and whole words");

// One read's worth of input, with pad bytes to spare (see chunk.h), and
// its bitmaps;
// each bitmap has a word to spare, so that the bit after any buffered
// byte may be looked at.
struct buffer {
	std::array<char, read_size + pad> bytes{};
	std::array<std::uint64_t, read_size / 64 + 1> newlines{}, dashes{};
};

// The first read of a look-ahead is small, as most blocks are; each one
// after it doubles, up to read_size.
inline constexpr std::size_t first_read_ahead = std::min(read_size, std::size_t{4096});

inline constexpr std::int64_t no_end = std::numeric_limits<std::int64_t>::max();

// A reader of the bytes of a file from offset up to limit, read at their
// offsets, or of input that cannot be reread, read in turn as it is
// copied. A read that fails ends the reader where it failed, with error
// set to why (see copy.h): the pass takes the whole chunks before it,
// then ends the run.
struct reader {
	int fd;
	const char *path; // names the input in messages
	buffer *own;
	// The buffered input: own, or while reading ahead the buffer of the
	// reader it started from, until the first refill.
	const buffer *view = own;
	std::size_t begin = 0; // the unread bytes are view->bytes[begin, end)
	std::size_t end = 0;
	std::int64_t offset = 0; // of the byte after them
	std::int64_t limit = no_end;
	int error = 0;                     // why it ends at limit, if it does for a failed read
	const char *reason = nullptr;      // that in words, where a look-ahead of another source found it
	std::size_t next_read = read_size; // the most that the next refill reads
	bool at_end = false;
	copy *source = nullptr; // the copy of input that cannot be reread
	bool in_turn = false;   // read as source is made, not from it
};

// A reader like like, of the bytes [from, to) of the file open as fd,
// which ends at to with error when that is not 0.
inline reader segment_reader(const reader &like, int fd, buffer *own, std::int64_t from, std::int64_t to, int error)
{
	reader in{fd, like.path, own};
	in.source = like.source;
	in.offset = from;
	in.limit = to;
	in.error = error;
	return in;
}

// Moves the unread bytes to the start of the buffer, or up to 31 bytes
// after it where the read would be slow there, and reads more after them.
void refill(reader &in);

// The next chunk, or nothing at the end of the input or where a read
// failed: a chunk that the failure cuts short is not one.
inline std::optional<std::string_view> next_chunk(reader &in)
{
	for (;;) {
		const buffer &b = *in.view;
		std::size_t available = in.end - in.begin;
		std::size_t reach = in.begin + std::min(available, max_chunk);
		std::size_t newline = next_bit(b.newlines.data(), in.begin, reach) - in.begin;
		std::size_t length = chunk_length(newline, available, in.at_end && in.error == 0);
		if (length != 0) {
			std::string_view c{b.bytes.data() + in.begin, length};
			in.begin += length;
			return c;
		}
		if (in.at_end)
			return std::nullopt;
		refill(in);
	}
}

// Gives back the chunk just taken, for the next next_chunk.
inline void put_back(reader &in, std::string_view chunk)
{
	in.begin -= chunk.size();
}

// Passes over the run of entry lines that stands where in stands (see
// count_run) and returns how many it holds; next_chunk goes on from
// where it stops.
inline std::int64_t count_entry_lines(reader &in)
{
	const buffer &b = *in.view;
	entry_run run =
		kernel_in_use().count_run({b.bytes.data(), in.end}, b.newlines.data(), b.dashes.data(), in.begin);
	in.begin = run.end;
	return run.lines;
}

// Rewrites the entry chunk just taken from in, then the whole entry lines
// after it in the buffer, at most most lines in all (see process), and
// moves in past them; returns how many it rewrote.
std::int64_t rewrite_entry_lines(reader &in, std::string_view chunk, std::int64_t most, output &out);

// Why in ended short, in words.
const char *read_failure(const reader &in);

// Sets ahead to read on from where in stands.
void start_ahead(reader &ahead, const reader &in);
