// The numeric listing: a fixed output buffer and the lines written into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "listing/chunk.h"

struct output {
	int fd;
	std::size_t used = 0;
	std::array<char, std::size_t{64} * 1024> bytes{};
};

// Writes the buffered bytes to the file descriptor; ends the run with
// "Could not write output" at the first write it refuses.
void flush(output &out);

// Each line is written whole, every number in plain decimal.
void put_count_line(output &out, std::int64_t variables);
void put_variable_line(output &out, std::int32_t variable, std::int64_t entries);

// Writes the rewritten form of each entry line in lines, one chunk or a
// run of them, each ended by a newline but perhaps the last: its lead
// token, the number of "Variable" references, then each reference's
// number. Only the first max_chunk characters of a line, all that one
// read yields, are looked at.
void process(const chunk &lines, output &out);
