#include "parallel/writer.h"

#include <algorithm>
#include <cassert>
#include <new>

namespace {

// Pieces of the head that wake the writing thread.
constexpr std::size_t batch = 4;

segment_queue &queue_of(writer &w, std::int64_t k)
{
	return w.queues[static_cast<std::size_t>(k) % w.queues.size()];
}

// The pool: a piece back, and a piece out.
void give_back(writer &w, piece *p)
{
	p->next = w.free;
	w.free = p;
	w.free_count++;
}

piece *take_free(writer &w)
{
	piece *p = w.free;
	w.free = p->next;
	w.free_count--;
	p->next = nullptr;
	p->size = 0;
	return p;
}

// The order: every change of a segment's state.
//   working --seam_kept--> seamed          its worker, at its first header
//   working --opened_in_turn--> open       its worker, as the head
//   working, seamed --worker_ended--> finished
//   open --worker_ended--> done
//   seamed --opened--> open                the writing thread
//   finished --opened--> done
//   any --dropped--> dropped               the writing thread
// A dropped segment stays dropped, whatever its worker does after.
segment_state next_state(segment_state s, segment_event e)
{
	using state = segment_state;
	using event = segment_event;
	if (e == event::dropped || s == state::dropped)
		return state::dropped;
	if (s == state::working && e == event::seam_kept)
		return state::seamed;
	if (s == state::working && e == event::opened_in_turn)
		return state::open;
	if ((s == state::working || s == state::seamed) && e == event::worker_ended)
		return state::finished;
	if (s == state::open && e == event::worker_ended)
		return state::done;
	if (s == state::seamed && e == event::opened)
		return state::open;
	if (s == state::finished && e == event::opened)
		return state::done;
	assert(!"a change that next_state does not list");
	return s;
}

// Changes what the threads wait on under the lock, then wakes those it
// concerns: the writing thread, the workers that wait for a piece, those
// that wait for a segment.
constexpr int nobody = 0, writing = 1, working = 2, taking = 4;

template <typename Change> void change(writer &w, const Change &c)
{
	int whom;
	{
		std::lock_guard hold(w.lock);
		whom = c();
	}
	if ((whom & writing) != 0)
		w.to_write.notify_one();
	if ((whom & working) != 0)
		w.to_work.notify_all();
	if ((whom & taking) != 0)
		w.to_take.notify_all();
}

// The next piece of segment k, once handed in; nothing once it is done
// without one.
piece *next_piece(writer &w, std::int64_t k)
{
	std::unique_lock hold(w.lock);
	segment_queue &q = queue_of(w, k);
	w.to_write.wait(hold, [&] { return q.first != nullptr || q.state == segment_state::done; });
	piece *p = q.first;
	if (p != nullptr) {
		q.waiting--;
		q.first = p->next;
		if (q.first == nullptr)
			q.last = nullptr;
	}
	return p;
}

// Writes a piece, which goes back to the pool whether or not the write
// ends the run.
void write_piece(writer &w, piece *p)
{
	struct back_to_pool {
		writer &w;
		piece *p;
		~back_to_pool()
		{
			change(w, [this] {
				give_back(w, p);
				return working;
			});
		}
	} back{w, p};
	w.write(p->fd, {p->bytes, p->size});
}

} // namespace

std::unique_ptr<writer> make_writer(std::span<char> memory, std::size_t piece_size, std::size_t in_flight,
				    std::function<void(int, std::string_view)> write)
{
	try {
		auto w = std::make_unique<writer>();
		w->piece_size = piece_size;
		w->write = std::move(write);
		// The last given back is the first taken again, so that pieces
		// seldom needed are seldom paged in.
		std::size_t count = memory.size() / piece_size;
		w->pieces.resize(count);
		for (std::size_t i = count; i-- > 0;) {
			w->pieces[i].bytes = memory.data() + i * piece_size;
			give_back(*w, &w->pieces[i]);
		}
		w->queues.resize(in_flight);
		return w;
	} catch (const std::bad_alloc &) {
		return nullptr;
	}
}

void restart(writer &w)
{
	std::lock_guard hold(w.lock);
	std::fill(w.queues.begin(), w.queues.end(), segment_queue{});
	w.head = w.next = 0;
	w.stop = false;
}

std::int64_t take_segment(writer &w)
{
	std::unique_lock hold(w.lock);
	std::int64_t k = w.next++;
	auto in_flight = static_cast<std::int64_t>(w.queues.size());
	w.to_take.wait(hold, [&] { return w.stop || k < w.head + in_flight; });
	return w.stop ? -1 : k;
}

piece *take_piece(writer &w, std::int64_t k)
{
	std::unique_lock hold(w.lock);
	segment_queue &q = queue_of(w, k);
	auto unheld = [&] { return k == w.head && q.state == segment_state::working; };
	auto may_take = [&] { return w.free_count > (k == w.head ? 0 : pieces_held); };
	if (!may_take())
		w.to_write.notify_one(); // to write what waits, and free its pieces
	w.to_work.wait(hold, [&] { return w.stop || q.state == segment_state::dropped || unheld() || may_take(); });
	if (w.stop || q.state == segment_state::dropped)
		throw writer_stopped{};
	return unheld() ? nullptr : take_free(w);
}

void hand_piece(writer &w, std::int64_t k, piece *p)
{
	change(w, [&] {
		segment_queue &q = queue_of(w, k);
		if (p->size == 0 || q.state == segment_state::dropped) {
			give_back(w, p);
			return working;
		}
		(q.last != nullptr ? q.last->next : q.first) = p;
		q.last = p;
		q.waiting++;
		return k == w.head && q.waiting >= batch ? writing : nobody;
	});
}

void change_state(writer &w, std::int64_t k, segment_event e)
{
	change(w, [&] {
		segment_queue &q = queue_of(w, k);
		q.state = next_state(q.state, e);
		// No worker waits on a state; the writing thread waits on the
		// head's alone, and is not woken for its seam: the worker's
		// pieces, its end, or its want of a piece wake it (see writer.h).
		return k == w.head && e != segment_event::seam_kept ? writing : nobody;
	});
}

segment_state await_segment(writer &w, std::int64_t k, const std::function<bool()> &meanwhile)
{
	bool busy = static_cast<bool>(meanwhile);
	for (;;) {
		{
			std::unique_lock hold(w.lock);
			segment_queue &q = queue_of(w, k);
			auto moved = [&] { return q.state != segment_state::working; };
			if (!busy)
				w.to_write.wait(hold, moved);
			if (moved())
				return q.state;
		}
		busy = meanwhile();
	}
}

void write_pieces(writer &w, std::int64_t k, std::size_t n)
{
	for (std::size_t i = 0; i < n; i++)
		write_piece(w, next_piece(w, k));
}

void write_segment(writer &w, std::int64_t k)
{
	while (piece *p = next_piece(w, k))
		write_piece(w, p);
}

void next_segment(writer &w, std::int64_t k)
{
	change(w, [&] {
		queue_of(w, k) = {};
		w.head = k + 1;
		return working | taking;
	});
}

void drop_segment(writer &w, std::int64_t k)
{
	change(w, [&] {
		segment_queue &q = queue_of(w, k);
		for (piece *p = q.first, *after = nullptr; p != nullptr; p = after) {
			after = p->next;
			give_back(w, p);
		}
		q.first = q.last = nullptr;
		q.waiting = 0;
		q.state = next_state(q.state, segment_event::dropped);
		return working;
	});
}

void stop_writer(writer &w)
{
	change(w, [&] {
		w.stop = true;
		return writing | working | taking;
	});
}
