// The numeric listing: a fixed output buffer and the lines written into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

struct output {
	std::FILE *stream;
	std::size_t used = 0;
	std::array<char, std::size_t{64} * 1024> bytes{};
};

// Hands the buffered bytes to the stream. A failed write stays recorded
// on the stream (ferror) for the caller to check once.
void flush(output &out);

// Each line is written whole, every number in plain decimal.
void put_count_line(output &out, std::int64_t variables);
void put_variable_line(output &out, std::int32_t variable, std::int64_t entries);

// Writes the rewritten form of one entry line chunk: its lead token, the
// number of "Variable" references, then each reference's number. Only
// the first max_chunk characters, all that one read yields, are looked at.
void process(std::string_view chunk, output &out);
