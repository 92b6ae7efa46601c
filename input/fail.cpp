#include "input/fail.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

void fail(const char *format, ...)
{
	run_failed f;
	std::va_list args;
	va_start(args, format);
	int length = std::vsnprintf(f.text.data(), f.text.size(), format, args);
	va_end(args);
	f.size = std::min(static_cast<std::size_t>(std::max(length, 0)), f.text.size() - 1);
	throw f;
}
