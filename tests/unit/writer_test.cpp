#include "parallel/writer.h"

#include <gtest/gtest.h>

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
// odd segments asking to be opened and the rest left to the writing
// thread or opened by their worker in its turn, each worker pausing at
// random; returns what the writer wrote, with the segments in dropped
// dropped after they end.
std::string written(std::size_t pool, int workers, std::int64_t segments, int pieces, std::int64_t dropped = -1)
{
	std::string out;
	std::vector<char> memory((pool + pieces_kept) * 16);
	auto w = make_writer(memory, 16, static_cast<std::size_t>(workers) + 1, [&out](int, std::string_view bytes) {
		out.append(bytes);
	});
	restart(*w, segments, segments, 0);
	std::vector<std::thread> threads;
	for (int n = 0; n < workers; n++) {
		threads.emplace_back([&, n] {
			std::mt19937 random(static_cast<unsigned>(n));
			try {
				for (std::int64_t k; (k = take_segment(*w)) >= 0;) {
					for (int i = 0; i < pieces; i++) {
						piece *p;
						while ((p = take_piece(*w, k)) == nullptr)
							mark(*w, k, &segment_queue::opened);
						std::string text = label(k, i);
						p->size = text.copy(p->bytes, text.size());
						if (random() % 4 == 0)
							std::this_thread::yield();
						hand_piece(*w, k, p);
						if (k % 2 == 1 && i == 0)
							mark(*w, k, &segment_queue::asked);
					}
					mark(*w, k, &segment_queue::ended);
				}
			} catch (const writer_stopped &) {
			}
		});
	}
	for (std::int64_t k = 0; k < segments; k++) {
		bool opened = await(*w, k, {});
		if (k == dropped) {
			drop_segment(*w, k);
			break;
		}
		if (!opened)
			mark(*w, k, &segment_queue::opened);
		write_segment(*w, k);
		done_segment(*w, k);
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
