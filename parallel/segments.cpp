#include "parallel/segments.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "input/platform.h"
#include <unistd.h>

namespace {

std::int64_t redone = 0;

// Where a segment's bytes lie. A read that fails while they are looked
// for ends them there, with error set to why.
struct bounds {
	std::int64_t from = 0;
	std::int64_t to = 0;
	int error = 0;
};

// The first line start at or after at: just past the first newline from
// at - 1 on; cap when there is none before it; the end of the file when
// that comes first; where a read fails, with error set to why.
std::int64_t line_start(int fd, std::int64_t at, std::int64_t cap, int &error)
{
	if (at == 0)
		return 0;
	std::array<char, 4096> bytes;
	for (std::int64_t from = at - 1; from < cap - 1;) {
		auto want = static_cast<std::size_t>(std::min<std::int64_t>(cap - 1 - from, bytes.size()));
		ssize_t n = read_at(fd, bytes.data(), want, from);
		if (n < 0)
			error = errno;
		if (n <= 0)
			return from;
		if (const void *newline = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(n)))
			return from + (static_cast<const char *>(newline) - bytes.data()) + 1;
		from += n;
	}
	return cap;
}

// Segment k of segments. Both of its ends come from the same search, so
// that segments never overlap or leave a gap, whatever the file does.
bounds bound(int fd, std::int64_t segments, std::int64_t k)
{
	bounds b;
	bool last = k + 1 == segments;
	std::int64_t share_end = last ? no_end : (k + 1) * segment_size;
	b.from = line_start(fd, k * segment_size, share_end, b.error);
	if (b.error != 0 || b.from >= share_end)
		b.to = b.from;
	else
		b.to = last ? no_end : line_start(fd, share_end, no_end, b.error);
	return b;
}

// A segment as its worker leaves it for the joiner.
template <typename Pass> struct slot {
	bounds b;
	Pass pass;                         // where the worker's pass stands; its seam
	std::size_t lead_pieces = 0;       // handed in before the seam
	std::optional<run_failed> failure; // why its pass ended the run, after its pieces
	bool redo = false;                 // what it found cannot be taken as it is
	std::int64_t end = 0;              // where its reading ended
};

struct redo_segment {};

// The most entry lines that may stand before a segment's first header.
std::int64_t lead_in_room(const tally_pass & /*p*/)
{
	return no_limit;
}

std::int64_t lead_in_room(const emit_pass &p)
{
	return room_left(*p.counts, p.at);
}

// Takes the pass as a worker ended it, from where it knew where it stood.
void take_state(tally_pass &p, const tally_pass &ended)
{
	p.at = ended.at;
	for (std::size_t v = 0; v < p.counts.size(); v++)
		p.counts[v] += ended.counts[v];
}

void take_state(emit_pass &p, const emit_pass &ended)
{
	p.at = ended.at;
}

// What the workers share with the calling thread during a pass.
template <typename Pass> struct shared {
	pool &workers;
	writer &w;
	Pass &joined; // the calling thread's: where the pass stands
	const Pass fresh;
	const reader like; // what the workers read like
	int fd;
	const output &out; // the calling thread's, whose streams the workers write
	const output &err;
	std::vector<slot<Pass>> slots;
	// The input: the file, or the copy the calling thread makes, which
	// has a file descriptor once it has bytes.
	int input() const
	{
		return like.in_turn ? like.source->fd : fd;
	}
	slot<Pass> &at(std::int64_t k)
	{
		return slots[static_cast<std::size_t>(k) % slots.size()];
	}
};

// A worker's segment as it writes it: the pieces its buffers stand in.
template <typename Pass> struct job {
	shared<Pass> &sh;
	std::int64_t k;
	slot<Pass> &s;
	std::array<piece *, 2> held{};
	std::array<output, 2> buffers;
	std::size_t handed = 0;
	bool asked = false;
};

// In its segment's turn, before its first header, a worker holds what it
// has found to the rules where the pass stands, as the joiner would, and
// goes on from there.
template <typename Pass> void join_in_turn(job<Pass> &j)
{
	std::int64_t lead = j.s.pass.at.entries;
	if (lead > lead_in_room(j.sh.joined))
		throw redo_segment{};
	j.sh.joined.at.entries += lead;
	j.s.pass.at = j.sh.joined.at;
	mark(j.sh.w, j.k, &segment_queue::opened);
}

// Asks for the segment to be opened once its seam is kept: the pieces
// handed in before are what came before the first header.
template <typename Pass> void ask_once_seamed(job<Pass> &j)
{
	if (j.s.pass.s.header && !j.asked) {
		j.s.lead_pieces = j.handed;
		j.asked = true;
		mark(j.sh.w, j.k, &segment_queue::asked);
	}
}

