#include "listing/chunk.h"

#include <gtest/gtest.h>

#include <string>

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
