#include "listing/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "input/platform.h"

void write_stream(int fd, std::string_view bytes)
{
	if (write_all(fd, bytes) != bytes.size() && fd != STDERR_FILENO)
		fail("Could not write output: %s\n", std::strerror(errno));
}

void flush(output &out)
{
	out.empty(out);
	out.used = 0;
}

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

void report_unrecognised(output &err, std::string_view chunk)
{
	constexpr std::string_view prefix = "trouble: unrecognized input line: ";
	chunk = chunk.substr(0, std::min(chunk.find('\0'), max_chunk));
	if (!has_line_room(err))
		flush(err);
	char *at = err.bytes.data() + err.used;
	at = std::copy(prefix.begin(), prefix.end(), at);
	at = std::copy(chunk.begin(), chunk.end(), at);
	*at++ = '\n';
	err.used = static_cast<std::size_t>(at - err.bytes.data());
}
