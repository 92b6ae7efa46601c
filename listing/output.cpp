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

void write_out(output &out)
{
	write_stream(out.fd, ready(out));
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

void report_unrecognised(output &err, std::string_view chunk)
{
	constexpr std::string_view prefix = "trouble: unrecognized input line: ";
	chunk = chunk.substr(0, max_chunk);
	chunk = chunk.substr(0, chunk.find('\0'));
	if (!has_line_room(err))
		flush(err);
	char *at = err.bytes.data() + err.used;
	at = std::copy(prefix.begin(), prefix.end(), at);
	at = std::copy(chunk.begin(), chunk.end(), at);
	*at++ = '\n';
	err.used = static_cast<std::size_t>(at - err.bytes.data());
}
