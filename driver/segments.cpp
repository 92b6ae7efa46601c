#include "driver/segments.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>
#ifdef __linux__
#include <sched.h>
#endif

#include "driver/diagnostics.h"

namespace {

// A header as a worker met it in its segment.
struct header_seen {
	std::optional<std::int32_t> number; // as read; nothing when it cannot be
	std::int64_t entries = 0;           // of its block, within the segment
	std::size_t diagnostics = 0;        // the bytes of them before it
};

// More headers than this in one segment, and the calling thread tallies
// it itself.
constexpr std::size_t max_headers = 4096;

// What a worker found in one segment, for the joiner.
struct slot {
	std::int64_t segment = -1; // the segment it holds, once it is done
	std::int64_t from = 0;     // the segment's bytes: [from, to)
	std::int64_t to = 0;
	bool bounded = false; // from and to could be read
	bool whole = false;   // everything fit, and could be read
	diagnostics diags;
	std::int64_t lead_in = 0; // entry lines before the first header
	// In the tally pass: each header.
	std::vector<header_seen> headers;
	// In the emit pass: the rewritten segment, how many headers it holds,
	// the numbers of the first and the last, and the entry lines of the
	// last block.
	std::unique_ptr<char[]> text; // left unwritten, so that what is not used is not paged in
	std::size_t text_size = 0;
	std::size_t text_used = 0;
	std::int64_t header_count = 0;
	std::int32_t first = 0;
	std::int32_t last = 0;
	std::int64_t last_entries = 0;
};

// What a worker thread reads with.
struct worker {
	buffer pass;
	buffer ahead;
};

// The slots that carry segments from the workers to the joiner: segment
// k goes in slot k % slots.size() once segment k - slots.size() is
// joined.
struct pool {
	int fd;
	const char *path;
	std::int64_t size;     // of the file, in bytes
	std::int64_t segments; // how many
	std::mutex lock;
	std::condition_variable done;  // a worker has done a segment
	std::condition_variable freed; // the joiner has freed a slot
	std::vector<std::unique_ptr<slot>> slots;
	std::int64_t next = 0;   // the segment the next worker takes
	std::int64_t joined = 0; // how many segments the joiner has joined
	bool stop = false;
};

// The first line start at or after at and before before: just past the
// first newline from at - 1 on; before when there is none.
std::int64_t line_start(const pool &p, std::int64_t at, std::int64_t before, bool &failed)
{
	if (at == 0)
		return 0;
	std::array<char, 4096> bytes;
	for (std::int64_t from = at - 1; from < before - 1;) {
		auto want = static_cast<std::size_t>(std::min<std::int64_t>(before - 1 - from, bytes.size()));
		ssize_t n = read_at(p.fd, bytes.data(), want, from);
		if (n <= 0) {
			failed = n < 0;
			return before;
		}
		if (const void *newline = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(n)))
			return from + (static_cast<const char *>(newline) - bytes.data()) + 1;
		from += n;
	}
	return before;
}

// Finds where segment k begins and ends. It begins at the first line
// start in its share of the file, and is empty when there is none: a
// longer line belongs to the segment it begins in, which ends at the
// next line start after its share. The last ends where the file does
// when it is read, as a single thread's reading would.
void bound(const pool &p, std::int64_t k, slot &s)
{
	bool failed = false;
	std::int64_t share_end = std::min(p.size, (k + 1) * segment_size);
	s.from = line_start(p, k * segment_size, share_end, failed);
	if (k + 1 == p.segments)
		s.to = no_end;
	else
		s.to = s.from == share_end ? share_end : line_start(p, share_end, p.size, failed);
	s.bounded = !failed;
}

// Tallies a segment as if nothing came before it.
void tally_segment(reader &in, slot &s)
{
	s.lead_in = 0;
	s.headers.clear();
	std::int64_t *entries = &s.lead_in;
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			if (s.headers.size() == max_headers)
				return;
			s.headers.push_back({header_number(*c), 0, s.diags.used});
			entries = &s.headers.back().entries;
			break;
		case kind::metadata:
			break;
		case kind::entry:
			*entries += 1 + count_entry_lines(in);
			break;
		case kind::unrecognised:
			if (!add_unrecognised(s.diags, *c))
				return;
			break;
		}
	}
	s.whole = !in.failed;
}

