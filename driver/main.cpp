// vblocks: rewrites a variable listing into a numeric listing.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "driver/convert.h"
#include "driver/diagnostics.h"
#include "driver/platform.h"
#include "driver/segments.h"

int main(int argc, char *argv[])
{
	binary_standard_streams();
	argv = utf8_arguments(argc, argv);
	static output_buffer buffer;
	output out{STDOUT_FILENO, buffer};
	lane &l = calling_thread();
	try {
		if (argc != 2)
			fail(l, "Usage: vblocks inFile\n");
		int threads = thread_count();
		// "-" is standard input, and "./-" a file of that name.
		std::FILE *in = std::strcmp(argv[1], "-") == 0 ? stdin : open_input(argv[1]);
		if (in == nullptr)
			fail(l, "Could not open file %s\n", argv[1]);
		convert(in, argv[1], out, threads);
		return std::fclose(in) == 0 ? 0 : 255;
	} catch (const run_failed &) {
		// What was written before the fault still reaches standard
		// output, as far as it takes it; the input is left to the process
		// exit to close.
		write_all(out.fd, ready(out));
		return 6;
	}
}
