// The floor that vblocks is measured against: its input read twice, as
// the command reads a file, with nothing done to the bytes but a count of
// their newlines, so that the time is what reading twice costs on this
// machine that day, whatever a system call costs it.
//   bench_floor FILE [THREADS]
// Each pass starts THREADS threads (default 1), each of which reads a
// contiguous share of the file with pread of 128 KiB, the command's read
// size, and counts its newlines with vector compares; the second pass
// starts once the first has ended, as the command's emit pass starts
// after its tally. Prints the newlines each pass counted.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t read_size = std::size_t{128} * 1024;

// The newlines among size bytes: sixteen compares at a time, whose hits
// are added up in bytes for at most 255 rounds, then summed.
std::size_t newlines(const char *bytes, std::size_t size)
{
	std::size_t n = 0;
	std::size_t i = 0;
#ifdef __SSE2__
	const __m128i newline = _mm_set1_epi8('\n');
	while (size - i >= 16) {
		__m128i hits = _mm_setzero_si128();
		for (int round = 0; round < 255 && size - i >= 16; round++, i += 16) {
			__m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
			hits = _mm_sub_epi8(hits, _mm_cmpeq_epi8(b, newline));
		}
		__m128i sums = _mm_sad_epu8(hits, _mm_setzero_si128());
		n += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) +
					      _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
	}
#endif
	for (; i < size; i++)
		n += bytes[i] == '\n' ? 1 : 0;
	return n;
}

// Reads [from, to) of fd a read at a time; how many newlines it holds.
std::size_t read_share(int fd, std::int64_t from, std::int64_t to)
{
	std::vector<char> buffer(read_size);
	std::size_t n = 0;
	for (std::int64_t at = from; at < to;) {
		auto want = static_cast<std::size_t>(std::min<std::int64_t>(to - at, read_size));
		ssize_t got = pread(fd, buffer.data(), want, at);
		if (got <= 0)
			break;
		n += newlines(buffer.data(), static_cast<std::size_t>(got));
		at += got;
	}
	return n;
}

// One pass over the size bytes of fd on threads threads.
std::size_t read_pass(int fd, std::int64_t size, int threads)
{
	std::vector<std::size_t> counted(static_cast<std::size_t>(threads));
	std::vector<std::thread> running;
	running.reserve(static_cast<std::size_t>(threads));
	for (int k = 0; k < threads; k++)
		running.emplace_back([&, k] {
			counted[static_cast<std::size_t>(k)] =
				read_share(fd, size * k / threads, size * (k + 1) / threads);
		});
	for (std::thread &t : running)
		t.join();
	std::size_t n = 0;
	for (std::size_t c : counted)
		n += c;
	return n;
}

} // namespace

int main(int argc, char **argv)
{
	int threads = 1;
	if (argc == 3) {
		std::string_view given(argv[2]);
		auto [end, error] = std::from_chars(given.begin(), given.end(), threads);
		if (error != std::errc{} || end != given.end() || threads < 1)
			argc = 0;
	}
	int fd = argc == 2 || argc == 3 ? open(argv[1], O_RDONLY) : -1;
	struct stat status {};
	if (fd < 0 || fstat(fd, &status) != 0) {
		std::fprintf(stderr, "usage: bench_floor FILE [THREADS]\n");
		return 2;
	}
	std::size_t first = read_pass(fd, status.st_size, threads);
	std::size_t second = read_pass(fd, status.st_size, threads);
	std::printf("%zu %zu\n", first, second);
	return 0;
}
