#include "input/platform.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

namespace {

// A call again, for as long as a signal breaks in before it does anything.
template <typename Call> ssize_t retried(const Call &call)
{
	ssize_t n;
	do
		n = call();
	while (n < 0 && errno == EINTR);
	return n;
}

// When the file was last changed: the build names the field, which is
// st_mtim in POSIX and st_mtimespec on macOS.
std::int64_t modified(const struct stat &status)
{
	return std::int64_t{status.VBLOCKS_MTIME.tv_sec} * 1000000000 + status.VBLOCKS_MTIME.tv_nsec;
}

} // namespace

file_status status_of(int fd)
{
	struct stat status;
	if (fstat(fd, &status) != 0)
		return {false, false, 0, 0};
	bool regular = S_ISREG(status.st_mode);
	bool stream = S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode);
	return {regular, stream, status.st_size, regular ? modified(status) : 0};
}

ssize_t read_at_once(int fd, char *bytes, std::size_t size, std::int64_t offset)
{
	return retried([&] { return pread(fd, bytes, size, static_cast<off_t>(offset)); });
}

ssize_t read_once(int fd, char *bytes, std::size_t size)
{
	return retried([&] { return read(fd, bytes, size); });
}

ssize_t write_once(int fd, const char *bytes, std::size_t size)
{
	return retried([&] { return write(fd, bytes, size); });
}

bool same_file(int a, int b)
{
	struct stat first;
	struct stat second;
	return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
	       first.st_ino == second.st_ino && (!S_ISCHR(first.st_mode) || isatty(a) != 0);
}

ssize_t write_at_once(int fd, const char *bytes, std::size_t size, std::int64_t offset)
{
	return retried([&] { return pwrite(fd, bytes, size, static_cast<off_t>(offset)); });
}

void widen_pipe([[maybe_unused]] int fd)
{
#ifdef F_SETPIPE_SZ
	// 1 MiB is the most an unprivileged process may ask for by default on
	// Linux; a pipe that holds more already is left as it is.
	constexpr int wide = 1 << 20;
	int size = fcntl(fd, F_GETPIPE_SZ);
	if (size >= 0 && size < wide)
		fcntl(fd, F_SETPIPE_SZ, wide);
#endif
}

const char *temporary_folder()
{
	const char *folder = std::getenv("TMPDIR");
	return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

// One with no name at all where the system and the file system can make
// one (Linux), else one unlinked at once.
int temporary_file(const char *folder)
{
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

void large_pages([[maybe_unused]] char *bytes, [[maybe_unused]] std::size_t size)
{
#ifdef MADV_HUGEPAGE
	// Where large pages are given only when asked for, as Linux's default.
	madvise(bytes, size, MADV_HUGEPAGE);
#endif
}

int available_processors()
{
#ifdef __linux__
	cpu_set_t set;
	if (sched_getaffinity(0, sizeof set, &set) == 0)
		return CPU_COUNT(&set);
#endif
	return static_cast<int>(std::thread::hardware_concurrency());
}

char **utf8_arguments(int /*argc*/, char **argv)
{
	return argv;
}

std::FILE *open_input(const char *path)
{
	return std::fopen(path, "r");
}

void prepare_standard_streams()
{
	// A closed one is opened on the null device the other way round, so
	// that its use fails as on any descriptor it cannot serve, and no file
	// the command opens later takes its number.
	for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
		if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
			continue;
		int null = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
		if (null >= 0 && null != fd) {
			dup2(null, fd);
			close(null);
		}
	}
}
