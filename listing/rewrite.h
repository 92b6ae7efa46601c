// The hot loops of a kernel (see kernel.h), built once per instruction
// set: each kernel_*.cpp first makes its set's primitives (see
// kernels/masks.h) the names used here, then includes this. The
// primitives and the bit instructions that each build may use differ, the
// rules do not.
// Everything here is local to the file, so the builds never mix.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "kernels/masks.h"
#include "listing/kernel.h"

namespace {

constexpr std::string_view reference = "Variable";

// The word as one 64-bit load of it reads, so that a candidate is checked
// in one compare.
constexpr std::uint64_t reference_word =
	std::bit_cast<std::uint64_t>(std::array{'V', 'a', 'r', 'i', 'a', 'b', 'l', 'e'});

// On a line longer than one window, references are looked for in steps
// of this many characters, each with the masks of the 64 from its start:
// a plain number after a reference found in a step then ends within them.
constexpr std::size_t step = 46;
static_assert(step - 1 + 8 + 9 < 64, "a plain number after a word that begins in a step ends within its masks");

static_assert(line_room >= max_chunk + 1 + 3 + (max_chunk / reference.size() + 1) * 12 + 1 + 2 * pad,
	      "a rewritten entry line fits in line_room");

std::uint64_t load_word(const char *at)
{
	std::uint64_t word;
	std::memcpy(&word, at, sizeof word);
	return word;
}

// Copies n bytes from from: in one step of 16 when n is no more, which
// reads past them (see pad) and may write past them.
char *copy(char *at, const char *from, std::size_t n)
{
	if (n > 16)
		return std::copy_n(from, n, at);
	std::memmove(at, from, 16);
	return at + n;
}

// Writes at at what "Variable%d" reads from rest, the text after the
// word, or else the last number written on the line, which stands from
// the last blank after numbers (where the line's numbers begin) to at; 0
// when there is none. This is the rare case: put_references copies the
// plain numbers itself.
[[gnu::cold]] [[gnu::noinline]] char *put_unusual_number(char *at, const char *numbers, std::string_view rest)
{
	std::string_view last = "0";
	if (at != numbers) {
		std::string_view written(numbers, static_cast<std::size_t>(at - numbers));
		last = written.substr(written.rfind(' ') + 1);
	}
	*at++ = ' ';
	std::int32_t before = read_decimal(last).value_or(0);
	std::int32_t value = read_decimal(rest).value_or(before);
	if (value != before)
		return decimal(at, value);
	return std::copy(last.begin(), last.end(), at);
}

// The position of the lowest set bit, or 63 when there is none, which
// for a mask of fewer than 63 characters stands past them; unlike
// std::countr_zero, it takes no branch on the baseline x86-64.
unsigned lowest(std::uint64_t bits)
{
	return static_cast<unsigned>(std::countr_zero(bits | std::uint64_t{1} << 63));
}

// Writes " n" for each reference of line whose V is set in vs, a mask of
// the 64 characters from line + from on that holds only words that end
// by the line's cut; digits holds the digits before the cut.
//
// The loop runs once even when there is no candidate: the candidate then
// lands past the line, the compare fails and the output does not move.
// A line with no reference or one thus takes no branch that depends on
// its text. A plain number (one to nine digits, no sign, no leading zero),
// which ends within the masks for a word that begins early enough in
// them, is copied in one step of 16.
[[gnu::always_inline]] inline char *put_references(char *at, const char *numbers, const char *line, std::size_t from,
						   std::uint64_t vs, std::uint64_t digits, std::size_t cut,
						   std::size_t &count)
{
	do {
		unsigned i = lowest(vs);
		const char *word = line + from + i;
		bool found = (vs != 0) & (load_word(word) == reference_word);
		unsigned size = lowest(~(digits >> i >> reference.size()));
		bool plain = size - 1 < (word[8] == '0' ? 1U : 9U);
		// One test for the rare case, so that whether a line has a
		// reference takes no branch.
		if ((static_cast<unsigned>(found) & ~static_cast<unsigned>(plain)) != 0) [[unlikely]] {
			std::size_t after = from + i + reference.size();
			at = put_unusual_number(at, numbers, {line + after, cut - after});
		} else {
			at[0] = ' ';
			std::memmove(at + 1, word + reference.size(), 16);
			at += found ? 1 + size : 0;
		}
		count += found;
		vs &= vs - 1;
	} while (vs != 0);
	return at;
}

// Of the positions below n, those where a word of eight characters
// ends by n.
std::uint64_t words_within(std::uint64_t below_n)
{
	return below_n >> (reference.size() - 1);
}

// Writes the lead token and the blank after it, and leaves a character
// for the reference count; returns where the numbers go.
char *start_line(char *at, const char *line, std::size_t lead)
{
	at = copy(at, line, lead);
	at[0] = ' ';
	return at + 2;
}

// Puts the reference count, in plain decimal, before the numbers that
// stand from numbers to end, where one character was left for it, and
// ends the line.
char *end_line(char *numbers, char *end, std::size_t count)
{
	std::size_t more = count < 10 ? 0 : count < 100 ? 1 : 2;
	if (more != 0)
		std::memmove(numbers + more, numbers, static_cast<std::size_t>(end - numbers));
	std::to_chars(numbers - 1, numbers + more, count);
	end[more] = '\n';
	return end + more + 1;
}

// Where c first stands in [from, to) of line, or to.
std::size_t find(const char *line, std::size_t from, std::size_t to, char c)
{
	const void *found = from < to ? std::memchr(line + from, c, to - from) : nullptr;
	return found != nullptr ? static_cast<std::size_t>(static_cast<const char *>(found) - line) : to;
}

// Writes the rewritten form of the entry line of length characters at
// line, fewer than 64, its newline not counted, whose masks from its start
// are m.
[[gnu::always_inline]] inline char *put_short_line(char *at, const char *line, std::size_t length, const line_masks &m)
{
	std::size_t cut = std::min<std::size_t>(length, lowest(m.nuls));
	std::size_t lead = std::min<std::size_t>(cut, lowest(m.blanks));
	char *numbers = start_line(at, line, lead);
	std::size_t count = 0;
	std::uint64_t within = (std::uint64_t{1} << cut) - 1;
	at = put_references(numbers, numbers, line, 0, m.vs & words_within(within), m.digits & within, cut, count);
	// Fewer than 64 characters hold at most seven references.
	numbers[-1] = static_cast<char>('0' + count);
	*at = '\n';
	return at + 1;
}

// As put_short_line, for a line of 64 characters or more, whose masks are
// taken a step at a time; a NUL cuts it in the step that finds it.
[[gnu::noinline]] char *put_long_line(char *at, const char *line, std::size_t length, line_masks m)
{
	std::uint64_t lead_ends = m.blanks | m.nuls;
	std::size_t lead = lead_ends != 0 ? lowest(lead_ends)
					  : std::min(find(line, 64, length, ' '), find(line, 64, length, '\0'));
	char *numbers = start_line(at, line, lead);
	std::size_t count = 0;
	at = numbers;
	std::size_t cut = length;
	for (std::size_t from = 0;; from += step) {
		std::uint64_t within = bits_below(cut - from);
		if ((m.nuls & within) != 0)
			cut = from + lowest(m.nuls);
		within = bits_below(cut - from);
		std::uint64_t vs = m.vs & bits_below(step) & words_within(within);
		if (from + step >= cut) {
			at = put_references(at, numbers, line, from, vs, m.digits & within, cut, count);
			break;
		}
		// Taken before this step's references, so that they need not wait
		// for the end of its loop, which is often mispredicted.
		line_masks ahead = masks(line + from + step);
		at = put_references(at, numbers, line, from, vs, m.digits & within, cut, count);
		m = ahead;
	}
	return end_line(numbers, at, count);
}

// Writes the rewritten form of the entry line of length characters at
// line, its newline not counted, whose masks from its start are m.
[[gnu::always_inline]] inline char *put_line(char *at, const char *line, std::size_t length, const line_masks &m)
{
	return length < 64 ? put_short_line(at, line, length, m) : put_long_line(at, line, length, m);
}

constexpr std::size_t no_line = ~std::size_t{0};

// The length of the line that begins at done in the text of size
// characters at base, whose newline does not stand in the 64 characters
// from done; no_line where it does not end within the text, at most
// max_chunk characters on: only a whole line is a chunk of its own.
std::size_t long_line_length(const char *base, std::size_t size, std::size_t done)
{
	std::size_t reach = std::min(size, done + max_chunk);
	std::size_t end = find(base, done + 64, reach, '\n');
	return end == reach ? no_line : end - done;
}

// The set's compress and expand, as the kernel gives them for tests.
void compress_here(const char *from, std::uint64_t keep, char *to)
{
	store(to, compress(load(from), keep));
}

void expand_here(const char *from, std::uint64_t into, const char *fill, char *to)
{
	store(to, expand(load(from), into, load(fill)));
}

} // namespace

