// Whether this machine runs the AVX2 forms of the precise scan's searches;
// asked once per process. Without AVX2 the searches use their SSE2 or
// memchr forms, with the same results.
#pragma once

namespace kestrix {

inline bool haveWideVectors() {
#if defined(__x86_64__)
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

}  // namespace kestrix
