#include "driver/order.h"

#include <new>
#include <system_error>
#include <thread>

namespace {

// The next segment whose slot is free; -1 when there is none, or the run
// has stopped.
std::int64_t take(order &o)
{
	std::unique_lock hold(o.lock);
	if (o.stop || o.next == o.segments)
		return -1;
	std::int64_t k = o.next++;
	o.moved.wait(hold, [&] { return o.stop || k < o.joined + o.slots; });
	return o.stop ? -1 : k;
}

void finish(order &o, std::int64_t k)
{
	{
		std::lock_guard hold(o.lock);
		o.done[static_cast<std::size_t>(k % o.slots)] = k;
	}
	o.moved.notify_all();
}

void wait_done(order &o, std::int64_t k)
{
	std::unique_lock hold(o.lock);
	o.moved.wait(hold, [&] { return o.done[static_cast<std::size_t>(k % o.slots)] == k; });
}

void advance(order &o, std::int64_t joined)
{
	{
		std::lock_guard hold(o.lock);
		o.joined = joined;
	}
	o.moved.notify_all();
}

void stop(order &o, std::vector<std::thread> &workers)
{
	{
		std::lock_guard hold(o.lock);
		o.stop = true;
	}
	o.moved.notify_all();
	for (std::thread &t : workers)
		t.join();
}

} // namespace

void wait_turn(order &o, std::int64_t k)
{
	std::unique_lock hold(o.lock);
	o.moved.wait(hold, [&] { return o.stop || o.joined == k; });
	if (o.stop)
		throw run_stopped{};
}

int run_in_order(order &o, int threads, const std::function<void(std::int64_t, int)> &work,
		 const std::function<void(std::int64_t)> &join)
{
	o.done.assign(static_cast<std::size_t>(o.slots), -1);
	std::vector<std::thread> workers;
	// A thread that cannot be started, for want of memory or of threads,
	// leaves the work to the others.
	try {
		for (int w = 0; w < threads; w++) {
			workers.emplace_back([&o, &work, w] {
				for (std::int64_t k; (k = take(o)) >= 0;) {
					work(k, w);
					finish(o, k);
				}
			});
		}
	} catch (const std::bad_alloc &) {
	} catch (const std::system_error &) {
	}
	if (workers.empty())
		return 0;
	try {
		for (std::int64_t k = 0; k < o.segments; k++) {
			wait_done(o, k);
			join(k);
			advance(o, k + 1);
		}
	} catch (...) {
		stop(o, workers);
		throw;
	}
	stop(o, workers);
	return static_cast<int>(workers.size());
}
