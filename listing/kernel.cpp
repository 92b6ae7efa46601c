#include "listing/kernel.h"

#include <array>

extern const kernel kernel_plain;
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
extern const kernel kernel_sse2, kernel_avx2, kernel_avx512;
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
extern const kernel kernel_neon;
#endif

namespace {

// Every kernel the build holds, narrowest first.
constexpr std::array built
{
	&kernel_plain,
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
		&kernel_sse2, &kernel_avx2, &kernel_avx512,
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
		&kernel_neon,
#endif
};

struct choice {
	std::array<const kernel *, built.size()> running{};
	std::size_t count = 0;
	const kernel *in_use = nullptr;
};

choice find_running()
{
	choice made;
	for (const kernel *k : built) {
		if (!runs(k->set))
			continue;
		made.running[made.count++] = k;
		made.in_use = k;
	}
	return made;
}

// Made before main, so that the hot loops ask for it with a plain load.
choice chosen = find_running();

} // namespace

std::span<const kernel *const> kernels()
{
	return {chosen.running.data(), chosen.count};
}

const kernel &kernel_in_use()
{
	return *chosen.in_use;
}

void pick_kernel(const kernel &k)
{
	chosen.in_use = &k;
}

bool cap_kernel(std::string_view set)
{
	// How wide each set is: NEON is the vector set of its processors.
	auto width = [](isa s) {
		return s == isa::plain ? 0 : s == isa::sse2 || s == isa::neon ? 1 : s == isa::avx2 ? 2 : 3;
	};
	constexpr std::pair<std::string_view, isa> names[] = {{"plain", isa::plain},
							      {"sse2", isa::sse2},
							      {"neon", isa::neon},
							      {"avx2", isa::avx2},
							      {"avx512", isa::avx512}};
	for (const auto &[name, cap] : names) {
		if (name != set)
			continue;
		for (const kernel *k : kernels())
			if (width(k->set) <= width(cap))
				chosen.in_use = k;
		return true;
	}
	return false;
}
