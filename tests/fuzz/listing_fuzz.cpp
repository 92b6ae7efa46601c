// Fuzzes the whole conversion of a listing given as bytes: both passes,
// the look-ahead past variable 99, every diagnostic, on one thread and on
// three over segments. Each must give the plain conversion's standard
// output, standard error and status, byte for byte, and the calling
// thread must take every segment as its worker left it; else it aborts.
// Bytes that begin as a compressed file does are decompressed, which the
// plain conversion does not do: there one thread and three must agree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/run.h"
#include "input/decompress.h"
#include "parallel/segments.h"
#include "tests/captured.h"
#include "tests/reference.h"

namespace {

run_result converted(std::FILE *file, int threads)
{
	std::rewind(file);
	return captured([&](output &out, output &err) { convert(file, "input", out, err, threads); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string input(reinterpret_cast<const char *>(data), size);
	std::FILE *file = std::tmpfile();
	std::fwrite(input.data(), 1, size, file);
	std::fflush(file);
	std::int64_t redone = segments_redone();
	run_result one = converted(file, 1);
	if (format_of(input) == format::none && one != reference_run(input))
		std::abort();
	if (converted(file, 3) != one || segments_redone() != redone)
		std::abort();
	std::fclose(file);
	return 0;
}
