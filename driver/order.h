// The order of output: workers do segments in any order, and the calling
// thread joins them in file order, the only one that writes, but for a
// worker whose segment is the one being joined. Segment k has slot
// k % slots, which a worker takes once segment k - slots is joined and
// its bytes are in the input: a file has them all, while a copy made as
// the pass runs gets them from the calling thread, between joins.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// Past this many threads, the writing and the reading of the file twice
// over leave the rest waiting.
inline constexpr int max_threads = 16;

// Nothing here allocates memory but the threads themselves, so that a
// run without the memory for them goes on without them.
struct order {
	std::int64_t segments; // how many, once known
	std::int64_t slots;
	std::int64_t ready;    // the segments whose bytes are in the input
	std::int64_t size = 0; // of the input, once known
	int error = 0;         // why it ends there, if it ends short
	std::mutex lock;
	std::condition_variable moved;                  // a segment was taken, done or joined
	std::int64_t next = 0;                          // the segment the next worker takes
	std::int64_t joined = 0;                        // how many segments are written out
	std::array<std::int64_t, max_threads + 1> done; // each slot's segment, once done
	bool stop = false;
};

// Thrown to a worker that waits for a turn that will not come: the run
// ended before.
struct run_stopped {};

// Waits until segment k is the one being joined, which lets its worker
// write.
void wait_turn(order &o, std::int64_t k);

// Hands the workers the segments before ready, and, once the input has
// ended, how many there are and how long it is.
void publish(order &o, std::int64_t ready, std::int64_t segments, std::int64_t size, int error);

// What a worker knows of the input's end: its size, the segments and the
// error of order, or no_end for each while the input grows.
struct input_end {
	std::int64_t size;
	std::int64_t segments;
	int error;
};
input_end known_end(order &o);

// Runs up to threads workers, each doing work(k, w) for the segments in
// turn, w being the worker's number, while the calling thread joins them
// in file order with join(k), and, while the input grows, calls grow to
// make more of it rather than wait: false once it has ended. Returns how
// many workers started: with none, nothing was done.
int run_in_order(order &o, int threads, const std::function<void(std::int64_t, int)> &work,
		 const std::function<void(std::int64_t)> &join, const std::function<bool()> &grow);
