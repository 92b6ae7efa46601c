#include "parallel/writer.h"

#include <algorithm>
#include <new>

namespace {

// Pieces of the segment being written that wake the writing thread.
constexpr std::size_t batch = 4;

segment_queue &queue_of(writer &w, std::int64_t k)
{
	return w.queues[static_cast<std::size_t>(k) % w.queues.size()];
}

void give_back(writer &w, piece *p)
{
	p->next = w.free;
	w.free = p;
	w.free_count++;
}

// Changes what the threads wait on, and wakes those it concerns to look:
// the writing thread only for the segment being written.
constexpr int nobody = 0, writing = 1, working = 2;

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
}

// The next piece of segment k, once handed in; nothing once it has
// ended without one.
piece *next_piece(writer &w, std::int64_t k)
{
	std::unique_lock hold(w.lock);
	segment_queue &q = queue_of(w, k);
	w.to_write.wait(hold, [&] { return q.first != nullptr || q.ended; });
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

void restart(writer &w, std::int64_t segments, std::int64_t ready, std::int64_t size)
{
	{
		std::lock_guard hold(w.lock);
		std::fill(w.queues.begin(), w.queues.end(), segment_queue{});
		w.head = w.next = 0;
		w.stop = false;
	}
	publish(w, ready, segments, size, 0);
}

void publish(writer &w, std::int64_t ready, std::int64_t segments, std::int64_t size, int error)
{
	change(w, [&] {
		w.ready = ready;
		w.segments = segments;
		w.size = size;
		w.error = error;
		return working;
	});
}

input_end known_end(writer &w)
{
	std::lock_guard hold(w.lock);
	return {w.size, w.segments, w.error};
}

std::int64_t take_segment(writer &w)
{
	std::unique_lock hold(w.lock);
	if (w.stop || w.next >= w.segments)
		return -1;
	std::int64_t k = w.next++;
	auto in_flight = static_cast<std::int64_t>(w.queues.size());
	w.to_work.wait(hold, [&] { return w.stop || k >= w.segments || (k < w.head + in_flight && k < w.ready); });
	return w.stop || k >= w.segments ? -1 : k;
}

piece *take_piece(writer &w, std::int64_t k)
{
	std::unique_lock hold(w.lock);
	segment_queue &q = queue_of(w, k);
	auto unheld = [&] { return k == w.head && !q.opened && !q.asked; };
	auto may_take = [&] { return w.free_count > (k == w.head ? 0 : pieces_kept); };
	if (!may_take())
		w.to_write.notify_one(); // to write what waits, and free its pieces
	w.to_work.wait(hold, [&] { return w.stop || q.dropped || unheld() || may_take(); });
	if (w.stop || q.dropped)
		throw writer_stopped{};
	if (unheld())
		return nullptr;
	piece *p = w.free;
	w.free = p->next;
	w.free_count--;
	p->next = nullptr;
	p->size = 0;
	return p;
}

void hand_piece(writer &w, std::int64_t k, piece *p)
{
	change(w, [&] {
		segment_queue &q = queue_of(w, k);
		if (p->size == 0 || q.ended) {
			give_back(w, p);
			return working;
		}
		(q.last != nullptr ? q.last->next : q.first) = p;
		q.last = p;
		q.waiting++;
		return k == w.head && q.waiting >= batch ? writing : nobody;
	});
}

void mark(writer &w, std::int64_t k, bool segment_queue::*flag)
{
	change(w, [&] {
		queue_of(w, k).*flag = true;
		return writing | working;
	});
}

bool await(writer &w, std::int64_t k, const std::function<bool()> &meanwhile)
{
	bool busy = static_cast<bool>(meanwhile);
	for (;;) {
		{
			std::unique_lock hold(w.lock);
			segment_queue &q = queue_of(w, k);
			auto moved = [&] { return q.asked || q.opened || q.ended; };
			if (!busy)
				w.to_write.wait(hold, moved);
			if (moved())
				return q.opened;
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

void done_segment(writer &w, std::int64_t k)
{
	change(w, [&] {
		queue_of(w, k) = {};
		w.head = k + 1;
		return working;
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
		q.ended = q.dropped = true;
		return working;
	});
}

void stop_writer(writer &w)
{
	change(w, [&] {
		w.stop = true;
		return writing | working;
	});
}
