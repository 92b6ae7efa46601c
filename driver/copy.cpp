#include "driver/copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/diagnostics.h"
#include "driver/reader.h"

namespace {

// A file that no other user can open or name: one with no name at all
// where the system and the file system can make one (Linux), else one
// unlinked at once. errno tells why there is none.
int temporary_file()
{
	const char *folder = temporary_folder();
#ifdef O_TMPFILE
	int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
	if (fd >= 0)
		return fd;
#endif
	std::array<char, 4096> name;
	int length = std::snprintf(name.data(), name.size(), "%s/vblocks.XXXXXX", folder);
	if (length < 0 || static_cast<std::size_t>(length) >= name.size()) {
		errno = ENAMETOOLONG;
		return -1;
	}
	int copy = mkostemp(name.data(), O_CLOEXEC);
	if (copy >= 0)
		unlink(name.data());
	return copy;
}

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

const char *temporary_folder()
{
	const char *folder = std::getenv("TMPDIR");
	return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

format compression_of(int fd)
{
	struct stat status;
	std::array<char, magic_size> first;
	if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
		return format::none;
	ssize_t n = read_at(fd, first.data(), first.size(), 0);
	return format_of({first.data(), static_cast<std::size_t>(std::max<ssize_t>(n, 0))});
}

bool needs_copy(int fd)
{
	// A file, a block device or, for what reading it is worth, a folder
	// can be reread; not a file that says it is empty, as those in /proc
	// and /sys do, whose bytes are made anew at each read.
	struct stat status;
	if (fstat(fd, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) ||
					 S_ISSOCK(status.st_mode) || (S_ISREG(status.st_mode) && status.st_size == 0)))
		return false;
#ifdef F_SETPIPE_SZ
	// A pipe that holds more takes fewer turns of its writer and us; 1 MiB
	// is the most an unprivileged process may ask for by default on Linux.
	if (S_ISFIFO(status.st_mode))
		fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif
	return true;
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
		c.fd = temporary_file();
	std::size_t copied = c.fd < 0 ? 0 : write_all(c.fd, {bytes, got});
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
