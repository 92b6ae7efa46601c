// Compressed listings, known by their magic numbers and read through the
// library of their format, where the build has it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <sys/types.h>

enum class format { none, gzip, bzip2, xz, zstd };

// Enough of a file's first bytes to know its format.
inline constexpr std::size_t magic_size = 10;

// The format whose magic number data begins with; none for a listing.
format format_of(std::string_view data);

struct decompressor;
void end_decompressing(decompressor *d);
struct decompressor_end {
	void operator()(decompressor *d) const
	{
		end_decompressing(d);
	}
};
using decompressing = std::unique_ptr<decompressor, decompressor_end>;

// Reads up to size more bytes of input that cannot be reread into bytes:
// how many, 0 at its end, -1 with errno where a read fails.
using read_in_turn = std::function<ssize_t(char *bytes, std::size_t size)>;

// A decompressor of the file open as fd and named path, in format f, from
// its first byte on; of input that cannot be reread, through in_turn. A
// format whose library the build lacks, or too little memory, ends the
// run.
decompressing start_decompressing(int fd, format f, const char *path, read_in_turn in_turn = {});

// Up to size more bytes of the listing into bytes: how many, 0 at its
// end; -1 when the file cannot be read, or is cut short or corrupt, with
// why telling.
ssize_t decompress(decompressor &d, char *bytes, std::size_t size);
const char *why(const decompressor &d);

// Reads the rest of the file for its own checks, the listing it holds
// unread: whether they pass.
bool decompress_to_end(decompressor &d);
