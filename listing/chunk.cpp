#include "listing/chunk.h"

#include <algorithm>
#include <cstring>
#include <limits>

std::size_t chunk_length(std::string_view window, bool at_end)
{
	std::size_t limit = std::min(window.size(), max_chunk);
	const void *newline = std::memchr(window.data(), '\n', limit);
	if (newline != nullptr)
		return static_cast<const char *>(newline) - window.data() + 1;
	if (window.size() >= max_chunk || at_end)
		return limit;
	return 0;
}

kind classify(std::string_view chunk)
{
	if (chunk.starts_with("VAR"))
		return kind::header;
	if (chunk.starts_with("META"))
		return kind::metadata;
	if (chunk.starts_with('-'))
		return kind::entry;
	return kind::unrecognised;
}

namespace {

// White space as the C locale's isspace sees it.
bool is_space(char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

std::string_view skip_space(std::string_view text)
{
	std::size_t n = 0;
	while (n < text.size() && is_space(text[n]))
		n++;
	return text.substr(n);
}

} // namespace

std::int32_t read_decimal(std::string_view text, std::int32_t otherwise)
{
	constexpr std::uint64_t beyond = std::uint64_t{1} << 31;

	text = skip_space(text);
	const char *at = text.data();
	const char *end = at + text.size();
	bool negative = at != end && *at == '-';
	if (at != end && (*at == '-' || *at == '+'))
		at++;
	if (at == end || !is_digit(*at))
		return otherwise;

	// The magnitude stops growing once it is out of range either way.
	std::uint64_t magnitude = 0;
	for (; at != end && is_digit(*at); at++)
		magnitude = std::min(magnitude * 10 + static_cast<unsigned>(*at - '0'), beyond);
	if (negative)
		return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
	return static_cast<std::int32_t>(std::min(magnitude, beyond - 1));
}

std::int32_t header_number(std::string_view chunk, std::int32_t current)
{
	if (!chunk.starts_with("VAR"))
		return current;
	std::string_view rest = skip_space(chunk.substr(3));
	if (!rest.starts_with("Variable"))
		return current;
	return read_decimal(rest.substr(8), current);
}
