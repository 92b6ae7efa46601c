#include "listing/chunk.h"

#include <algorithm>

namespace {

std::string_view skip_space(std::string_view text)
{
	std::size_t n = 0;
	while (n < text.size() && is_space(text[n]))
		n++;
	return text.substr(n);
}

} // namespace

std::optional<std::int32_t> read_decimal(std::string_view text)
{
	constexpr std::uint64_t beyond = std::uint64_t{1} << 31;

	text = skip_space(text);
	const char *at = text.data();
	const char *end = at + text.size();
	bool negative = false;
	if (at != end && (*at == '-' || *at == '+'))
		negative = *at++ == '-';
	if (at == end || !is_digit(*at))
		return std::nullopt;

	// The magnitude stops growing once it is out of range either way.
	std::uint64_t magnitude = 0;
	do {
		magnitude = std::min(magnitude * 10 + static_cast<unsigned>(*at - '0'), beyond);
	} while (++at != end && is_digit(*at));
	if (negative)
		return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
	return static_cast<std::int32_t>(std::min(magnitude, beyond - 1));
}

std::optional<std::int32_t> header_number(std::string_view chunk)
{
	if (!chunk.starts_with("VAR"))
		return std::nullopt;
	std::string_view rest = skip_space(chunk.substr(3));
	if (!rest.starts_with("Variable"))
		return std::nullopt;
	return read_decimal(rest.substr(8));
}
