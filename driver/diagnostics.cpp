#include "driver/diagnostics.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "listing/chunk.h"

namespace {

diagnostics pending;

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
	write_all(STDERR_FILENO, {pending.bytes.data(), pending.used});
	pending.used = 0;
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

bool add_unrecognised(diagnostics &to, std::string_view chunk)
{
	constexpr std::string_view prefix = "trouble: unrecognized input line: ";
	chunk = chunk.substr(0, std::min(chunk.find('\0'), max_chunk));
	if (to.bytes.size() - to.used < prefix.size() + chunk.size() + 1)
		return false;
	char *at = to.bytes.data() + to.used;
	at = std::copy(prefix.begin(), prefix.end(), at);
	at = std::copy(chunk.begin(), chunk.end(), at);
	*at++ = '\n';
	to.used = static_cast<std::size_t>(at - to.bytes.data());
	return true;
}

void report_unrecognised(std::string_view chunk)
{
	if (!add_unrecognised(pending, chunk)) {
		flush_diagnostics();
		add_unrecognised(pending, chunk);
	}
}

void report(std::string_view text)
{
	if (pending.bytes.size() - pending.used < text.size())
		flush_diagnostics();
	if (pending.bytes.size() < text.size()) {
		write_all(STDERR_FILENO, text);
		return;
	}
	pending.used = static_cast<std::size_t>(
		std::copy(text.begin(), text.end(), pending.bytes.data() + pending.used) - pending.bytes.data());
}
