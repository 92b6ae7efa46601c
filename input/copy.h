// Input that cannot be read twice (a pipe, a FIFO, a terminal, a file
// that says it is empty but is not) or that is compressed is read once,
// in order, and copied as it is read to a temporary file that no other
// user can open, in $TMPDIR or /tmp. The second pass, and the workers of
// the first, read the copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "input/decompress.h"

// Why a copy stopped short of the end of its input, besides the errno of
// a read that failed: it could not be written; the input is corrupt or
// cut short; a compressed file's copy could not be written, and the
// input is read on without one, to be decompressed again.
inline constexpr int copy_not_written = -1;
inline constexpr int not_decompressed = -2;
inline constexpr int copy_dropped = -3;

struct copy {
	int input;
	bool once = false; // the input cannot be reread: it is read in turn
	// Its first bytes, read to know its format; they come first.
	std::array<char, magic_size> first{};
	std::size_t first_size = 0;
	std::size_t first_taken = 0;
	format compressed = format::none;
	decompressing unpack{};  // for a compressed file
	int fd = -1;             // the copy, made with its first bytes
	std::int64_t length = 0; // of what it holds
	std::int64_t read = 0;   // of the input, so far
	int error = 0;           // why it ended short, if it did
	int write_error = 0;     // errno, for a copy that could not be written
	bool dropped = false;    // a compressed file's, that could not be written
};

// Whether c's input, at path, is to be copied as it is read: true where
// it cannot be reread, and where it is compressed, which starts its
// decompressor.
bool copy_needed(copy &c, const char *path);

// Reads up to size more bytes of the input into bytes and adds them to
// the copy; returns how many it added, with error set once the input
// could not be read or copied: 0 at the end of the input. Once a
// compressed file's copy is dropped, returns how many it read.
std::size_t copy_more(copy &c, char *bytes, std::size_t size);

// What one read of the input gave a pass: its bytes, and why the input
// ends after them, where it does short of its end.
struct taken {
	std::size_t bytes;
	int error;
};

// Reads up to size bytes of the input at offset into bytes, which hold
// room: from the file open as fd, or where c is given, in turn, as c is
// copied. The input is named path in messages.
taken read_input(copy *c, int fd, std::int64_t offset, char *bytes, std::size_t size, std::size_t room,
		 const char *path);

// Why a compressed input is corrupt, where its listing broke off before
// its own checks told: they are run to its end; nullptr where they pass,
// or it is not compressed, or its reading failed for another reason.
const char *corrupt_data(copy &c);

// Why a read of c ended short, in words, where error is how the reader
// took it: c is looked at only for its own failures, which it keeps.
const char *failure_of(const copy &c, int error);
