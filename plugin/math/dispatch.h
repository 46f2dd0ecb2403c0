// Lane kernels are compiled twice and chosen when the library loads: the x86-64 baseline
// everywhere, AVX2 where the CPU has it. The sanitizer builds keep the baseline copy only: the
// load-time chooser runs before a sanitizer's runtime is up. (So the optimised tests exercise the
// AVX2 copy on such a CPU, and the sanitizer tests the baseline one.)
#pragma once

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define HAIR_LANE_KERNEL
#else
#define HAIR_LANE_KERNEL __attribute__((target_clones("avx2", "default")))
#endif
