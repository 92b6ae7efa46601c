// Fuzzes the reading of one chunk of any bytes, NUL included, against the
// C library's own scanf: a header's number, and the rewritten entry line
// with every reference's number. Numbers of more than nine digits are
// left out of the comparison, since scanf's overflow is undefined.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "listing/chunk.h"
#include "listing/output.h"

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
	check(header_number(chunk, -7) == (matched ? scanned : -7));
}

void check_entry(const std::string &chunk)
{
	output out{nullptr};
	process(chunk, out);
	std::string_view written(out.bytes.data(), out.used);

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
	check(written == want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size > max_chunk)
		return 0;
	std::string chunk(reinterpret_cast<const char *>(data), size);
	check_header(chunk);
	check_entry(chunk);
	return 0;
}
