// The characters that give a listing its shape, 64 at a time: bit i of
// each mask stands for the character at text + i. Every kernel computes
// all of them in one pass over the 64 bytes; where it is inlined, the
// compiler drops the compares whose masks go unused.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

struct line_masks {
	std::uint64_t newlines; // '\n' ends a line
	std::uint64_t dashes;   // '-' begins an entry line
	std::uint64_t blanks;   // ' ' ends the lead token
	std::uint64_t vs;       // 'V' may begin a reference
	std::uint64_t digits;   // '0' to '9'
	std::uint64_t nuls;     // NUL cuts a line short
};

// The plain loop: the reference for the kernels, and the kernel where
// there is no other.
inline line_masks masks_plain(const char *text)
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
