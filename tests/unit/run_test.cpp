#include "driver/run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "input/decompress.h"
#include "input/platform.h"
#include "parallel/segments.h"
#include "tests/captured.h"
#include "tests/reference.h"

namespace {

// Sets the time of change of the file open as fd, in nanoseconds.
bool set_modified(int fd, std::int64_t modified)
{
#ifdef _WIN32
	auto ticks = static_cast<std::uint64_t>(modified / 100 + 116444736000000000);
	FILETIME time{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32)};
	return SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), nullptr, nullptr, &time) != 0;
#else
	const timespec times[] = {{0, UTIME_OMIT}, {modified / 1000000000, modified % 1000000000}};
	return futimens(fd, times) == 0;
#endif
}

// Rewrites the file open as fd with text, keeping its time of change.
void rewrite(int fd, const std::string &text)
{
	file_status status = status_of(fd);
	if (ftruncate(fd, 0) != 0 || write_at_once(fd, text.data(), text.size(), 0) < 0)
		throw std::runtime_error("cannot rewrite the listing");
	if (!set_modified(fd, status.modified))
		throw std::runtime_error("cannot keep the time of change");
}

// How a conversion runs: on so many threads, with so many pieces a
// worker may fill, and with both streams into one file or not.
struct setup {
	int threads;
	std::size_t pieces = pieces_per_thread;
	bool merged = false;
};

// Converts the listing from a file, the file rewritten between the
// passes as after.
run_result converted(const std::string &before, const std::string &after, setup how)
{
	std::FILE *in = std::tmpfile();
	std::fwrite(before.data(), 1, before.size(), in);
	std::fflush(in);
	std::rewind(in);
	run_result result = captured(
		[&](output &out, output &err) {
			std::unique_ptr<conversion> c(new conversion{fileno(in), "input", how.threads});
			c->workers = make_pool(how.threads, how.pieces, write_stream);
			tally(*c, out, err);
			if (after != before)
				rewrite(fileno(in), after);
			emit(*c, out, err);
		},
		how.merged);
	std::fclose(in);
	return result;
}

// Converts the listing from a pipe on threads threads.
run_result piped(const std::string &listing, int threads)
{
	int ends[2];
#ifdef _WIN32
	if (_pipe(ends, 1 << 16, _O_BINARY) != 0)
		throw std::runtime_error("cannot make a pipe");
#else
	if (pipe(ends) != 0)
		throw std::runtime_error("cannot make a pipe");
	std::signal(SIGPIPE, SIG_IGN);
#endif
	std::thread writer([&] {
		write_all(ends[1], listing);
		close(ends[1]);
	});
	run_result result = captured([&](output &out, output &err) {
		std::unique_ptr<conversion> c(new conversion{ends[0], "input", threads});
		tally(*c, out, err);
		emit(*c, out, err);
	});
	close(ends[0]);
	writer.join();
	return result;
}

} // namespace

// A listing changed between the passes, whether or not its size changed:
// the emit pass stops before the first line that disagrees with the
// tally, or at its end, on one thread and on three.
TEST(Convert, AListingThatChangesBetweenThePassesFails)
{
	const std::string two = "VAR Variable0\n-1\nVAR Variable1\n-2 Variable1\n";
	const std::string whole = "2\n0 1\n-1 0\n1 1\n-2 1 1\n";
	struct {
		std::string after;
		std::string out; // up to the stop
		bool stops;
	} cases[] = {
		{two, whole, false},
		{two + "-3\n", whole, true},
		{two + "VAR Variable2\n", whole, true},
		{two + "META\n", whole, true},
		{"VAR Variable0\n-1\n-2 Variable1\nVAR Variable1\n", "2\n0 1\n-1 0\n", true},
		{"VAR Variable0\nVAR Variable1\n-1\n-2 Variable1\n", "2\n0 1\n", true},
		{"VAR Variable0\n-1\nVAR Variable1\nMETA Variabl\n", "2\n0 1\n-1 0\n1 1\n", true},
		{"VAR Variable0\n-1\n", "2\n0 1\n-1 0\n", true},
	};
	for (const auto &c : cases) {
		run_result want{c.out, c.stops ? "File input changed while it was read\n" : "", c.stops ? 6 : 0};
		EXPECT_EQ(converted(two, c.after, {1}), want) << c.after;
		EXPECT_EQ(converted(two, c.after, {3}), want) << c.after;
	}
}

