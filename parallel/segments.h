// Both passes over a file on several threads, with the bytes on standard
// output and standard error, and the status, that one thread gives.
//
// The file is cut into segments that begin at line starts: segment k
// begins at the first line start at or after k times the segment size,
// and is empty when there is none before the next segment's share; each
// ends where the next begins, so a longer line belongs to the segment it
// begins in, and the last reads on to the end of the file as it then is.
//
// A worker takes the next segment and runs the pass's one loop over it,
// writing into pieces (writer.h). Until the segment's first header it
// does not know where the pass stands: the entry lines before that header
// belong to whatever block the pass is in there. At the header it keeps
// them and the header's number as the seam, hands in what it has
// written, and asks for its segment to be opened; from the header on it
// stands where the header says.
//
// The calling thread writes the segments in file order. It holds each
// seam to the rules where the pass truly stands, as one thread meets
// them: the entry lines before the first header must fit in their block,
// and the header must follow the numbering. Then it opens the segment,
// writes its pieces, and stands where the worker ended. A first header
// that breaks the numbering ends the run after what came before it.
// Entry lines that do not fit mean that the file changed since the tally:
// the calling thread drops the segment and does it again itself, to stop
// where one thread stops.
//
// A worker whose segment comes up before it has met a header, and that
// needs a piece, holds what it has found to the rules itself and goes on
// from where the pass stands, so that its pieces can go out. A worker that
// meets a problem puts its line after its pieces: the first problem in
// file order is the one reported, whichever thread met it.
//
// Input read in turn (a pipe, a compressed file) is copied by the calling
// thread as it waits for the segment it writes; it tells the workers of
// each segment whose bytes are all in the copy, and at the end how long
// the input was and why it ended, if it ended short.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "input/platform.h"
#include "listing/passes.h"
#include "parallel/writer.h"

// Segments are at most this long. Each is one hand-over to the writing
// thread, which wakes it where the cores are all busy, and its listing
// should fit the pieces of one thread (pieces_per_thread); tests build
// with small ones, to cross many seams. A file of one segment is not
// worth the threads.
#ifndef VBLOCKS_SEGMENT_SIZE
#define VBLOCKS_SEGMENT_SIZE (std::int64_t{2} << 20)
#endif
inline constexpr std::int64_t segment_size = VBLOCKS_SEGMENT_SIZE;

// The segments of a file of size bytes, on threads threads: short enough
// that each thread takes several, so that the threads end together, but
// no shorter than 512 KiB, where the hand-overs begin to cost.
inline std::int64_t segment_size_for(std::int64_t size, int threads)
{
	constexpr std::int64_t shortest = std::min<std::int64_t>(segment_size, std::int64_t{512} * 1024);
	return std::clamp(size / (std::int64_t{16} * threads), shortest, segment_size);
}

// Past this many threads, the writing and the reading of the file twice
// over leave the rest waiting.
inline constexpr int max_threads = 16;

// What a worker reads with.
struct worker_buffers {
	buffer pass;
	buffer ahead;
};

// The workers' memory, made once for both passes: their buffers, and the
// pieces they write into.
struct pool {
	std::vector<std::unique_ptr<worker_buffers>> workers;
	pages memory;
	std::unique_ptr<writer> pieces;
};

// About 2 MiB of pieces a thread, each written out with one call.
inline constexpr std::size_t piece_size = std::size_t{256} * 1024;
inline constexpr std::size_t pieces_per_thread = 8;

// A pool for threads workers with so many pieces each, and the reserve for
// the segment being written, which go out through write; nothing without
// the memory for it.
std::unique_ptr<pool> make_pool(int threads, std::size_t pieces, std::function<void(int, std::string_view)> write);

// A pass over the segments of the input open as fd, of size bytes when
// the pass began, or of the copy that io.in makes as it reads input in
// turn; p and io are the calling thread's. Returns the bytes read.
std::int64_t run_segments(pool &workers, tally_pass &p, pass_io io, int fd, std::int64_t size);
std::int64_t run_segments(pool &workers, emit_pass &p, pass_io io, int fd, std::int64_t size);
