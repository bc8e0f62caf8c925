// SSE2 is there on every x86-64 processor: GCC and Clang say so with
// __SSE2__, MSVC with _M_X64. Elsewhere the plain byte loops do the work.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#define TEXTIO_SSE2 1
#include <emmintrin.h>
#endif
