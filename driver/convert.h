// The two passes over one variable listing, in the order of a run.
#pragma once

#include <cstdint>
#include <cstdio>

#include "driver/passes.h"
#include "driver/reader.h"
#include "driver/segments.h"
#include "listing/output.h"

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
	tally_state tally{};
	stamp before{};
	copy copied{fd};     // of input that is compressed, or cannot be reread
	copy ahead_copy{fd}; // a compressed file's look-ahead, without a copy
	std::int64_t tallied = 0;
	std::unique_ptr<pool> workers{}; // once a pass is worth them
};

// The tally pass, then the emit pass, which writes the numeric listing to
// out. Every fatal problem goes through fail.
void tally(conversion &c);
void emit(conversion &c, output &out);

// Both passes over in, on up to threads threads.
void convert(std::FILE *in, const char *path, output &out, int threads);
