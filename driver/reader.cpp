#include "driver/reader.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/diagnostics.h"

namespace {

void seek(reader &in, std::int64_t offset)
{
	if (std::fseek(in.stream, static_cast<long>(offset), SEEK_SET) != 0)
		fail("Could not rewind file %s\n", in.path);
}

// Ends the run with the reason that errno gives.
[[noreturn]] void fail_to_copy(const reader &in)
{
	fail("Could not copy file %s to a temporary file: %s\n", in.path, std::strerror(errno));
}

// A file that no other user can open or name: one with no name at all
// where the system and the file system can make one (Linux), else one
// unlinked at once. errno tells why there is none.
int temporary_file()
{
	const char *folder = std::getenv("TMPDIR");
	if (folder == nullptr || *folder == '\0')
		folder = "/tmp";
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

} // namespace

ssize_t read_at(int fd, char *bytes, std::size_t size, std::int64_t offset)
{
	ssize_t n;
	do
		n = pread(fd, bytes, size, static_cast<off_t>(offset));
	while (n < 0 && errno == EINTR);
	return n;
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
	std::size_t got = 0;
	bool failed = false;
	if (in.fd >= 0) {
		ssize_t n = read_at(in.fd, b.bytes.data() + kept, want, in.offset);
		failed = n < 0;
		got = failed ? 0 : static_cast<std::size_t>(n);
		in.at_end = got == 0 || in.offset + static_cast<std::int64_t>(got) == in.limit;
	} else {
		got = std::fread(b.bytes.data() + kept, 1, want, in.stream);
		failed = std::ferror(in.stream) != 0;
		in.at_end = std::feof(in.stream) != 0;
	}
	if (failed && !in.quiet)
		fail("Could not read file %s: %s\n", in.path, std::strerror(errno));
	in.failed |= failed;
	in.at_end |= failed;
	if (in.copy >= 0 && !write_all(in.copy, {b.bytes.data() + kept, got}))
		fail_to_copy(in);
	in.end = kept + got;
	in.offset += static_cast<std::int64_t>(got);
	map_bytes({b.bytes.data(), in.end}, {b.newlines.data(), b.dashes.data()});
	std::size_t words = bitmap_words(in.end);
	b.newlines[words] = b.dashes[words] = 0;
	// So that process sees no line end or start past the bytes.
	std::fill_n(b.bytes.begin() + static_cast<std::ptrdiff_t>(in.end), 64, '\0');
}

namespace {

// Counts the run for count_entry_lines: each newline ends an entry line,
// and the line after it is counted too if it begins with a minus sign.
// Inlined into a plain and a popcnt build of itself.
[[gnu::always_inline]] inline std::int64_t count_run(reader &in)
{
	const buffer &b = *in.view;
	std::size_t line = in.begin; // where the next line to be counted begins
	if (line == in.end || b.bytes[line] != '-')
		return 0;
	std::int64_t counted = 0;
	std::size_t last = bitmap_words(in.end) - 1;
	std::size_t w = line / 64;
	std::uint64_t newlines = b.newlines[w] & ~bits_below(line % 64);
	for (;;) {
		// A line of max_chunk characters or more is cut into chunks.
		std::size_t first = w * 64 + static_cast<std::size_t>(std::countr_zero(newlines));
		if (first - line >= max_chunk)
			break;
		if (newlines != 0) {
			// The maps hold nothing past the buffered bytes, so the last
			// of them, if a newline, stops the run too.
			std::uint64_t dash_after = b.dashes[w] >> 1 | b.dashes[w + 1] << 63;
			std::uint64_t stops = newlines & ~dash_after;
			std::uint64_t ends = stops != 0 ? newlines & (stops ^ (stops - 1)) : newlines;
			counted += std::popcount(ends);
			line = w * 64 + 64 - static_cast<std::size_t>(std::countl_zero(ends));
			if (stops != 0)
				break;
		}
		if (w == last)
			break;
		newlines = b.newlines[++w];
	}
	in.begin = line;
	return counted;
}

std::int64_t count_run_plain(reader &in)
{
	return count_run(in);
}

#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
// Without it, a population count is a call into the compiler's library.
[[gnu::target("popcnt")]] std::int64_t count_run_popcnt(reader &in)
{
	return count_run(in);
}
#endif

} // namespace

std::int64_t count_entry_lines(reader &in)
{
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	static const bool hardware = [] {
		__builtin_cpu_init();
		return __builtin_cpu_supports("popcnt") != 0;
	}();
	if (hardware)
		return count_run_popcnt(in);
#endif
	return count_run_plain(in);
}

std::int64_t rewrite_entry_lines(reader &in, std::string_view chunk, std::int64_t most, output &out)
{
	const char *end = in.view->bytes.data() + in.end;
	rewritten r = process({chunk.data(), static_cast<std::size_t>(end - chunk.data())}, chunk.size(), most, out);
	in.begin += r.bytes - chunk.size();
	return r.lines;
}

void copy_if_unrewindable(reader &in)
{
	// A stream with no file descriptor lives in memory and can be reread,
	// and so can a file, a block device or, for what reading it is worth,
	// a folder.
	struct stat status;
	if (fstat(fileno(in.stream), &status) != 0 ||
	    !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode)))
		return;
	in.copy = temporary_file();
	if (in.copy < 0)
		fail_to_copy(in);
#ifdef F_SETPIPE_SZ
	// A pipe that holds more takes fewer turns of its writer and us; 1 MiB
	// is the most an unprivileged process may ask for by default on Linux.
	if (S_ISFIFO(status.st_mode))
		fcntl(fileno(in.stream), F_SETPIPE_SZ, 1 << 20);
#endif
}

void start_over(reader &in)
{
	if (in.copy >= 0) {
		std::FILE *copy = fdopen(in.copy, "r");
		if (copy == nullptr)
			fail_to_copy(in);
		std::setvbuf(copy, nullptr, _IONBF, 0);
		in.stream = copy;
		in.copy = -1;
	}
	seek(in, 0);
	in.view = in.own;
	in.begin = in.end = 0;
	in.offset = 0;
	in.at_end = false;
}

void start_ahead(reader &ahead, const reader &in)
{
	ahead.stream = in.stream;
	ahead.view = in.view;
	ahead.begin = in.begin;
	ahead.end = in.end;
	ahead.offset = in.offset;
	ahead.next_read = first_read_ahead;
	// A segment's look-ahead reads on past its end.
	ahead.fd = in.fd;
	ahead.quiet = in.quiet;
	ahead.limit = no_end;
	ahead.at_end = in.at_end && in.offset != in.limit;
}

void end_ahead(reader &ahead, const reader &in)
{
	if (ahead.fd < 0 && ahead.offset != in.offset)
		seek(ahead, in.offset);
}
