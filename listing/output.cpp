#include "listing/output.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "listing/chunk.h"

namespace {

// Room for one number: a sign and 19 digits.
constexpr std::size_t number_room = 20;

std::size_t room(const output &out)
{
	return out.bytes.size() - out.used;
}

// Where up to n more bytes may be written straight into the buffer; n is
// at most what one entry line can take.
char *reserve(output &out, std::size_t n)
{
	if (room(out) < n)
		flush(out);
	return out.bytes.data() + out.used;
}

} // namespace

void flush(output &out)
{
	std::fwrite(out.bytes.data(), 1, out.used, out.stream);
	out.used = 0;
}

void put(output &out, std::string_view text)
{
	if (text.size() > room(out))
		flush(out);
	if (text.size() > room(out)) {
		std::fwrite(text.data(), 1, text.size(), out.stream);
		return;
	}
	std::memcpy(out.bytes.data() + out.used, text.data(), text.size());
	out.used += text.size();
}

void put_number(output &out, std::int64_t n)
{
	char *at = reserve(out, number_room);
	out.used += std::to_chars(at, at + number_room, n).ptr - at;
}

void put_count_line(output &out, std::int64_t variables)
{
	put_number(out, variables);
	put(out, "\n");
}

void put_variable_line(output &out, std::int32_t variable, std::int64_t entries)
{
	put_number(out, variable);
	put(out, " ");
	put_number(out, entries);
	put(out, "\n");
}

namespace {

constexpr std::string_view reference = "Variable";

// The characters of a chunk that count: those before its first newline
// or NUL.
std::string_view line_of(std::string_view chunk)
{
	if (const void *nul = std::memchr(chunk.data(), '\0', chunk.size()))
		chunk = chunk.substr(0, static_cast<const char *>(nul) - chunk.data());
	if (const void *newline = std::memchr(chunk.data(), '\n', chunk.size()))
		chunk = chunk.substr(0, static_cast<const char *>(newline) - chunk.data());
	return chunk;
}

// Where the next reference at or after from begins, or npos. References
// cannot overlap: no letter of the word but its first is a V.
std::size_t find_reference(std::string_view line, std::size_t from)
{
	for (; from + reference.size() <= line.size(); from++) {
		if (line[from] == 'V' && line.substr(from).starts_with(reference))
			return from;
	}
	return std::string_view::npos;
}

} // namespace

void process(std::string_view chunk, output &out)
{
	// A chunk of max_chunk characters holds at most this many references.
	std::array<std::int32_t, max_chunk / reference.size() + 1> numbers;
	std::string_view line = line_of(chunk.substr(0, max_chunk));

	// A reference with no number after it repeats the last number read
	// on the line, or 0 before any.
	std::size_t count = 0;
	std::int32_t last = 0;
	for (std::size_t at = find_reference(line, 0); at != std::string_view::npos;
	     at = find_reference(line, at + reference.size())) {
		last = read_decimal(line.substr(at + reference.size()), last);
		numbers[count++] = last;
	}

	// The whole line is formatted in place: lead token, then " %d" for
	// the count and for each number.
	std::string_view lead = line.substr(0, line.find(' '));
	char *at = reserve(out, lead.size() + (count + 1) * (1 + number_room) + 1);
	at = std::copy(lead.begin(), lead.end(), at);
	*at++ = ' ';
	at = std::to_chars(at, at + number_room, count).ptr;
	for (std::size_t i = 0; i < count; i++) {
		*at++ = ' ';
		at = std::to_chars(at, at + number_room, numbers[i]).ptr;
	}
	*at++ = '\n';
	out.used = static_cast<std::size_t>(at - out.bytes.data());
}
