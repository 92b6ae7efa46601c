// The two passes over a listing, a chunk at a time: the one loop of each,
// which the calling thread runs over a whole listing and a worker over a
// segment (see parallel/segments.h).
#pragma once

#include <cstdint>
#include <optional>

#include "listing/blocks.h"
#include "listing/output.h"
#include "listing/reader.h"

// The first header of a segment, which tells a worker where the pass
// stands, and what came before it, which the joiner holds to the rules.
struct seam {
	std::int64_t lead_in = 0;          // entry lines before it
	bool header = false;               // met
	std::optional<std::int32_t> first; // its number as read
};

// Thrown where a worker's segment cannot go on: a first header whose
// number cannot be read ends the run there, wherever the pass stands.
struct stop_segment {};

struct tally_pass {
	position at;
	entry_counts counts{};
	seam s;
};

struct emit_pass {
	const entry_counts *counts;
	std::int64_t headers; // in the listing
	const char *path;     // names the input in messages
	position at;
	seam s;
	// Where the variable line of a block past variable 99 begins in out,
	// while its count is not known: the line is written in full before
	// anything but its block's lines follows it.
	std::optional<std::size_t> pending{};
	bool lost = false; // a block's count cannot be known: the listing's lines are not written
};

// What a pass reads and writes: in, the listing; ahead, for reading on
// where a variable line past the table needs its block's count; out, the
// listing (the tally writes none); err, the diagnostics, which may be out.
struct pass_io {
	reader &in;
	reader &ahead;
	output &out;
	output &err;
};

// Runs a pass over io.in. A listing that no longer agrees with the tally
// ends the run before the line that would be wrong.
void run_pass(tally_pass &p, pass_io io);
void run_pass(emit_pass &p, pass_io io);

// The header of the seam, where the pass truly stands: it ends the block
// before it, and moves into its own, if it follows the numbering; in the
// emit pass, if the block ends with what the tally counted in it, and the
// tally counted the header at all.
void cross_header(tally_pass &p, std::optional<std::int32_t> read);
void cross_header(emit_pass &p, std::optional<std::int32_t> read);

// Ends the last block, once the pass has met the whole listing.
void finish(tally_pass &p);
void finish(emit_pass &p);

[[noreturn]] void fail_changed(const char *path);
