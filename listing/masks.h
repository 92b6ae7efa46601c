// Masks of the characters that shape an entry line, 64 at a time: bit i
// stands for the character at text + i. process computes them where it
// uses them, so they stay in registers; the window holds all a short line
// needs, and a whole run of lines shorter than it.
#pragma once

#include <cstdint>

struct line_masks {
	std::uint64_t newlines; // '\n' ends a line
	std::uint64_t blanks;   // ' ' ends the lead token
	std::uint64_t vs;       // 'V' may begin a reference
	std::uint64_t digits;   // '0' to '9'
	std::uint64_t nuls;     // NUL cuts a line short
};

// The plain loop: the reference for the kernels, and the fallback where
// there is none.
inline line_masks masks_at_plain(const char *text)
{
	line_masks m{};
	for (unsigned i = 0; i < 64; i++) {
		std::uint64_t bit = std::uint64_t{1} << i;
		char c = text[i];
		m.newlines |= c == '\n' ? bit : 0;
		m.blanks |= c == ' ' ? bit : 0;
		m.vs |= c == 'V' ? bit : 0;
		m.digits |= c >= '0' && c <= '9' ? bit : 0;
		m.nuls |= c == '\0' ? bit : 0;
	}
	return m;
}

// The kernels, each beside the plain loop. The baseline kernel is the
// one every processor of the architecture runs: SSE2 on x86-64, NEON on
// AArch64, else the plain loop; AVX2 serves the rewriting built for it.
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
#include "listing/masks_avx2.h"
#include "listing/masks_sse2.h"
inline line_masks masks_at_baseline(const char *text)
{
	return masks_at_sse2(text);
}
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
#include "listing/masks_neon.h"
inline line_masks masks_at_baseline(const char *text)
{
	return masks_at_neon(text);
}
#else
inline line_masks masks_at_baseline(const char *text)
{
	return masks_at_plain(text);
}
#endif

// The masks from s characters further on; the top s bits are zero.
inline line_masks shifted(const line_masks &m, unsigned s)
{
	return {m.newlines >> s, m.blanks >> s, m.vs >> s, m.digits >> s, m.nuls >> s};
}