// Blocks that span several segments, changed at their ends: several
// threads stop where one does, with the same bytes.
TEST(Convert, SeveralThreadsStopWhereOneDoes)
{
	auto block = [](int variable, std::int64_t entries, std::string_view line) {
		std::string text = "VAR Variable" + std::to_string(variable) + "\n";
		for (std::int64_t i = 0; i < entries; i++)
			text += line;
		return text;
	};
	const std::int64_t n = segment_size / 6;
	auto listing = [&](std::int64_t first, std::int64_t second, std::int64_t third, std::string_view between) {
		return block(0, first, "-1 Variable0\n") + std::string(between) + block(1, second, "-2\n") +
		       block(2, third, "-3 Variable2\n");
	};
	const std::string before = listing(n, n, n, "");
	const std::string changes[] = {
		before,
		listing(n + 1, n, n, ""),
		listing(n, n - 1, n + 1, ""),
		listing(n, n, n - 1, ""),
		listing(n, n, n + 1, ""),
		listing(n, n, n, "a line of no kind\n"),
		block(0, n, "-1 Variable0\n") + block(1, n, "-2\n"),
	};
	for (std::size_t i = 0; i < std::size(changes); i++)
		EXPECT_EQ(converted(before, changes[i], {3}), converted(before, changes[i], {1})) << "change " << i;
}

// A file that grows between the passes, whose last line has no newline
// and begins in an earlier segment's share, in a block before and past
// variable 99: however it grows, several threads give one thread's bytes.
TEST(Convert, AFileThatGrowsGivesOneThreadsBytes)
{
	std::string open_line = "-" + std::string(2 * segment_size + segment_size / 3, 'x');
	std::string past_99;
	for (int v = 0; v <= 100; v++)
		past_99 += "VAR Variable" + std::to_string(v) + "\n-1\n";
	for (const std::string &before : {"VAR Variable0\n" + open_line, past_99 + open_line}) {
		for (std::string grown : {"-1", "\n", "-1\n", "VAR Variable1\n", "y\n-2 Variable3\n"}) {
			std::string after = before + grown;
			EXPECT_EQ(converted(before, after, {3}), converted(before, after, {1})) << grown;
		}
	}
}

// A header that became an entry line between the passes, at the start of
// a segment whose worker fills more pieces before its first header than
// a pool of few may lend it: the worker, in its turn, finds that those
// lines do not fit in their block, and leaves the segment to be done
// again, which stops where one thread stops.
TEST(Convert, AWorkerInItsTurnStopsWhereOneThreadDoes)
{
	std::string entries;
	while (entries.size() < static_cast<std::size_t>(segment_size) + 1000)
		entries += "-12 Variable9\n";
	std::string before = "VAR Variable0\n" + entries + "VAR Variable1\n" + entries + entries + entries;
	std::string after = before;
	after.replace(before.find("VAR Variable1\n"), 14, "-12 Variable9\n");
	EXPECT_EQ(converted(before, after, {2, 1}), converted(before, after, {1}));
}

// Appends, overwrites and truncations at random places between the
// passes: several threads stop where one thread stops, with its bytes.
TEST(Convert, RandomChangesGiveOneThreadsBytes)
{
	std::mt19937 random(5);
	std::string before;
	for (int v = 0; before.size() < 3 * segment_size + segment_size / 2; v++) {
		before += "VAR Variable" + std::to_string(v) + "\n";
		for (int i = 0; i < 3000; i++)
			before.append(i % 500 == 9 ? std::string() : std::to_string(-i - 1))
				.append(i % 500 == 9 ? "" : " Variable" + std::to_string(v))
				.append("\n");
	}
	const std::string_view pieces[] = {"-1\n", "\n", "VAR Variable2\n", "no kind\n", "-7", "META\n"};
	for (int change = 0; change < 24; change++) {
		std::string after = before;
		std::size_t at = random() % after.size();
		std::string text;
		for (unsigned n = random() % 40; n-- > 0;)
			text += pieces[random() % std::size(pieces)];
		if (change % 3 == 0)
			after += text;
		else if (change % 3 == 1)
			after.replace(at, std::min(text.size(), after.size() - at), text);
		else
			after.resize(at);
		EXPECT_EQ(converted(before, after, {3}), converted(before, after, {1})) << "change " << change;
	}
}

// The most threads over more segments than threads, with pieces to spare
// and with none, apart and into one file.
TEST(Convert, SixteenThreadsOverEighteenSegments)
{
	std::string listing;
	for (int v = 0; listing.size() < 18 * segment_size; v++) {
		listing += "VAR Variable" + std::to_string(v) + "\n";
		for (int i = 0; i < 2000; i++)
			listing.append(i % 700 == 3 ? std::string("no kind") : std::to_string(-i))
				.append(" Variable1\n");
	}
	for (bool merged : {false, true}) {
		run_result one = converted(listing, listing, {1, pieces_per_thread, merged});
		EXPECT_EQ(converted(listing, listing, {16, pieces_per_thread, merged}), one);
		EXPECT_EQ(converted(listing, listing, {16, 0, merged}), one);
	}
}

