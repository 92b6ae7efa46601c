// The instruction sets that the kernels are built for, and which of them
// this processor runs. The processor is asked here alone, once.
#pragma once

enum class isa { plain, sse2, avx2, avx512, neon };

// Whether the build holds a kernel for set and the processor runs it.
bool runs(isa set);
