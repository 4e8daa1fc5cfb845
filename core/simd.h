// Which form of the hot byte searches runs: SSE2 or a portable one that
// takes a 64-bit word at a time. The SSE2 routines are compiled with a
// function-level target, so the 32-bit build keeps its i686 baseline and
// still runs them on every processor that has SSE2; the choice is made once,
// by cpuid, when the library loads. The portable build (VELMORA_PORTABLE)
// compiles no SSE2 code at all.
//
// Invariant: both forms give the same results for the same bytes; tests
// and the fuzz targets force each in turn and compare.
#pragma once

#if !defined(VELMORA_PORTABLE) && (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
#define VELMORA_SSE2_CODE 1
#define VELMORA_SSE2 __attribute__((target("sse2")))
#include <emmintrin.h>
#else
#define VELMORA_SSE2_CODE 0
#define VELMORA_SSE2
#endif

namespace velmora::simd {

#if VELMORA_SSE2_CODE
extern bool useSse2;  // set at load; read in the hot loops
// True when the processor has SSE2 (and the build has the code for it).
bool sse2Available();
inline bool sse2() { return useSse2; }
#else
constexpr bool sse2Available() { return false; }
constexpr bool sse2() { return false; }
#endif

// For tests and benchmarks: false forces the portable routines; true goes
// back to SSE2 where it is available. Not for use while a scan runs.
void forceSse2(bool on);

}  // namespace velmora::simd
