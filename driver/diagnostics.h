// Diagnostics on standard error, the one way a run ends early, and when
// a thread may write.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

// Thrown by fail once its line is written, or noted for its turn; main
// turns it into status 6.
struct run_failed {};

// Diagnostics held in memory before they are written.
struct diagnostics {
	std::span<char> bytes;
	std::size_t used = 0;
};

// What a thread writes to standard error, and when it may write there and
// to standard output: the calling thread as it goes, a worker once the
// turn of its segment has come. take_turn waits for that turn, and is
// empty once it has come.
struct lane {
	diagnostics diags;
	std::function<void()> take_turn;
};

// The lane of the thread that runs main.
lane &calling_thread();

// Ends the run with one printf-style line, after the lane's diagnostics:
// written at once where the lane may write, else kept for its turn.
[[noreturn]] [[gnu::format(printf, 2, 3)]] void fail(lane &to, const char *format, ...);

// Reports a chunk of no known kind, shown up to its first NUL.
void report_unrecognised(lane &to, std::string_view chunk);

// Writes the lane's diagnostics, in its turn.
void flush_diagnostics(lane &from);

// Waits for the lane's turn to write, if it has not come.
void take_turn(lane &l);

// Writes bytes to the file descriptor; returns how many it took: all of
// them, unless it refused the rest.
std::size_t write_all(int fd, std::string_view bytes);
