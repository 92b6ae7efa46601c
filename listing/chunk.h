// Line chunks of a variable listing: how the input is cut, what kind each
// chunk is, and how numbers are read out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A read takes at most this many characters, as fgets does with a
// 1024-byte buffer.
inline constexpr std::size_t max_chunk = 1023;

enum class kind { header, metadata, entry, unrecognised };

// Length of the chunk at the start of a window of available bytes whose
// first newline stands at offset newline (any offset of max_chunk or more
// when there is none that near): through the newline, at most max_chunk
// characters. Returns 0 while the window may still grow (more input to
// come) and holds no whole chunk yet.
inline std::size_t chunk_length(std::size_t newline, std::size_t available, bool at_end)
{
	std::size_t limit = available < max_chunk ? available : max_chunk;
	if (newline < limit)
		return newline + 1;
	if (available >= max_chunk || at_end)
		return limit;
	return 0;
}

// A chunk is a header when it begins with "VAR", metadata with "META",
// an entry with "-". No two kinds begin alike, so the most common is
// tested first, and a character at a time, which costs less than a call
// to compare a few.
inline kind classify(std::string_view chunk)
{
	auto begins = [chunk](std::string_view word) {
		if (chunk.size() < word.size())
			return false;
		for (std::size_t i = 0; i < word.size(); i++) {
			if (chunk[i] != word[i])
				return false;
		}
		return true;
	};
	if (begins("-"))
		return kind::entry;
	if (begins("VAR"))
		return kind::header;
	if (begins("META"))
		return kind::metadata;
	return kind::unrecognised;
}

// Bytes after the text that the reader hands out that may be read: the
// masks of 64 characters are taken from any line start, and a reference
// looked for past the last one, so that short pieces are handled in one
// step without a test for the end.
inline constexpr std::size_t pad = 128;

// White space as the C locale's isspace sees it.
inline bool is_space(char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// What "%d" reads at the start of text: optional white space, an optional
// sign, then digits up to the first non-digit. Values beyond 32 bits
// saturate. Nothing when there is no digit.
std::optional<std::int32_t> read_decimal(std::string_view text);

// What "VAR Variable%d" reads from a header chunk; nothing when the chunk
// does not match the pattern up to the number, which leaves the current
// variable as it was.
std::optional<std::int32_t> header_number(std::string_view chunk);
