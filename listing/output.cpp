#include "listing/output.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <span>

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
	// Most counts are one digit.
	if (n >= 0 && n < 10) {
		*at = static_cast<char>('0' + n);
		return at + 1;
	}
	return std::to_chars(at, at + number_room, n).ptr;
}

// Copies n bytes from from: in one step of 16 when n is no more, which
// reads past them (see chunk) and may write past them.
char *copy(char *at, const char *from, std::size_t n)
{
	if (n > pad)
		return std::copy_n(from, n, at);
	std::memmove(at, from, pad);
	return at + n;
}

// Where the digits of a reference's number, as "%d" writes it, stand.
struct number {
	const char *digits;
	std::size_t size;
};

// Writes at at the number that "Variable%d" reads from rest, the text
// after the word, or last when there is none, and makes it the last.
// Plain decimal digits, the common case, are copied as they stand.
char *put_reference_number(char *at, std::string_view rest, number &last)
{
	std::size_t n = 0;
	for (std::size_t most = std::min(rest.size(), std::size_t{10}); n < most && is_digit(rest[n]);)
		n++;
	if (n > 0 && n < 10 && (rest[0] != '0' || n == 1)) {
		last = {rest.data(), n};
	} else {
		std::int32_t before = read_decimal({last.digits, last.size}, 0);
		if (std::int32_t value = read_decimal(rest, before); value != before) {
			char *end = decimal(at, value);
			last = {at, static_cast<std::size_t>(end - at)};
			return end;
		}
	}
	return copy(at, last.digits, last.size);
}

// Writes the rewritten form of the entry line [0, length) of text, whose
// lead token ends at lead and whose references begin at refs.
void put_entry_line(output &out, const char *text, std::size_t lead, std::size_t length,
		    std::span<const std::uint16_t> refs)
{
	constexpr std::size_t longest = max_chunk + (1 + max_references) * (1 + number_room) + 1 + pad;
	static_assert(longest <= output{}.bytes.size(), "an entry line must fit in the output buffer");
	char *at = copy(reserve(out, longest), text, lead);
	*at++ = ' ';
	at = decimal(at, static_cast<std::int64_t>(refs.size()));
	// A reference with no number after it repeats the last number read on
	// the line, or 0 before any.
	static constexpr std::array<char, pad> zero{'0'};
	number last{zero.data(), 1};
	for (std::size_t ref : refs) {
		*at++ = ' ';
		ref += reference.size();
		at = put_reference_number(at, {text + ref, length - ref}, last);
	}
	*at++ = '\n';
	commit(out, at);
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

void process(const chunk &lines, output &out)
{
	// The marks are walked in order, 64 characters at a time. A line ends
	// at its newline, or at the end of the text; only what stands before
	// its first NUL, and within max_chunk characters, counts. References
	// cannot overlap, as no letter of the word but its first is a V, so a
	// line holds at most max_references.
	constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
	const char *text = lines.text.data();
	std::size_t size = lines.text.size();
	std::size_t start = 0; // of the line being read
	std::size_t lead = none;
	std::size_t cut = none;
	std::array<std::uint16_t, max_references> refs;
	std::size_t count = 0;
	auto put_line = [&](std::size_t end) {
		end = std::min({cut, end, start + max_chunk}) - start;
		put_entry_line(out, text + start, std::min(lead - start, end), end, {refs.data(), count});
	};
	for (std::size_t from = 0; from < size; from += 64) {
		std::uint64_t marks = bits_from(lines.marks, lines.first + from) & bits_below(size - from);
		for (; marks != 0; marks &= marks - 1) {
			std::size_t i = from + static_cast<std::size_t>(std::countr_zero(marks));
			switch (text[i]) {
			case '\n':
				put_line(i);
				start = i + 1;
				lead = cut = none;
				count = 0;
				break;
			case '\0':
				cut = std::min(cut, i);
				break;
			case ' ':
				lead = std::min(lead, i);
				break;
			default: // a V
				if (cut == none && std::min(size, start + max_chunk) - i >= reference.size() &&
				    std::memcmp(text + i, reference.data(), reference.size()) == 0)
					refs[count++] = static_cast<std::uint16_t>(i - start);
			}
		}
	}
	if (start < size)
		put_line(size);
}
