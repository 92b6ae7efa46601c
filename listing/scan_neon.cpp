// map_bytes with NEON, which every AArch64 processor has: 64 bytes a step.
// bits_neon comes with the masks kernel, through masks.h.
#include "listing/masks.h"
#include "listing/scan.h"

void map_bytes_neon(std::string_view data, const byte_maps &maps)
{
	const uint8x16_t newline = vdupq_n_u8('\n');
	const uint8x16_t dash = vdupq_n_u8('-');
	std::size_t whole = data.size() / 64;
	for (std::size_t w = 0; w < whole; w++) {
		const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.data() + 64 * w);
		uint8x16_t b0 = vld1q_u8(bytes);
		uint8x16_t b1 = vld1q_u8(bytes + 16);
		uint8x16_t b2 = vld1q_u8(bytes + 32);
		uint8x16_t b3 = vld1q_u8(bytes + 48);
		maps.newlines[w] = bits_neon(
			vceqq_u8(b0, newline), vceqq_u8(b1, newline), vceqq_u8(b2, newline), vceqq_u8(b3, newline));
		maps.dashes[w] =
			bits_neon(vceqq_u8(b0, dash), vceqq_u8(b1, dash), vceqq_u8(b2, dash), vceqq_u8(b3, dash));
	}
	map_bytes_plain(data.substr(64 * whole), {maps.newlines + whole, maps.dashes + whole});
}
