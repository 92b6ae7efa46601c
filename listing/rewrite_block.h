// The block path of the rewriting (see rewrite.h): the short entry lines
// of a 64-byte block rewritten at once, and a longer line a step at a
// time, by moving the bytes each keeps into place with the set's compress
// and expand (see kernels/masks.h). Taken by the sets where that
// measures faster than taking each line alone; inline, so that the
// others, which build none of it, are not warned of it.
#pragma once

#include <array>
#include <bit>

namespace {

// The bytes 0 to 63, and their doubles, in order.
template <unsigned times>
constexpr std::array<char, 64> places = [] {
	std::array<char, 64> bytes{};
	for (unsigned i = 0; i < 64; i++)
		bytes[i] = static_cast<char>(times * i);
	return bytes;
}();

struct block_rewritten {
	char *at;
	std::size_t bytes;
	std::int64_t lines;
};

// The bits below n, and how many they are, for n from 1 to 64: a shift,
// where bits_below takes a test.
inline std::uint64_t below(std::uint64_t bits, unsigned n)
{
	return bits << (64 - n) >> (64 - n);
}

inline unsigned ones_below(std::uint64_t bits, unsigned n)
{
	return static_cast<unsigned>(std::popcount(bits << (64 - n)));
}

// The digits of the number after each word: adding the place after the
// word to the digits carries through them.
inline std::uint64_t numbers_after(std::uint64_t words, std::uint64_t digits)
{
	return ((digits + (words << 8)) ^ digits) & digits;
}

// A bit in each reference whose number is not plain (see put_references);
// numbers are the digits after the words.
inline std::uint64_t not_plain(std::uint64_t words, std::uint64_t numbers, std::uint64_t digits, std::uint64_t zeros)
{
	std::uint64_t two = numbers & numbers >> 1;
	std::uint64_t eight = two & two >> 2;
	eight &= eight >> 4;
	return (words & ~(digits >> 8)) | (words & zeros >> 8 & digits >> 9) | (eight & two >> 8);
}

// Rewrites the entry line at line when it is 64 characters long or more,
// ends within the text, is a chunk (see max_chunk) and is plain: no NUL,
// and each reference a plain number; a reference in its lead token counts,
// as it does line by line. first and m are its first 64 characters and
// their masks, where its lead token must end. It is read in steps, as
// put_long_line reads it; what a step keeps, the "e" of each "Variable"
// (made a blank) and the number after it, is compressed into place after
// the lead token, its blank and a character left for the count.
inline block_rewritten rewrite_long_line(char *at, const char *line, const char *end, bytes first, const line_masks &m)
{
	if (m.blanks == 0)
		return {at, 0, 0};
	auto lead = static_cast<unsigned>(std::countr_zero(m.blanks));
	store(at, first); // the lead token and its blank
	char *numbers = at + lead + 2;
	char *out = numbers;
	std::size_t count = 0;
	std::uint64_t unusual = 0;
	// Takes the references that begin in the step at from, whose window
	// holds text, with masks w; returns where the newline stands in it,
	// 64 for none.
	auto take_step = [&](std::size_t from, bytes text, const line_masks &w) {
		auto newline = static_cast<unsigned>(std::countr_zero(w.newlines));
		std::uint64_t within = bits_below(std::min<std::size_t>(step, newline));
		std::uint64_t words = words_at(line + from, reference) & within;
		std::uint64_t kept_numbers = numbers_after(words, w.digits);
		unusual |= (w.nuls & within) | not_plain(words, kept_numbers, w.digits, equal(text, '0'));
		std::uint64_t es = words << 7;
		std::uint64_t keep = es | kept_numbers;
		store(out, compress(blend(text, es, splat(' ')), keep));
		out += std::popcount(keep);
		count += static_cast<std::size_t>(std::popcount(words));
		return newline;
	};
	// A window that begins within the text ends within its pad, whose
	// first 64 characters hold no newline: none is found past the text.
	auto left = static_cast<std::size_t>(end - line);
	std::size_t from = 0;
	for (unsigned newline = take_step(0, first, m);;
	     newline = take_step(from, load(line + from), masks(line + from))) {
		if (newline < step) {
			std::size_t length = from + newline;
			if (unusual != 0 || length >= max_chunk)
				return {at, 0, 0};
			return {end_line(numbers, out, count), length + 1, 1};
		}
		from += step;
		if (from >= left || from >= max_chunk)
			return {at, 0, 0};
	}
}

// What a block's masks say of its lines.
struct block_shape {
	std::uint64_t words;   // where "Variable" begins
	std::uint64_t firsts;  // each line's first word
	std::uint64_t bare;    // the newlines of the lines without references
	std::uint64_t keep;    // the bytes kept
	std::uint64_t unusual; // where a line is not plain
};

// Each line's lead token runs from its start to its first blank or
// newline: adding the starts to the bits of neither carries through the
// tokens and stops on the character that ends each. The same from each
// token's end through what is neither a word nor a newline stops on the
// line's first word, or on its newline.
[[gnu::always_inline]] inline block_shape shape_of(const char *line, bytes text, const line_masks &m)
{
	block_shape b{};
	b.words = words_at(line, reference);
	std::uint64_t starts = 1 | m.newlines << 1;
	std::uint64_t in_token = ~(m.blanks | m.newlines);
	std::uint64_t carried = in_token + starts;
	std::uint64_t leads = (carried ^ in_token) & in_token;
	std::uint64_t lead_ends = carried & ~in_token;
	std::uint64_t carried_on = ~(b.words | m.newlines) + lead_ends;
	b.firsts = carried_on & b.words;
	b.bare = lead_ends & m.newlines;
	std::uint64_t numbers = numbers_after(b.words, m.digits);
	b.unusual = not_plain(b.words, numbers, m.digits, equal(text, '0')) | (b.words & leads) | m.nuls |
		    (starts & ~m.dashes) | (carried_on & m.newlines & ~b.bare);
	b.keep = leads | (lead_ends & ~b.bare) | b.firsts | b.words << 7 | numbers | m.newlines;
	return b;
}

// The newlines of the lines taken: every line that ends in the block, so
// that where the next block begins depends on the newlines alone, unless
// that is more than most, or more than the 64 bytes written hold, or one
// is not plain: then the last are left for later.
[[gnu::always_inline]] inline std::uint64_t lines_taken(const block_shape &b, std::uint64_t newlines, std::int64_t most)
{
	auto fits = [&](std::uint64_t ends) {
		auto through = static_cast<unsigned>(64 - std::countl_zero(ends));
		auto count = static_cast<unsigned>(std::popcount(ends));
		return count <= most && ones_below(b.keep, through) + 2 * ones_below(b.bare, through) <= 64 &&
		       below(b.unusual, through) == 0;
	};
	std::uint64_t ends = newlines;
	while (ends != 0 && !fits(ends))
		ends &= ~(std::uint64_t{1} << (63 - std::countl_zero(ends)));
	return ends;
}

// The kept bytes compressed, each line's count in place of the V of its
// first word. The count is how many words stand between the line's
// newline and the newline before of a line with references: in the words
// and those newlines in order, the number of places between the two.
[[gnu::always_inline]] inline bytes kept_with_counts(bytes text, const block_shape &b, std::uint64_t ends)
{
	std::uint64_t counted = ends & ~b.bare;
	bytes order = compress(load(places<1>.data()), gather_bits(counted, b.words | counted));
	bytes before = expand(order, ~std::uint64_t{1}, splat(-1));
	bytes counts = sub(sub(order, before), splat(1 - '0'));
	bytes marked = expand(counts, b.firsts, blend(text, b.words << 7, splat(' ')));
	return compress(marked, b.keep);
}

// Spreads kept, whose bytes keep placed, to make room for " 0" before the
// newline of each line without references, whose newlines are bare: two
// places before each, moved on by two for each such line before.
[[gnu::always_inline]] inline bytes spread_bare(bytes kept, std::uint64_t keep, std::uint64_t bare)
{
	auto spaced = static_cast<unsigned>(std::popcount(bare));
	bytes newlines = compress(load(places<1>.data()), gather_bits(bare, keep));
	bytes gaps = blend(splat(-1), bits_below(spaced), add(newlines, load(places<2>.data())));
	std::uint64_t spread = ~pairs_at(gaps, spaced);
	kept = expand(kept, spread, splat(' '));
	return blend(kept, ~spread & ~spread << 1, splat('0'));
}

// Rewrites the entry lines that begin at line, up to most of them, while
// each ends within the 64 bytes from line and is plain: no NUL, no
// reference in its lead token, each reference a plain number, and a blank
// after the lead token only where a reference follows. Each line keeps
// its lead token, the "e" of each "Variable" (made a blank), the number
// after it and its newline; a line with references keeps the blank after
// its lead token too, and its count takes the place of the V of its first
// word. Those bytes are compressed into place; then a line without
// references, its lead token alone, is spread to make room for " 0"
// before its newline. None are taken when the first is not plain. A first
// line that does not end in the block is taken alone, if it can be.
inline block_rewritten rewrite_block(char *at, const char *line, const char *end, std::int64_t most)
{
	bytes text = load(line);
	line_masks m = masks(line);
	if (m.newlines == 0)
		return rewrite_long_line(at, line, end, text, m);
	block_shape b = shape_of(line, text, m);
	std::uint64_t ends = lines_taken(b, m.newlines, most);
	if (ends == 0)
		return {at, 0, 0};
	auto done = static_cast<unsigned>(64 - std::countl_zero(ends));
	auto lines = static_cast<unsigned>(std::popcount(ends));
	b.bare = below(b.bare, done);
	bytes kept = kept_with_counts(text, b, ends);
	std::size_t written = ones_below(b.keep, done);
	if (b.bare != 0) {
		kept = spread_bare(kept, b.keep, b.bare);
		written += std::size_t{2} * static_cast<std::size_t>(std::popcount(b.bare));
	}
	store(at, kept);
	return {at + written, done, lines};
}

} // namespace
