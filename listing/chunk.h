// Line chunks of a variable listing: how the input is cut, what kind each
// chunk is, and how numbers are read out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A read takes at most this many characters, as fgets does with a
// 1024-byte buffer.
inline constexpr std::size_t max_chunk = 1023;

enum class kind { header, metadata, entry, unrecognised };

// Length of the chunk at the start of window: through the first newline,
// at most max_chunk characters. Returns 0 while the window may still grow
// (more input to come) and holds no whole chunk yet.
std::size_t chunk_length(std::string_view window, bool at_end);

// The first test that holds decides: "VAR", then "META", then "-".
kind classify(std::string_view chunk);

// What "%d" reads at the start of text: optional white space, an optional
// sign, then digits up to the first non-digit. Values beyond 32 bits
// saturate. Returns otherwise when there is no digit.
std::int32_t read_decimal(std::string_view text, std::int32_t otherwise);

// What "VAR Variable%d" reads from a header chunk; current when the chunk
// does not match the pattern up to the number.
std::int32_t header_number(std::string_view chunk, std::int32_t current);
