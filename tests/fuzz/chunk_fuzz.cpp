// Fuzzes the reading of one chunk of any bytes, NUL included, against the
// C library's own scanf: a header's number, and the rewritten entry line
// with every reference's number. Numbers of more than nine digits are
// left out of the comparison, since scanf's overflow is undefined.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "listing/chunk.h"
#include "tests/rewritten.h"

namespace {

void check(bool holds)
{
	if (!holds)
		std::abort();
}

// Whether scanf's reading of a number at text stays within nine digits.
bool short_number(const char *text)
{
	text += std::strspn(text, " \t\n\v\f\r");
	text += *text == '-' || *text == '+';
	return std::strspn(text, "0123456789") <= 9;
}

void check_header(const std::string &chunk)
{
	const char *c = chunk.c_str();
	int scanned = -7;
	bool matched = std::sscanf(c, "VAR Variable%d", &scanned) == 1;
	const char *number = std::strstr(c, "Variable");
	if (matched && !short_number(number + 8))
		return;
	check(header_number(chunk).value_or(-7) == (matched ? scanned : -7));
}

void check_entry(const std::string &chunk, std::size_t first)
{
	std::string line = chunk.c_str();
	line = line.substr(0, line.find('\n'));
	std::string want = line.substr(0, line.find(' '));
	std::string numbers;
	int count = 0;
	int last = 0;
	for (std::size_t at = line.find("Variable"); at != line.npos; at = line.find("Variable", at + 1)) {
		if (!short_number(line.c_str() + at + 8))
			return;
		std::sscanf(line.c_str() + at, "Variable%d", &last);
		numbers += " " + std::to_string(last);
		count++;
	}
	want += " " + std::to_string(count) + numbers + "\n";
	check(rewrite_placed(chunk, first) == want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size < 2 || size > max_chunk + 1)
		return 0;
	// The first byte places the chunk, which as the reader cuts it is never
	// empty and ends at its first newline.
	std::string chunk(reinterpret_cast<const char *>(data) + 1, size - 1);
	if (std::size_t newline = chunk.find('\n'); newline != chunk.npos)
		chunk.resize(newline + 1);
	check_header(chunk);
	check_entry(chunk, data[0] % 64);
	return 0;
}
