#include "listing/output.h"

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

rewritten process_baseline(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
	return rewrite(text, first, most, out);
}

rewritten process(std::string_view text, std::size_t first, std::int64_t most, output &out)
{
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	static const bool wide = has_avx2();
	if (wide)
		return process_avx2(text, first, most, out);
#endif
	return process_baseline(text, first, most, out);
}
