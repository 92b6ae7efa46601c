#include "driver/segments.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

#include "driver/order.h"
#include "driver/platform.h"

namespace {

std::int64_t redone = 0;

// Where a segment's bytes lie: from its first line start up to the next
// segment's. A read that fails while they are looked for ends them there,
// with error set to why.
struct bounds {
	std::int64_t from = 0;
	std::int64_t to = 0;
	int error = 0;
};

// The first line start at or after at and before before: just past the
// first newline from at - 1 on; before when there is none; where a read
// fails, with error set to why.
std::int64_t line_start(int fd, std::int64_t at, std::int64_t before, int &error)
{
	if (at == 0)
		return 0;
	std::array<char, 4096> bytes;
	for (std::int64_t from = at - 1; from < before - 1;) {
		auto want = static_cast<std::size_t>(std::min<std::int64_t>(before - 1 - from, bytes.size()));
		ssize_t n = read_at(fd, bytes.data(), want, from);
		if (n < 0) {
			error = errno;
			return from;
		}
		if (n == 0)
			return before;
		if (const void *newline = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(n)))
			return from + (static_cast<const char *>(newline) - bytes.data()) + 1;
		from += n;
	}
	return before;
}

// Segment k of segments, over a file of size bytes when the pass began.
// It begins at the first line start in its share of the file, and is
// empty when there is none there: a longer line belongs to the segment it
// begins in, which ends at the first line start after its share. The
// last reads on to the end of the file as it then is, as one thread
// would.
bounds bound(int fd, std::int64_t size, std::int64_t segments, std::int64_t k)
{
	bounds b;
	bool last = k + 1 == segments;
	std::int64_t share_end = last ? no_end : (k + 1) * segment_size;
	b.from = line_start(fd, k * segment_size, std::min(share_end, size), b.error);
	if (b.error != 0)
		b.to = b.from;
	else if (last)
		b.to = no_end;
	else
		b.to = b.from == share_end ? share_end : line_start(fd, share_end, no_end, b.error);
	return b;
}

// What a worker found before the first header of its segment, which the
// joiner holds to the rules where the pass stands.
struct seam {
	std::int64_t lead_in = 0;          // entry lines
	std::size_t diagnostics = 0;       // bytes of them
	std::size_t output = 0;            // bytes of it
	bool header = false;               // the segment has a first header
	std::optional<std::int32_t> first; // its number as read
};

// A segment as its worker leaves it for the joiner. What it writes waits
// in buffers of its own until the segment's turn.
template <typename State> struct slot {
	lane l;
	output out{-1, {}}; // to the joiner's, in its turn
	bounds b;
	seam s;
	State state;          // where its pass ended
	bool failed = false;  // its pass ended the run; its diagnostics end with why
	bool redo = false;    // what it found cannot be taken as it is
	std::int64_t end = 0; // where its reading ended
};

// The seam of a worker that has not met a header yet: all it has found.
template <typename Slot> seam seam_so_far(const Slot &s)
{
	return {s.state.at.entries, s.l.diags.used, s.out.used, false, {}};
}

struct redo_segment {};

// The most lines that may stand before a segment's first header.
std::int64_t lead_in_room(const tally_state & /*state*/)
{
	return no_limit;
}

std::int64_t lead_in_room(const emit_state &state)
{
	return room_left(*state.counts, state.at);
}

void cross_header(tally_state &state, std::optional<std::int32_t> first, const char * /*path*/, lane &l)
{
	tally_header(state, first, l);
}

void cross_header(emit_state &state, std::optional<std::int32_t> first, const char *path, lane &l)
{
	emit_header(state, first, path, l);
}

// Takes the state in which a worker ended, from its first header on.
void take_state(tally_state &state, const tally_state &ended)
{
	state.at = ended.at;
	for (std::size_t v = 0; v < state.counts.size(); v++)
		state.counts[v] += ended.counts[v];
}

void take_state(emit_state &state, const emit_state &ended)
{
	state.at = ended.at;
}

// Writes a slot's diagnostics, and its output to the file descriptor
// output (none in the tally pass), between the given offsets; after its
// pass failed, as far as standard output takes them, as main does.
template <typename State>
void put(slot<State> &s, std::size_t diagnostics, std::size_t diagnostics_end, std::size_t text, std::size_t text_end,
	 int output, lane &l)
{
	write_all(STDERR_FILENO, {s.l.diags.bytes.data() + diagnostics, diagnostics_end - diagnostics});
	std::string_view bytes(s.out.bytes.data() + text, text_end - text);
	if (output >= 0 && s.failed)
		write_all(output, bytes);
	else if (output >= 0)
		write_output(output, bytes, l);
}

