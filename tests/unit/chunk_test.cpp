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

TEST(Classify, FirstMatchingTestDecides)
{
	struct {
		std::string_view chunk;
		kind want;
	} cases[] = {
		{"VAR Variable0\n", kind::header},
		{"VARIANT\n", kind::header},
		{"META\n", kind::metadata},
		{"-", kind::entry},
		{"MET\n", kind::unrecognised},
		{"VA\0R\n"sv, kind::unrecognised},
		{"Meta\n", kind::unrecognised},
		{" META\n", kind::unrecognised},
		{" -1\n", kind::unrecognised},
		{"\n", kind::unrecognised},
	};
	for (const auto &c : cases)
		EXPECT_EQ(classify(c.chunk), c.want) << c.chunk;
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
		EXPECT_EQ(read_decimal(c.text, 42), c.want) << c.text;
}

TEST(HeaderNumber, MatchesVarVariablePattern)
{
	struct {
		std::string_view chunk;
		std::int32_t want;
	} cases[] = {
		{"VAR Variable7\n", 7},
		{"VARVariable7\n", 7},
		{"VAR Variable 7\n", 7},
		{"VAR\r\n", 42},
		{"VAR Variable-7", -7},
		{"VAR Variable3\r\n", 3},
		{"VAR variable7\n", 42},
		{"VARIANT 7\n", 42},
		{"VAR Variable\n", 42},
		{"VAR Vari\0able7"sv, 42},
	};
	for (const auto &c : cases)
		EXPECT_EQ(header_number(c.chunk, 42), c.want) << c.chunk;
}
