// Output in ordered pieces, kept as pigz keeps its write list. Workers
// take segments in file order, fill fixed-size pieces from one pool, and
// hand each in with the segment it belongs to; one thread, the writing
// thread, writes them out, segment by segment in file order and each
// segment's pieces in the order they came. The writer knows nothing of
// what the bytes say. It is two parts under one lock:
//
// - The pool: pieces of piece_size bytes in memory the caller owns. A
//   worker of a later segment than the one being written (the head)
//   takes a piece only while more than the reserve are free: as many as
//   one worker holds at once.
// - The order: each segment's state, one value, whose changes are all
//   listed in next_state; a ring of in_flight queues of pieces, one for
//   each segment that may be taken at once; the head; the next segment to
//   take.
//
// Why nothing waits forever:
// 1. The writing thread waits only on the head: for its state to move
//    from working, or for its next piece while it is open. The head's
//    worker wakes it when it opens the segment itself or ends, hands in
//    a batch of pieces, or lacks a piece; its seam alone wakes nobody,
//    as one of those always follows it.
// 2. The head's worker always gets its pieces: the reserve is left free
//    for it, and every piece it hands in is written and comes back. A
//    head that is still working has no piece to give, since none of its
//    pieces could be written: its worker opens it itself instead (see
//    take_piece), and so moves it from working.
// 3. A worker that waits for its segment's turn in the ring waits on the
//    head moving on, which 1 and 2 ensure.
// 4. stop_writer wakes every thread that waits, to end.
// Nothing here allocates but make_writer.
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

// The most pieces a worker holds at once, one for each of its outputs;
// the pool keeps as many for the head's worker.
inline constexpr std::size_t pieces_held = 2;

// A segment's state; next_state lists the changes.
enum class segment_state {
	working,  // its worker runs, short of its first header
	seamed,   // its worker met its first header, and asks for it to be opened
	finished, // its worker ended before it was opened
	open,     // its pieces are written as they come
	done,     // open, and its worker has ended: no more pieces come
	dropped,  // its worker is to stop; its pieces go back to the pool
};

// What moves a segment from one state to another: its worker, or the
// writing thread.
enum class segment_event {
	seam_kept,      // worker
	opened_in_turn, // worker, as the head, for want of pieces
	worker_ended,   // worker
	opened,         // writing thread, once it has judged the seam
	dropped,        // writing thread
};

struct segment_queue {
	piece *first = nullptr; // handed in, not yet written
	piece *last = nullptr;
	std::size_t waiting = 0; // how many pieces are
	segment_state state = segment_state::working;
};

struct writer {
	std::size_t piece_size;
	std::function<void(int fd, std::string_view bytes)> write;
	std::vector<piece> pieces;
	std::mutex lock;
	std::condition_variable to_write; // the writing thread waits on it
	std::condition_variable to_work;  // workers wait on it for a piece
	std::condition_variable to_take;  // and for a segment
	piece *free = nullptr;
	std::size_t free_count = 0;
	std::vector<segment_queue> queues; // segment k's is queues[k % size]
	std::int64_t head = 0;             // the segment being written
	std::int64_t next = 0;             // the segment the next worker takes
	bool stop = false;
};

// Thrown to a worker that waits on a writer that has stopped, or whose
// segment is dropped.
struct writer_stopped {};

// A writer of the pieces of piece_size bytes that memory holds, at least
// pieces_held of them, for up to in_flight segments at once, that writes
// with write; nothing without the memory for its lists.
std::unique_ptr<writer> make_writer(std::span<char> memory, std::size_t piece_size, std::size_t in_flight,
				    std::function<void(int, std::string_view)> write);

// Starts the writing anew, from segment 0.
void restart(writer &w);

// For a worker: the next segment, once its queue is free; -1 once the
// writer has stopped.
std::int64_t take_segment(writer &w);

// A piece for segment k, waiting for one to be free; nothing when k is
// the head and still working, so that its worker may open it itself.
// Throws writer_stopped.
piece *take_piece(writer &w, std::int64_t k);

// Hands in a piece of segment k: empty, or of a dropped segment, it goes
// back to the pool.
void hand_piece(writer &w, std::int64_t k, piece *p);

// Moves segment k on by e, as next_state says.
void change_state(writer &w, std::int64_t k, segment_event e);

// For the writing thread: waits until segment k has moved from working,
// doing meanwhile's work while it has any; its state then.
segment_state await_segment(writer &w, std::int64_t k, const std::function<bool()> &meanwhile);

// Writes the first n pieces of segment k, which have been handed in.
void write_pieces(writer &w, std::int64_t k, std::size_t n);

// Writes the pieces of the open segment k as they come, until it is done.
void write_segment(writer &w, std::int64_t k);

// Makes the next segment the head, once what k's worker found is taken.
void next_segment(writer &w, std::int64_t k);

// Gives back the pieces of segment k, and those it hands in later.
void drop_segment(writer &w, std::int64_t k);

// Wakes every waiting thread to end.
void stop_writer(writer &w);
