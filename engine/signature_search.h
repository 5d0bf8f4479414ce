// Signature search over a bound block, with the exact contract of the
// engine's pattern search, done without a byte-by-byte loop.
//
// Contract (from position p, pattern of n bytes, limit = size - n + 1):
//   pattern null or n <= 0      -> p
//   p >= limit (no room left)   -> p
//   first q in [p, limit) whose n bytes match -> q
//   no match                    -> size + 1
// "Match" is exact, or, with maskLastByte, exact on the first n - 1 bytes
// and (data AND pattern) == pattern on the last one.
//
// A pattern longer than size + 1 makes size - n + 1 negative; it is taken as
// a negative limit (every p is past it), so such a search returns p instead
// of wrapping around and reading past the block.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrix {

// Uncached search with the contract above.
uint64_t findSignature(const uint8_t* data, uint64_t size, const uint8_t* pattern, int32_t length,
                       bool maskLastByte, uint64_t from);

// The same search, remembering the last answer so that a scan that asks for
// the same signature again and again from advancing positions reads every
// byte about once. Invariant: when valid, no match of the remembered
// pattern (its bytes, length and mask setting) in the remembered block
// starts in [coveredFrom, found), and found is a match or the limit (no
// match at all). A search for another pattern or mask setting starts
// afresh, so choosing the same type again keeps the answer. The owner calls
// invalidate() whenever the bytes of the block may have changed.
class SignatureSearch {
 public:
  uint64_t find(const uint8_t* data, uint64_t size, const uint8_t* pattern, int32_t length,
                bool maskLastByte, uint64_t from);
  void invalidate() { valid_ = false; }

 private:
  bool valid_ = false;
  // What the remembered answer was found for.
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  std::vector<uint8_t> pattern_;
  bool masked_ = false;
  uint64_t coveredFrom_ = 0;
  uint64_t found_ = 0;
};

}  // namespace kestrix
