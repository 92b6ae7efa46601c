// What process writes for text, a chunk or a run of whole entry lines,
// placed first characters into its buffer and followed by pad bytes, as
// the reader hands text out.
#pragma once

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "listing/kernel.h"

// The kernels held to the plain loops: those the processor runs, and the
// block path over the plain forms (tests/plain_blocks.cpp).
extern const kernel kernel_plain_blocks;
inline std::vector<const kernel *> kernels_tested()
{
	std::vector<const kernel *> tested(kernels().begin(), kernels().end());
	tested.push_back(&kernel_plain_blocks);
	return tested;
}

using process_function = rewritten (*)(std::string_view, std::size_t, std::int64_t, output &);

inline std::string rewrite_placed(std::string_view text, std::size_t first, process_function rewrite = process)
{
	std::string placed =
		std::string(first, '-') + std::string(text) + std::string(64, '\0') + std::string(pad - 64, '\n');
	std::size_t chunk = std::min({text.find('\n'), text.size() - 1, max_chunk - 1}) + 1;
	// Filled with what no rewriting writes, so that a byte left unwritten
	// shows, whatever an earlier call left on the stack.
	std::array<char, output_size> buffer;
	buffer.fill('#');
	output out{buffer};
	rewritten r = rewrite(std::string_view(placed).substr(first, text.size()),
			      chunk,
			      std::numeric_limits<std::int64_t>::max(),
			      out);
	std::string result(out.bytes.data(), out.used);
	if (r.bytes != text.size())
		result += "(stopped after " + std::to_string(r.bytes) + ")";
	return result;
}
