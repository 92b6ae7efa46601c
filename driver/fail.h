// The one way a run ends early.
#pragma once

// Thrown by fail once its line is written; main turns it into status 6.
struct run_failed {};

// Writes one printf-style line to standard error and ends the run.
[[noreturn]] [[gnu::format(printf, 1, 2)]] void fail(const char *format, ...);
