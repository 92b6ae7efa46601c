// Runs a test's work on a thread of its own, so that work that never ends,
// as where the pool's pieces are all held by later segments, fails the
// whole test run at once, saying why, and not at the suite's time limit.
#pragma once

#include <chrono>
#include <cstdlib>
#include <future>
#include <string_view>
#include <unistd.h>

// What work gives, once it ends within two minutes; else why goes to fd
// and the test run ends with status 1.
template <typename Work> auto in_time(Work work, int fd, std::string_view why)
{
	auto result = std::async(std::launch::async, std::move(work));
	if (result.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
		[[maybe_unused]] auto written = write(fd, why.data(), why.size());
		std::_Exit(1);
	}
	return result.get();
}