// Listings of several segments and reads, in every build: newlines at
// every place of a word and of a read, entry lines before the first
// header, blocks past variable 99 across seams and one whose output
// outgrows the output buffer, and empty lines, each reported twice. Any
// threads give the plain conversion's bytes, with pieces to spare or
// with no more than those kept for the segment being written, and the
// calling thread takes every segment as a worker left it, from a file and
// from a pipe; both streams into one file give one thread's bytes.
TEST(Convert, AgreesWithThePlainConversion)
{
	const std::size_t size = 3 * std::max<std::size_t>(read_size, segment_size);
	std::string lines = "-1 Variable0\n";
	for (std::size_t i = 0; lines.size() < size; i++) {
		lines += std::string(1 + i * 7 % 130, '-') + (i % 3 == 0 ? " Variable3\n" : "\n");
		lines += i % 50 == 0 ? "META\n" : i % 97 == 0 ? "\n" : "";
	}
	std::string past_99;
	for (int v = 0; v < 130; v++) {
		past_99 += "VAR Variable" + std::to_string(v) + "\n-1 Variable" + std::to_string(v) + "\n";
		std::size_t block = v < 100 ? 0 : v == 120 ? 40 * output_size : size / 60;
		for (std::size_t at = 0; at < block; at += 14)
			past_99 += v % 7 == 0 && at % 700 == 0 ? "no kind\n" : "-2 Variable12\n";
	}
	// More diagnostics than a worker keeps.
	std::string blanks = "VAR Variable0\n";
	for (std::size_t i = 0; blanks.size() < size; i++)
		blanks += i % 3 == 2 ? "\n" : "-1 Variable0\n";
	for (const std::string &listing :
	     {"VAR Variable0\n" + lines, lines + "VAR Variable0\n" + lines, past_99, blanks}) {
		run_result want = reference_run(listing);
		EXPECT_EQ(converted(listing, listing, {1}), want);
		for (setup how : {setup{3}, setup{16, 0}, setup{2, 1}})
			EXPECT_EQ(converted(listing, listing, how), want) << how.threads << " threads, " << how.pieces;
		EXPECT_EQ(piped(listing, 1), want);
		EXPECT_EQ(piped(listing, 3), want);
		run_result one_file = converted(listing, listing, {1, pieces_per_thread, true});
		for (setup how : {setup{3, pieces_per_thread, true}, setup{16, 0, true}})
			EXPECT_EQ(converted(listing, listing, how), one_file)
				<< how.threads << " threads, " << how.pieces;
	}
}

// A reader gives every byte once, in chunks of whole lines, wherever its
// buffer stands in a page and wherever it starts in the file: a read that
// would land just past its source's place in a page is moved.
TEST(Reader, GivesTheSameBytesWhereverItsBufferStands)
{
	std::string text;
	for (std::size_t i = 0; text.size() < 3 * read_size; i++)
		text += std::string(1 + i * 37 % 200, i % 2 == 0 ? '-' : 'x') + "\n";
	std::FILE *in = std::tmpfile();
	std::fwrite(text.data(), 1, text.size(), in);
	std::fflush(in);
	auto page = std::make_unique<char[]>(sizeof(buffer) + 2 * 4096);
	char *start = page.get() + (4096 - reinterpret_cast<std::uintptr_t>(page.get()) % 4096);
	for (std::size_t place = 0; place < 64; place += 8) {
		auto *b = new (start + place) buffer{};
		for (std::int64_t from : {0, 1, 2, 7, 31, 33, 64}) {
			reader r = segment_reader({fileno(in), "input", b}, fileno(in), b, from, no_end, 0);
			std::string got;
			while (auto c = next_chunk(r))
				got += *c;
			EXPECT_EQ(got, text.substr(static_cast<std::size_t>(from))) << place << " " << from;
		}
		b->~buffer();
	}
	std::fclose(in);
}

// A compressed file is known by its magic number alone, and bzip2's by
// its whole header, so that a listing that happens to begin like one is
// still read as a listing.
TEST(Formats, KnownByTheirMagicNumbers)
{
	using namespace std::literals;
	const std::pair<std::string_view, format> cases[] = {
		{"\x1f\x8b\x08\x00"sv, format::gzip},
		{"\x1f"sv, format::none},
		{"BZh91AY&SY"sv, format::bzip2},
		{"BZh1\x17\x72\x45\x38\x50\x90"sv, format::bzip2},
		{"BZh01AY&SY"sv, format::none},
		{"BZh91AY&SX"sv, format::none},
		{"BZh91AY&S"sv, format::none},
		{"\xfd"
		 "7zXZ\0\0"sv,
		 format::xz},
		{"\xfd"
		 "7zXZ"sv,
		 format::none},
		{"\x28\xb5\x2f\xfd"sv, format::zstd},
		{"\x28\xb5\x2f"sv, format::none},
		{"\x50\x2a\x4d\x18\0\0\0\0"sv, format::zstd},
		{"\x5f\x2a\x4d\x18"sv, format::zstd},
		{"\x60\x2a\x4d\x18"sv, format::none},
		{"\x50\x2a\x4d"sv, format::none},
		{"VAR Variable0\n"sv, format::none},
		{""sv, format::none},
	};
	for (const auto &[bytes, f] : cases)
		EXPECT_EQ(format_of(bytes), f) << testing::PrintToString(std::string(bytes));
}