template <typename Pass> void hand_in(job<Pass> &j, std::size_t i)
{
	ask_once_seamed(j);
	piece *&p = j.held[i];
	if (p == nullptr)
		return;
	p->size = ready(j.buffers[i]).size();
	p->fd = j.buffers[i].fd;
	j.handed += p->size > 0;
	hand_piece(j.sh.w, j.k, p);
	p = nullptr;
}

// Empties buffer i into the writer, and puts a fresh piece in its place.
template <typename Pass> void take_fresh(job<Pass> &j, std::size_t i)
{
	hand_in(j, i);
	piece *p;
	while ((p = take_piece(j.sh.w, j.k)) == nullptr)
		join_in_turn(j);
	j.held[i] = p;
	j.buffers[i].bytes = {p->bytes, j.sh.w.piece_size};
}

// Runs a worker's pass over segment k, from fresh.
template <typename Pass> void work(shared<Pass> &sh, std::int64_t k, int n)
{
	slot<Pass> &s = sh.at(k);
	worker_buffers &own = *sh.workers.workers[static_cast<std::size_t>(n)];
	input_end known = known_end(sh.w);
	int input = sh.input();
	s = {};
	s.b = bound(input, known.segments, k);
	s.pass = sh.fresh;
	// A copy made as the pass reads ends where it is known to, for good,
	// and a segment that reaches its end ends short where the copy does.
	if (sh.like.in_turn && s.b.to >= known.size) {
		s.b.to = known.size;
		s.b.error = s.b.error != 0 ? s.b.error : known.error;
	}
	reader in = segment_reader(sh.like, input, &own.pass, s.b.from, s.b.to, s.b.error);
	reader ahead{input, sh.like.path, &own.ahead};
	job<Pass> j{sh, k, s, {}, {}};
	for (std::size_t i = 0; i < 2; i++) {
		j.buffers[i].fd = (i == 0 ? sh.out : sh.err).fd;
		j.buffers[i].empty = [&j, i](output &) { take_fresh(j, i); };
	}
	// Where the calling thread writes both streams into one buffer, so
	// does the worker.
	output &err = j.buffers[sh.err.fd == sh.out.fd ? 0 : 1];
	try {
		run_pass(s.pass, in, ahead, j.buffers[0], err);
	} catch (const run_failed &f) {
		s.failure = f;
	} catch (const redo_segment &) {
		s.redo = true;
	} catch (const stop_segment &) {
	}
	s.end = in.offset;
	hand_in(j, 0);
	hand_in(j, 1);
	mark(sh.w, k, &segment_queue::ended);
}

// Writes segment k after all before it, and takes what its worker found
// into where the pass stands; false, writing nothing of it, when that
// cannot be taken as it is.
template <typename Pass> bool join(shared<Pass> &sh, std::int64_t k, bool opened, const char *path)
{
	slot<Pass> &s = sh.at(k);
	Pass &p = sh.joined;
	if (!opened) {
		std::int64_t lead = s.pass.s.header ? s.pass.s.lead_in : s.pass.at.entries;
		if (s.redo || lead > lead_in_room(p))
			return false;
		p.at.entries += lead;
		if (s.pass.s.header) {
			write_pieces(sh.w, k, s.lead_pieces);
			cross_header(p, s.pass.s.first, path);
		}
		mark(sh.w, k, &segment_queue::opened);
	}
	write_segment(sh.w, k);
	if (s.failure)
		throw *s.failure;
	if (s.pass.at.index != unknown)
		take_state(p, s.pass);
	return true;
}

// Copies a read's worth of input into b, and hands the workers each
// segment that the copy now holds with the line start that ends it;
// false once the input has ended, and with it the segments.
bool grow(copy &c, buffer &b, writer &w, std::int64_t &ready)
{
	std::size_t n = copy_more(c, b.bytes.data(), read_size);
	if (n == 0 || c.error != 0 || c.dropped) {
		std::int64_t segments = c.length / segment_size + 1;
		publish(w, segments, segments, c.length, c.dropped ? copy_dropped : c.error);
		return false;
	}
	std::int64_t start = c.length - static_cast<std::int64_t>(n);
	std::int64_t before = ready;
	// A segment ends at the first line start at or after its share's end.
	for (std::int64_t from; (from = std::max((ready + 1) * segment_size - 1, start)) < c.length; ready++) {
		auto at = static_cast<std::size_t>(from - start);
		if (std::memchr(b.bytes.data() + at, '\n', n - at) == nullptr)
			break;
	}
	if (ready != before)
		publish(w, ready, no_end, no_end, 0);
	return true;
}

