// Diagnostics on standard error, through a buffer of their own, and the
// one way a run ends early.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Thrown by fail once its line is written; main turns it into status 6.
struct run_failed {};

// Writes the pending diagnostics, then one printf-style line, to standard
// error, and ends the run.
[[noreturn]] [[gnu::format(printf, 1, 2)]] void fail(const char *format, ...);

// Diagnostics held in memory before they are written: the run's own, or
// those a worker found in its segment.
struct diagnostics {
	std::array<char, std::size_t{64} * 1024> bytes;
	std::size_t used = 0;
};

// Adds the report of a chunk of no known kind, shown up to its first NUL;
// false, adding nothing, when it does not fit.
bool add_unrecognised(diagnostics &to, std::string_view chunk);

// Reports a chunk of no known kind.
void report_unrecognised(std::string_view chunk);

// Reports diagnostics that a worker wrote, in their turn.
void report(std::string_view text);

// Writes the pending diagnostics to standard error.
void flush_diagnostics();

// Writes all of bytes to the file descriptor; false when it refuses them.
bool write_all(int fd, std::string_view bytes);
