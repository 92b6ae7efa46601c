#include "driver/order.h"

#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Changes what the threads wait on, and wakes them to look.
template <typename Change> void change(order &o, const Change &c)
{
	{
		std::lock_guard hold(o.lock);
		c();
	}
	o.moved.notify_all();
}

bool is_done(const order &o, std::int64_t k)
{
	return o.done[static_cast<std::size_t>(k % o.slots)] == k;
}

// The next segment, once its slot is free and its bytes are in the
// input; -1 when there is none, or the run has stopped.
std::int64_t take(order &o)
{
	std::unique_lock hold(o.lock);
	if (o.stop || o.next >= o.segments)
		return -1;
	std::int64_t k = o.next++;
	o.moved.wait(hold, [&] { return o.stop || k >= o.segments || (k < o.joined + o.slots && k < o.ready); });
	return o.stop || k >= o.segments ? -1 : k;
}

// Waits until segment k is done, making more of the input meanwhile while
// it grows.
void await(order &o, std::int64_t k, bool &growing, const std::function<bool()> &grow)
{
	for (;;) {
		{
			std::unique_lock hold(o.lock);
			if (!growing) {
				o.moved.wait(hold, [&] { return is_done(o, k); });
				return;
			}
			if (is_done(o, k))
				return;
		}
		growing = grow();
	}
}

} // namespace

void wait_turn(order &o, std::int64_t k)
{
	std::unique_lock hold(o.lock);
	o.moved.wait(hold, [&] { return o.stop || o.joined == k; });
	if (o.stop)
		throw run_stopped{};
}

void publish(order &o, std::int64_t ready, std::int64_t segments, std::int64_t size, int error)
{
	change(o, [&] {
		o.ready = ready;
		o.segments = segments;
		o.size = size;
		o.error = error;
	});
}

input_end known_end(order &o)
{
	std::lock_guard hold(o.lock);
	return {o.size, o.segments, o.error};
}

int run_in_order(order &o, int threads, const std::function<void(std::int64_t, int)> &work,
		 const std::function<void(std::int64_t)> &join, const std::function<bool()> &grow)
{
	o.done.fill(-1);
	std::vector<std::thread> workers;
	// A thread that cannot be started, for want of memory or of threads,
	// leaves the work to the others.
	try {
		for (int w = 0; w < threads; w++) {
			workers.emplace_back([&o, &work, w] {
				for (std::int64_t k; (k = take(o)) >= 0;) {
					work(k, w);
					change(o, [&] { o.done[static_cast<std::size_t>(k % o.slots)] = k; });
				}
			});
		}
	} catch (const std::bad_alloc &) {
	} catch (const std::system_error &) {
	}
	auto stop = [&] {
		change(o, [&] { o.stop = true; });
		for (std::thread &t : workers)
			t.join();
	};
	bool growing = static_cast<bool>(grow);
	try {
		// Only this thread changes how many segments there are.
		for (std::int64_t k = 0; !workers.empty() && k < o.segments; k++) {
			await(o, k, growing, grow);
			join(k);
			change(o, [&] { o.joined = k + 1; });
		}
	} catch (...) {
		stop();
		throw;
	}
	stop();
	return static_cast<int>(workers.size());
}
