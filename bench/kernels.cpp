// Times the rewriting of entry lines alone, for each kernel this processor
// runs, over a listing held in memory: what the kernels cost without the
// reads and writes around them, whose times move with the machine's load.
//   bench_kernels FILE [ROUNDS]
// Prints a line per kernel: its name and the fastest of ROUNDS rounds
// (default 9), in seconds. Runs of entry lines are rewritten as the emit
// pass rewrites them, into one buffer emptied when it is full; other lines
// are passed over.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "listing/kernel.h"

namespace {

double rewrite_all(std::string_view text, output &out)
{
	auto start = std::chrono::steady_clock::now();
	for (std::size_t at = 0; at < text.size();) {
		std::size_t line_end = std::min(text.find('\n', at), text.size() - 1) + 1;
		if (text[at] != '-') {
			at = line_end;
			continue;
		}
		if (!has_line_room(out))
			out.used = 0;
		at += process(text.substr(at), std::min(line_end - at, max_chunk), INT64_MAX, out).bytes;
	}
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
	int rounds = 9;
	if (argc > 2) {
		std::string_view given(argv[2]);
		auto [end, error] = std::from_chars(given.begin(), given.end(), rounds);
		if (error != std::errc{} || end != given.end() || rounds < 1)
			argc = 0;
	}
	if (argc < 2 || argc > 3) {
		std::fprintf(stderr, "usage: bench_kernels FILE [ROUNDS]\n");
		return 2;
	}
	std::ifstream in(argv[1], std::ios::binary);
	std::string text((std::istreambuf_iterator<char>(in)), {});
	std::size_t size = text.size();
	// The pad that the reader leaves after its bytes.
	text.append(64, '\0').append(pad - 64, '\n');
	std::vector<char> buffer(output_size);
	for (const kernel *k : kernels()) {
		pick_kernel(*k);
		double fastest = 1e9;
		for (int r = 0; r < rounds; r++) {
			output out{buffer};
			fastest = std::min(fastest, rewrite_all({text.data(), size}, out));
		}
		std::printf("%s %.4f\n", k->name, fastest);
	}
	return 0;
}
