// The characters that give a listing its shape, 64 at a time: bit i of
// each mask stands for the character at text + i. Every kernel computes
// all of them in one pass over the 64 bytes; where it is inlined, the
// compiler drops the compares whose masks go unused.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

struct line_masks {
	std::uint64_t newlines; // '\n' ends a line
	std::uint64_t dashes;   // '-' begins an entry line
	std::uint64_t blanks;   // ' ' ends the lead token
	std::uint64_t vs;       // 'V' may begin a reference
	std::uint64_t digits;   // '0' to '9'
	std::uint64_t nuls;     // NUL cuts a line short
};

// The masks from s characters further on; the top s bits are zero.
inline line_masks shifted(const line_masks &m, unsigned s)
{
	return {m.newlines >> s, m.dashes >> s, m.blanks >> s, m.vs >> s, m.digits >> s, m.nuls >> s};
}

// The bits for the first n positions of a word.
inline std::uint64_t bits_below(std::size_t n)
{
	return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// The first set bit at or after from and before to in a bitmap whose bit
// i % 64 of word i / 64 stands for position i; to when there is none.
inline std::size_t next_bit(const std::uint64_t *bits, std::size_t from, std::size_t to)
{
	while (from < to) {
		std::uint64_t word = bits[from / 64] >> (from % 64);
		if (word != 0) {
			std::size_t found = from + static_cast<std::size_t>(std::countr_zero(word));
			return found < to ? found : to;
		}
		from = (from | 63) + 1;
	}
	return to;
}

// The plain forms of what a set does to 64 bytes at once: the reference
// for the others, and how a set does what it has no instruction for.
namespace plain {

// Sixty-four bytes as a set without registers that wide holds them.
using bytes = std::array<char, 64>;

// The masks: the reference for the kernels, and the kernel where there
// is no other.
inline line_masks masks(const char *text)
{
	line_masks m{};
	for (unsigned i = 0; i < 64; i++) {
		std::uint64_t bit = std::uint64_t{1} << i;
		char c = text[i];
		m.newlines |= c == '\n' ? bit : 0;
		m.dashes |= c == '-' ? bit : 0;
		m.blanks |= c == ' ' ? bit : 0;
		m.vs |= c == 'V' ? bit : 0;
		m.digits |= c >= '0' && c <= '9' ? bit : 0;
		m.nuls |= c == '\0' ? bit : 0;
	}
	return m;
}

// Those that other sets borrow are always inlined, so that no copy built
// for one set serves another.
[[gnu::always_inline]] inline bytes load(const char *at)
{
	bytes b;
	std::memcpy(b.data(), at, b.size());
	return b;
}

[[gnu::always_inline]] inline void store(char *at, const bytes &b)
{
	std::memcpy(at, b.data(), b.size());
}

[[gnu::always_inline]] inline bytes splat(char c)
{
	bytes b;
	b.fill(c);
	return b;
}

// Bytewise, with wrap-around.
[[gnu::always_inline]] inline bytes add(bytes a, const bytes &b)
{
	for (std::size_t i = 0; i < a.size(); i++)
		a[i] = static_cast<char>(a[i] + b[i]);
	return a;
}

[[gnu::always_inline]] inline bytes sub(bytes a, const bytes &b)
{
	for (std::size_t i = 0; i < a.size(); i++)
		a[i] = static_cast<char>(a[i] - b[i]);
	return a;
}

[[gnu::always_inline]] inline std::uint64_t equal(const bytes &b, char c)
{
	std::uint64_t found = 0;
	for (std::size_t i = 0; i < b.size(); i++)
		found |= std::uint64_t{b[i] == c} << i;
	return found;
}

// b, with the bytes of with where where is set.
[[gnu::always_inline]] inline bytes blend(bytes b, std::uint64_t where, const bytes &with)
{
	for (std::size_t i = 0; i < b.size(); i++)
		b[i] = (where >> i & 1) != 0 ? with[i] : b[i];
	return b;
}

// The bytes of b where keep is set, in order, then zeros.
[[gnu::always_inline]] inline bytes compress(const bytes &b, std::uint64_t keep)
{
	bytes packed{};
	std::size_t n = 0;
	for (std::size_t i = 0; i < b.size(); i++)
		if ((keep >> i & 1) != 0)
			packed[n++] = b[i];
	return packed;
}

// The bytes of b, in order, where into is set; fill's elsewhere.
[[gnu::always_inline]] inline bytes expand(const bytes &b, std::uint64_t into, bytes fill)
{
	std::size_t n = 0;
	for (std::size_t i = 0; i < fill.size(); i++)
		if ((into >> i & 1) != 0)
			fill[i] = b[n++];
	return fill;
}

// The bits of bits where select is set, in order, at the bottom.
[[gnu::always_inline]] inline std::uint64_t gather_bits(std::uint64_t bits, std::uint64_t select)
{
	std::uint64_t gathered = 0;
	unsigned n = 0;
	for (; select != 0; select &= select - 1)
		gathered |= (bits >> std::countr_zero(select) & 1) << n++;
	return gathered;
}

// Where the eight characters of word begin among the 64 at text, which
// the seven after them are read for: a compare a character.
[[gnu::always_inline]] inline std::uint64_t words_at(const char *text, std::string_view word)
{
	std::uint64_t found = ~std::uint64_t{0};
	for (std::size_t i = 0; i < word.size(); i++)
		found &= equal(load(text + i), word[i]);
	return found;
}

// Two bits set from each of the first n bytes of places, each below 63.
[[gnu::always_inline]] inline std::uint64_t pairs_at(const bytes &places, unsigned n)
{
	std::uint64_t pairs = 0;
	for (unsigned i = 0; i < n; i++)
		pairs |= std::uint64_t{3} << static_cast<unsigned char>(places[i]);
	return pairs;
}

} // namespace plain
