// The two passes over a listing, a chunk at a time: the one loop of each,
// which every thread runs. The calling thread runs them over a whole
// listing; a worker over a segment, from a state that does not know where
// it stands until the first header of the segment tells it.
#pragma once

#include <cstdint>
#include <optional>

#include "driver/diagnostics.h"
#include "driver/reader.h"
#include "listing/blocks.h"
#include "listing/output.h"

// Where the tally pass stands, and the entry lines of the blocks it has
// left.
struct tally_state {
	position at;
	entry_counts counts{};
};

// What the emit pass knows from the tally, and where it stands.
struct emit_state {
	const entry_counts *counts;
	std::int64_t headers; // in the listing
	position at;
};

// Tallies the chunks of in, to its end or to a header that must tell the
// state where it stands, which it leaves unread.
void tally_lines(reader &in, tally_state &state, lane &l);

// Writes the rewritten chunks of in likewise. A variable line whose
// block runs on past in gets its count by reading ahead.
void emit_lines(reader &in, reader &ahead, emit_state &state, output &out, lane &l);

// Ends the open block at a header whose number reads as read, and moves
// into the header's block, if the header follows the numbering; in the
// emit pass, if the block ends with what the tally counted in it, and the
// tally counted the header at all.
void tally_header(tally_state &state, std::optional<std::int32_t> read, lane &l);
void emit_header(emit_state &state, std::optional<std::int32_t> read, const char *path, lane &l);

// Ends the last block, once the pass has met the whole listing.
void finish_tally(tally_state &state);
void finish_emit(const emit_state &state, const char *path, lane &l);

[[noreturn]] void fail_changed(lane &l, const char *path);

// Writes bytes of output to fd; ends the run at the first write that it
// refuses.
void write_output(int fd, std::string_view bytes, lane &l);

// Writes the output that is ready, likewise.
void flush(output &out, lane &l);