// Takes what a worker found in its segment into where the pass stands,
// and writes it out after all before it, to output in the emit pass;
// false, writing nothing, when it cannot be taken as it is. The lines
// before the first header join the block the pass is in; the header must
// follow the rules where the pass stands, as any header must; from there
// the worker stood where the pass now stands.
template <typename State> bool join(slot<State> &s, State &state, int output, const char *path)
{
	lane &l = calling_thread();
	if (s.s.lead_in > lead_in_room(state))
		return false;
	state.at.entries += s.s.lead_in;
	put(s, 0, s.s.diagnostics, 0, s.s.output, output, l);
	if (s.s.header)
		cross_header(state, s.s.first, path, l);
	if (s.state.at.index != unknown)
		take_state(state, s.state);
	std::size_t text_end = ready(s.out).size();
	put(s, s.s.diagnostics, s.l.diags.used, s.s.output, text_end, output, l);
	if (s.failed)
		throw run_failed{};
	// What waits for its count stays.
	s.l.diags.used = 0;
	std::memmove(s.out.bytes.data(), s.out.bytes.data() + text_end, s.out.used - text_end);
	s.out.used -= text_end;
	if (s.out.pending)
		s.out.pending = 0;
	s.s = {};
	return true;
}

// In its segment's turn, a worker joins what it has found so far, as the
// joiner would, and goes on from where the pass then stands.
template <typename State>
void join_in_turn(order &o, std::int64_t k, slot<State> &s, State &state, int output, const char *path)
{
	wait_turn(o, k);
	if (s.state.at.index == unknown)
		s.s = seam_so_far(s);
	try {
		if (!join(s, state, output, path))
			throw redo_segment{};
	} catch (const run_failed &) {
		// All that goes out of the segment has.
		s.l.diags.used = s.out.used = 0;
		s.out.pending.reset();
		s.s = {};
		throw;
	}
	s.state = state;
	if constexpr (std::is_same_v<State, tally_state>)
		s.state.counts = {};
}

// Runs a worker's pass over its segment: to the end of the segment or
// its first header, then, from what that header says, to the end.
template <typename State, typename Pass> void work(slot<State> &s, reader &in, const Pass &pass)
{
	try {
		pass(in);
		if (s.state.at.index == unknown) {
			s.s = seam_so_far(s);
			if (auto c = next_chunk(in)) {
				// An unreadable number fails where the pass stands.
				s.s.header = true;
				s.s.first = header_number(*c);
				if (s.s.first) {
					put_back(in, *c);
					s.state.at.index = *s.s.first;
					pass(in);
				}
			}
		}
	} catch (const run_failed &) {
		s.failed = true;
	} catch (const redo_segment &) {
		s.redo = true;
	} catch (const run_stopped &) {
	}
	s.end = in.offset;
}

// Prepares slot s for segment k of the pass, whose workers start from
// fresh, over the input open as fd as far as a worker knows its end; a
// copy ends there, for good.
template <typename State>
reader prepare(slot<State> &s, const State &fresh, const reader &like, int fd, const input_end &known, bool copy,
	       std::int64_t k, buffer *own)
{
	s.b = bound(fd, known.size, known.segments, k);
	if (copy && s.b.to > known.size) {
		s.b.to = known.size;
		s.b.error = s.b.error != 0 ? s.b.error : known.error;
	}
	s.s = {};
	s.state = fresh;
	s.failed = s.redo = false;
	s.l.diags.used = s.out.used = 0;
	s.out.pending.reset();
	s.out.lost = false;
	return segment_reader(like, fd, own, s.b.from, s.b.to, s.b.error);
}

