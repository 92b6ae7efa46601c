#include "listing/output.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "listing/kernel.h"
#include "tests/reference.h"
#include "tests/rewritten.h"

using namespace std::literals;

namespace {

// Rewrites text placed at each offset within a word, by each kernel the
// processor runs, which must all agree with the plain loops.
std::string processed(std::string_view text)
{
	std::string result = rewrite_placed(text, 0, kernels()[0]->process);
	for (const kernel *k : kernels_tested()) {
		for (std::size_t first = 0; first < 64; first++) {
			if (rewrite_placed(text, first, k->process) != result)
				return std::string(k->name) + " differs at offset " + std::to_string(first);
		}
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

// Lead tokens of 1 to 70 characters, numbers of 1 to 11 digits with and
// without leading zeros, counts of 9 to 11 and 99 to 101, references at every place around the steps of a
// long line, a NUL past the first window, the longest lines and a chunk
// cut short: alone and, ended by a newline, in one run.
TEST(Process, AgreesWithThePlainRewritingAtEveryEdge)
{
	std::vector<std::string> chunks;
	for (std::size_t lead = 1; lead <= 70; lead++)
		chunks.push_back(std::string(lead, '-') + " Variable12\n");
	for (std::size_t digits = 1; digits <= 11; digits++) {
		std::string n(digits, '7');
		chunks.push_back("-1 Variable" + n + " Variable0" + n + " Variable-" + n + "\n");
	}
	// Each kind of reference, and words that miss "Variable" by a letter,
	// across the end of a block, on lines of up to two blocks.
	std::string tails[] = {
		"Variable123456789 Variable5",
		"Variable07 Variable5",
		"Variable9999999999",
		"Variable 5",
		"Variable5\0Variable6"s,
		"Wariable1 Vbriable2 Vasiable3 Varjable4 Varibble5 Variacle6 Variabme7 Variablf8 Variable9"};
	for (const std::string &tail : tails)
		for (std::size_t at = 30; at < 110; at++)
			chunks.push_back("-1 " + std::string(at, 'y') + tail + "\n");
	// Counts on either side of each count's extra digit.
	for (int count : {9, 10, 11, 99, 100, 101}) {
		std::string line = "-1";
		for (int i = 0; i < count; i++)
			line += " Variable" + std::to_string(i % 10);
		chunks.push_back(line + "\n");
	}
	std::string refs;
	for (int i = 0; i < 12; i++)
		refs.append(" Variable").append(std::to_string(123456789 - i));
	chunks.push_back(std::string("-1") + refs.substr(0, 80) + std::string(1, '\0') + refs + "\n");
	chunks.push_back(std::string("-1") + refs.substr(0, 90));
	// Whole lines of 1022 and 1023 characters, the longest chunk.
	for (std::size_t size = max_chunk - 1; size <= max_chunk; size++) {
		std::string line = "-1";
		while (line.size() + 12 < size)
			line += " Variable" + std::to_string(line.size() % 1000);
		chunks.push_back(line.append(size - 1 - line.size(), 'z') + "\n");
	}
	std::string run, want;
	for (const std::string &chunk : chunks) {
		EXPECT_EQ(processed(chunk), reference_entry(chunk)) << chunk;
		if (chunk.ends_with('\n')) {
			run += chunk;
			want += reference_entry(chunk);
		}
	}
	EXPECT_EQ(processed(run), want);
}

// Runs of entry lines of up to about two blocks, so that every kind of
// line and reference stands at every place of a 64-byte block and across
// its end: plain and unusual numbers, words that miss "Variable" by a
// letter, references in the lead token, NULs, CRLF, lines with no blank
// (runs of them write more than they read), and lines near 64 characters.
TEST(Process, ShortLinesAgreeAtEveryPlaceOfABlock)
{
	std::string_view pieces[] = {" Variable7",
				     " Variable42",
				     " Variable123456789",
				     "Variable5",
				     " Variable0",
				     " Variable07",
				     " Variable-3",
				     " Variable+3",
				     " Variable",
				     " Variable1234567890",
				     " VariablE4",
				     " Wariable1 Vbriable2 Vasiable3 Varjable4",
				     " Varibble5 Variacle6 Variabme7 Variablf8",
				     " x",
				     " ",
				     "\r",
				     "\0"sv,
				     " Variable 6",
				     " Variable9999999999",
				     " yyyyyyyyyyyyyyyyyyyyyyy"};
	std::mt19937 random(5);
	for (int run = 0; run < 60; run++) {
		std::string text, want;
		while (text.size() < 400) {
			std::string line = "-";
			line.append(random() % 3, '1');
			if (random() % 8 == 0)
				line.append("Variable").append(std::to_string(random() % 20));
			// Some runs are mostly of bare lines, which grow by two.
			for (auto n = run % 3 == 0 ? random() % 5 / 4 : random() % 8; n > 0; n--)
				line.append(pieces[random() % std::size(pieces)]);
			if (random() % 6 == 0)
				line.append(random() % 60, 'y');
			line += '\n';
			text += line;
			want += reference_entry(line);
		}
		EXPECT_EQ(processed(text), want) << text;
	}
}

// A run takes the whole entry lines that follow the chunk, up to most,
// and nothing of what follows the text, even a line's plain end.
TEST(Process, StopsBeforeWhatIsNotAWholeEntryLine)
{
	std::string references;
	while (references.size() < max_chunk)
		references += " Variable7";
	struct {
		std::string text;
		std::int64_t most;
		std::size_t bytes;
		std::int64_t lines;
		std::string past = std::string(64, '\0') + std::string(pad - 64, '-');
	} cases[] = {
		{"-1\n-2\nVAR Variable1\n-3\n", 9, 6, 2},
		{"-a Variable1\n-b" + std::string(1100, 'x') + " Variable2\n", 9, 13, 1},
		{"-a\n-b" + references.substr(0, max_chunk - 2) + "\n", 9, 3, 1},
		{"-1\n-2 " + std::string(70, 'y'),
		 9,
		 3,
		 1,
		 std::string(64, 'y') + " Variable3\n" + std::string(pad, '-')},
		{"-1\n-2\n-3\n", 2, 6, 2},
		{"-1\n-2", 9, 3, 1},
		{"-1\n\n-2\n", 9, 3, 1},
		{"-1", 9, 2, 1},
	};
	for (const auto &c : cases) {
		std::string placed = c.text + c.past;
		std::size_t first = std::min(c.text.find('\n'), c.text.size() - 1) + 1;
		std::array<char, output_size> buffer;
		output out{buffer};
		rewritten r = process(std::string_view(placed).substr(0, c.text.size()), first, c.most, out);
		EXPECT_EQ(r.bytes, c.bytes) << c.text;
		EXPECT_EQ(r.lines, c.lines) << c.text;
	}
}

// However long a plain line, rewriting it writes no further than
// line_room from where it begins.
TEST(Process, WritesWithinLineRoom)
{
	std::string text = "-a\n-b";
	while (text.size() < 8 * max_chunk)
		text += " Variable123456789";
	text += "\n";
	std::string placed = text + std::string(64, '\0') + std::string(pad - 64, '-');
	for (const kernel *k : kernels_tested()) {
		std::vector<char> buffer(output_size + text.size(), '#');
		output out{std::span(buffer).first(output_size)};
		out.used = output_size - line_room - "-a 0\n"sv.size();
		rewritten r = k->process(std::string_view(placed).substr(0, text.size()), 3, 9, out);
		EXPECT_EQ(r.lines, 1) << k->name;
		EXPECT_EQ(std::count(buffer.begin() + output_size, buffer.end(), '#'), text.size()) << k->name;
	}
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
	std::array<char, output_size> buffer;
	output out{buffer};
	put_count_line(out, 2147483648);
	put_variable_line(out, -7, 0);
	put_variable_line(out, 12, 10000000000);
	EXPECT_EQ(ready(out), "2147483648\n-7 0\n12 10000000000\n");
}
