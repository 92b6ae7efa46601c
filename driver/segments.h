// Both passes over a file on several threads, with the bytes on standard
// output and standard error, and the status, that one thread gives.
//
// The file is cut into segments that begin at line starts. A worker
// takes the next segment and works on it as if nothing came before it,
// noting what its lines find and what they take for granted; the calling
// thread, the only one that writes, joins the segments in file order and
// checks what each took for granted against where the pass stands. A
// segment that does not fit, or whose worker could not read it, it works
// on itself the single-threaded way.
#pragma once

#include <cstdint>

#include "driver/passes.h"

// Past this many threads, the joiner's writing and the reading of the
// file twice over leave the rest waiting.
inline constexpr int max_threads = 16;

// Segments are about this long; tests build with small ones, to cross
// many seams. A file of one segment is not worth the threads.
#ifndef VBLOCKS_SEGMENT_SIZE
#define VBLOCKS_SEGMENT_SIZE (std::int64_t{1} << 20)
#endif
inline constexpr std::int64_t segment_size = VBLOCKS_SEGMENT_SIZE;

// How many threads to run: VBLOCKS_THREADS, or as many as the processors
// this process may run on, at most max_threads. A VBLOCKS_THREADS that is
// not a whole number from 1 to max_threads ends the run.
int thread_count();

// The passes over the first size bytes of the file open as fd, on up to
// threads workers and the calling thread. pass and ahead are the calling
// thread's readers, for the segments it works on itself.
void tally_segments(int fd, std::int64_t size, int threads, reader &pass, tally_state &state);
void emit_segments(int fd, std::int64_t size, int threads, reader &pass, reader &ahead, emit_state &state, output &out);
