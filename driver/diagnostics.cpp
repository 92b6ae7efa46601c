#include "driver/diagnostics.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

std::array<char, std::size_t{64} * 1024> pending;
std::size_t used = 0;

void put(std::string_view text)
{
	if (pending.size() - used < text.size())
		flush_diagnostics();
	if (pending.size() < text.size()) {
		write_all(STDERR_FILENO, text);
		return;
	}
	text.copy(pending.data() + used, text.size());
	used += text.size();
}

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
	put("trouble: unrecognized input line: ");
	put(chunk.substr(0, chunk.find('\0')));
	put("\n");
}
