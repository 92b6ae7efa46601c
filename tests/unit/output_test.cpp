#include "listing/output.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/rewritten.h"

using namespace std::literals;

namespace {

// Rewrites text placed at each offset within a word of its maps, which
// must all agree.
std::string processed(std::string_view text)
{
	std::string result = rewritten(text, 0);
	for (std::size_t first = 1; first < 64; first++) {
		if (rewritten(text, first) != result)
			return "differs at offset " + std::to_string(first);
	}
	return result;
}

} // namespace

TEST(Process, RewritesEntryLines)
{
	struct {
		std::string_view chunk;
		std::string_view want;
	} cases[] = {
		{"-1.5\n", "-1.5 0\n"},
		{"- Variable3\n", "- 1 3\n"},
		{"-1 MyVariable7x\n", "-1 1 7\n"},
		{"-Variable2 Variable5\n", "-Variable2 2 2 5\n"},
		{"-1.5\tVariable3\n", "-1.5\tVariable3 1 3\n"},
		{"-2\r\n", "-2\r 0\n"},
		{"-1 Variable1", "-1 1 1\n"},
		{"-1 Variable1\0 Variable2\n"sv, "-1 1 1\n"},
		{"-1 VariableVariable9\n", "-1 2 0 9\n"},
		{"-1 Variable Variable3\n", "-1 2 0 3\n"},
		{"-1 Variable99999999999 Variable-99999999999\n", "-1 2 2147483647 -2147483648\n"},
		{"-V Vari\n", "-V 0\n"},
		{"-2 Variable007 Variable+5 Variable1000000000\n", "-2 3 7 5 1000000000\n"},
		{"-3 Variable-4 Variables Variable 5\n", "-3 3 -4 -4 5\n"},
	};
	// One after another, the lines make a run that gives the same.
	std::string run, want;
	for (const auto &c : cases) {
		EXPECT_EQ(processed(c.chunk), c.want) << c.chunk;
		if (c.chunk.ends_with('\n')) {
			run += c.chunk;
			want += c.want;
		}
	}
	EXPECT_EQ(processed(run), want);
}

TEST(Process, CountsEveryReferenceOfAFullChunk)
{
	std::string line = "-";
	std::string numbers = " 127";
	for (int i = 0; i < 127; i++) {
		line += "Variable";
		numbers += " 0";
	}
	EXPECT_EQ(processed(line + "\n"), line + numbers + "\n");
}

TEST(Output, NumbersArePlainDecimals)
{
	output out{-1};
	put_count_line(out, 2147483648);
	put_variable_line(out, -7, 0);
	put_variable_line(out, 12, 10000000000);
	EXPECT_EQ(std::string(out.bytes.data(), out.used), "2147483648\n-7 0\n12 10000000000\n");
}
