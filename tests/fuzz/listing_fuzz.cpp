// Fuzzes the whole conversion of a listing given as bytes: both passes,
// the look-ahead past variable 99, every diagnostic, on one thread and on
// several over segments, which must give the same bytes and status. When
// a run completes on a listing with no line long enough to be split, its
// output must be a well-formed numeric listing that agrees with the
// input; else it aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/convert.h"
#include "driver/diagnostics.h"
#include "listing/chunk.h"
#include "tests/captured.h"

namespace {

void check(bool holds)
{
	if (!holds)
		std::abort();
}

// The pieces of text between separators; a text that ends in one has an
// empty last piece.
std::vector<std::string_view> split(std::string_view text, char separator)
{
	std::vector<std::string_view> pieces;
	for (std::size_t end; (end = text.find(separator)) != text.npos; text.remove_prefix(end + 1))
		pieces.push_back(text.substr(0, end));
	pieces.push_back(text);
	return pieces;
}

// A plain decimal: a minus sign for negatives, no plus, no leading zeros.
std::int64_t number(std::string_view field)
{
	std::string_view digits = field.starts_with('-') ? field.substr(1) : field;
	check(!digits.empty() && digits.find_first_not_of("0123456789") == digits.npos);
	check(digits == "0" ? digits == field : digits[0] != '0');
	return std::strtoll(std::string(field).c_str(), nullptr, 10);
}

void check_listing(std::string_view input, std::string_view listing)
{
	std::int64_t headers = 0;
	std::vector<std::string_view> leads; // of the entry lines, in order
	for (std::string_view line : split(input, '\n')) {
		if (line.size() >= max_chunk)
			return;
		headers += classify(line) == kind::header;
		if (classify(line) == kind::entry) {
			line = line.substr(0, line.find('\0'));
			leads.push_back(line.substr(0, line.find(' ')));
		}
	}

	std::vector<std::string_view> lines = split(listing, '\n');
	check(lines.size() >= 2 && lines.back().empty());
	check(number(lines[0]) == (headers > 0 ? headers : 1));

	// Each variable line is followed by as many entry lines as it says.
	std::int64_t variables = 0;
	std::size_t entries = 0;
	std::int64_t owed = 0;
	for (std::size_t i = 1; i + 1 < lines.size(); i++) {
		std::vector<std::string_view> fields = split(lines[i], ' ');
		if (lines[i].starts_with('-')) {
			check(fields.size() >= 2 && number(fields[1]) == static_cast<std::int64_t>(fields.size()) - 2);
			for (std::size_t f = 2; f < fields.size(); f++)
				number(fields[f]);
			check(entries < leads.size() && fields[0] == leads[entries]);
			entries++;
			owed -= variables > 0;
			continue;
		}
		check(fields.size() == 2 && number(fields[0]) == variables++ && owed == 0);
		owed = number(fields[1]);
	}
	check(variables == headers && entries == leads.size() && owed == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string input(reinterpret_cast<const char *>(data), size);
	std::FILE *in = fmemopen(input.data(), size, "r");
	run_result one = captured([in](output &out) { convert(in, "input", out, 1); });
	std::fclose(in);

	// The same bytes, read from a file in segments by three threads, must
	// give the same standard output, standard error and status.
	std::FILE *file = std::tmpfile();
	std::fwrite(input.data(), 1, size, file);
	std::fflush(file);
	std::rewind(file);
	run_result several = captured([file](output &out) { convert(file, "input", out, 3); });
	std::fclose(file);
	check(one == several);

	if (one.status == 0)
		check_listing(input, one.out);
	return 0;
}
