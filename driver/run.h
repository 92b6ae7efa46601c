// A run over one variable listing: the tally pass, the count line, the
// emit pass, and the check that the file did not change between them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "listing/passes.h"
#include "parallel/segments.h"

// What shows that a regular file changed between two looks at it.
struct stamp {
	bool known; // false for what is not a regular file
	std::int64_t size;
	std::int64_t modified; // in nanoseconds
};

// A conversion between its passes: the input and its readers, what the
// tally pass found, and how much it read. Its readers point into it, so
// it is made where it is used and never copied.
struct conversion {
	int fd;
	const char *path; // names the input in messages
	int threads;      // one runs the passes in turn on the calling thread
	buffer pass_buffer{};
	buffer ahead_buffer{};
	reader pass{fd, path, &pass_buffer};
	reader ahead{fd, path, &ahead_buffer};
	tally_pass tally{};
	stamp before{};
	copy copied{fd};     // of input that is compressed, or cannot be reread
	copy ahead_copy{fd}; // a compressed file's look-ahead, without a copy
	std::int64_t tallied = 0;
	std::unique_ptr<pool> workers{}; // once a pass is worth them
};

// The passes, writing the numeric listing to out and diagnostics to err,
// which is out where both go to one file. Every fatal problem throws
// run_failed.
void tally(conversion &c, output &out, output &err);
void emit(conversion &c, output &out, output &err);

// Both passes over in, on up to threads threads.
void convert(std::FILE *in, const char *path, output &out, output &err, int threads);

// Ends a run that failed with f: what out and err hold before the fault
// still goes out, as far as the streams take it, then f's line; returns
// the status, 6. Where err is out, its bytes and the line go out in order.
int end_failed(const run_failed &f, output &out, output &err);
