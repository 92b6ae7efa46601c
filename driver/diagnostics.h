// Diagnostics on standard error, through a buffer of their own, and the
// one way a run ends early.
#pragma once

#include <string_view>

// Thrown by fail once its line is written; main turns it into status 6.
struct run_failed {};

// Writes the pending diagnostics, then one printf-style line, to standard
// error, and ends the run.
[[noreturn]] [[gnu::format(printf, 1, 2)]] void fail(const char *format, ...);

// Reports a chunk of no known kind, shown up to its first NUL.
void report_unrecognised(std::string_view chunk);

// Writes the pending diagnostics to standard error.
void flush_diagnostics();

// Writes all of bytes to the file descriptor; false when it refuses them.
bool write_all(int fd, std::string_view bytes);
