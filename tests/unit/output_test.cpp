#include "listing/output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "listing/scan.h"

using namespace std::literals;

namespace {

std::string written(const output &out)
{
	return {out.bytes.data(), out.used};
}

// Rewrites text placed at each offset within a word of its bitmaps.
std::string processed(std::string_view text)
{
	std::string result;
	for (std::size_t first = 0; first < 64; first++) {
		std::string placed = std::string(first, 'V') + std::string(text);
		std::size_t words = bitmap_words(placed.size()) + 1;
		std::vector<std::uint64_t> maps(3 * words);
		std::uint64_t *map = maps.data();
		map_bytes(placed, {map, map + words, map + 2 * words});
		output out{-1};
		process({std::string_view(placed).substr(first), map + 2 * words, first}, out);
		if (first == 0)
			result = written(out);
		else if (written(out) != result)
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

TEST(Output, LinesAreExactAcrossFlushes)
{
	std::FILE *stream = std::tmpfile();
	ASSERT_NE(stream, nullptr);
	output out{fileno(stream)};
	std::string want;
	put_count_line(out, 2147483648);
	want += "2147483648\n";
	for (std::int32_t v = -5000; v < 50000; v++) {
		put_variable_line(out, v, std::int64_t{v} * 100003);
		want += std::to_string(v) + " " + std::to_string(std::int64_t{v} * 100003) + "\n";
	}
	flush(out);

	std::string got(want.size() + 1, '\0');
	std::rewind(stream);
	got.resize(std::fread(got.data(), 1, got.size(), stream));
	std::fclose(stream);
	EXPECT_EQ(got, want);
}
