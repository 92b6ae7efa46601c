#include "input/copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "input/platform.h"

namespace {

// The next bytes of the input as it is, its first bytes first.
ssize_t read_as_is(copy &c, char *bytes, std::size_t size)
{
	if (c.first_taken == c.first_size)
		return read_once(c.input, bytes, size);
	std::size_t n = std::min(size, c.first_size - c.first_taken);
	std::copy_n(c.first.data() + c.first_taken, n, bytes);
	c.first_taken += n;
	return static_cast<ssize_t>(n);
}

// Moves the reading of the compressed file at path, from now on without a
// copy, to offset in its listing: on from where it stands, or again from
// the start, skipping through bytes of size.
void read_on_from(copy &c, std::int64_t offset, char *bytes, std::size_t size, const char *path)
{
	c.dropped = true;
	if (!c.unpack || c.read > offset) {
		// The old one goes first: two at once may not fit where one does.
		c.unpack.reset();
		c.unpack = start_decompressing(c.input, c.compressed, path);
		c.read = 0;
		c.error = 0;
	}
	while (c.read < offset) {
		auto want = static_cast<std::size_t>(std::min(offset - c.read, static_cast<std::int64_t>(size)));
		if (copy_more(c, bytes, want) == 0)
			break;
	}
}

} // namespace

bool copy_needed(copy &c, const char *path)
{
	// A file, a block device or, for what reading it is worth, a folder
	// can be reread; not a file that says it is empty, as those in /proc
	// and /sys do, whose bytes are made anew at each read.
	file_status status = status_of(c.input);
	if (status.stream)
		widen_pipe(c.input);
	c.once = status.stream || (status.regular && status.size == 0);
	if (c.once) {
		// As many as there are; a read that fails fails again after.
		for (ssize_t n = 1; n > 0 && c.first_size < c.first.size(); c.first_size += static_cast<std::size_t>(n))
			n = std::max<ssize_t>(
				read_once(c.input, c.first.data() + c.first_size, c.first.size() - c.first_size), 0);
	} else if (status.regular) {
		c.first_size = static_cast<std::size_t>(
			std::max<ssize_t>(read_at(c.input, c.first.data(), c.first.size(), 0), 0));
	}
	c.compressed = format_of({c.first.data(), c.first_size});
	if (c.compressed == format::none)
		return c.once;
	read_in_turn in_turn;
	if (c.once)
		in_turn = [&c](char *bytes, std::size_t size) { return read_as_is(c, bytes, size); };
	c.unpack = start_decompressing(c.input, c.compressed, path, std::move(in_turn));
	return true;
}

std::size_t copy_more(copy &c, char *bytes, std::size_t size)
{
	if (c.error != 0)
		return 0;
	ssize_t n = c.unpack ? decompress(*c.unpack, bytes, size) : read_as_is(c, bytes, size);
	if (n < 0) {
		c.error = c.unpack ? not_decompressed : errno;
		return 0;
	}
	auto got = static_cast<std::size_t>(n);
	c.read += n;
	if (got == 0 || c.dropped)
		return got;
	// The copy is made with the first bytes, so that input with none
	// needs no room for one.
	if (c.fd < 0)
		c.fd = temporary_file(temporary_folder());
	std::size_t copied = c.fd >= 0 ? write_all(c.fd, {bytes, got}, c.length) : 0;
	c.length += static_cast<std::int64_t>(copied);
	if (copied == got)
		return got;
	if (c.unpack && !c.once) {
		// A compressed file can be decompressed again.
		c.dropped = true;
		return got;
	}
	// What the copy holds can still be read, whatever the write that cut
	// it short.
	c.write_error = errno;
	c.error = copy_not_written;
	return copied;
}

const char *failure_of(const copy &c, int error)
{
	switch (error) {
	case copy_not_written:
		return std::strerror(c.write_error);
	case not_decompressed:
		return why(*c.unpack);
	default:
		return std::strerror(error);
	}
}

taken read_input(copy *c, int fd, std::int64_t offset, char *bytes, std::size_t size, std::size_t room,
		 const char *path)
{
	if (c == nullptr) {
		ssize_t n = size > 0 ? read_at(fd, bytes, size, offset) : 0;
		return n < 0 ? taken{0, errno} : taken{static_cast<std::size_t>(n), 0};
	}
	if (c->compressed != format::none && c->read != offset)
		// A look-ahead, or a reader that starts over, of a compressed file
		// read without a copy.
		read_on_from(*c, offset, bytes, room, path);
	std::size_t n = size > 0 ? copy_more(*c, bytes, size) : 0;
	return {n, c->error};
}

const char *corrupt_data(copy &c)
{
	// The copy may have met the checks already.
	if (c.unpack && (c.error == not_decompressed || (c.error == 0 && !decompress_to_end(*c.unpack))))
		return why(*c.unpack);
	return nullptr;
}
