// The two passes over a listing, a chunk at a time from any line start to
// the end of a reader: through a whole listing on one thread, or through
// a segment whose workers' findings could not be taken as they were.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

#include "driver/reader.h"
#include "listing/output.h"

// Variables 0 to 99 have their entry lines counted in the tally pass;
// the blocks of later ones are counted as the emit pass writes them.
using entry_counts = std::array<std::int64_t, 100>;

inline constexpr std::int64_t no_limit = std::numeric_limits<std::int64_t>::max();

inline bool in_table(std::int32_t variable)
{
	return variable >= 0 && static_cast<std::size_t>(variable) < entry_counts{}.size();
}

// Where the tally pass stands: the variable whose block it is in (-1
// before the first header), how many headers it has taken, and the entry
// lines it has counted.
struct tally_state {
	std::int32_t current = -1;
	std::int64_t index = 0;
	entry_counts counts{};
};

// What the emit pass knows from the tally, and where it stands: the
// variable whose block it is in, how many headers it has taken, and how
// many entry lines of the block it has met.
struct emit_state {
	const entry_counts *counts;
	std::int64_t headers; // in the listing
	std::int32_t current = -1;
	std::int64_t index = 0;
	std::int64_t entries = 0;
};

// Tallies the chunks of in, to its end.
void tally_lines(reader &in, tally_state &state);

// Writes the rewritten chunks of in, to its end; a variable line whose
// block runs on past it gets its count by reading ahead.
void emit_lines(reader &in, reader &ahead, emit_state &state, output &out);

// Once the emit pass has met the whole listing: it must have met what
// the tally counted.
void finish_emit(const char *path, const emit_state &state);

// Reads a header's number and holds it to the numbering rule: the k-th
// header of a pass carries k.
void accept_header(std::string_view chunk, std::int32_t &current, std::int64_t &index);
[[noreturn]] void fail_numbering(std::int32_t number, std::int64_t index);

// Entry lines before the first header belong to no block.
void add_entries(entry_counts &counts, std::int32_t variable, std::int64_t entries);

// How many more entry lines the emit pass may meet in the block of
// variable: what the tally pass counted in it, less those already met;
// any number before the first header and past variable 99.
std::int64_t room_left(const entry_counts &counts, std::int32_t variable, std::int64_t entries);

// Counts the entry lines from where in stands to the next header.
std::int64_t count_block_ahead(const reader &in, reader &ahead);

[[noreturn]] void fail_changed(const char *path);

// Writes the buffered output; ends the run at the first write that
// standard output refuses.
void flush(output &out);

// Writes the buffered output, then bytes, which follow it.
void write_after(output &out, std::string_view bytes);
