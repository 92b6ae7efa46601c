// Both passes over a file on several threads, with the bytes on standard
// output and standard error, and the status, that one thread gives.
//
// The file is cut into segments that begin at line starts. A worker runs
// the pass's one loop over a segment: over the lines before its first
// header, which belong to whatever block the pass is in there, then from
// that header on, from where the header says the pass stands. The
// calling thread joins the segments in file order (order.h): it takes
// the lines before the first header into the block it is in, holds the
// first header to the rules where the pass truly stands, and then stands
// where the worker ended. A worker that must write before its segment is
// joined waits for its turn and joins what it has found itself.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/order.h"
#include "driver/passes.h"

// Segments are about this long; tests build with small ones, to cross
// many seams. A file of one segment is not worth the threads.
#ifndef VBLOCKS_SEGMENT_SIZE
#define VBLOCKS_SEGMENT_SIZE (std::int64_t{1} << 20)
#endif
inline constexpr std::int64_t segment_size = VBLOCKS_SEGMENT_SIZE;

// What a worker reads with.
struct worker {
	buffer pass;
	buffer ahead;
};

// The memory of the workers, made once for both passes: their buffers,
// and a slot more than them for the segments they leave to the joiner,
// so that a worker need not wait for it. A slot holds the diagnostics of
// a segment and, in the emit pass, its output.
struct pool {
	std::vector<std::unique_ptr<worker>> workers;
	std::vector<std::unique_ptr<char[]>> slots;
};

inline constexpr std::size_t slot_size = 2 * static_cast<std::size_t>(segment_size) + line_room;

// A pool for threads workers; nothing without the memory for it.
std::unique_ptr<pool> make_pool(int threads);

// How many threads to run: VBLOCKS_THREADS, at most max_threads, or as
// many as the processors this process may run on. A VBLOCKS_THREADS that
// is set and not a whole number from 1 up ends the run.
int thread_count();

// The passes over the file open as fd, which held size bytes when the
// pass began, on the workers of the pool and the calling thread; pass and
// ahead are its readers. Each returns the bytes it read.
std::int64_t tally_segments(pool &p, int fd, std::int64_t size, reader &pass, reader &ahead, tally_state &state);
std::int64_t emit_segments(pool &p, int fd, std::int64_t size, reader &pass, reader &ahead, emit_state &state,
			   output &out);

// How many segments the calling thread has done itself because what a
// worker found could not be taken: none, for a file that does not change.
std::int64_t segments_redone();
