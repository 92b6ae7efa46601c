#include "driver/fail.h"

#include <cstdarg>
#include <cstdio>

void fail(const char *format, ...)
{
	std::va_list args;
	va_start(args, format);
	std::vfprintf(stderr, format, args);
	va_end(args);
	throw run_failed{};
}
