// Fuzzes the whole conversion of a listing given as bytes: both passes,
// the look-ahead past variable 99, every diagnostic, on one thread and on
// three over segments, with pieces to spare and with none but those kept
// for the segment being written. Each must give the plain conversion's
// standard output, standard error and status, byte for byte, and the
// calling thread must take every segment as its worker left it; both
// streams into one file must give one thread's bytes; else it aborts.
// Bytes that begin as a compressed file does are decompressed, which the
// plain conversion does not do: there one thread and three must agree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/run.h"
#include "input/decompress.h"
#include "listing/kernel.h"
#include "parallel/segments.h"
#include "tests/captured.h"
#include "tests/reference.h"
#include "tests/rewritten.h"

namespace {

// On threads threads, with so many pieces a worker may fill, and both
// streams into one file or not.
run_result converted(std::FILE *file, int threads, std::size_t pieces = pieces_per_thread, bool merged = false)
{
	std::rewind(file);
	return captured(
		[&](output &out, output &err) {
			std::unique_ptr<conversion> c(new conversion{fileno(file), "input", threads});
			c->workers = make_pool(threads, pieces, write_stream);
			tally(*c, out, err);
			emit(*c, out, err);
		},
		merged);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string input(reinterpret_cast<const char *>(data), size);
	std::FILE *file = std::tmpfile();
	std::fwrite(input.data(), 1, size, file);
	std::fflush(file);
	run_result one = converted(file, 1);
	if (format_of(input) == format::none && one != reference_run(input))
		std::abort();
	if (converted(file, 3) != one || converted(file, 3, 0) != one)
		std::abort();
	if (converted(file, 3, 0, true) != converted(file, 1, 0, true))
		std::abort();
	// Every kernel gives the same bytes.
	const kernel &in_use = kernel_in_use();
	for (const kernel *k : kernels_tested()) {
		pick_kernel(*k);
		if (converted(file, 3) != one)
			std::abort();
	}
	pick_kernel(in_use);
	std::fclose(file);
	return 0;
}
