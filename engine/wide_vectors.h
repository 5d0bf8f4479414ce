// Whether this machine runs the AVX2 forms of the precise scan's searches;
// asked once per process. Without AVX2 the searches use their SSE2 or
// memchr forms, with the same results.
#pragma once

namespace kestrix {

// How far ahead of a wide search its next bytes are asked for. The image is
// a mapping of the page cache, whose 4 KiB pages lie anywhere in memory, so
// the processor's own prefetcher stops at every page's end; asking for the
// bytes a few cache lines ahead keeps the loads streaming (the scan of a
// page-cached card took about a sixth less time with it).
inline constexpr unsigned kSearchPrefetchBytes = 2048;

inline bool haveWideVectors() {
#if defined(__x86_64__)
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

}  // namespace kestrix
