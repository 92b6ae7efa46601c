#include "driver/convert.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

#include "driver/diagnostics.h"
#include "driver/platform.h"
#include "driver/segments.h"

namespace {

stamp stamp_of(int fd)
{
	file_status status = status_of(fd);
	if (!status.regular)
		return {false, 0, 0};
	return {true, status.size, status.modified};
}

bool same(const stamp &a, const stamp &b)
{
	return a.known == b.known && a.size == b.size && a.modified == b.modified;
}

// The workers for bytes of input, if they are worth reading in segments
// on threads; nothing when they are not, or there is not the memory for
// workers.
pool *workers_for(conversion &c, std::int64_t bytes)
{
	if (c.threads == 1 || bytes <= segment_size)
		return nullptr;
	if (!c.workers)
		c.workers = make_pool(c.threads);
	return c.workers.get();
}

// Has the tally pass read input that is compressed, or cannot be reread,
// in turn as it copies it.
void read_in_turn_if_needed(conversion &c)
{
	if (copy_needed(c.copied, c.path)) {
		c.pass.source = &c.copied;
		c.pass.in_turn = true;
	}
}

} // namespace

void tally(conversion &c)
{
	read_in_turn_if_needed(c);
	c.before = stamp_of(c.fd);
	// A file is tallied in segments, and so is the copy of what cannot be
	// reread, as it is made, however long it turns out to be.
	if (pool *p = workers_for(c, c.pass.in_turn ? no_end : c.before.size)) {
		c.tallied = tally_segments(*p, c.fd, c.before.size, c.pass, c.ahead, c.tally);
	} else {
		tally_lines(c.pass, c.tally, calling_thread());
		c.tallied = c.pass.offset;
	}
	finish_tally(c.tally);
	flush_diagnostics(calling_thread());
}

void emit(conversion &c, output &out)
{
	lane &l = calling_thread();
	put_count_line(out, c.tally.at.index > 0 ? c.tally.at.index : 1);
	emit_state state{&c.tally.counts, c.tally.at.index, {}};
	// What was read in turn is read again from its copy, which holds no
	// more: none at all when there was nothing to copy. A compressed file
	// whose copy could not be written is decompressed again.
	bool copied = c.copied.fd >= 0 && !c.copied.dropped;
	bool again = c.copied.dropped;
	int source = copied ? c.copied.fd : c.fd;
	c.pass = segment_reader(c.pass, source, &c.pass_buffer, 0, c.pass.in_turn ? c.tallied : no_end, 0);
	if (again) {
		c.pass.in_turn = c.ahead.in_turn = true;
		c.ahead_copy.compressed = c.copied.compressed;
		c.ahead.source = &c.ahead_copy;
	}
	std::int64_t read = 0;
	pool *p = !again && (c.before.size > 0 || copied) ? workers_for(c, c.tallied) : nullptr;
	if (p != nullptr) {
		read = emit_segments(*p, source, c.tallied, c.pass, c.ahead, state, out);
	} else {
		emit_lines(c.pass, c.ahead, state, out, l);
		read = c.pass.offset;
	}
	finish_emit(state, c.path, l);
	if (read != c.tallied || !same(c.before, stamp_of(c.fd)))
		fail_changed(l, c.path);
	if (c.copied.fd >= 0)
		close(c.copied.fd);
	flush_diagnostics(l);
	flush(out, l);
}

void convert(std::FILE *in, const char *path, output &out, int threads)
{
	// On the heap, so that the stack never grows past what the system
	// gives it at the start: under a limit on address space, a stack that
	// cannot grow is a crash.
	std::unique_ptr<conversion> c(new (std::nothrow) conversion{fileno(in), path, threads});
	if (!c)
		fail(calling_thread(), "Could not read file %s: %s\n", path, std::strerror(ENOMEM));
	tally(*c);
	emit(*c, out);
}
