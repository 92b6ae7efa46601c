// The one way a run ends early: a line for standard error, and status 6.
// The line travels with the exception to whoever may write it: the calling
// thread at once, a worker in the turn of its segment.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

struct run_failed {
	std::array<char, 8192> text;
	std::size_t size;
	std::string_view line() const
	{
		return {text.data(), size};
	}
};

[[noreturn]] [[gnu::format(printf, 1, 2)]] void fail(const char *format, ...);
