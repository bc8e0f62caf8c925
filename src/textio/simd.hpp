// SSE2 is there on every x86-64 processor: GCC and Clang say so with
// __SSE2__, MSVC with _M_X64. AVX2 is chosen at run time, where the
// processor has it, for the loops that GCC and Clang build for it. Elsewhere,
// and in a build with CODELIST_SIMD off, the plain byte loops do the work.
#pragma once

#if !defined(TEXTIO_BYTE_LOOPS_ONLY) && (defined(__SSE2__) || defined(_M_X64))
#define TEXTIO_SSE2 1
#include <emmintrin.h>
// WebAssembly takes the SSE2 loops as its own SIMD, and has no AVX2.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TEXTIO_AVX2 1
#include <immintrin.h>
// A function built for AVX2 (and for the BMI and POPCNT that every AVX2
// processor has), called only once the processor is known to have them.
#define TEXTIO_TARGET_AVX2 __attribute__((target("avx2,bmi,popcnt")))
#endif
#endif

#if defined(__GNUC__)
#define TEXTIO_ALWAYS_INLINE inline __attribute__((always_inline))
// Keeps the compiler from reasoning about `x`, and so from rearranging the
// code around it.
#define TEXTIO_OPAQUE(x) __asm__("" : "+r"(x))
#define TEXTIO_OPAQUE_VECTOR(x) __asm__("" : "+x"(x))
#else
#define TEXTIO_ALWAYS_INLINE inline
#define TEXTIO_OPAQUE(x) (void)(x)
#endif

// A SIMD loop where this build has it, nullptr where it has not.
#ifdef TEXTIO_SSE2
#define TEXTIO_SSE2_LOOP(f) f
#else
#define TEXTIO_SSE2_LOOP(f) nullptr
#endif
#ifdef TEXTIO_AVX2
#define TEXTIO_AVX2_LOOP(f) f
#else
#define TEXTIO_AVX2_LOOP(f) nullptr
#endif
