#include "listing/chunk.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::literals;

TEST(ChunkLength, CutsAsAFixedBufferedLineReadDoes)
{
	std::string long_line(1500, 'x');
	struct {
		std::string window;
		bool at_end;
		std::size_t want;
	} cases[] = {
		{"ab\ncd\n", false, 3},
		{"\n", false, 1},
		{"abc", false, 0}, // the rest of the line is still to come
		{"", true, 0},
		{std::string(1022, 'x') + "\n", false, 1023},
		{std::string(1023, 'x') + "\n", false, 1023},
		{long_line, false, 1023},
		{"a\0b\nc"s, false, 4}, // NUL is an ordinary byte here
		{"a\rb\n", false, 4},
	};
	for (const auto &c : cases)
		EXPECT_EQ(chunk_length(c.window, c.at_end), c.want) << c.window.substr(0, 20);
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
