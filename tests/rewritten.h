// What process writes for text, placed first bits into the maps of its
// buffer, as the reader hands chunks out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "listing/output.h"
#include "listing/scan.h"

inline std::string rewritten(std::string_view text, std::size_t first)
{
	std::string placed = std::string(first, '-') + std::string(text);
	std::size_t words = bitmap_words(placed.size()) + 1;
	std::vector<std::uint64_t> maps(3 * words);
	std::uint64_t *map = maps.data();
	map_bytes(placed, {map, map + words, map + 2 * words});
	placed.append(pad, '\0');
	output out{-1};
	process({std::string_view(placed).substr(first, text.size()), map + 2 * words, first}, out);
	return {out.bytes.data(), out.used};
}
