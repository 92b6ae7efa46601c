#include "listing/processor.h"

const processor_features &processor()
{
	static const processor_features features = [] {
		processor_features f;
#if defined(VBLOCKS_VECTOR) && defined(__x86_64__)
		__builtin_cpu_init();
		f.popcnt = __builtin_cpu_supports("popcnt") != 0;
		f.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
			 __builtin_cpu_supports("bmi2");
#endif
		return f;
	}();
	return features;
}
