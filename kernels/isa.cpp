#include "kernels/isa.h"

#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

namespace {

// Whether the system saves the registers of the sets in mask (XCR0's
// bits) on a switch of threads: without that, a processor that has them
// must not run them.
[[gnu::target("xsave")]] bool system_keeps(unsigned mask)
{
	unsigned eax = 0;
	unsigned ebx = 0;
	unsigned ecx = 0;
	unsigned edx = 0;
	if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0)
		return false;
	return (_xgetbv(0) & mask) == mask;
}

// Whether the processor has every feature that has asks it for; asked
// once the processor's description is read.
template <typename Has> bool processor_has(const Has &has)
{
	__builtin_cpu_init();
	return has();
}

} // namespace
#endif

bool runs(isa set)
{
	if (set == isa::plain)
		return true;
	switch (set) {
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	case isa::sse2:
		return true;
	case isa::avx2: {
		// With the BMI1, BMI2 and POPCNT that come with it, which its
		// kernel is built for too; the system keeps the SSE and AVX state.
		static const bool has =
			processor_has([] {
				return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
				       __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
			}) &&
			system_keeps(0x6);
		return has;
	}
	case isa::avx512: {
		// And the opmask and ZMM state besides.
		static const bool has = runs(isa::avx2) && processor_has([] {
						return __builtin_cpu_supports("avx512f") &&
						       __builtin_cpu_supports("avx512bw") &&
						       __builtin_cpu_supports("avx512vbmi2");
					}) &&
					system_keeps(0xe6);
		return has;
	}
#elif defined(VBLOCKS_VECTOR) && defined(__aarch64__)
	case isa::neon:
		return true;
#endif
	default:
		return false;
	}
}
