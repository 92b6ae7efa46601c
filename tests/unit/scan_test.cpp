#include "listing/masks.h"
#include "listing/processor.h"
#include "listing/scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The two maps of data, made by kernel, in one vector; one word more
// than each map needs shows a kernel that writes too far.
std::vector<std::uint64_t> mapped(void (*kernel)(std::string_view, const byte_maps &), std::string_view data)
{
	std::size_t words = bitmap_words(data.size()) + 1;
	std::vector<std::uint64_t> maps(2 * words, 5);
	std::uint64_t *at = maps.data();
	kernel(data, {at, at + words});
	return maps;
}

} // namespace

// Each kernel must give the plain loop's maps for every length and
// offset, on bytes dense in the ones that matter.
TEST(MapBytes, KernelsAgreeWithThePlainLoop)
{
	std::vector<void (*)(std::string_view, const byte_maps &)> kernels{map_bytes};
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	kernels.push_back(map_bytes_sse2);
	if (processor().avx2)
		kernels.push_back(map_bytes_avx2);
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
	kernels.push_back(map_bytes_neon);
#endif
	std::mt19937 random(7);
	std::string alphabet("\n V-\0x7", 7);
	std::string bytes(400, ' ');
	for (char &c : bytes)
		c = alphabet[random() % alphabet.size()];
	for (std::size_t offset = 0; offset < 64; offset++) {
		for (std::size_t size = 0; offset + size <= bytes.size(); size++) {
			std::string_view data = std::string_view(bytes).substr(offset, size);
			std::vector<std::uint64_t> want = mapped(map_bytes_plain, data);
			for (auto kernel : kernels)
				ASSERT_EQ(mapped(kernel, data), want) << "size " << size << " offset " << offset;
		}
	}
}

// Each masks kernel must give the plain loop's masks at every offset,
// on bytes dense in the ones that matter.
TEST(MasksAt, KernelsAgreeWithThePlainLoop)
{
	std::vector<line_masks (*)(const char *)> kernels{masks_at_baseline};
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	kernels.push_back(masks_at_sse2);
	if (processor().avx2)
		kernels.push_back(masks_at_avx2);
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
	kernels.push_back(masks_at_neon);
#endif
	std::mt19937 random(11);
	std::string alphabet("\n V-\0x/09:", 10);
	std::string bytes(1000, ' ');
	for (char &c : bytes)
		c = alphabet[random() % alphabet.size()];
	for (std::size_t at = 0; at + 64 <= bytes.size(); at++) {
		line_masks want = masks_at_plain(bytes.data() + at);
		for (auto kernel : kernels) {
			line_masks got = kernel(bytes.data() + at);
			ASSERT_EQ(std::tie(got.newlines, got.blanks, got.vs, got.digits, got.nuls),
				  std::tie(want.newlines, want.blanks, want.vs, want.digits, want.nuls))
				<< "at " << at;
		}
	}
}
