#include "driver/diagnostics.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "listing/chunk.h"

namespace {

// Adds text to the lane's diagnostics. What does not fit sends those
// before it out, in the lane's turn; what is larger than the buffer goes
// straight out after them.
void add(lane &to, std::string_view text)
{
	diagnostics &d = to.diags;
	if (d.bytes.size() - d.used < text.size())
		flush_diagnostics(to);
	if (d.bytes.size() < text.size())
		write_all(STDERR_FILENO, text);
	else
		d.used += text.copy(d.bytes.data() + d.used, text.size());
}

} // namespace

lane &calling_thread()
{
	static std::array<char, std::size_t{64} * 1024> bytes;
	static lane calling{{bytes}, {}};
	return calling;
}

std::size_t write_all(int fd, std::string_view bytes)
{
	std::size_t written = 0;
	while (written < bytes.size()) {
		ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		written += static_cast<std::size_t>(n);
	}
	return written;
}

void take_turn(lane &l)
{
	if (l.take_turn) {
		l.take_turn();
		l.take_turn = nullptr;
	}
}

void flush_diagnostics(lane &from)
{
	take_turn(from);
	// A standard error that refuses them cannot be told so.
	write_all(STDERR_FILENO, {from.diags.bytes.data(), from.diags.used});
	from.diags.used = 0;
}

void fail(lane &to, const char *format, ...)
{
	std::array<char, 8192> line;
	std::va_list args;
	va_start(args, format);
	int length = std::vsnprintf(line.data(), line.size(), format, args);
	va_end(args);
	add(to, {line.data(), std::min(static_cast<std::size_t>(std::max(length, 0)), line.size() - 1)});
	if (!to.take_turn)
		flush_diagnostics(to);
	throw run_failed{};
}

void report_unrecognised(lane &to, std::string_view chunk)
{
	constexpr std::string_view prefix = "trouble: unrecognized input line: ";
	chunk = chunk.substr(0, std::min(chunk.find('\0'), max_chunk));
	diagnostics &d = to.diags;
	std::size_t size = prefix.size() + chunk.size() + 1;
	if (d.bytes.size() - d.used < size)
		flush_diagnostics(to);
	if (d.bytes.size() < size) {
		// A buffer smaller than one report, as in tests.
		add(to, prefix);
		add(to, chunk);
		add(to, "\n");
		return;
	}
	char *at = d.bytes.data() + d.used;
	at = std::copy(prefix.begin(), prefix.end(), at);
	at = std::copy(chunk.begin(), chunk.end(), at);
	*at++ = '\n';
	d.used = static_cast<std::size_t>(at - d.bytes.data());
}
