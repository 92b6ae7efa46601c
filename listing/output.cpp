#include "listing/output.h"

#include "listing/masks.h"
#include "listing/processor.h"

namespace {

line_masks masks_at(const char *text)
{
	return masks_at_baseline(text);
}

} // namespace

#include "listing/rewrite.h"

void put_count_line(output &out, std::int64_t variables)
{
	char *at = decimal(out.bytes.data() + out.used, variables);
	*at++ = '\n';
	out.used = static_cast<std::size_t>(at - out.bytes.data());
}

void put_variable_line(output &out, std::int32_t variable, std::int64_t entries)
{
	char *at = decimal(out.bytes.data() + out.used, variable);
	*at++ = ' ';
	at = decimal(at, entries);
	*at++ = '\n';
	out.used = static_cast<std::size_t>(at - out.bytes.data());
}

// A pending variable line keeps room for the longest count and its
// newline, which is closed up when the count is known.
constexpr std::size_t count_room = number_room + 1;

void put_pending_variable_line(output &out, std::int32_t variable)
{
	out.pending = out.used;
	char *at = decimal(out.bytes.data() + out.used, variable);
	*at++ = ' ';
	out.used = static_cast<std::size_t>(at - out.bytes.data()) + count_room;
}

void settle_variable_line(output &out, std::int64_t entries)
{
	char *room = std::find(out.bytes.data() + *out.pending, out.bytes.data() + out.used, ' ') + 1;
	char *after = room + count_room;
	char *at = decimal(room, entries);
	*at++ = '\n';
	char *end = std::copy(after, out.bytes.data() + out.used, at);
	out.used = static_cast<std::size_t>(end - out.bytes.data());
	out.pending.reset();
}

std::string_view ready(const output &out)
{
	return {out.bytes.data(), out.pending.value_or(out.used)};
}

rewritten process_baseline(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	return rewrite(text, first, most, out);
}

rewritten process(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	if (processor().avx2)
		return process_avx2(text, first, most, out);
#endif
	return process_baseline(text, first, most, out);
}
