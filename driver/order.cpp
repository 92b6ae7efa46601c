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

// The next segment, once its slot is free; -1 when there is none, or the
// run has stopped.
std::int64_t take(order &o)
{
	std::unique_lock hold(o.lock);
	if (o.stop || o.next == o.segments)
		return -1;
	std::int64_t k = o.next++;
	o.moved.wait(hold, [&] { return o.stop || k < o.joined + o.slots; });
	return o.stop ? -1 : k;
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
	try {
		for (std::int64_t k = 0; !workers.empty() && k < o.segments; k++) {
			{
				std::unique_lock hold(o.lock);
				o.moved.wait(hold, [&] { return is_done(o, k); });
			}
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
