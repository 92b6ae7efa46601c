#include "driver/convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "driver/diagnostics.h"
#include "tests/captured.h"

namespace {

// A listing that is rewritten when it is rewound: the first pass reads
// before, the second after.
struct changing {
	std::string before, after;
	const std::string *now = &before;
	std::size_t at = 0;
};

std::size_t read_changing(changing &c, char *bytes, std::size_t size)
{
	std::size_t n = c.now->copy(bytes, size, c.at);
	c.at += n;
	return n;
}

bool rewind_changing(changing &c, long long offset, int whence)
{
	if (offset != 0 || whence != SEEK_SET)
		return false;
	c.now = &c.after;
	c.at = 0;
	return true;
}

// A stream over it: glibc's fopencookie, or the BSDs' and macOS's
// funopen.
#ifdef __GLIBC__
std::FILE *open_changing(changing &c)
{
	auto read = [](void *cookie, char *bytes, std::size_t size) {
		return static_cast<ssize_t>(read_changing(*static_cast<changing *>(cookie), bytes, size));
	};
	auto seek = [](void *cookie, off64_t *offset, int whence) {
		return rewind_changing(*static_cast<changing *>(cookie), *offset, whence) ? 0 : -1;
	};
	return fopencookie(&c, "r", {read, nullptr, seek, nullptr});
}
#else
std::FILE *open_changing(changing &c)
{
	auto read = [](void *cookie, char *bytes, int size) {
		return static_cast<int>(
			read_changing(*static_cast<changing *>(cookie), bytes, static_cast<std::size_t>(size)));
	};
	auto seek = [](void *cookie, fpos_t offset, int whence) -> fpos_t {
		return rewind_changing(*static_cast<changing *>(cookie), offset, whence) ? 0 : -1;
	};
	return funopen(&c, read, nullptr, seek, nullptr);
}
#endif

// Converts the listing on one thread.
run_result converted(changing listing)
{
	std::FILE *in = open_changing(listing);
	run_result result = captured([in](output &out) { convert(in, "input", out, 1); });
	std::fclose(in);
	return result;
}

// Converts the listing from a file, on threads threads, rewriting the
// file between the passes when it changes.
run_result converted_from_file(const changing &listing, int threads)
{
	std::FILE *in = std::tmpfile();
	std::fputs(listing.before.c_str(), in);
	std::fflush(in);
	std::rewind(in);
	run_result result = captured([&](output &out) {
		std::unique_ptr<conversion> c(new conversion{in, "input", threads});
		tally(*c);
		bool same = listing.after == listing.before;
		if (!same && (ftruncate(fileno(in), 0) != 0 ||
			      pwrite(fileno(in), listing.after.data(), listing.after.size(), 0) < 0))
			throw std::runtime_error("cannot rewrite the listing");
		emit(*c, out);
	});
	std::fclose(in);
	return result;
}

} // namespace

TEST(Convert, AListingThatChangesBetweenThePassesFails)
{
	const run_result changed{"", "File input changed while it was read\n", 6};
	const std::string two = "VAR Variable0\n-1\nVAR Variable1\n-2\n";
	const std::string whole = "2\n0 1\n-1 0\n1 1\n-2 0\n";
	struct {
		std::string after;
		std::string out; // up to the stop
		bool stops;
	} cases[] = {
		{two, whole, false},
		{two + "-3\n", whole, true},
		{two + "VAR Variable2\n", whole, true},
		{two + "META\n", whole, true},
		{"VAR Variable0\n-1\n-2\nVAR Variable1\n", "2\n0 1\n-1 0\n", true},
		{"VAR Variable0\nVAR Variable1\n-1\n-2\n", "2\n0 1\n", true},
		{"VAR Variable0\n-1\n", "2\n0 1\n-1 0\n", true},
	};
	// Several threads give what one gives.
	for (const auto &c : cases) {
		run_result want = c.stops ? run_result{c.out, changed.err, changed.status} : run_result{c.out, "", 0};
		for (const run_result &got : {converted({two, c.after}), converted_from_file({two, c.after}, 3)}) {
			EXPECT_EQ(got.out, want.out) << c.after;
			EXPECT_EQ(got.err, want.err) << c.after;
			EXPECT_EQ(got.status, want.status) << c.after;
		}
	}
}

// Blocks that span many segments in a build with small ones, changed at
// their seams: several threads stop where one does, with the same bytes.
TEST(Convert, SeveralThreadsStopWhereOneDoes)
{
	auto block = [](int variable, int entries, std::string_view line) {
		std::string text = "VAR Variable" + std::to_string(variable) + "\n";
		for (int i = 0; i < entries; i++)
			text += line;
		return text;
	};
	auto listing = [&](int first, int second, int third, std::string_view between) {
		return block(0, first, "-1 Variable0\n") + std::string(between) + block(1, second, "-2\n") +
		       block(2, third, "-3 Variable2\n");
	};
	const std::string before = listing(60, 60, 60, "");
	for (const std::string &after : {before,
					 listing(61, 60, 60, ""),
					 listing(60, 59, 61, ""),
					 listing(60, 60, 59, ""),
					 listing(60, 60, 61, ""),
					 listing(60, 60, 60, "a line of no kind\n"),
					 block(0, 60, "-1 Variable0\n") + block(1, 60, "-2\n")}) {
		run_result one = converted_from_file({before, after}, 1);
		run_result several = converted_from_file({before, after}, 3);
		EXPECT_EQ(several.out, one.out) << after;
		EXPECT_EQ(several.err, one.err) << after;
		EXPECT_EQ(several.status, one.status) << after;
	}
}
