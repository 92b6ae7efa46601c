// What the processor offers beyond the baseline of its kind. It is asked
// here once, and the kernels are picked by what it says.
#pragma once

struct processor_features {
	bool popcnt = false;
	bool avx2 = false; // with the BMI1 and BMI2 that come with it
};

const processor_features &processor();
