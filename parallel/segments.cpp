#include "parallel/segments.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "input/platform.h"

namespace {

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

// Segment k of segments of length bytes. Both of its ends come from the
// same search, so that segments never overlap or leave a gap, whatever
// the file does.
bounds bound(int fd, std::int64_t length, std::int64_t segments, std::int64_t k)
{
	bounds b;
	bool last = k + 1 == segments;
	std::int64_t share_end = last ? no_end : (k + 1) * length;
	b.from = line_start(fd, k * length, share_end, b.error);
	if (b.error != 0 || b.from >= share_end)
		b.to = b.from;
	else
		b.to = last ? no_end : line_start(fd, share_end, no_end, b.error);
	return b;
}

// How much of the input has arrived, for the workers: a file all at
// once; a copy as the calling thread makes it, segment by segment.
struct arrival {
	std::mutex lock;
	std::condition_variable more;
	std::int64_t ready = 0;         // the segments whose bytes are all in
	std::int64_t segments = no_end; // how many, once known
	std::int64_t size = no_end;     // of the input, once known
	int error = 0;                  // why it ends short, if it does
	bool stop = false;
};

// The input's end as far as it is known.
struct input_end {
	std::int64_t size;
	std::int64_t segments;
	int error;
};

void tell(arrival &a, std::int64_t ready, std::int64_t segments, std::int64_t size, int error)
{
	{
		std::lock_guard hold(a.lock);
		a.ready = ready;
		a.segments = segments;
		a.size = size;
		a.error = error;
	}
	a.more.notify_all();
}

void stop_arrival(arrival &a)
{
	{
		std::lock_guard hold(a.lock);
		a.stop = true;
	}
	a.more.notify_all();
}

// Waits until segment k's bytes are in; nothing where there is no such
// segment, or the pass stops.
std::optional<input_end> await_bytes(arrival &a, std::int64_t k)
{
	std::unique_lock hold(a.lock);
	a.more.wait(hold, [&] { return a.stop || k >= a.segments || k < a.ready; });
	if (a.stop || k >= a.segments)
		return std::nullopt;
	return input_end{a.size, a.segments, a.error};
}

std::int64_t segments_known(arrival &a)
{
	std::lock_guard hold(a.lock);
	return a.segments;
}

// A segment as its worker leaves it for the writing thread.
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
	arrival &arrived;
	Pass &joined; // the calling thread's: where the pass stands
	const Pass fresh;
	const reader model; // the calling thread's reader as the pass began
	int fd;
	const output &out; // the calling thread's, whose streams the workers write
	const output &err;
	std::vector<slot<Pass>> slots;
	std::int64_t length; // of a segment
	// The input: the file, or the copy the calling thread makes, which
	// has a file descriptor once it has bytes.
	int input() const
	{
		return model.in_turn ? model.source->fd : fd;
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
	std::array<piece *, pieces_held> held{};
	std::array<output, pieces_held> buffers;
	std::size_t handed = 0;
	bool asked = false;
};

// In its segment's turn, before its first header, a worker holds what it
// has found to the rules where the pass stands, as the writing thread
// would, and goes on from there. It writes the calling thread's state:
// that thread waits in await_segment for this segment meanwhile, and
// reads the state only once it sees the segment open, under the lock
// that the change to open takes after these writes.
template <typename Pass> void join_in_turn(job<Pass> &j)
{
	std::int64_t lead = j.s.pass.at.entries;
	if (lead > lead_in_room(j.sh.joined))
		throw redo_segment{};
	j.sh.joined.at.entries += lead;
	j.s.pass.at = j.sh.joined.at;
	change_state(j.sh.w, j.k, segment_event::opened_in_turn);
}

// Asks for the segment to be opened once its seam is kept: the pieces
// handed in before are what came before the first header.
template <typename Pass> void ask_once_seamed(job<Pass> &j)
{
	if (j.s.pass.s.header && !j.asked) {
		j.s.lead_pieces = j.handed;
		j.asked = true;
		change_state(j.sh.w, j.k, segment_event::seam_kept);
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

// Where segment k's reading begins and ends: a copy made as the pass
// reads ends where it is known to, for good, and a segment that reaches
// its end ends short where the copy does.
template <typename Pass> bounds bounds_of(shared<Pass> &sh, std::int64_t k, const input_end &known)
{
	bounds b = bound(sh.input(), sh.length, known.segments, k);
	if (sh.model.in_turn && b.to >= known.size) {
		b.to = known.size;
		b.error = b.error != 0 ? b.error : known.error;
	}
	return b;
}

// Runs worker n's pass over segment k, from fresh, into pieces.
template <typename Pass> void run_worker(shared<Pass> &sh, std::int64_t k, int n, const input_end &known)
{
	slot<Pass> &s = sh.at(k);
	worker_buffers &own = *sh.workers.workers[static_cast<std::size_t>(n)];
	s = {};
	s.b = bounds_of(sh, k, known);
	s.pass = sh.fresh;
	reader in = segment_reader(sh.model, sh.input(), &own.pass, s.b.from, s.b.to, s.b.error);
	reader ahead{sh.input(), sh.model.path, &own.ahead};
	job<Pass> j{sh, k, s, {}, {}};
	for (std::size_t i = 0; i < pieces_held; i++) {
		j.buffers[i].fd = (i == 0 ? sh.out : sh.err).fd;
		j.buffers[i].empty = [&j, i](output &) { take_fresh(j, i); };
	}
	// Where the calling thread writes both streams into one buffer, so
	// does the worker.
	output &err = j.buffers[sh.err.fd == sh.out.fd ? 0 : 1];
	try {
		run_pass(s.pass, {in, ahead, j.buffers[0], err});
	} catch (const run_failed &f) {
		s.failure = f;
	} catch (const redo_segment &) {
		s.redo = true;
	} catch (const stop_segment &) {
	}
	s.end = in.offset;
	for (std::size_t i = 0; i < pieces_held; i++)
		hand_in(j, i);
	change_state(sh.w, k, segment_event::worker_ended);
}

// Writes segment k after all before it, and takes what its worker found
// into where the pass stands; false, writing nothing of it, when that
// cannot be taken as it is. Its worker may have opened it in its turn.
template <typename Pass> bool write_in_turn(shared<Pass> &sh, std::int64_t k, segment_state state)
{
	slot<Pass> &s = sh.at(k);
	Pass &p = sh.joined;
	if (state == segment_state::seamed || state == segment_state::finished) {
		std::int64_t lead = s.pass.s.header ? s.pass.s.lead_in : s.pass.at.entries;
		if (s.redo || lead > lead_in_room(p))
			return false;
		p.at.entries += lead;
		if (s.pass.s.header) {
			write_pieces(sh.w, k, s.lead_pieces);
			cross_header(p, s.pass.s.first);
		}
		change_state(sh.w, k, segment_event::opened);
	}
	write_segment(sh.w, k);
	if (s.failure)
		throw *s.failure;
	if (s.pass.at.index != unknown)
		take_state(p, s.pass);
	return true;
}

// Copies a read's worth of input into b, and tells the workers of each
// segment of length bytes that the copy now holds with the line start
// that ends it; false once the input has ended, and with it the segments.
bool copy_segments(copy &c, buffer &b, std::int64_t length, arrival &arrived, std::int64_t &ready)
{
	std::size_t n = copy_more(c, b.bytes.data(), read_size);
	if (n == 0 || c.error != 0 || c.dropped) {
		std::int64_t segments = c.length / length + 1;
		tell(arrived, segments, segments, c.length, c.dropped ? copy_dropped : c.error);
		return false;
	}
	std::int64_t start = c.length - static_cast<std::int64_t>(n);
	std::int64_t before = ready;
	// A segment ends at the first line start at or after its share's end.
	for (std::int64_t from; (from = std::max((ready + 1) * length - 1, start)) < c.length; ready++) {
		auto at = static_cast<std::size_t>(from - start);
		if (std::memchr(b.bytes.data() + at, '\n', n - at) == nullptr)
			break;
	}
	if (ready != before)
		tell(arrived, ready, no_end, no_end, 0);
	return true;
}

// The workers' threads, each taking segments until there are none; as
// many as can be started, for want of memory or of threads.
template <typename Pass> std::vector<std::thread> start_workers(shared<Pass> &sh)
{
	std::vector<std::thread> threads;
	try {
		for (std::size_t n = 0; n < sh.workers.workers.size(); n++) {
			threads.emplace_back([&sh, n] {
				try {
					for (std::int64_t k; (k = take_segment(sh.w)) >= 0;) {
						auto known = await_bytes(sh.arrived, k);
						if (!known)
							break;
						run_worker(sh, k, static_cast<int>(n), *known);
					}
				} catch (const writer_stopped &) {
				}
			});
		}
	} catch (const std::bad_alloc &) {
	} catch (const std::system_error &) {
	}
	return threads;
}

// Writes the segments in file order, making the copy of input read in
// turn meanwhile; returns where the pass's reading ended.
template <typename Pass> std::int64_t write_in_order(shared<Pass> &sh, pass_io io, int fd, copy *growing)
{
	std::int64_t ready = 0;
	std::function<bool()> copy_some;
	if (growing)
		copy_some = [&] { return copy_segments(*growing, *io.in.own, sh.length, sh.arrived, ready); };
	std::int64_t end = 0;
	// Only this thread changes how many segments there are.
	for (std::int64_t k = 0; k < segments_known(sh.arrived); k++) {
		segment_state state = await_segment(sh.w, k, copy_some);
		slot<Pass> &s = sh.at(k);
		if (s.b.error == copy_dropped) {
			// A compressed file whose copy ends short: the calling thread
			// reads the rest itself, decompressed again, and the pass
			// ends with it.
			drop_segment(sh.w, k);
			io.in = segment_reader(io.in, fd, io.in.own, s.b.from, no_end, 0);
			io.in.in_turn = true;
			run_pass(sh.joined, io);
			return io.in.offset;
		}
		if (!write_in_turn(sh, k, state)) {
			// The lines before the segment's first header do not fit in
			// their block: the listing changed since the tally. Done
			// again where the pass stands, the segment stops where one
			// thread stops, or, if it now fits, the listing is changing
			// as it is read.
			drop_segment(sh.w, k);
			io.in = segment_reader(io.in, sh.input(), io.in.own, s.b.from, s.b.to, s.b.error);
			run_pass(sh.joined, io);
			fail_changed(io.in.path);
		}
		// Read before the slot is free for a later segment.
		end = s.end;
		next_segment(sh.w, k);
	}
	return end;
}

template <typename Pass>
std::int64_t run(pool &workers, Pass &p, const Pass &fresh, pass_io io, int fd, std::int64_t size)
{
	copy *growing = io.in.in_turn ? io.in.source : nullptr;
	writer &w = *workers.pieces;
	// What the calling thread holds, the count line, goes out first.
	flush(io.out);
	flush(io.err);
	arrival arrived;
	// Input whose size is not known until it has been read takes the
	// longest segments.
	std::int64_t length = growing ? segment_size : segment_size_for(size, static_cast<int>(workers.workers.size()));
	if (!growing) {
		std::int64_t segments = (size + length - 1) / length;
		tell(arrived, segments, segments, size, 0);
	}
	restart(w);
	std::vector<slot<Pass>> slots(w.queues.size());
	shared<Pass> sh{workers, w, arrived, p, fresh, io.in, fd, io.out, io.err, std::move(slots), length};
	struct stopping {
		shared<Pass> &sh;
		std::vector<std::thread> threads;
		~stopping()
		{
			stop_writer(sh.w);
			stop_arrival(sh.arrived);
			for (std::thread &t : threads)
				t.join();
		}
	} workers_running{sh, start_workers(sh)};
	if (!workers_running.threads.empty())
		return write_in_order(sh, io, fd, growing);
	// Without the threads for workers, the calling thread runs the pass
	// alone.
	run_pass(p, io);
	return io.in.offset;
}

} // namespace

std::unique_ptr<pool> make_pool(int threads, std::size_t pieces, std::function<void(int, std::string_view)> write)
{
	try {
		auto p = std::make_unique<pool>();
		for (int n = 0; n < threads; n++)
			p->workers.push_back(std::make_unique<worker_buffers>());
		auto n = static_cast<std::size_t>(threads);
		std::size_t size = (pieces * n + pieces_held) * piece_size;
		p->memory = allocate_pages(size);
		if (p->memory)
			p->pieces = make_writer({p->memory.get(), size}, piece_size, n + 1, std::move(write));
		return p->pieces ? std::move(p) : nullptr;
	} catch (const std::bad_alloc &) {
		return nullptr;
	}
}

std::int64_t run_segments(pool &workers, tally_pass &p, pass_io io, int fd, std::int64_t size)
{
	tally_pass fresh;
	fresh.at.index = unknown;
	return run(workers, p, fresh, io, fd, size);
}

std::int64_t run_segments(pool &workers, emit_pass &p, pass_io io, int fd, std::int64_t size)
{
	const emit_pass fresh{p.counts, p.headers, p.path, {-1, unknown, 0}, {}};
	return run(workers, p, fresh, io, fd, size);
}
