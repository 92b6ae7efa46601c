// Input that cannot be read twice (a pipe, a FIFO, a terminal, a file
// that says it is empty but is not) is read once, in order, and copied as
// it is read to a temporary file that no other user can open, in $TMPDIR
// or /tmp. The second pass, and the workers of the first, read the copy.
#pragma once

#include <cstddef>
#include <cstdint>

// Why a copy stopped short of the end of its input, besides the errno of
// a read that failed.
inline constexpr int copy_not_written = -1;

struct copy {
	int input;
	int fd = -1;             // the copy, made with its first bytes
	std::int64_t length = 0; // of what it holds
	int error = 0;           // why it ended short, if it did
	int write_error = 0;     // errno, for a copy that could not be written
};

// Whether the input open as fd must be copied to be read twice.
bool needs_copy(int fd);

// Reads up to size more bytes of the input into bytes and adds them to
// the copy; returns how many it added, with error set once the input
// could not be read or copied: 0 at the end of the input.
std::size_t copy_more(copy &c, char *bytes, std::size_t size);

// Where the copy is made.
const char *temporary_folder();
