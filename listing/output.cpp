#include "listing/output.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "listing/chunk.h"

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

void flush(output &out)
{
	std::fwrite(out.bytes.data(), 1, out.used, out.stream);
	out.used = 0;
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

void process(std::string_view chunk, output &out)
{
	std::array<std::int32_t, max_references> numbers;
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

	// The lead token, then " %d" for the count and for each number.
	constexpr std::size_t longest = max_chunk + (1 + max_references) * (1 + number_room) + 1;
	static_assert(longest <= output{}.bytes.size(), "an entry line must fit in the output buffer");
	std::string_view lead = line.substr(0, line.find(' '));
	char *at = std::copy(lead.begin(), lead.end(), reserve(out, longest));
	*at++ = ' ';
	at = decimal(at, static_cast<std::int64_t>(count));
	for (std::size_t i = 0; i < count; i++) {
		*at++ = ' ';
		at = decimal(at, numbers[i]);
	}
	*at++ = '\n';
	commit(out, at);
}
