// The masks with NEON, which every AArch64 processor has: 16 characters a
// step.
#pragma once

#include <arm_neon.h>

#include "kernels/masks.h"

namespace neon {

// What the set lacks, as the plain loops do it.
using plain::add, plain::blend, plain::bytes, plain::compress, plain::equal, plain::expand, plain::gather_bits,
	plain::load, plain::pairs_at, plain::splat, plain::store, plain::sub, plain::words_at;

// Bit i of the result for byte i of the four compares, each 0 or 0xff:
// every byte keeps the bit of its place within eight, then three rounds
// of pairwise sums gather them, eight bytes to one.
inline std::uint64_t bits_neon(const uint8x16_t (&c)[4])
{
	const uint8x16_t place = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
	uint8x16_t low = vpaddq_u8(vandq_u8(c[0], place), vandq_u8(c[1], place));
	uint8x16_t high = vpaddq_u8(vandq_u8(c[2], place), vandq_u8(c[3], place));
	uint8x16_t all = vpaddq_u8(low, high);
	all = vpaddq_u8(all, all);
	return vgetq_lane_u64(vreinterpretq_u64_u8(all), 0);
}

inline line_masks masks(const char *text)
{
	const auto *bytes = reinterpret_cast<const std::uint8_t *>(text);
	uint8x16_t b[4];
	for (std::size_t part = 0; part < 4; part++)
		b[part] = vld1q_u8(bytes + 16 * part);
	auto equal = [&](std::uint8_t c) {
		uint8x16_t to = vdupq_n_u8(c);
		const uint8x16_t hits[4] = {
			vceqq_u8(b[0], to), vceqq_u8(b[1], to), vceqq_u8(b[2], to), vceqq_u8(b[3], to)};
		return bits_neon(hits);
	};
	// '0' to '9' are the ten lowest bytes once '0' is taken away.
	const uint8x16_t zero = vdupq_n_u8('0');
	const uint8x16_t ten = vdupq_n_u8(10);
	const uint8x16_t digits[4] = {vcltq_u8(vsubq_u8(b[0], zero), ten),
				      vcltq_u8(vsubq_u8(b[1], zero), ten),
				      vcltq_u8(vsubq_u8(b[2], zero), ten),
				      vcltq_u8(vsubq_u8(b[3], zero), ten)};
	return {equal('\n'), equal('-'), equal(' '), equal('V'), bits_neon(digits), equal('\0')};
}

} // namespace neon
