// How headers and entry lines make up a listing: the numbering of the
// headers, the blocks they open, and where each pass stands among them.
// Every thread runs each pass by these rules, and the joining of segments
// holds a seam to them; nothing else states them.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>

// Variables 0 to 99 have their entry lines counted in the tally pass;
// the block of a later one is counted as the emit pass writes it.
using entry_counts = std::array<std::int64_t, 100>;

inline bool in_table(std::int32_t variable)
{
	return variable >= 0 && static_cast<std::size_t>(variable) < entry_counts{}.size();
}

inline constexpr std::int64_t no_limit = std::numeric_limits<std::int64_t>::max();

// How many headers stand behind a worker's pass before the first header
// of its segment tells it (see passes.h).
inline constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::min();

// Where a pass stands: in the block of variable current (-1 before the
// first header), index headers behind, entries entry lines into the
// block. After the k-th header, the variable is the header's number and
// k + 1 headers stand behind.
struct position {
	std::int32_t current = -1;
	std::int64_t index = 0;
	std::int64_t entries = 0;
};

// The count line's number: the headers, or 1 when there are none.
inline std::int64_t variables_of(std::int64_t headers)
{
	return headers > 0 ? headers : 1;
}

// What a header's number stands for when it cannot be read: the variable
// before it, which the numbering never allows.
inline std::int32_t header_value(std::optional<std::int32_t> read, std::int32_t current)
{
	return read.value_or(current);
}

// The numbering: the k-th header of a pass carries k.
inline bool follows_numbering(std::int32_t number, std::int64_t index)
{
	return number == index;
}

// Moves a pass past a header that carries number, into its block.
inline void enter_block(position &at, std::int32_t number)
{
	at.current = number;
	at.index = std::int64_t{number} + 1;
	at.entries = 0;
}

// Takes entry lines met in the tally pass into the counts: those before
// the first header belong to no block, and blocks past variable 99 are
// counted by the emit pass.
inline void add_entries(entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	if (in_table(variable))
		counts[variable] += entries;
}

// How many more entry lines the emit pass may meet in a block: what the
// tally counted in it, less those met; any number past variable 99 and
// before the first header.
inline std::int64_t room_left(const entry_counts &counts, const position &at)
{
	return in_table(at.current) ? counts[at.current] - at.entries : no_limit;
}

// Whether a block that ends holds what the tally counted in it.
inline bool block_complete(const entry_counts &counts, const position &at)
{
	return !in_table(at.current) || counts[at.current] == at.entries;
}
