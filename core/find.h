// Find: one file the scan found in the image, as every layer above the
// engines knows it. The scan makes it once (core/image_scan.cpp), the
// candidate list keeps it, the restore jobs copy it; nothing above the scan
// looks at an engine's extension text or position again.
//
//   Find find(fileTypeOf(".jpg"), 4096, 9000);
//   find.size();      // 4904
//   typeText(find);   // "jpeg"
//
// The plug-in boundary keeps its own numbers (engine/carved_type.h); the
// scan converts a registry extension to FileType once per type it scans.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The file types the program has rules for. Unknown is a type a plug-in
// registered that the program knows only by its extension text, which the
// Find keeps (Find::unknownExtension).
enum class FileType { Jpeg, Png, Mov, Mp4, Unknown };

// The type of a registry extension text, with or without its dot (".jpg",
// "jpg", "jpeg"); Unknown for anything else, letter case included, as the
// engines match extensions exactly.
FileType fileTypeOf(std::string_view extension);
// The type's canonical text: "jpeg", "png", "mov", "mp4"; empty for Unknown.
// What the checkers and the command line's JSON "type" know a find by.
std::string_view fileTypeText(FileType type);

inline bool isMovie(FileType type) { return type == FileType::Mov || type == FileType::Mp4; }

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
