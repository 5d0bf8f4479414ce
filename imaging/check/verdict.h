#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// What checking a find says about it.
enum class Verdict : std::uint8_t {
  Unknown,    // not checked, or a kind the checkers cannot judge
  Intact,     // decodes completely without an error
  Damaged,    // a decode error, a CRC mismatch, data that is not the file's own
  Truncated,  // the data ends before the file does
};

// "intact", "damaged", "truncated", "unknown": the texts of listings and
// JSON, and of `restore --only`.
const char* VerdictText(Verdict verdict);
// The verdict named by one of those texts; false for any other text.
bool VerdictFromText(const std::string& text, Verdict* verdict);

// The verdict of one find, with what the check learnt on the way.
struct CheckResult {
  Verdict verdict = Verdict::Unknown;
  int width = 0;  // pixels, for pictures whose header was read; else 0
  int height = 0;
  // Offset from the find's first byte of the first bad byte, where the
  // checker can tell (damaged: where damage starts; truncated: the end).
  bool hasBadOffset = false;
  std::uint64_t badOffset = 0;
  std::string reason;  // short, lowercase, empty when intact

  // Sets a damaged or truncated verdict with where and why.
  void Judge(Verdict bad, std::uint64_t offset, const char* why) {
    verdict = bad;
    hasBadOffset = true;
    badOffset = offset;
    reason = why;
  }
};

}  // namespace kestrix