// Rewrites a segment as if nothing came before it. Its variable lines
// take their counts from the tally; a block must hold what the tally
// counted in it, and its headers must follow each other, or the joiner
// does the segment itself.
void emit_segment(reader &in, reader &ahead, const entry_counts &counts, slot &s)
{
	output out{-1, {s.text.get(), s.text_size}};
	s.header_count = 0;
	std::int32_t current = 0;
	std::int64_t entries = 0; // in the current block, or before the first header
	for (;;) {
		if (!has_line_room(out))
			return;
		auto c = next_chunk(in);
		if (!c)
			break;
		switch (classify(*c)) {
		case kind::header: {
			std::optional<std::int32_t> number = header_number(*c);
			if (!number)
				return;
			if (out.pending)
				settle_variable_line(out, entries);
			if (s.header_count == 0) {
				s.lead_in = entries;
				s.first = *number;
			} else if ((in_table(current) && entries != counts[current]) ||
				   *number != std::int64_t{current} + 1) {
				return;
			}
			s.header_count++;
			current = *number;
			entries = 0;
			if (in_table(current))
				put_variable_line(out, current, counts[current]);
			else
				put_pending_variable_line(out, current);
			break;
		}
		case kind::metadata:
			break;
		case kind::entry: {
			std::int64_t room = s.header_count > 0 ? room_left(counts, current, entries) : no_limit;
			if (room == 0)
				return;
			entries += rewrite_entry_lines(in, *c, room, out);
			break;
		}
		case kind::unrecognised:
			if (!add_unrecognised(s.diags, *c))
				return;
			break;
		}
	}
	if (out.pending)
		settle_variable_line(out, entries + count_block_ahead(in, ahead));
	s.text_used = out.used;
	if (s.header_count == 0)
		s.lead_in = entries;
	s.last = current;
	s.last_entries = entries;
	s.whole = !in.failed && !ahead.failed;
}

// Takes a tallied segment from where the pass stands; false when the
// calling thread must tally it itself.
bool join_tally(const slot &s, tally_state &state)
{
	if (!s.whole)
		return false;
	add_entries(state.counts, state.current, s.lead_in);
	for (const header_seen &h : s.headers) {
		std::int32_t number = h.number.value_or(state.current);
		if (number != state.index) {
			report({s.diags.bytes.data(), h.diagnostics});
			fail_numbering(number, state.index);
		}
		state.current = number;
		state.index++;
		add_entries(state.counts, state.current, h.entries);
	}
	report({s.diags.bytes.data(), s.diags.used});
	return true;
}

// Takes a rewritten segment, if what it took for granted holds where the
// pass stands; false when the calling thread must rewrite it itself.
bool join_emit(const slot &s, emit_state &state, output &out)
{
	if (!s.whole)
		return false;
	const entry_counts &counts = *state.counts;
	if (s.header_count == 0) {
		if (s.lead_in > room_left(counts, state.current, state.entries))
			return false;
		state.entries += s.lead_in;
	} else {
		bool block_ends = !in_table(state.current) || state.entries + s.lead_in == counts[state.current];
		if (!block_ends || s.first != state.index || state.headers - state.index < s.header_count)
			return false;
		state.index += s.header_count;
		state.current = s.last;
		state.entries = s.last_entries;
	}
	report({s.diags.bytes.data(), s.diags.used});
	write_after(out, {s.text.get(), s.text_used});
	return true;
}

// Runs threads workers, each doing work(slot, k, its own worker) for the
// segments in turn, while the calling thread joins them in file order
// with join(slot, k). With no worker, join finds each slot undone and
// does the segment itself.
template <typename Work, typename Join> void run(pool &p, int threads, Work work, Join join)
{
	std::vector<std::unique_ptr<worker>> own;
	std::vector<std::thread> workers;
	workers.reserve(static_cast<std::size_t>(threads));
	auto take_segments = [&p, &work](worker &w) {
		for (;;) {
			std::unique_lock hold(p.lock);
			if (p.stop || p.next == p.segments)
				return;
			std::int64_t k = p.next++;
			auto slots = static_cast<std::int64_t>(p.slots.size());
			p.freed.wait(hold, [&] { return p.stop || k < p.joined + slots; });
			if (p.stop)
				return;
			slot &s = *p.slots[static_cast<std::size_t>(k % slots)];
			hold.unlock();
			work(s, k, w);
			hold.lock();
			s.segment = k;
			p.done.notify_one();
		}
	};
	// A thread that cannot be started, for want of memory or of threads,
	// leaves the work to the others, or to the calling thread.
	try {
		for (int i = 0; i < threads; i++) {
			own.push_back(std::make_unique<worker>());
			workers.emplace_back(take_segments, std::ref(*own.back()));
		}
	} catch (const std::bad_alloc &) {
	} catch (const std::system_error &) {
	}
	auto stop = [&] {
		{
			std::lock_guard hold(p.lock);
			p.stop = true;
		}
		p.freed.notify_all();
		for (std::thread &t : workers)
			t.join();
	};
	try {
		auto slots = static_cast<std::int64_t>(p.slots.size());
		for (std::int64_t k = 0; k < p.segments; k++) {
			slot &s = *p.slots[static_cast<std::size_t>(k % slots)];
			if (workers.empty()) {
				s.bounded = s.whole = false; // for join to do it itself
			} else {
				std::unique_lock hold(p.lock);
				p.done.wait(hold, [&] { return s.segment == k; });
			}
			join(s, k);
			{
				std::lock_guard hold(p.lock);
				p.joined = k + 1;
			}
			p.freed.notify_all();
		}
	} catch (...) {
		stop();
		throw;
	}
	stop();
}

