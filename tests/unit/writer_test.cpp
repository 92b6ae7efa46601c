#include "parallel/writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/in_time.h"

namespace {

// Piece i of segment k says so.
std::string label(std::int64_t k, int i)
{
	return std::string("[").append(std::to_string(k)).append(".").append(std::to_string(i)).append("]");
}

// Runs workers threads over segments segments of pieces pieces each, the
// odd segments keeping their seam after their first piece, unless their
// worker opened them in its turn before, and the rest
// left to the writing thread, or opened by their worker in its turn, each
// worker pausing at random; returns what the writer wrote, with the
// segments in dropped dropped once they move from working. The writing
// thread must find a segment open where its worker opened it in its turn,
// and else seamed (an odd one) or finished; where it does not, the result
// says so.
std::string written(std::size_t pool, int workers, std::int64_t segments, int pieces, std::int64_t dropped = -1)
{
	std::string out;
	std::vector<char> memory((pool + pieces_held) * 16);
	auto w = make_writer(memory, 16, static_cast<std::size_t>(workers) + 1, [&out](int, std::string_view bytes) {
		out.append(bytes);
	});
	restart(*w);
	std::vector<std::atomic<bool>> in_turn(static_cast<std::size_t>(segments));
	std::vector<std::thread> threads;
	for (int n = 0; n < workers; n++) {
		threads.emplace_back([&, n] {
			std::mt19937 random(static_cast<unsigned>(n));
			try {
				for (std::int64_t k; (k = take_segment(*w)) >= 0 && k < segments;) {
					for (int i = 0; i < pieces; i++) {
						piece *p;
						while ((p = take_piece(*w, k)) == nullptr) {
							in_turn[static_cast<std::size_t>(k)] = true;
							change_state(*w, k, segment_event::opened_in_turn);
						}
						std::string text = label(k, i);
						p->size = text.copy(p->bytes, text.size());
						if (random() % 4 == 0)
							std::this_thread::yield();
						hand_piece(*w, k, p);
						if (k % 2 == 1 && i == 0 && !in_turn[static_cast<std::size_t>(k)])
							change_state(*w, k, segment_event::seam_kept);
					}
					change_state(*w, k, segment_event::worker_ended);
				}
			} catch (const writer_stopped &) {
			}
		});
	}
	for (std::int64_t k = 0; k < segments; k++) {
		segment_state state = await_segment(*w, k, {});
		bool opened = state == segment_state::open || state == segment_state::done;
		bool judged = state == segment_state::finished || (k % 2 == 1 && state == segment_state::seamed);
		if (in_turn[static_cast<std::size_t>(k)] ? !opened : !judged)
			out += "[segment " + std::to_string(k) + " in a wrong state]";
		if (k == dropped) {
			drop_segment(*w, k);
			break;
		}
		if (state == segment_state::seamed || state == segment_state::finished)
			change_state(*w, k, segment_event::opened);
		write_segment(*w, k);
		next_segment(*w, k);
	}
	stop_writer(*w);
	for (std::thread &t : threads)
		t.join();
	return out;
}

template <typename... Args> std::string written_in_time(Args... args)
{
	return in_time([=] { return written(args...); },
		       STDERR_FILENO,
		       "the writer did not end: the pool's pieces are stuck\n");
}

std::string in_order(std::int64_t segments, int pieces)
{
	std::string want;
	for (std::int64_t k = 0; k < segments; k++)
		for (int i = 0; i < pieces; i++)
			want += label(k, i);
	return want;
}

} // namespace

// However the workers race, the pieces go out segment by segment in
// order, each segment's in the order handed in; a pool of no more pieces
// than those kept for the segment being written, and more threads than
// pieces, still ends, as does one worker that waits for a piece of the
// pool's two while the writing thread sleeps.
TEST(Writer, WritesPiecesInTheirOrder)
{
	struct {
		std::size_t pool;
		int workers;
		std::int64_t segments;
		int pieces;
	} cases[] = {{62, 3, 40, 5}, {1, 8, 30, 9}, {0, 16, 20, 3}, {3, 1, 10, 12}, {0, 1, 4, 9}};
	for (const auto &c : cases) {
		for (int run = 0; run < 20; run++) {
			ASSERT_EQ(written_in_time(c.pool, c.workers, c.segments, c.pieces),
				  in_order(c.segments, c.pieces))
				<< c.pool << " pieces, " << c.workers << " workers";
		}
	}
}

// A dropped segment writes nothing, and its workers stop.
TEST(Writer, WritesNothingOfADroppedSegment)
{
	for (int run = 0; run < 20; run++)
		EXPECT_EQ(written_in_time(std::size_t{2}, 4, std::int64_t{12}, 6, std::int64_t{5}), in_order(5, 6));
}

// A worker of a later segment than the head leaves the reserve free: it
// takes no more than the pool less pieces_held, and the head's worker then
// takes the rest at once.
TEST(Writer, KeepsTheReserveForTheHead)
{
	constexpr std::size_t pool = 3 + pieces_held;
	std::vector<char> memory(pool * 16);
	auto w = make_writer(memory, 16, 3, [](int, std::string_view) {});
	restart(*w);
	for (std::size_t i = 0; i < pool - pieces_held; i++)
		ASSERT_NE(take_piece(*w, 1), nullptr);
	std::atomic<bool> lent{false};
	std::thread later([&] {
		try {
			take_piece(*w, 1);
			lent = true;
		} catch (const writer_stopped &) {
		}
	});
	in_time(
		[&] {
			change_state(*w, 0, segment_event::seam_kept);
			for (std::size_t i = 0; i < pieces_held; i++)
				EXPECT_NE(take_piece(*w, 0), nullptr);
			return 0;
		},
		STDERR_FILENO,
		"the head's worker did not get the reserve\n");
	stop_writer(*w);
	later.join();
	EXPECT_FALSE(lent);
}

// The head's worker gets no piece while its segment is still working, so
// that it opens the segment itself; once open, it gets every piece.
TEST(Writer, LendsTheWorkingHeadNothing)
{
	std::vector<char> memory(4 * 16);
	auto w = make_writer(memory, 16, 2, [](int, std::string_view) {});
	restart(*w);
	EXPECT_EQ(take_piece(*w, 0), nullptr);
	change_state(*w, 0, segment_event::opened_in_turn);
	for (int i = 0; i < 4; i++)
		EXPECT_NE(take_piece(*w, 0), nullptr);
}

// A dropped segment stays dropped: its pieces, those queued and those
// handed in later, go back to the pool, and its worker is stopped.
TEST(Writer, DropsASegmentForGood)
{
	std::vector<char> memory(4 * 16);
	auto w = make_writer(memory, 16, 3, [](int, std::string_view) {});
	restart(*w);
	piece *queued = take_piece(*w, 1);
	piece *held = take_piece(*w, 1);
	queued->size = held->size = 1;
	hand_piece(*w, 1, queued);
	drop_segment(*w, 1);
	change_state(*w, 1, segment_event::seam_kept);
	hand_piece(*w, 1, held);
	EXPECT_EQ(w->free_count, 4U);
	EXPECT_THROW(take_piece(*w, 1), writer_stopped);
	change_state(*w, 1, segment_event::worker_ended);
	EXPECT_EQ(w->queues[1].state, segment_state::dropped);
}
