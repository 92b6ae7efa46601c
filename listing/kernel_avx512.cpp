// The kernel for AVX-512 with BW, VBMI2, BMI1, BMI2 and POPCNT: this file
// alone is built for them, and it runs only where the processor has them
// and the system keeps their registers. Besides the masks, it rewrites
// the short entry lines of a 64-byte block all at once, and a longer line
// a step at a time.
#include <array>
#include <bit>
#include <charconv>

#include "kernels/avx512.h"
#include "listing/chunk.h"
#include "listing/output.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_avx512(text);
}

} // namespace

#include "listing/rewrite.h"

namespace {

// The bytes 0 to 63, in order.
alignas(64) constexpr std::array<char, 64> iota = [] {
	std::array<char, 64> bytes{};
	for (unsigned i = 0; i < 64; i++)
		bytes[i] = static_cast<char>(i);
	return bytes;
}();

struct block_rewritten {
	char *at;
	std::size_t bytes;
	std::int64_t lines;
};

// Where "Variable" begins among the 64 characters at text, which the 7
// after them are read for: its eight bytes, each compared at its own
// offset, come to one test.
std::uint64_t words_at(const char *text)
{
	constexpr std::string_view word = "Variable";
	__m512i differ = _mm512_setzero_si512();
	for (unsigned i = 0; i < word.size(); i++) // differ | (bytes ^ letter)
		differ = _mm512_ternarylogic_epi64(
			differ, _mm512_loadu_si512(text + i), _mm512_set1_epi8(word[i]), 0xf6);
	return _mm512_testn_epi8_mask(differ, differ);
}

unsigned ones_below(std::uint64_t bits, unsigned n)
{
	return static_cast<unsigned>(std::popcount(_bzhi_u64(bits, n)));
}

// Two bits set at each of the places in the first eight bytes of places,
// 255 for none. The masked forms of the instructions are used, as GCC
// warns of the others.
std::uint64_t two_bits_at(__m512i places)
{
	__m512i at = _mm512_maskz_cvtepu8_epi64(0xff, _mm512_maskz_extracti32x4_epi32(0xf, places, 0));
	__m512i bits = _mm512_maskz_sllv_epi64(0xff, _mm512_set1_epi64(3), at);
	__m256i four = _mm256_or_si256(_mm512_maskz_extracti64x4_epi64(0xf, bits, 0),
				       _mm512_maskz_extracti64x4_epi64(0xf, bits, 1));
	__m128i two = _mm_or_si128(_mm256_castsi256_si128(four), _mm256_extracti128_si256(four, 1));
	return static_cast<std::uint64_t>(_mm_cvtsi128_si64(two) | _mm_extract_epi64(two, 1));
}

// The digits of the number after each word: adding the place after the
// word to the digits carries through them.
std::uint64_t numbers_after(std::uint64_t words, std::uint64_t digits)
{
	return ((digits + (words << 8)) ^ digits) & digits;
}

// A bit in each reference whose number is not plain: one to nine digits,
// no sign, no leading zero; numbers are the digits after the words.
std::uint64_t not_plain(std::uint64_t words, std::uint64_t numbers, std::uint64_t digits, std::uint64_t zeros)
{
	std::uint64_t two = numbers & numbers >> 1;
	std::uint64_t eight = two & two >> 2;
	eight &= eight >> 4;
	return (words & ~(digits >> 8)) | (words & zeros >> 8 & digits >> 9) | (eight & two >> 8);
}

// Rewrites the entry line at line when it is 64 characters long or more,
// ends within the text, is a chunk (see max_chunk) and is plain: no NUL,
// and each reference a plain number; a reference in its lead token counts,
// as it does line by line. bytes and m are those of its first 64
// characters, where its lead token must end. It is read in steps, as
// put_long_line reads it, each through the 64 characters from its start;
// what a step keeps, the "e" of each "Variable" (made a blank) and the
// number after it, is compressed into place after the lead token, its
// blank and a character left for the count.
block_rewritten rewrite_long_line(char *at, const char *line, const char *end, __m512i bytes, const line_masks &m)
{
	if (m.blanks == 0)
		return {at, 0, 0};
	auto lead = static_cast<unsigned>(std::countr_zero(m.blanks));
	_mm512_storeu_si512(at, bytes); // the lead token and its blank
	char *numbers = at + lead + 2;
	char *out = numbers;
	std::size_t count = 0;
	std::uint64_t unusual = 0;
	// Takes the references that begin in the step at from, whose window
	// holds text, with masks w; returns where the newline stands in it,
	// 64 for none.
	auto take_step = [&](std::size_t from, __m512i text, const line_masks &w) {
		auto newline = static_cast<unsigned>(std::countr_zero(w.newlines));
		std::uint64_t within = bits_below(std::min<std::size_t>(step, newline));
		std::uint64_t words = words_at(line + from) & within;
		std::uint64_t kept_numbers = numbers_after(words, w.digits);
		unusual |= (w.nuls & within) | not_plain(words, kept_numbers, w.digits, equal_mask(text, '0'));
		std::uint64_t es = words << 7;
		std::uint64_t keep = es | kept_numbers;
		_mm512_storeu_si512(
			out, _mm512_maskz_compress_epi8(keep, _mm512_mask_mov_epi8(text, es, _mm512_set1_epi8(' '))));
		out += std::popcount(keep);
		count += static_cast<std::size_t>(std::popcount(words));
		return newline;
	};
	// A window that begins within the text ends within its pad, whose
	// first 64 characters hold no newline: none is found past the text.
	auto left = static_cast<std::size_t>(end - line);
	std::size_t from = 0;
	for (unsigned newline = take_step(0, bytes, m);;
	     newline = take_step(from, _mm512_loadu_si512(line + from), masks_avx512(line + from))) {
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
[[gnu::always_inline]] inline block_shape shape_of(const char *line, __m512i bytes, const line_masks &m)
{
	block_shape b{};
	b.words = words_at(line);
	std::uint64_t starts = 1 | m.newlines << 1;
	std::uint64_t in_token = ~(m.blanks | m.newlines);
	std::uint64_t carried = in_token + starts;
	std::uint64_t leads = (carried ^ in_token) & in_token;
	std::uint64_t lead_ends = carried & ~in_token;
	std::uint64_t carried_on = ~(b.words | m.newlines) + lead_ends;
	b.firsts = carried_on & b.words;
	b.bare = lead_ends & m.newlines;
	std::uint64_t numbers = numbers_after(b.words, m.digits);
	b.unusual = not_plain(b.words, numbers, m.digits, equal_mask(bytes, '0')) | (b.words & leads) | m.nuls |
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
		       _bzhi_u64(b.unusual, through) == 0;
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
[[gnu::always_inline]] inline __m512i kept_with_counts(__m512i bytes, const block_shape &b, std::uint64_t ends)
{
	__m512i numbered = _mm512_load_si512(iota.data());
	std::uint64_t counted = ends & ~b.bare;
	__m512i order = _mm512_maskz_compress_epi8(_pext_u64(counted, b.words | counted), numbered);
	__m512i before = _mm512_mask_expand_epi8(_mm512_set1_epi8(-1), ~std::uint64_t{1}, order);
	__m512i counts = _mm512_sub_epi8(_mm512_sub_epi8(order, before), _mm512_set1_epi8(1 - '0'));
	__m512i blank = _mm512_set1_epi8(' ');
	__m512i marked = _mm512_mask_expand_epi8(_mm512_mask_mov_epi8(bytes, b.words << 7, blank), b.firsts, counts);
	return _mm512_maskz_compress_epi8(b.keep, marked);
}

// Spreads kept, whose bytes keep placed, to make room for " 0" before the
// newline of each line without references, whose newlines are bare: two
// places before each, moved on by two for each such line before; set
// eight lines at a time, a line a 64-bit lane; a lane past the last holds
// 255, which shifts its bits out.
[[gnu::always_inline]] inline __m512i spread_bare(__m512i kept, std::uint64_t keep, std::uint64_t bare)
{
	__m512i numbered = _mm512_load_si512(iota.data());
	auto spaced = static_cast<unsigned>(std::popcount(bare));
	__m512i newlines = _mm512_maskz_compress_epi8(bare, _mm512_maskz_expand_epi8(keep, numbered));
	__m512i gaps = _mm512_mask_add_epi8(
		_mm512_set1_epi8(-1), bits_below(spaced), newlines, _mm512_add_epi8(numbered, numbered));
	std::uint64_t spread = ~std::uint64_t{0};
	for (unsigned i = 0; i < spaced; i += 8, gaps = _mm512_maskz_alignr_epi64(0xff, gaps, gaps, 1))
		spread &= ~two_bits_at(gaps);
	kept = _mm512_mask_expand_epi8(_mm512_set1_epi8(' '), spread, kept);
	return _mm512_mask_mov_epi8(kept, ~spread & ~spread << 1, _mm512_set1_epi8('0'));
}

// Rewrites the entry lines that begin at line, up to most of them, while
// each ends within the 64 bytes from line and is plain: no NUL, no
// reference in its lead token, each reference a plain number (one to nine
// digits, no sign, no leading zero), and a blank after the lead token only
// where a reference follows. Each line keeps its lead token, the "e" of
// each "Variable" (made a blank), the number after it and its newline; a
// line with references keeps the blank after its lead token too, and its
// count takes the place of the V of its first word. Those bytes are
// compressed into place; then a line without references, its lead token
// alone, is spread to make room for " 0" before its newline. None are
// taken when the first is not plain. A first line that does not end in
// the block is taken alone, if it can be.
block_rewritten rewrite_block(char *at, const char *line, const char *end, std::int64_t most)
{
	__m512i bytes = _mm512_loadu_si512(line);
	line_masks m = masks_avx512(line);
	if (m.newlines == 0)
		return rewrite_long_line(at, line, end, bytes, m);
	block_shape b = shape_of(line, bytes, m);
	std::uint64_t ends = lines_taken(b, m.newlines, most);
	if (ends == 0)
		return {at, 0, 0};
	auto done = static_cast<unsigned>(64 - std::countl_zero(ends));
	auto lines = static_cast<unsigned>(std::popcount(ends));
	b.bare = _bzhi_u64(b.bare, done);
	__m512i kept = kept_with_counts(bytes, b, ends);
	std::size_t written = ones_below(b.keep, done);
	if (b.bare != 0) {
		kept = spread_bare(kept, b.keep, b.bare);
		written += std::size_t{2} * static_cast<std::size_t>(std::popcount(b.bare));
	}
	_mm512_storeu_si512(at, kept);
	return {at + written, done, lines};
}

} // namespace

extern const kernel kernel_avx512{isa::avx512, "avx512", masks_at, map_here, count_here, rewrite<rewrite_block>};