#include "listing/rewrite_block.h"

namespace {

// How a kernel takes the entry lines after the first: each alone, the
// reference, or a block at a time (see rewrite_block.h).
enum class path { lines, blocks };

// The process of a kernel. The lines after the first are read through a
// window of masks of 64 characters from a line start, kept for every line
// whose newline stands in it; a line that runs past it moves the window
// to its own start. On the block path, a block is tried first from each
// line start, and the window serves the lines it leaves. The 64
// characters past the text hold no newline and no minus sign, so no line
// seems to end or begin there. Room is checked once a window, or a
// block: what the lines within one write, or a line that runs past it,
// fits in line_room.
template <path taken> rewritten rewrite(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	const char *base = text.data();
	char *at = out.bytes.data() + out.used;
	line_masks m = masks(base);
	bool whole = base[first - 1] == '\n';
	at = put_line(at, base, first - whole, m);
	rewritten r{first, 1};
	if (!whole)
		most = 1; // the rest of its line, or nothing, follows
	const char *full = out.bytes.data() + out.bytes.size() - line_room;
	std::size_t window = 0;
	while ((base[r.bytes] == '-') & (r.lines != most)) {
		if constexpr (taken == path::blocks) {
			if (at > full)
				break;
			auto block = rewrite_block(at, base + r.bytes, base + text.size(), most - r.lines);
			at = block.at;
			r = {r.bytes + block.bytes, r.lines + block.lines};
			if (block.lines != 0)
				continue;
		}
		auto offset = static_cast<unsigned>(r.bytes - window);
		std::uint64_t newlines = offset < 64 ? m.newlines >> offset : 0;
		if (newlines == 0) {
			if (at > full)
				break;
			window = r.bytes;
			offset = 0;
			m = masks(base + window);
			newlines = m.newlines;
		}
		std::size_t length = newlines != 0 ? static_cast<std::size_t>(std::countr_zero(newlines))
						   : long_line_length(base, text.size(), r.bytes);
		if (length == no_line)
			break;
		at = put_line(at, base + r.bytes, length, shifted(m, offset));
		r = {r.bytes + length + 1, r.lines + 1};
	}
	out.used = static_cast<std::size_t>(at - out.bytes.data());
	return r;
}

void map_here(std::string_view data, const byte_maps &maps)
{
	std::size_t whole = data.size() / 64;
	for (std::size_t w = 0; w < whole; w++) {
		line_masks m = masks(data.data() + 64 * w);
		maps.newlines[w] = m.newlines;
		maps.dashes[w] = m.dashes;
	}
	if (std::size_t rest = data.size() % 64) {
		line_masks m = masks(data.data() + 64 * whole);
		maps.newlines[whole] = m.newlines & bits_below(rest);
		maps.dashes[whole] = m.dashes & bits_below(rest);
	}
}

entry_run count_here(std::string_view data, const std::uint64_t *newlines_of, const std::uint64_t *dashes,
		     std::size_t begin)
{
	std::size_t line = begin; // where the next line to be counted begins
	if (line == data.size() || data[line] != '-')
		return {begin, 0};
	std::int64_t counted = 0;
	std::size_t last = bitmap_words(data.size()) - 1;
	std::size_t w = line / 64;
	std::uint64_t newlines = newlines_of[w] & ~bits_below(line % 64);
	for (;;) {
		std::size_t first = w * 64 + static_cast<std::size_t>(std::countr_zero(newlines));
		if (first - line >= max_chunk)
			break;
		if (newlines != 0) {
			// The maps hold nothing past the bytes, so the last of them,
			// if a newline, stops the run too.
			std::uint64_t dash_after = dashes[w] >> 1 | dashes[w + 1] << 63;
			std::uint64_t stops = newlines & ~dash_after;
			std::uint64_t ends = stops != 0 ? newlines & (stops ^ (stops - 1)) : newlines;
			counted += std::popcount(ends);
			line = w * 64 + 64 - static_cast<std::size_t>(std::countl_zero(ends));
			if (stops != 0)
				break;
		}
		if (w == last)
			break;
		newlines = newlines_of[++w];
	}
	return {line, counted};
}

} // namespace
