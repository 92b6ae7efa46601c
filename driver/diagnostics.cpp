#include "driver/diagnostics.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "listing/chunk.h"

namespace {

std::array<char, std::size_t{64} * 1024> pending;
std::size_t used = 0;

} // namespace

bool write_all(int fd, std::string_view bytes)
{
	while (!bytes.empty()) {
		ssize_t n = write(fd, bytes.data(), bytes.size());
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		bytes.remove_prefix(static_cast<std::size_t>(n));
	}
	return true;
}

void flush_diagnostics()
{
	// A standard error that refuses them cannot be told so.
	write_all(STDERR_FILENO, {pending.data(), used});
	used = 0;
}

void fail(const char *format, ...)
{
	flush_diagnostics();
	std::va_list args;
	va_start(args, format);
	vdprintf(STDERR_FILENO, format, args);
	va_end(args);
	throw run_failed{};
}

void report_unrecognised(std::string_view chunk)
{
	constexpr std::string_view prefix = "trouble: unrecognized input line: ";
	chunk = chunk.substr(0, std::min(chunk.find('\0'), max_chunk));
	if (pending.size() - used < prefix.size() + chunk.size() + 1)
		flush_diagnostics();
	char *at = pending.data() + used;
	at = std::copy(prefix.begin(), prefix.end(), at);
	at = std::copy(chunk.begin(), chunk.end(), at);
	*at++ = '\n';
	used = static_cast<std::size_t>(at - pending.data());
}
