#include "listing/output.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "driver/diagnostics.h"
#include "listing/scan.h"

namespace {

// Room for one number: a sign and 19 digits.
constexpr std::size_t number_room = 20;

constexpr std::string_view reference = "Variable";

// A chunk of max_chunk characters holds at most this many references.
constexpr std::size_t max_references = max_chunk / reference.size() + 1;

// Where n more bytes may be written straight into the buffer.
char *reserve(output &out, std::size_t n)
{
	if (out.bytes.size() - out.used < n)
		flush(out);
	return out.bytes.data() + out.used;
}

void commit(output &out, const char *end)
{
	out.used = static_cast<std::size_t>(end - out.bytes.data());
}

char *decimal(char *at, std::int64_t n)
{
	return std::to_chars(at, at + number_room, n).ptr;
}

// One reference's number: its value, and its digits as "%d" writes it.
// A plain aggregate, so that an array of them costs nothing to set up.
struct number {
	std::int32_t value;
	std::uint32_t size;
	const char *digits;
};

// The number that "Variable%d" reads from rest, the text after the word,
// or last when there is none. Plain decimal digits, the common case, are
// taken as they stand in the line; any other number is formatted into
// spare, which moves past it.
number reference_number(std::string_view rest, number last, char *&spare)
{
	std::size_t n = 0;
	std::size_t most = std::min(rest.size(), std::size_t{10});
	std::uint64_t plain = 0;
	for (; n < most && is_digit(rest[n]); n++)
		plain = plain * 10 + static_cast<unsigned>(rest[n] - '0');
	if (n > 0 && n < 10 && (rest[0] != '0' || n == 1))
		return {static_cast<std::int32_t>(plain), static_cast<std::uint32_t>(n), rest.data()};

	std::int32_t value = read_decimal(rest, last.value);
	if (value == last.value)
		return last;
	char *start = spare;
	spare = decimal(spare, value);
	return {value, static_cast<std::uint32_t>(spare - start), start};
}

} // namespace

void flush(output &out)
{
	std::string_view bytes(out.bytes.data(), out.used);
	out.used = 0;
	if (!write_all(out.fd, bytes))
		fail("Could not write output\n");
}

void put_count_line(output &out, std::int64_t variables)
{
	char *at = decimal(reserve(out, number_room + 1), variables);
	*at++ = '\n';
	commit(out, at);
}

void put_variable_line(output &out, std::int32_t variable, std::int64_t entries)
{
	char *at = decimal(reserve(out, 2 * number_room + 2), variable);
	*at++ = ' ';
	at = decimal(at, entries);
	*at++ = '\n';
	commit(out, at);
}

void process(const chunk &entry, output &out)
{
	// The line: the chunk's characters before the newline that ends it,
	// or before its first NUL. It is looked at 64 characters at a time,
	// with the bits that the maps hold for them.
	const char *text = entry.text.data();
	std::size_t size = std::min(entry.text.size(), max_chunk);
	std::size_t length = size > 0 && text[size - 1] == '\n' ? size - 1 : size;
	std::size_t lead = length;
	bool lead_found = false;

	// References cannot overlap, as no letter of the word but its first
	// is a V. A reference with no number after it repeats the last number
	// read on the line, or 0 before any.
	std::array<number, max_references> numbers;
	std::array<char, max_references * number_room> formatted;
	char *spare = formatted.data();
	std::size_t count = 0;
	number last{0, 1, "0"};
	for (std::size_t from = 0; from < length; from += 64) {
		std::size_t at = entry.first + from;
		std::uint64_t in_line = bits_below(length - from);
		if (std::uint64_t nuls = bits_from(entry.nuls, at) & in_line) {
			length = from + static_cast<std::size_t>(std::countr_zero(nuls));
			in_line = bits_below(length - from);
		}
		std::uint64_t blanks = bits_from(entry.blanks, at) & in_line;
		if (!lead_found && blanks != 0) {
			lead = from + static_cast<std::size_t>(std::countr_zero(blanks));
			lead_found = true;
		}
		for (std::uint64_t vees = bits_from(entry.vees, at) & in_line; vees != 0; vees &= vees - 1) {
			std::size_t i = from + static_cast<std::size_t>(std::countr_zero(vees));
			if (length - i >= reference.size() &&
			    std::memcmp(text + i, reference.data(), reference.size()) == 0) {
				i += reference.size();
				last = reference_number({text + i, length - i}, last, spare);
				numbers[count++] = last;
			}
		}
	}
	lead = std::min(lead, length);

	// The lead token, then " %d" for the count and for each number.
	constexpr std::size_t longest = max_chunk + (1 + max_references) * (1 + number_room) + 1;
	static_assert(longest <= output{}.bytes.size(), "an entry line must fit in the output buffer");
	char *at = reserve(out, longest);
	// Lead tokens are short: a plain loop beats a call to memcpy.
	for (std::size_t i = 0; i < lead; i++)
		*at++ = text[i];
	*at++ = ' ';
	at = decimal(at, static_cast<std::int64_t>(count));
	for (std::size_t i = 0; i < count; i++) {
		*at++ = ' ';
		for (std::uint32_t d = 0; d < numbers[i].size; d++)
			*at++ = numbers[i].digits[d];
	}
	*at++ = '\n';
	commit(out, at);
}
