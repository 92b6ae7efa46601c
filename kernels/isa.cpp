#include "kernels/isa.h"

bool runs(isa set)
{
	switch (set) {
	case isa::plain:
		return true;
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
	case isa::sse2:
		return true;
	case isa::avx2: {
		// With the BMI1, BMI2 and POPCNT that come with it, which its
		// kernel is built for too.
		static const bool has = [] {
			__builtin_cpu_init();
			return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
			       __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
		}();
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
