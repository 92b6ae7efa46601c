// Makes reads of one file fail with EIO from a given offset on, for the
// end-to-end tests: loaded with LD_PRELOAD into the command, it stands
// in for pread, and reads at offsets through it.
//   VBLOCKS_FAULT_FILE    the file
//   VBLOCKS_FAULT_OFFSET  the first byte that cannot be read
//   VBLOCKS_FAULT_KIND    short: a read that reaches the byte returns
//                         the bytes before it; whole: it fails whole
//   VBLOCKS_FAULT_PASS    tally: from the start; emit: once the emit
//                         pass has begun, which reads the file's first
//                         byte a second time or writes the count line
//                         (the look at the first few bytes for a
//                         compressed file is no pass)
// It also makes writes to standard output take nothing:
//   VBLOCKS_FAULT_WRITE   once: the first returns 0; always: each does
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

std::atomic<int> starts{0};     // reads from the first byte
std::atomic<bool> wrote{false}; // the count line

const char *setting(const char *name)
{
	const char *value = std::getenv(name);
	return value != nullptr ? value : "";
}

bool faulty(int fd)
{
	struct stat file, named;
	return fstat(fd, &file) == 0 && stat(setting("VBLOCKS_FAULT_FILE"), &named) == 0 &&
	       file.st_dev == named.st_dev && file.st_ino == named.st_ino;
}

// How many of size bytes at offset may be read: all, some, or -1 when the
// read fails.
ssize_t readable(int fd, size_t size, off_t offset)
{
	if (!faulty(fd))
		return static_cast<ssize_t>(size);
	if (offset == 0 && size > 16)
		starts++;
	bool emit = starts > 1 || wrote;
	if (std::strcmp(setting("VBLOCKS_FAULT_PASS"), "emit") == 0 && !emit)
		return static_cast<ssize_t>(size);
	off_t bad = std::atoll(setting("VBLOCKS_FAULT_OFFSET"));
	if (offset + static_cast<off_t>(size) <= bad)
		return static_cast<ssize_t>(size);
	if (offset < bad && std::strcmp(setting("VBLOCKS_FAULT_KIND"), "short") == 0)
		return bad - offset;
	return -1;
}

template <typename F> F next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t pread(int fd, void *bytes, size_t size, off_t offset)
{
	static auto real = next<ssize_t (*)(int, void *, size_t, off_t)>("pread");
	ssize_t n = readable(fd, size, offset);
	if (n < 0) {
		errno = EIO;
		return -1;
	}
	return real(fd, bytes, static_cast<size_t>(n), offset);
}

extern "C" ssize_t pread64(int fd, void *bytes, size_t size, off_t offset)
{
	return pread(fd, bytes, size, offset);
}

extern "C" ssize_t write(int fd, const void *bytes, size_t size)
{
	static auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
	// The count line begins a write to standard output; a diagnostic
	// there, in one file with the listing, never begins with a digit.
	const char *text = static_cast<const char *>(bytes);
	if (fd == STDOUT_FILENO && size > 0 && text[0] >= '0' && text[0] <= '9')
		wrote = true;
	static std::atomic<int> writes{0};
	const char *nothing = setting("VBLOCKS_FAULT_WRITE");
	if (fd == STDOUT_FILENO && size > 0 &&
	    (std::strcmp(nothing, "always") == 0 || (std::strcmp(nothing, "once") == 0 && writes++ == 0)))
		return 0;
	return real(fd, bytes, size);
}
