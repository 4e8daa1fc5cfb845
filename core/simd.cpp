#include "core/simd.h"

#if VELMORA_SSE2_CODE
#include <cpuid.h>
#endif

namespace velmora::simd {

#if VELMORA_SSE2_CODE

namespace {

bool detectSse2() {
#if defined(__x86_64__)
  return true;  // part of the x86-64 baseline
#else
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid checks that leaf 1 exists (and, on the oldest processors,
  // that cpuid does).
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & bit_SSE2) != 0;
#endif
}

const bool kSse2 = detectSse2();

}  // namespace

bool useSse2 = kSse2;

bool sse2Available() { return kSse2; }

void forceSse2(bool on) { useSse2 = on && kSse2; }

#else

void forceSse2(bool) {}

#endif

}  // namespace velmora::simd
