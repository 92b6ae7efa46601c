// Writes a large, realistic variable listing to standard output, the same
// for the same arguments.
//   generate VARIABLES MIB [LINE_LENGTH [SEED [BLANK]]]
// Each variable gets a header, a META line and entry lines such as
// "-3.228 Variable14 Variable3" until its share of MIB mebibytes is
// reached; with BLANK of 1 or more, an empty line follows every BLANK
// lines of them, and is reported twice as a line of no known kind.
// Entry lines carry 1 to 6 references drawn uniformly from the variables;
// with a LINE_LENGTH of 2 or more, they are packed with references, written
// without blanks between them, up to that many characters. LINE_LENGTH 1
// makes the shortest entry lines ("-", "-2", "-1 Variable37"), and -1 makes
// lines of no known kind ("12,345,note 12,38017") in place of entry lines.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

std::array<char, 1 << 20> buffer;
std::size_t used = 0;
std::uint64_t written = 0;

void put(std::string_view text)
{
	if (buffer.size() - used < text.size()) {
		std::fwrite(buffer.data(), 1, used, stdout);
		used = 0;
	}
	text.copy(buffer.data() + used, text.size());
	used += text.size();
	written += text.size();
}

void put_number(std::uint64_t n)
{
	char digits[20];
	put({digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits)});
}

std::uint64_t state;

// splitmix64: fast, and the same sequence for the same seed everywhere.
std::uint64_t next_random()
{
	std::uint64_t z = (state += 0x9e3779b97f4a7c15);
	z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
	z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
	return z ^ (z >> 31);
}

std::uint64_t below(std::uint64_t n)
{
	return next_random() % n;
}

void put_entry(std::uint64_t variables)
{
	put("-");
	put_number(below(10));
	put(".");
	put_number(100 + below(900));
	for (std::uint64_t r = 1 + below(6); r > 0; r--) {
		put(" Variable");
		put_number(below(variables));
	}
	put("\n");
}

void put_short_entry(std::uint64_t variables)
{
	switch (below(3)) {
	case 0:
		put("-\n");
		break;
	case 1:
		put("-2\n");
		break;
	default:
		put("-1 Variable");
		put_number(below(variables));
		put("\n");
	}
}

void put_note()
{
	put("12,345,note 12,");
	put_number(below(1000000));
	put("\n");
}

void put_packed_entry(std::uint64_t variables, std::uint64_t length)
{
	std::uint64_t start = written;
	put("-");
	put_number(below(10));
	put(".");
	put_number(100 + below(900));
	put(" ");
	// Line and newline stay within length characters.
	for (;;) {
		char reference[28] = "Variable";
		char *end = std::to_chars(reference + 8, reference + sizeof reference, below(variables)).ptr;
		std::string_view text(reference, static_cast<std::size_t>(end - reference));
		if (written - start + text.size() >= length)
			break;
		put(text);
	}
	put("\n");
}

} // namespace

int main(int argc, char *argv[])
{
	if (argc < 3 || argc > 6) {
		std::fputs("usage: generate VARIABLES MIB [LINE_LENGTH [SEED [BLANK]]]\n", stderr);
		return 2;
	}
	std::uint64_t variables = std::strtoull(argv[1], nullptr, 10);
	std::uint64_t size = std::strtoull(argv[2], nullptr, 10) << 20;
	std::int64_t length = argc > 3 ? std::strtoll(argv[3], nullptr, 10) : 0;
	state = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
	std::uint64_t blank = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 0;
	if (variables == 0) {
		std::fputs("generate: VARIABLES must be at least 1\n", stderr);
		return 2;
	}

	for (std::uint64_t v = 0; v < variables; v++) {
		put("VAR Variable");
		put_number(v);
		put("\nMETA block ");
		put_number(v);
		put("\n");
		for (std::uint64_t line = 1; written < size / variables * (v + 1); line++) {
			if (blank != 0 && line % (blank + 1) == 0)
				put("\n");
			else if (length < 0)
				put_note();
			else if (length == 1)
				put_short_entry(variables);
			else if (length > 1)
				put_packed_entry(variables, static_cast<std::uint64_t>(length));
			else
				put_entry(variables);
		}
	}
	std::fwrite(buffer.data(), 1, used, stdout);
	return std::fflush(stdout) == 0 ? 0 : 1;
}
