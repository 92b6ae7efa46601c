// Output in ordered pieces. Workers take segments in file order, take
// fixed-size pieces from one pool, fill them, and hand each in with the
// segment it belongs to; one thread writes them out, segment by segment
// in file order and each segment's pieces in the order they came. A
// segment's pieces wait until it is opened, and are never written if it
// is dropped. The writer knows nothing of what the bytes say.
//
// Two pieces are kept for the segment being written: a worker of a later
// segment takes one only while more are free, so the segment that holds
// up the rest can always go on. The writing thread wakes for a few pieces
// at once, when a segment ends, or when a worker waits for a piece.
// Nothing here allocates but make_writer, and the pieces' memory is the
// caller's.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

struct piece {
	char *bytes;
	std::size_t size = 0; // handed in
	int fd = -1;          // where they go
	piece *next = nullptr;
};

struct segment_queue {
	piece *first = nullptr; // handed in, not yet written
	piece *last = nullptr;
	std::size_t waiting = 0; // how many pieces are
	bool asked = false;      // its worker asks the writer to open it
	bool opened = false;
	bool ended = false;   // no more pieces come
	bool dropped = false; // its worker is to stop
};

struct writer {
	std::size_t piece_size;
	std::function<void(int fd, std::string_view bytes)> write;
	std::vector<piece> pieces;
	std::mutex lock;
	std::condition_variable to_write; // the writing thread waits on it
	std::condition_variable to_work;  // the workers wait on it
	piece *free = nullptr;
	std::size_t free_count = 0;
	std::vector<segment_queue> queues; // segment k's is queues[k % size]
	std::int64_t head = 0;             // the segment being written
	std::int64_t next = 0;             // the segment the next worker takes
	std::int64_t segments;             // how many, once known
	std::int64_t ready;                // those whose bytes are in the input
	std::int64_t size = 0;             // of the input, once known
	int error = 0;                     // why the input ends there, if it ends short
	bool stop = false;
};

// Thrown to a worker that waits on a writer that has stopped.
struct writer_stopped {};

// How many of the pieces are kept for the segment being written.
inline constexpr std::size_t pieces_kept = 2;

// A writer of the pieces of piece_size bytes that memory holds, at least
// pieces_kept of them, for up to in_flight segments at once, that writes
// with write; nothing without the memory for its lists.
std::unique_ptr<writer> make_writer(std::span<char> memory, std::size_t piece_size, std::size_t in_flight,
				    std::function<void(int, std::string_view)> write);

// Starts the writing of segments segments, of which ready are in the
// input, and of input of size bytes.
void restart(writer &w, std::int64_t segments, std::int64_t ready, std::int64_t size);

// Says how many segments are in the input, how many there are once it
// has ended, how long it is then, and why it ended short, if it did.
void publish(writer &w, std::int64_t ready, std::int64_t segments, std::int64_t size, int error);

// The input's end as far as it is known: size, segments and error.
struct input_end {
	std::int64_t size;
	std::int64_t segments;
	int error;
};
input_end known_end(writer &w);

// For a worker: the next segment, once its queue is free and its bytes
// are in the input; -1 when there is none, or the writer has stopped.
std::int64_t take_segment(writer &w);

// A piece for segment k, waiting for one to be free; nothing when k is
// the segment being written and it is neither opened nor asked to be, so
// that its worker may open it itself. Throws writer_stopped.
piece *take_piece(writer &w, std::int64_t k);

// Hands in a piece of segment k: empty, or of a dropped segment, it goes
// back to the pool.
void hand_piece(writer &w, std::int64_t k, piece *p);

// Sets a flag of segment k: asked, opened or ended.
void mark(writer &w, std::int64_t k, bool segment_queue::*flag);

// For the writing thread: waits until segment k is asked to be opened,
// opened, or ended, doing meanwhile's work while it has any; whether its
// worker opened it.
bool await(writer &w, std::int64_t k, const std::function<bool()> &meanwhile);

// Writes the first n pieces of segment k, which have been handed in.
void write_pieces(writer &w, std::int64_t k, std::size_t n);

// Writes the pieces of segment k as they come, until it has ended.
void write_segment(writer &w, std::int64_t k);

// Makes the next segment the one being written, once what k's worker
// found is taken: a worker may then act in its turn.
void done_segment(writer &w, std::int64_t k);

// Gives back the pieces of segment k, and those it hands in later.
void drop_segment(writer &w, std::int64_t k);

// Wakes every waiting worker to end.
void stop_writer(writer &w);