template <typename Pass>
std::int64_t run(pool &workers, Pass &p, const Pass &fresh, reader &pass, reader &ahead, output &out, output &err,
		 int fd, std::int64_t size)
{
	copy *growing = pass.in_turn ? pass.source : nullptr;
	writer &w = *workers.pieces;
	// What the calling thread holds, the count line, goes out first.
	flush(out);
	flush(err);
	std::int64_t segments = growing ? no_end : (size + segment_size - 1) / segment_size;
	restart(w, segments, growing ? 0 : segments, growing ? no_end : size);
	shared<Pass> sh{workers, w, p, fresh, pass, fd, out, err, std::vector<slot<Pass>>(w.queues.size())};
	std::vector<std::thread> threads;
	// A thread that cannot be started, for want of memory or of threads,
	// leaves the work to the others.
	try {
		for (std::size_t n = 0; n < workers.workers.size(); n++) {
			threads.emplace_back([&sh, n] {
				try {
					for (std::int64_t k; (k = take_segment(sh.w)) >= 0;)
						work(sh, k, static_cast<int>(n));
				} catch (const writer_stopped &) {
				}
			});
		}
	} catch (const std::bad_alloc &) {
	} catch (const std::system_error &) {
	}
	auto stop = [&] {
		stop_writer(w);
		for (std::thread &t : threads)
			t.join();
	};
	std::int64_t ready = 0;
	std::function<bool()> make_more;
	if (growing)
		make_more = [&] { return grow(*growing, *pass.own, w, ready); };
	std::int64_t end = 0;
	try {
		if (threads.empty()) {
			// Without the threads for workers, the calling thread runs
			// the pass alone.
			run_pass(p, pass, ahead, out, err);
			end = pass.offset;
		}
		// Only this thread changes how many segments there are.
		for (std::int64_t k = 0; !threads.empty() && k < known_end(w).segments; k++) {
			bool opened = await(w, k, make_more);
			slot<Pass> &s = sh.at(k);
			if (s.b.error == copy_dropped) {
				// A compressed file whose copy ends short: the calling
				// thread reads the rest itself, decompressed again, and
				// the pass ends with it.
				drop_segment(w, k);
				pass = segment_reader(pass, fd, pass.own, s.b.from, no_end, 0);
				pass.in_turn = true;
				run_pass(p, pass, ahead, out, err);
				end = pass.offset;
				break;
			}
			if (!join(sh, k, opened, pass.path)) {
				// The lines before the segment's first header do not fit
				// in their block: the listing changed since the tally.
				// Done again where the pass stands, the segment stops
				// where one thread stops, or, if it now fits, the listing
				// is changing as it is read.
				redone++;
				drop_segment(w, k);
				pass = segment_reader(pass, sh.input(), pass.own, s.b.from, s.b.to, s.b.error);
				run_pass(p, pass, ahead, out, err);
				fail_changed(pass.path);
			}
			// Read before the slot is free for a later segment.
			end = s.end;
			done_segment(w, k);
		}
	} catch (...) {
		stop();
		throw;
	}
	stop();
	return end;
}

} // namespace

std::unique_ptr<pool> make_pool(int threads, std::size_t pieces, std::function<void(int, std::string_view)> write)
{
	try {
		auto p = std::make_unique<pool>();
		for (int n = 0; n < threads; n++)
			p->workers.push_back(std::make_unique<worker_buffers>());
		auto n = static_cast<std::size_t>(threads);
		std::size_t size = (pieces * n + pieces_kept) * piece_size;
		p->memory = allocate_pages(size);
		if (p->memory)
			p->pieces = make_writer({p->memory.get(), size}, piece_size, n + 1, std::move(write));
		return p->pieces ? std::move(p) : nullptr;
	} catch (const std::bad_alloc &) {
		return nullptr;
	}
}

std::int64_t run_segments(pool &workers, tally_pass &p, reader &pass, reader &ahead, output &out, output &err, int fd,
			  std::int64_t size)
{
	tally_pass fresh;
	fresh.at.index = unknown;
	return run(workers, p, fresh, pass, ahead, out, err, fd, size);
}

std::int64_t run_segments(pool &workers, emit_pass &p, reader &pass, reader &ahead, output &out, output &err, int fd,
			  std::int64_t size)
{
	const emit_pass fresh{p.counts, p.headers, {-1, unknown, 0}, {}};
	return run(workers, p, fresh, pass, ahead, out, err, fd, size);
}

std::int64_t segments_redone()
{
	return redone;
}