// The pool for the passes over the first size bytes of fd, with a slot
// more than threads so that a worker need not wait for the joiner.
std::unique_ptr<pool> make_pool(int fd, const char *path, std::int64_t size, int threads)
{
	auto p = std::make_unique<pool>();
	p->fd = fd;
	p->path = path;
	p->size = size;
	p->segments = (size + segment_size - 1) / segment_size;
	for (int i = 0; i <= threads; i++)
		p->slots.push_back(std::make_unique<slot>());
	return p;
}

// Prepares s for segment k: its bounds, and nothing found yet.
void prepare(const pool &p, std::int64_t k, slot &s)
{
	bound(p, k, s);
	s.whole = false;
	s.diags.used = 0;
}

// The reader of segment s for the calling thread, which fails the run at
// a read that fails.
void read_segment(const pool &p, std::int64_t k, slot &s, reader &pass)
{
	if (!s.bounded) {
		bound(p, k, s);
		if (!s.bounded)
			fail("Could not read file %s: %s\n", p.path, std::strerror(errno));
	}
	pass = segment_reader(p.fd, p.path, pass.own, s.from, s.to, false);
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

} // namespace

int thread_count()
{
	const char *value = std::getenv("VBLOCKS_THREADS");
	if (value == nullptr)
		return std::clamp(available_processors(), 1, max_threads);
	int n = 0;
	const char *end = value + std::strlen(value);
	auto [stop, error] = std::from_chars(value, end, n);
	if (error != std::errc() || stop != end || n < 1 || n > max_threads)
		fail("VBLOCKS_THREADS must be a whole number from 1 to %d, not \"%s\"\n", max_threads, value);
	return n;
}

void tally_segments(int fd, std::int64_t size, int threads, reader &pass, tally_state &state)
{
	std::unique_ptr<pool> p;
	try {
		p = make_pool(fd, pass.path, size, threads);
		for (auto &s : p->slots)
			s->headers.reserve(max_headers);
	} catch (const std::bad_alloc &) {
		// Without room for the workers' findings, the pass is the calling
		// thread's alone.
		pass = segment_reader(fd, pass.path, pass.own, 0, no_end, false);
		tally_lines(pass, state);
		return;
	}
	auto work = [&p](slot &s, std::int64_t k, worker &w) {
		prepare(*p, k, s);
		if (!s.bounded)
			return;
		reader in = segment_reader(p->fd, p->path, &w.pass, s.from, s.to, true);
		tally_segment(in, s);
	};
	auto join = [&](slot &s, std::int64_t k) {
		if (join_tally(s, state))
			return;
		read_segment(*p, k, s, pass);
		tally_lines(pass, state);
	};
	run(*p, threads, work, join);
}

void emit_segments(int fd, std::int64_t size, int threads, reader &pass, reader &ahead, emit_state &state, output &out)
{
	std::unique_ptr<pool> p;
	try {
		p = make_pool(fd, pass.path, size, threads);
		// Room for what a segment's lines may become; a segment that
		// becomes more the calling thread rewrites itself.
		for (auto &s : p->slots) {
			s->text_size = 2 * static_cast<std::size_t>(segment_size) + line_room;
			s->text.reset(new char[s->text_size]);
		}
	} catch (const std::bad_alloc &) {
		pass = segment_reader(fd, pass.path, pass.own, 0, no_end, false);
		emit_lines(pass, ahead, state, out);
		return;
	}
	const entry_counts &counts = *state.counts;
	auto work = [&p, &counts](slot &s, std::int64_t k, worker &w) {
		prepare(*p, k, s);
		if (!s.bounded)
			return;
		reader in = segment_reader(p->fd, p->path, &w.pass, s.from, s.to, true);
		reader look{nullptr, p->path, &w.ahead};
		emit_segment(in, look, counts, s);
	};
	auto join = [&](slot &s, std::int64_t k) {
		if (join_emit(s, state, out))
			return;
		read_segment(*p, k, s, pass);
		emit_lines(pass, ahead, state, out);
	};
	run(*p, threads, work, join);
}
