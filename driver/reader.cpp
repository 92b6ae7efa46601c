#include "driver/reader.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder for temporary files: $TMPDIR, or /tmp when that is unset or
// empty.
const char *temporary_folder()
{
	const char *folder = std::getenv("TMPDIR");
	return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

// Ends the run with the reason that errno gives, naming the folder, where
// the trouble most likely is.
[[noreturn]] void fail_to_copy(const reader &in)
{
	fail(calling_thread(),
	     "Could not copy file %s to a temporary file in %s: %s\n",
	     in.path,
	     temporary_folder(),
	     std::strerror(errno));
}

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

ssize_t read_at(int fd, char *bytes, std::size_t size, std::int64_t offset)
{
	ssize_t n;
	do
		n = pread(fd, bytes, size, static_cast<off_t>(offset));
	while (n < 0 && errno == EINTR);
	if (n >= 0 || size == 1)
		return n;
	// Where a read fails, it is tried again in halves, so that reading
	// stops at the first byte that cannot be read, however it was cut.
	int error = errno;
	std::size_t half = size / 2;
	ssize_t first = read_at(fd, bytes, half, offset);
	if (first == static_cast<ssize_t>(half)) {
		ssize_t second = read_at(fd, bytes + half, size - half, offset + static_cast<std::int64_t>(half));
		first += std::max<ssize_t>(second, 0);
	}
	errno = error;
	return first;
}

void refill(reader &in)
{
	buffer &b = *in.own;
	std::size_t kept = in.end - in.begin;
	std::memmove(b.bytes.data(), in.view->bytes.data() + in.begin, kept);
	in.view = &b;
	in.begin = 0;
	std::size_t want = std::min(read_size - kept, in.next_read);
	if (in.limit - in.offset < static_cast<std::int64_t>(want))
		want = static_cast<std::size_t>(in.limit - in.offset);
	in.next_read = std::min(2 * in.next_read, read_size);
	ssize_t n = 0;
	if (want > 0)
		n = in.in_turn ? read_in_turn(in.fd, b.bytes.data() + kept, want)
			       : read_at(in.fd, b.bytes.data() + kept, want, in.offset);
	if (n < 0) {
		in.limit = in.offset;
		in.error = errno;
		n = 0;
	}
	auto got = static_cast<std::size_t>(n);
	if (in.in_turn && got > 0) {
		// The copy is made with the first bytes, so that input with none
		// needs no room for one.
		if (in.copy < 0)
			in.copy = temporary_file();
		if (in.copy < 0 || !write_all(in.copy, {b.bytes.data() + kept, got}))
			fail_to_copy(in);
	}
	in.end = kept + got;
	in.offset += n;
	in.at_end = got == 0 || in.offset == in.limit;
	map_bytes({b.bytes.data(), in.end}, {b.newlines.data(), b.dashes.data()});
	std::size_t words = bitmap_words(in.end);
	b.newlines[words] = b.dashes[words] = 0;
	// So that process sees no line end or start past the bytes.
	std::fill_n(b.bytes.begin() + static_cast<std::ptrdiff_t>(in.end), 64, '\0');
}

std::int64_t rewrite_entry_lines(reader &in, std::string_view chunk, std::int64_t most, output &out)
{
	const char *end = in.view->bytes.data() + in.end;
	rewritten r = process({chunk.data(), static_cast<std::size_t>(end - chunk.data())}, chunk.size(), most, out);
	in.begin += r.bytes - chunk.size();
	return r.lines;
}

void start_ahead(reader &ahead, const reader &in)
{
	ahead.fd = in.fd;
	ahead.view = in.view;
	ahead.begin = in.begin;
	ahead.end = in.end;
	ahead.offset = in.offset;
	ahead.next_read = first_read_ahead;
	// A segment's look-ahead reads on past its end, but not past a read
	// that failed.
	ahead.limit = in.error != 0 ? in.limit : no_end;
	ahead.error = in.error;
	ahead.at_end = in.at_end && in.offset != in.limit;
}

void copy_if_unrewindable(reader &in)
{
	// A file, a block device or, for what reading it is worth, a folder
	// can be reread; not a file that says it is empty, as those in /proc
	// and /sys do, whose bytes are made anew at each read.
	struct stat status;
	if (fstat(in.fd, &status) != 0 ||
	    !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode) ||
	      (S_ISREG(status.st_mode) && status.st_size == 0)))
		return;
	in.in_turn = true;
#ifdef F_SETPIPE_SZ
	// A pipe that holds more takes fewer turns of its writer and us; 1 MiB
	// is the most an unprivileged process may ask for by default on Linux.
	if (S_ISFIFO(status.st_mode))
		fcntl(in.fd, F_SETPIPE_SZ, 1 << 20);
#endif
}
