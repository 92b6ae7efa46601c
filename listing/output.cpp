#include "listing/output.h"

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
	if (room(out) < number_room)
		flush(out);
	char *at = out.bytes.data() + out.used;
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

// The characters of a chunk that count: those before its first newline
// or NUL.
std::string_view line_of(std::string_view chunk)
{
	std::size_t end = chunk.find('\0');
	return chunk.substr(0, std::min(end, chunk.find('\n')));
}

} // namespace

void process(std::string_view chunk, output &out)
{
	std::string_view line = line_of(chunk);
	constexpr std::string_view word = "Variable";

	put(out, line.substr(0, line.find(' ')));

	// References cannot overlap: no letter of the word but its first is
	// a V, so each search may resume past the previous reference.
	std::int64_t references = 0;
	for (std::size_t at = line.find(word); at != line.npos; at = line.find(word, at + word.size()))
		references++;
	put(out, " ");
	put_number(out, references);

	// A reference with no number after it repeats the last number read
	// on the line, or 0 before any.
	std::int32_t last = 0;
	for (std::size_t at = line.find(word); at != line.npos; at = line.find(word, at + word.size())) {
		last = read_decimal(line.substr(at + word.size())).value_or(last);
		put(out, " ");
		put_number(out, last);
	}
	put(out, "\n");
}
