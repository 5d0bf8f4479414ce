// StructureEnd: what walking a file's structure from a candidate start says.
//
// The precise scan keeps three answers apart: the bytes are no file of the
// type, the file ends at a known place (whole, or cut short where the bytes
// stop parsing), or the walk needed bytes beyond the bound block and cannot
// tell (the scan layer then binds more of the image and asks again).
#pragma once

#include <cstdint>

namespace kestrix {

struct StructureEnd {
  enum class Verdict {
    NotAFile,  // the bytes at the start do not parse as the type
    Ends,      // the file ends at `end`
    RanOut,    // deciding needs a byte at or past the end of the block
  };
  Verdict verdict = Verdict::NotAFile;
  uint64_t end = 0;  // just past the file's last byte; only for Ends

  static StructureEnd notAFile() { return {Verdict::NotAFile, 0}; }
  static StructureEnd endsAt(uint64_t end) { return {Verdict::Ends, end}; }
  static StructureEnd ranOut() { return {Verdict::RanOut, 0}; }
};

}  // namespace kestrix
