#include "driver/run.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

#include "input/platform.h"

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
		c.workers = make_pool(c.threads, pieces_per_thread, write_stream);
	return c.workers.get();
}

} // namespace

void tally(conversion &c, output &out, output &err)
{
	// Input that is compressed, or cannot be reread, is read in turn as
	// it is copied.
	if (copy_needed(c.copied, c.path)) {
		c.pass.source = &c.copied;
		c.pass.in_turn = true;
	}
	c.before = stamp_of(c.fd);
	try {
		// A file is tallied in segments, and so is the copy of what cannot
		// be reread, as it is made, however long it turns out to be.
		if (pool *p = workers_for(c, c.pass.in_turn ? no_end : c.before.size)) {
			c.tallied = run_segments(*p, c.tally, {c.pass, c.ahead, out, err}, c.fd, c.before.size);
		} else {
			run_pass(c.tally, {c.pass, c.ahead, out, err});
			c.tallied = c.pass.offset;
		}
	} catch (const run_failed &) {
		// A listing that breaks in a compressed file may be corrupt data
		// that the stream's own checks find further on: they name it.
		if (const char *reason = corrupt_data(c.copied))
			fail("Could not read file %s: %s\n", c.path, reason);
		throw;
	}
	finish(c.tally);
	flush(err);
}

void emit(conversion &c, output &out, output &err)
{
	put_count_line(out, variables_of(c.tally.at.index));
	emit_pass p{&c.tally.counts, c.tally.at.index, c.path, {}, {}};
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
	pool *workers = !again && (c.before.size > 0 || copied) ? workers_for(c, c.tallied) : nullptr;
	if (workers != nullptr) {
		read = run_segments(*workers, p, {c.pass, c.ahead, out, err}, source, c.tallied);
	} else {
		run_pass(p, {c.pass, c.ahead, out, err});
		read = c.pass.offset;
	}
	finish(p);
	if (read != c.tallied || !same(c.before, stamp_of(c.fd)))
		fail_changed(c.path);
	if (c.copied.fd >= 0)
		close(c.copied.fd);
	flush(err);
	flush(out);
}

void convert(std::FILE *in, const char *path, output &out, output &err, int threads)
{
	// On the heap, so that the stack never grows past what the system
	// gives it at the start: under a limit on address space, a stack that
	// cannot grow is a crash.
	std::unique_ptr<conversion> c(new (std::nothrow) conversion{fileno(in), path, threads});
	if (!c)
		fail("Could not read file %s: %s\n", path, std::strerror(ENOMEM));
	tally(*c, out, err);
	emit(*c, out, err);
}

int end_failed(const run_failed &f, output &out, output &err)
{
	// Where err is out, it holds nothing more once its bytes are written.
	write_all(err.fd, ready(err));
	err.used = 0;
	write_all(err.fd, f.line());
	write_all(out.fd, ready(out));
	return 6;
}
