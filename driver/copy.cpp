#include "driver/copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "driver/platform.h"
#include "driver/reader.h"

namespace {

// read, again when a signal breaks in.
ssize_t read_in_turn(int fd, char *bytes, std::size_t size)
{
	ssize_t n;
	do
		n = read(fd, bytes, size);
	while (n < 0 && errno == EINTR);
	return n;
}

} // namespace

format compression_of(int fd)
{
	std::array<char, magic_size> first;
	if (!status_of(fd).regular)
		return format::none;
	ssize_t n = read_at(fd, first.data(), first.size(), 0);
	return format_of({first.data(), static_cast<std::size_t>(std::max<ssize_t>(n, 0))});
}

bool needs_copy(int fd)
{
	// A file, a block device or, for what reading it is worth, a folder
	// can be reread; not a file that says it is empty, as those in /proc
	// and /sys do, whose bytes are made anew at each read.
	file_status status = status_of(fd);
	if (status.stream)
		widen_pipe(fd);
	return status.stream || (status.regular && status.size == 0);
}

void read_on_from(copy &c, std::int64_t offset, char *bytes, std::size_t size, const char *path)
{
	c.dropped = true;
	if (!c.unpack || c.read > offset) {
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

std::size_t copy_more(copy &c, char *bytes, std::size_t size)
{
	if (c.error != 0)
		return 0;
	ssize_t n = c.unpack ? decompress(*c.unpack, bytes, size) : read_in_turn(c.input, bytes, size);
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
	std::size_t copied = 0;
	for (ssize_t n = 0; c.fd >= 0 && copied < got; copied += static_cast<std::size_t>(n)) {
		n = write_at_once(c.fd, bytes + copied, got - copied, c.length + static_cast<std::int64_t>(copied));
		if (n <= 0)
			break;
	}
	c.length += static_cast<std::int64_t>(copied);
	if (copied == got)
		return got;
	if (c.unpack) {
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