// Copies a read's worth of input into b, and hands the workers each
// segment that the copy now holds with the line start that ends it;
// false once the input has ended, and with it the segments.
bool grow(copy &c, buffer &b, order &o, std::int64_t &ready)
{
	std::size_t n = copy_more(c, b.bytes.data(), read_size);
	if (n == 0 || c.error != 0 || c.dropped) {
		std::int64_t segments = c.length / segment_size + 1;
		publish(o, segments, segments, c.length, c.dropped ? copy_dropped : c.error);
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
		publish(o, ready, no_end, no_end, 0);
	return true;
}

// A pass over the segments of the file open as fd, of size bytes, or of
// the copy that pass makes as it reads input in turn, on the workers of
// the pool, each running loop, the pass's one loop, from fresh; the
// calling thread makes the copy, joins the segments into state, writing
// output to out, and runs loop itself over pass where there are no
// workers, or over a segment where what a worker found cannot be taken.
// Returns the bytes read.
template <typename State, typename Loop>
std::int64_t run_segments(pool &p, int fd, std::int64_t size, reader &pass, reader &ahead, State &state, output &out,
			  std::size_t diagnostics, const State &fresh, const Loop &loop)
{
	const char *path = pass.path;
	lane &l = calling_thread();
	copy *growing = pass.in_turn ? pass.source : nullptr;
	// What the workers read like; pass itself is the calling thread's.
	const reader like = pass;
	// Over the pool's memory: in the tally pass all diagnostics, in the
	// emit pass about a segment's worth of each.
	std::array<slot<State>, max_threads + 1> slots;
	order o;
	o.segments = growing ? no_end : (size + segment_size - 1) / segment_size;
	o.ready = growing ? 0 : o.segments;
	o.size = growing ? no_end : size;
	o.slots = static_cast<std::int64_t>(p.slots.size());
	for (std::size_t i = 0; i < p.slots.size(); i++) {
		slots[i].l.diags.bytes = {p.slots[i].get(), diagnostics};
		slots[i].out.bytes = {p.slots[i].get() + diagnostics, slot_size - diagnostics};
	}
	auto at = [&](std::int64_t k) -> slot<State> & { return slots[static_cast<std::size_t>(k % o.slots)]; };
	// What the joiner holds, the count line, goes out before any worker
	// writes.
	flush(out, l);
	std::int64_t end = 0;
	auto work_on = [&](std::int64_t k, int w) {
		slot<State> &s = at(k);
		worker &own = *p.workers[static_cast<std::size_t>(w)];
		input_end known = known_end(o);
		int input = growing ? growing->fd : fd;
		reader in = prepare(s, fresh, like, input, known, growing != nullptr, k, &own.pass);
		reader look{input, path, &own.ahead};
		s.out.fd = out.fd;
		auto take_turn = [&] { join_in_turn(o, k, s, state, out.fd, path); };
		s.l.take_turn = std::ref(take_turn);
		work(s, in, [&](reader &r) { loop(r, look, s.state, s.out, s.l); });
		s.l.take_turn = nullptr;
	};
	auto join_next = [&](std::int64_t k) {
		slot<State> &s = at(k);
		if (s.b.error == copy_dropped) {
			// A compressed file whose copy ends short: the calling thread
			// reads the rest itself, decompressed again, and the pass ends
			// with it.
			pass = segment_reader(pass, fd, pass.own, s.b.from, no_end, 0);
			pass.in_turn = true;
			loop(pass, ahead, state, out, l);
			end = pass.offset;
			publish(o, k + 1, k + 1, end, 0);
			return;
		}
		if (!s.redo && join(s, state, out.fd, path)) {
			end = s.end;
			return;
		}
		// The lines before the segment's first header do not fit in their
		// block: the listing changed since the tally. Done again where the
		// pass stands, the segment stops where one thread stops, or, if it
		// now fits, the listing is changing as it is read.
		redone++;
		pass = segment_reader(pass, growing ? growing->fd : fd, pass.own, s.b.from, s.b.to, s.b.error);
		loop(pass, ahead, state, out, l);
		fail_changed(l, path);
	};
	std::int64_t ready = 0;
	std::function<bool()> make_more;
	if (growing)
		make_more = [&] { return grow(*growing, *pass.own, o, ready); };
	if (run_in_order(o, static_cast<int>(p.workers.size()), std::ref(work_on), std::ref(join_next), make_more) ==
	    0) {
		// Without the threads for workers, the calling thread runs the
		// pass alone.
		loop(pass, ahead, state, out, l);
		return pass.offset;
	}
	return end;
}

} // namespace

int thread_count()
{
	const char *value = std::getenv("VBLOCKS_THREADS");
	if (value == nullptr || *value == '\0')
		return std::clamp(available_processors(), 1, max_threads);
	const char *end = value + std::strlen(value);
	bool digits = std::all_of(value, end, [](char c) { return c >= '0' && c <= '9'; });
	int n = 0;
	auto [stop, error] = std::from_chars(value, end, n);
	if (!digits || (error == std::errc() && n == 0))
		fail(calling_thread(), "VBLOCKS_THREADS must be a whole number of 1 or more, not \"%s\"\n", value);
	return error == std::errc() ? std::min(n, max_threads) : max_threads;
}

std::unique_ptr<pool> make_pool(int threads)
{
	try {
		auto p = std::make_unique<pool>();
		for (int w = 0; w < threads; w++)
			p->workers.push_back(std::make_unique<worker>());
		// Left unwritten, so that what is not used is not paged in.
		for (int i = 0; i <= threads; i++)
			p->slots.emplace_back(new char[slot_size]);
		return p;
	} catch (const std::bad_alloc &) {
		return nullptr;
	}
}

std::int64_t tally_segments(pool &p, int fd, std::int64_t size, reader &pass, reader &ahead, tally_state &state)
{
	tally_state fresh;
	fresh.at.index = unknown;
	output none{-1, {}};
	auto loop = [](reader &in, reader & /*ahead*/, tally_state &s, output & /*out*/, lane &l) {
		tally_lines(in, s, l);
	};
	return run_segments(p, fd, size, pass, ahead, state, none, slot_size, fresh, loop);
}

std::int64_t emit_segments(pool &p, int fd, std::int64_t size, reader &pass, reader &ahead, emit_state &state,
			   output &out)
{
	const emit_state fresh{state.counts, state.headers, {-1, unknown, 0}};
	auto diagnostics = static_cast<std::size_t>(segment_size);
	return run_segments(p, fd, size, pass, ahead, state, out, diagnostics, fresh, emit_lines);
}

std::int64_t segments_redone()
{
	return redone;
}
