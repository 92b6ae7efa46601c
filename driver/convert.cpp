#include "driver/convert.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "driver/diagnostics.h"
#include "driver/passes.h"
#include "driver/reader.h"
#include "driver/segments.h"

namespace {

// What shows that a regular file changed between two looks at it.
struct stamp {
	bool known; // false for what is not a regular file
	off_t size;
	timespec modified;
};

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

} // namespace

void convert(std::FILE *in, const char *path, output &out, int threads)
{
	buffer pass_buffer;
	buffer ahead_buffer;
	reader pass{in, path, &pass_buffer};
	reader ahead{in, path, &ahead_buffer};
	tally_state tally;

	std::setvbuf(in, nullptr, _IONBF, 0);
	copy_if_unrewindable(pass);
	stamp before = stamp_of(in);
	// A file is read in segments on several threads. What cannot be
	// reread is tallied in turn as it is copied, and its copy rewritten
	// in segments.
	bool file_in_segments = threads > 1 && before.known;
	std::int64_t tallied = before.size;
	if (file_in_segments) {
		tally_segments(fileno(in), tallied, threads, pass, tally);
	} else {
		tally_lines(pass, tally);
		tallied = pass.offset;
	}
	flush_diagnostics();
	put_count_line(out, tally.index > 0 ? tally.index : 1);
	emit_state state{&tally.counts, tally.index};
	std::FILE *copy = nullptr;
	if (file_in_segments) {
		emit_segments(fileno(in), tallied, threads, pass, ahead, state, out);
	} else {
		start_over(pass);
		if (pass.stream != in)
			copy = pass.stream;
		if (threads > 1 && copy != nullptr) {
			emit_segments(fileno(copy), tallied, threads, pass, ahead, state, out);
		} else {
			emit_lines(pass, ahead, state, out);
			if (pass.offset != tallied)
				fail_changed(path);
		}
	}
	finish_emit(path, state);
	if (!same(before, stamp_of(in)))
		fail_changed(path);
	if (copy != nullptr)
		std::fclose(copy);
	flush_diagnostics();
	flush(out);
}
