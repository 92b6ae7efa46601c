// Fuzzes the whole conversion of a listing given as bytes: both passes,
// the look-ahead past variable 99, every diagnostic. A run that ends in
// status 0 on a listing with no line long enough to be split must give a
// well-formed numeric listing that agrees with the input; any mismatch
// aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/convert.h"
#include "driver/fail.h"
#include "listing/chunk.h"

namespace {

void check(bool holds)
{
	if (!holds)
		std::abort();
}

std::vector<std::string_view> lines_of(std::string_view text)
{
	std::vector<std::string_view> lines;
	while (!text.empty()) {
		std::size_t end = text.find('\n');
		lines.push_back(text.substr(0, end));
		text.remove_prefix(end == text.npos ? text.size() : end + 1);
	}
	return lines;
}

// A plain decimal: a minus sign for negatives, no plus, no leading zeros.
std::int64_t number(std::string_view field)
{
	std::string_view digits = field.starts_with('-') ? field.substr(1) : field;
	check(!digits.empty() && digits.find_first_not_of("0123456789") == digits.npos);
	check(digits == "0" ? digits == field : digits[0] != '0');
	return std::strtoll(std::string(field).c_str(), nullptr, 10);
}

std::vector<std::string_view> fields_of(std::string_view line)
{
	std::vector<std::string_view> fields;
	for (std::size_t at = 0;;) {
		std::size_t blank = line.find(' ', at);
		fields.push_back(line.substr(at, blank - at));
		if (blank == line.npos)
			return fields;
		at = blank + 1;
	}
}

void check_listing(std::string_view input, std::string_view listing)
{
	std::int64_t headers = 0;
	std::vector<std::string_view> leads; // of the entry lines, in order
	for (std::string_view line : lines_of(input)) {
		headers += classify(line) == kind::header;
		if (classify(line) == kind::entry) {
			line = line.substr(0, line.find('\0'));
			leads.push_back(line.substr(0, line.find(' ')));
		}
	}

	check(listing.ends_with('\n'));
	std::vector<std::string_view> lines = lines_of(listing);
	check(!lines.empty() && number(lines[0]) == (headers > 0 ? headers : 1));

	std::int64_t variables = 0;
	std::int64_t rewritten = 0;
	std::int64_t expected_in_block = -1; // entries left in the current block
	for (std::size_t i = 1; i < lines.size(); i++) {
		std::vector<std::string_view> fields = fields_of(lines[i]);
		if (lines[i].starts_with('-')) {
			check(fields.size() >= 2 && number(fields[1]) == static_cast<std::int64_t>(fields.size()) - 2);
			for (std::size_t f = 2; f < fields.size(); f++)
				number(fields[f]);
			check(rewritten < static_cast<std::int64_t>(leads.size()) && fields[0] == leads[rewritten]);
			rewritten++;
			if (variables > 0)
				expected_in_block--;
			continue;
		}
		check(fields.size() == 2 && number(fields[0]) == variables);
		check(variables == 0 || expected_in_block == 0);
		expected_in_block = number(fields[1]);
		variables++;
	}
	check(variables == headers && rewritten == static_cast<std::int64_t>(leads.size()));
	check(variables == 0 || expected_in_block == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string_view input(reinterpret_cast<const char *>(data), size);
	std::vector<char> bytes(input.begin(), input.end());
	bytes.push_back('\0'); // a buffer to point at even when the input is empty
	std::FILE *in = fmemopen(bytes.data(), size, "r");
	char *text = nullptr;
	std::size_t length = 0;
	std::FILE *captured = open_memstream(&text, &length);
	output out{captured};

	bool completed = true;
	try {
		convert(in, "input", out);
	} catch (const run_failed &) {
		flush(out);
		completed = false;
	}
	std::fclose(captured);
	std::fclose(in);

	bool split = false;
	for (std::string_view line : lines_of(input))
		split = split || line.size() >= max_chunk;
	if (completed && !split)
		check_listing(input, {text, length});
	std::free(text);
	return 0;
}
