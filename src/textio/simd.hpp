// SSE2 is there on every x86-64 processor: GCC and Clang say so with
// __SSE2__, MSVC with _M_X64. AVX2 is chosen at run time, where the
// processor has it, for the loops that GCC and Clang build for it. Elsewhere,
// and in a build with CODELIST_SIMD off, the plain byte loops do the work.
#pragma once

#if !defined(TEXTIO_BYTE_LOOPS_ONLY) && (defined(__SSE2__) || defined(_M_X64))
#define TEXTIO_SSE2 1
#include <emmintrin.h>
#if defined(__GNUC__)
#define TEXTIO_AVX2 1
#include <immintrin.h>
// A function built for AVX2 (and for the BMI and POPCNT that every AVX2
// processor has), called only once the processor is known to have them.
#define TEXTIO_TARGET_AVX2 __attribute__((target("avx2,bmi,popcnt")))
#endif
#endif

#if defined(__GNUC__)
#define TEXTIO_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TEXTIO_ALWAYS_INLINE inline
#endif

namespace textio {

// Whether this processor, and the system, let AVX2 run.
inline bool has_avx2() {
#ifdef TEXTIO_AVX2
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

}  // namespace textio
