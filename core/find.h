// Find: one file the scan found in the image, as every layer above the
// engines knows it. The scan makes it once (core/image_scan.cpp), the
// candidate list keeps it, the restore jobs copy it; nothing above the scan
// looks at an engine's extension text or position again.
//
//   Find find(fileTypeOf(".jpg"), 4096, 9000);
//   find.size();      // 4904
//   typeText(find);   // "jpeg"
//
// FileType and what the program knows of each type: core/file_types.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_types.h"

namespace kestrix {

// One piece of a file in the image: bytes start..end (one past the last).
struct FilePiece {
  uint64_t start = 0;
  uint64_t end = 0;
  bool operator==(const FilePiece&) const = default;
};
// The pieces of a reassembled file, in file order; empty for a file that is
// one range of the image.
using FilePieces = std::vector<FilePiece>;

struct Find {
  Find() = default;
  Find(FileType ofType, uint64_t from, uint64_t to) : type(ofType), start(from), end(to) {}

  FileType type = FileType::Unknown;
  uint64_t start = 0;  // first byte in the image
  // One past the last byte; a reassembled find's furthest piece end (a
  // later piece may lie before the first).
  uint64_t end = 0;
  // The name of the find that holds this one (an EXIF thumbnail inside its
  // photo, a frame inside its movie); empty for a find of its own.
  std::string parent;
  // The pieces a reassembly joined into this file (core/fragment_joiner.h),
  // the first at start; empty for a file that is the one range start..end.
  FilePieces fragments;
  // True when the file is exactly its bytes in the image (start..end, or its
  // fragments), so it may be written straight from the image; false when
  // the engine must extract (and may complete) it.
  bool plainRange = false;
  // Unknown only: the registry extension without its dot ("aaa"); empty for
  // a known type, and for a find whose type nobody gave.
  std::string unknownExtension;

  // The file's length: the range's, or the sum of its fragments.
  uint64_t size() const;
  bool operator==(const Find&) const = default;
};

// Sets find.type from a registry extension, keeping the text (without its
// dot) for a type the program does not know.
void setFileType(Find& find, std::string_view extension);
// fileTypeText of the find's type, or its unknownExtension.
std::string typeText(const Find& find);

}  // namespace kestrix
