// vblocks: rewrites a variable listing into a numeric listing.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "driver/run.h"
#include "input/platform.h"
#include "listing/kernel.h"

namespace {

// How many threads to run: VBLOCKS_THREADS, at most max_threads, or as
// many as the processors this process may run on. A VBLOCKS_THREADS that
// is set and not a whole number from 1 up ends the run.
int thread_count()
{
	const char *value = std::getenv("VBLOCKS_THREADS");
	if (value == nullptr || *value == '\0')
		return std::clamp(available_processors(), 1, max_threads);
	const char *end = value + std::strlen(value);
	bool digits = std::all_of(value, end, [](char c) { return c >= '0' && c <= '9'; });
	int n = 0;
	auto [stop, error] = std::from_chars(value, end, n);
	if (!digits || (error == std::errc() && n == 0))
		fail("VBLOCKS_THREADS must be a whole number of 1 or more, not \"%s\"\n", value);
	return error == std::errc() ? std::min(n, max_threads) : max_threads;
}

} // namespace

int main(int argc, char *argv[])
{
	prepare_standard_streams();
	argv = utf8_arguments(argc, argv);
	static std::array<char, output_size> out_bytes;
	static std::array<char, output_size> err_bytes;
	output out{out_bytes, 0, STDOUT_FILENO, write_out};
	output own_err{err_bytes, 0, STDERR_FILENO, write_out};
	// Where both streams go to one file, the diagnostics are written into
	// the listing's buffer, so that their lines stand in the order in
	// which one thread writes them, whatever the threads.
	output &err = same_file(STDOUT_FILENO, STDERR_FILENO) ? out : own_err;
	// A piece is 256 KiB: through a pipe of the default 64 KiB, its writer
	// would wait on the reader four times a piece, and the workers on it.
	widen_pipe(STDOUT_FILENO);
	widen_pipe(STDERR_FILENO);
	try {
		if (argc != 2)
			fail("Usage: vblocks inFile\n");
		int threads = thread_count();
		// Tests and comparisons cap the kernel.
		const char *kernel = std::getenv("VBLOCKS_KERNEL");
		if (kernel != nullptr && *kernel != '\0' && !cap_kernel(kernel))
			fail("VBLOCKS_KERNEL must be plain, sse2, avx2, avx512 or neon, not \"%s\"\n", kernel);
		// "-" is standard input, and "./-" a file of that name.
		std::FILE *in = std::strcmp(argv[1], "-") == 0 ? stdin : open_input(argv[1]);
		if (in == nullptr)
			fail("Could not open file %s\n", argv[1]);
		convert(in, argv[1], out, err, threads);
		return std::fclose(in) == 0 ? 0 : 255;
	} catch (const run_failed &f) {
		// The input is left to the process exit to close.
		return end_failed(f, out, err);
	}
}
