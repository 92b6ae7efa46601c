#include "listing/scan.h"

void map_bytes_plain(std::string_view data, const byte_maps &maps)
{
	for (std::size_t w = 0; w < bitmap_words(data.size()); w++)
		maps.newlines[w] = maps.dashes[w] = 0;
	for (std::size_t i = 0; i < data.size(); i++) {
		std::uint64_t bit = std::uint64_t{1} << (i % 64);
		char c = data[i];
		if (c == '\n')
			maps.newlines[i / 64] |= bit;
		if (c == '-')
			maps.dashes[i / 64] |= bit;
	}
}

#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)

bool has_avx2()
{
	__builtin_cpu_init();
	return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

void map_bytes(std::string_view data, const byte_maps &maps)
{
	static const bool wide = has_avx2();
	if (wide)
		map_bytes_avx2(data, maps);
	else
		map_bytes_sse2(data, maps);
}

#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)

void map_bytes(std::string_view data, const byte_maps &maps)
{
	map_bytes_neon(data, maps);
}

#else

void map_bytes(std::string_view data, const byte_maps &maps)
{
	map_bytes_plain(data, maps);
}

#endif
