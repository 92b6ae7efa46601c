#include "driver/convert.h"

#include <cstdint>
#include <sys/stat.h>

#include "driver/diagnostics.h"
#include "driver/passes.h"
#include "driver/reader.h"
#include "driver/segments.h"

namespace {

// When the file was last changed: the build names the field, which is
// st_mtim in POSIX and st_mtimespec on macOS.
timespec modified(const struct stat &status)
{
	return status.VBLOCKS_MTIME;
}

stamp stamp_of(std::FILE *stream)
{
	struct stat status;
	if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode))
		return {false, 0, {}};
	return {true, status.st_size, modified(status)};
}

bool same(const stamp &a, const stamp &b)
{
	return a.known == b.known && a.size == b.size && a.modified.tv_sec == b.modified.tv_sec &&
	       a.modified.tv_nsec == b.modified.tv_nsec;
}

// Whether bytes of input are worth reading in segments on threads.
bool worth_segments(const conversion &c, std::int64_t bytes)
{
	return c.threads > 1 && bytes > segment_size;
}

// A file that says how long it is (files in /proc say nothing).
bool in_segments(const conversion &c)
{
	return c.before.known && worth_segments(c, c.before.size);
}

} // namespace

void tally(conversion &c)
{
	std::setvbuf(c.in, nullptr, _IONBF, 0);
	copy_if_unrewindable(c.pass);
	c.before = stamp_of(c.in);
	// A file is read in segments on several threads. What cannot be
	// reread is tallied in turn as it is copied, and its copy rewritten
	// in segments.
	if (in_segments(c)) {
		c.tallied = c.before.size;
		tally_segments(fileno(c.in), c.tallied, c.threads, c.pass, c.tally);
	} else {
		tally_lines(c.pass, c.tally);
		c.tallied = c.pass.offset;
	}
	flush_diagnostics();
}

void emit(conversion &c, output &out)
{
	put_count_line(out, c.tally.index > 0 ? c.tally.index : 1);
	emit_state state{&c.tally.counts, c.tally.index};
	if (in_segments(c)) {
		emit_segments(fileno(c.in), c.tallied, c.threads, c.pass, c.ahead, state, out);
	} else {
		start_over(c.pass);
		if (c.pass.stream != c.in)
			c.copy = c.pass.stream;
		if (c.copy != nullptr && worth_segments(c, c.tallied)) {
			emit_segments(fileno(c.copy), c.tallied, c.threads, c.pass, c.ahead, state, out);
		} else {
			emit_lines(c.pass, c.ahead, state, out);
			if (c.pass.offset != c.tallied)
				fail_changed(c.path);
		}
	}
	finish_emit(c.path, state);
	if (!same(c.before, stamp_of(c.in)))
		fail_changed(c.path);
	if (c.copy != nullptr)
		std::fclose(c.copy);
	flush_diagnostics();
	flush(out);
}

void convert(std::FILE *in, const char *path, output &out, int threads)
{
	conversion c{in, path, threads};
	tally(c);
	emit(c, out);
}
