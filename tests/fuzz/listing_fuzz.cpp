// Fuzzes the whole conversion of a listing given as bytes: both passes,
// the look-ahead past variable 99, every diagnostic, on one thread and on
// three over segments. Each must give the plain conversion's standard
// output, standard error and status, byte for byte, and the calling
// thread must take every segment as its worker left it; else it aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/convert.h"
#include "driver/segments.h"
#include "tests/captured.h"
#include "tests/reference.h"

namespace {

run_result converted(std::FILE *file, int threads)
{
	std::rewind(file);
	return captured([&](output &out) { convert(file, "input", out, threads); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string input(reinterpret_cast<const char *>(data), size);
	std::FILE *file = std::tmpfile();
	std::fwrite(input.data(), 1, size, file);
	std::fflush(file);
	run_result want = reference_run(input);
	std::int64_t redone = segments_redone();
	if (converted(file, 1) != want || converted(file, 3) != want || segments_redone() != redone)
		std::abort();
	std::fclose(file);
	return 0;
}
