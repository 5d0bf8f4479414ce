// Walks the directories of one TIFF block inside a candidate, within the
// limits of exif_limits.h, and hands every valid entry to a visitor.
//
// Order: the main chain IFD0, IFD1, ... through the next offsets (a chain
// leading back to a directory already read ends; so does the directory
// limit), then the Exif private directory (tag 0x8769) and the GPS directory
// (tag 0x8825), each located by the first such entry of the main chain.
// A directory is read when its count is not 0, count × 12 does not exceed the
// candidate's length and its entries lie inside; of those entries at most
// kExifMaxEntriesPerDirectory are examined, and kExifMaxEntriesPerCandidate
// over the whole walk. Entries of type 0 or above 12 are dropped.
//
// The walker allocates nothing; what is kept is the visitor's choice.
#pragma once

#include <cstdint>

#include "imaging/ifd.h"

namespace kestrix {

enum class IfdList : uint8_t { Main, Exif, Gps };

class IfdVisitor {
 public:
  virtual ~IfdVisitor() = default;
  // A directory passed the checks; `header` carries no entries.
  virtual void beginDirectory(IfdList list, const Ifd& header) = 0;
  // One entry that passed validation, in file order.
  virtual void entry(IfdList list, const IfdEntry& entry) = 0;
  // The directory begun last is done.
  virtual void endDirectory(IfdList list) = 0;
};

class IfdWalker {
 public:
  // `tiffOffset` is the TIFF header's offset in the candidate; its IFD0
  // offset is read from tiffOffset + 4.
  IfdWalker(const uint8_t* bytes, uint64_t length, uint64_t tiffOffset, bool motorola)
      : bytes_(bytes), length_(bytes ? length : 0), tiffOffset_(tiffOffset), motorola_(motorola) {}

  // Runs the whole walk; returns the ExifLimitHit bits of the limits reached.
  uint8_t walk(IfdVisitor& visitor);

 private:
  bool readDirectory(IfdList list, uint64_t location, uint32_t& nextOffset, IfdVisitor& visitor);
  void readSubDirectory(IfdList list, bool found, uint32_t offset, IfdVisitor& visitor);

  const uint8_t* bytes_;
  uint64_t length_;
  uint64_t tiffOffset_;
  bool motorola_;
  uint32_t entriesLeft_ = 0;  // candidate-wide budget of entries still to examine
  uint8_t limitsHit_ = 0;
  bool exifPointerFound_ = false;
  bool gpsPointerFound_ = false;
  uint32_t exifPointer_ = 0;
  uint32_t gpsPointer_ = 0;
};

}  // namespace kestrix
