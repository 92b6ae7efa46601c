#include "listing/blocks.h"
#include "listing/chunk.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>

using namespace std::literals;

TEST(ChunkLength, CutsAsAFixedBufferedLineReadDoes)
{
	struct {
		std::size_t newline, available;
		bool at_end;
		std::size_t want;
	} cases[] = {
		{2, 6, false, 3},
		{0, 1, false, 1},
		{3, 3, false, 0}, // the rest of the line is still to come
		{3, 3, true, 3},
		{0, 0, true, 0},
		{1022, 1024, false, 1023},
		{1023, 1024, false, 1023},
		{1023, 1500, false, 1023},
		{1022, 1022, false, 0},
	};
	for (const auto &c : cases)
		EXPECT_EQ(chunk_length(c.newline, c.available, c.at_end), c.want) << c.newline << " " << c.available;
}

TEST(ReadDecimal, ReadsAsPercentDOrGivesTheFallback)
{
	struct {
		std::string_view text;
		std::int32_t want;
	} cases[] = {
		{"7", 7},
		{"12abc", 12},
		{" \t\r\v\f\n-4 ", -4},
		{"+8", 8},
		{"007", 7},
		{"2147483647", 2147483647},
		{"2147483648", 2147483647},
		{"99999999999999999999999", 2147483647},
		{"-2147483648", -2147483647 - 1},
		{"-99999999999", -2147483647 - 1},
		{"", 42},
		{"-", 42},
		{"- 4", 42},
		{"x4", 42},
		{"\0004"sv, 42}, // NUL, then 4
	};
	for (const auto &c : cases)
		EXPECT_EQ(read_decimal(c.text).value_or(42), c.want) << c.text;
}

// The rules that tie headers to blocks, as every pass and every seam
// applies them.
TEST(Blocks, NumberHeadersAndBoundBlocks)
{
	EXPECT_EQ(header_value(std::nullopt, 3), 3);
	EXPECT_EQ(header_value(7, 3), 7);
	EXPECT_TRUE(follows_numbering(2, 2));
	EXPECT_FALSE(follows_numbering(2, 3));
	EXPECT_FALSE(follows_numbering(header_value(std::nullopt, -1), 0));

	position at{3, 4, 9};
	enter_block(at, 4);
	EXPECT_EQ(std::tie(at.current, at.index, at.entries), std::tuple(4, 5, 0));
	enter_block(at, 2147483647);
	EXPECT_EQ(at.index, 2147483648);

	entry_counts counts{};
	for (std::int32_t variable : {-1, 0, 99, 100})
		add_entries(counts, variable, 5);
	EXPECT_EQ(counts[0] + counts[99], 10);
	EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), 10);

	struct {
		position at;
		std::int64_t room;
		bool complete;
	} blocks[] = {
		{{99, 100, 0}, 5, false},
		{{99, 100, 4}, 1, false},
		{{99, 100, 5}, 0, true},
		{{99, 100, 6}, -1, false},
		{{100, 101, 7}, no_limit, true},
		{{-1, 0, 7}, no_limit, true},
	};
	for (const auto &b : blocks) {
		EXPECT_EQ(room_left(counts, b.at), b.room) << b.at.current << " " << b.at.entries;
		EXPECT_EQ(block_complete(counts, b.at), b.complete) << b.at.current << " " << b.at.entries;
	}
}
