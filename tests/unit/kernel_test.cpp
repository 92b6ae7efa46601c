#include "listing/kernel.h"

#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Bytes dense in the ones that matter, with pad bytes after them.
std::string random_bytes(unsigned seed, std::size_t size)
{
	std::mt19937 random(seed);
	std::string alphabet("\n V-\0x/09:", 10);
	std::string bytes(size + 128, ' ');
	for (char &c : bytes)
		c = alphabet[random() % alphabet.size()];
	return bytes;
}

// The two maps of data, made by k, in one vector; one word more than
// each map needs shows a kernel that writes too far.
std::vector<std::uint64_t> mapped(const kernel &k, std::string_view data)
{
	std::size_t words = bitmap_words(data.size()) + 1;
	std::vector<std::uint64_t> maps(2 * words, 5);
	std::uint64_t *at = maps.data();
	k.map_bytes(data, {at, at + words});
	return maps;
}

// The run of entry lines from begin in data, a line at a time.
entry_run run_by_lines(std::string_view data, std::size_t begin)
{
	entry_run run{begin, 0};
	while (run.end < data.size() && data[run.end] == '-') {
		std::size_t newline = data.find('\n', run.end);
		if (newline == std::string_view::npos || newline - run.end >= max_chunk)
			break;
		run = {newline + 1, run.lines + 1};
	}
	return run;
}

} // namespace

// Says which kernels run here, by name, and which the processor lacks;
// the widest is in use, and a cap picks the widest up to it.
TEST(Kernels, TheWidestIsInUse)
{
	const char *all[] = {"plain", "sse2", "avx2", "avx512", "neon"};
	for (const char *name : all) {
		bool runs_here = false;
		for (const kernel *k : kernels())
			runs_here = runs_here || std::string(k->name) == name;
		std::cout << "kernel " << name << (runs_here ? ": tested" : ": skipped, not built or not run here")
			  << "\n";
	}
	ASSERT_FALSE(kernels().empty());
	const kernel *widest = kernels().back();
	EXPECT_EQ(&kernel_in_use(), widest);
	EXPECT_STREQ(kernels().front()->name, "plain");
	const kernel &before = kernel_in_use();
	EXPECT_TRUE(cap_kernel("plain"));
	EXPECT_EQ(&kernel_in_use(), kernels().front());
	EXPECT_TRUE(cap_kernel("avx512"));
	EXPECT_EQ(&kernel_in_use(), widest);
	EXPECT_FALSE(cap_kernel("avx3"));
	pick_kernel(before);
}

// Each kernel must give the plain loop's masks at every offset.
TEST(Kernels, MasksAgreeWithThePlainLoop)
{
	std::string bytes = random_bytes(11, 1000);
	for (std::size_t at = 0; at + 64 <= bytes.size(); at++) {
		line_masks want = plain::masks(bytes.data() + at);
		for (const kernel *k : kernels()) {
			line_masks got = k->masks(bytes.data() + at);
			ASSERT_EQ(std::tie(got.newlines, got.dashes, got.blanks, got.vs, got.digits, got.nuls),
				  std::tie(want.newlines, want.dashes, want.blanks, want.vs, want.digits, want.nuls))
				<< k->name << " at " << at;
		}
	}
}

// Each kernel must give the plain loop's maps for every length and
// offset, and count the runs of entry lines from every place as a line at
// a time does.
TEST(Kernels, MapsAndRunsAgreeWithThePlainLoop)
{
	std::string bytes = random_bytes(7, 400);
	for (std::size_t offset = 0; offset < 64; offset++) {
		for (std::size_t size = 0; offset + size <= 400; size += 1 + size / 16) {
			std::string_view data = std::string_view(bytes).substr(offset, size);
			std::vector<std::uint64_t> want = mapped(*kernels()[0], data);
			for (const kernel *k : kernels()) {
				std::vector<std::uint64_t> got = mapped(*k, data);
				ASSERT_EQ(got, want) << k->name << " size " << size << " offset " << offset;
				std::size_t words = bitmap_words(size) + 1;
				got[words - 1] = got[2 * words - 1] = 0;
				for (std::size_t begin = 0; begin < size; begin++) {
					entry_run want = run_by_lines(data, begin);
					entry_run run = k->count_run(data, got.data(), got.data() + words, begin);
					ASSERT_EQ(std::tie(run.end, run.lines), std::tie(want.end, want.lines))
						<< k->name << " from " << begin;
				}
			}
		}
	}
}

// Each kernel's compress and expand must move the bytes as the plain
// forms do, for masks from empty to full and bytes of every value.
TEST(Kernels, CompressAndExpandAgreeWithThePlainForms)
{
	std::mt19937_64 random(5);
	std::array<char, 64> bytes{}, fill{};
	for (int round = 0; round < 2000; round++) {
		for (std::size_t i = 0; i < 64; i++) {
			bytes[i] = static_cast<char>(random());
			fill[i] = static_cast<char>(random());
		}
		// Sparse, dense and random masks, and every byte of one lane.
		std::uint64_t mask = random() & random();
		mask = round % 3 == 0 ? ~mask : round % 3 == 1 ? mask : random();
		mask = round < 256 ? std::uint64_t(round) << (8 * (round % 8)) : mask;
		plain::bytes want_packed = plain::compress(plain::load(bytes.data()), mask);
		plain::bytes want_placed = plain::expand(plain::load(bytes.data()), mask, plain::load(fill.data()));
		for (const kernel *k : kernels()) {
			std::array<char, 64> got{};
			k->compress(bytes.data(), mask, got.data());
			ASSERT_EQ(got, want_packed) << k->name << " compress " << std::hex << mask;
			k->expand(bytes.data(), mask, fill.data(), got.data());
			ASSERT_EQ(got, want_placed) << k->name << " expand " << std::hex << mask;
		}
	}
}
