// EXIF metadata of one candidate.
//
// Control flow. parse(bytes, length) is called once per candidate:
//   1. the signature "Exif\0\0" is searched for at positions 2 .. length − 8
//      (the first hit wins; no APP1 marker or JPEG structure is required, so
//      a hit at 0 or 1 is no EXIF block at all);
//   2. the TIFF header follows the signature: two byte-order bytes (MM is
//      Motorola/big-endian, anything else is decoded as Intel) and the IFD0
//      offset (TIFF 6.0 section 2, "Image File Header"; the magic 42 is not
//      checked, damaged headers still get their directories read);
//   3. the main chain IFD0, IFD1, … is walked through the next-IFD offsets,
//      remembering every directory visited so a looping chain ends the walk;
//   4. the Exif private directory (tag 0x8769) and the GPS directory (tag
//      0x8825) found in the main chain are read (EXIF 2.3, section 4.6.3).
// The walk itself is IfdWalker's (ifd_walker.h), within the limits of
// exif_limits.h. parse keeps only what the program asks for: the first Make,
// Model, DateTime and the two directory pointers of the main chain, the first
// DateTimeOriginal of the Exif directory, and whether the GPS directory has a
// valid entry. It allocates nothing, so it cannot fail for memory, and an
// ExifInfo has the same small size whatever the candidate holds. Lookups of
// other tags find nothing; readDirectories walks again and returns every
// directory with its entries, for inspection (tests, fuzzing).
//
// Hostile bytes. Every read goes through IfdByteReader, which checks each
// offset against the candidate's length in 64-bit arithmetic and fails
// instead of reading on. Whatever lies outside the candidate (a directory,
// an entry, out-of-line data) is treated as absent.
//
// The reader keeps offsets into the caller's bytes and never copies them:
// the bytes passed to parse must outlive this object, or clear() must run
// first. After parse the object is read-only; concurrent const calls are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/exif_limits.h"
#include "imaging/ifd.h"

namespace kestrix {

// Tags the program asks for (TIFF 6.0 / EXIF 2.3 tag numbers).
inline constexpr uint16_t kTagMake = 0x010F;
inline constexpr uint16_t kTagModel = 0x0110;
inline constexpr uint16_t kTagDateTime = 0x0132;
inline constexpr uint16_t kTagExifIfdPointer = 0x8769;
inline constexpr uint16_t kTagGpsIfdPointer = 0x8825;
inline constexpr uint16_t kTagDateTimeOriginal = 0x9003;

// Byte-order marks read as a little-endian 16-bit number.
inline constexpr uint16_t kByteOrderIntel = 0x4949;     // "II"
inline constexpr uint16_t kByteOrderMotorola = 0x4D4D;  // "MM"

// Longest display text handed to callers, in bytes, without a terminator
// (the window's cells are 256-character buffers).
inline constexpr size_t kExifTextCapacity = 255;

// Every directory of a candidate's TIFF block with its valid entries, as the
// walk finds them (within the limits); directories without valid entries are
// left out.
struct ExifDirectories {
  std::vector<Ifd> mainChain;
  std::vector<Ifd> exifIfd;  // at most one
  std::vector<Ifd> gpsIfd;   // at most one
  uint8_t limitsHit = kExifWithinLimits;
};

class ExifInfo {
 public:
  ExifInfo() = default;
  virtual ~ExifInfo();
  ExifInfo(const ExifInfo&) = delete;
  ExifInfo& operator=(const ExifInfo&) = delete;

  // Reads the metadata of `length` bytes at `bytes` (not copied; see above).
  // Returns false when no signature lies at an acceptable position (then
  // hasExif() is false); true otherwise, even when no directory could be read.
  // A previous parse is forgotten first. Allocates nothing and never throws;
  // limitsHit() tells whether a limit cut the reading short.
  bool parse(const uint8_t* bytes, uint64_t length) noexcept;

  // Forgets the bytes, the byte order and every directory.
  void clear();

  bool hasExif() const { return found_; }
  // True exactly when the byte order is "MM"; garbage is decoded as Intel.
  bool isMotorola() const { return byteOrder_ == kByteOrderMotorola; }
  // The two byte-order bytes as a little-endian number; 0 without EXIF.
  // The programs show it in words (texts/row_texts.h).
  uint16_t byteOrder() const { return byteOrder_; }

  // ExifLimitHit bits of the limits the last parse reached; kExifWithinLimits
  // (0) for every ordinary file. Values found before the limit are kept.
  uint8_t limitsHit() const { return limitsHit_; }

  // First entry with `tag` in IFD0, then IFD1, …; null when none. Kept for
  // Make, Model, DateTime and the Exif and GPS pointers; other tags find
  // nothing (see readDirectories).
  const IfdEntry* findInMainChain(uint16_t tag) const;
  // First entry with `tag` in the Exif private directory; null when none.
  // Kept for DateTimeOriginal only.
  const IfdEntry* findInExifIfd(uint16_t tag) const;
  // A GPS directory with at least one valid entry was read. Its tags are
  // never decoded.
  bool hasGps() const { return hasGps_; }

  // Writes the entry's value as display text into `out` (replacing it),
  // cut to `maxBytes` bytes. `swap` is the caller's byte-order flag
  // (isMotorola()). Returns false, leaving `out` untouched, when the type is
  // outside 1..12 or the value's bytes lie outside the candidate, so a
  // caller's preset text ("不明") stays.
  //   BYTE, ASCII, UNDEFINED: the stored bytes up to the first NUL
  //   SBYTE: inline like BYTE; out of line the first byte as "%u"
  //   SHORT, LONG: "%u"; SSHORT, SLONG: "%d"
  //   RATIONAL, SRATIONAL: "%.2f", a zero denominator reads "0.00"
  //   FLOAT, DOUBLE: "%f"
  //   count 0: empty text
  // Only the first value of a multi-valued entry is shown.
  bool valueText(const IfdEntry& entry, bool swap, std::string& out,
                 size_t maxBytes = kExifTextCapacity) const;

  // Convenience: valueText of findInMainChain(tag) with isMotorola();
  // false (out untouched) when the tag is absent.
  bool mainChainText(uint16_t tag, std::string& out, size_t maxBytes = kExifTextCapacity) const;
  // The same over the Exif private directory.
  bool exifIfdText(uint16_t tag, std::string& out, size_t maxBytes = kExifTextCapacity) const;

  // Shot date: DateTimeOriginal from the Exif directory, else DateTime from
  // the main chain. False (out untouched) when neither is present.
  bool shotDateText(std::string& out, size_t maxBytes = kExifTextCapacity) const;

  // What parse kept, for inspection (properties dialog, tests, fuzzing).
  const uint8_t* bytes() const { return bytes_; }
  uint64_t length() const { return length_; }
  // Offset of the TIFF header in the candidate; meaningful when hasExif().
  uint64_t tiffOffset() const { return tiffOffset_; }
  // Walks the directories again and returns them with every valid entry
  // (at most kExifMaxEntriesPerCandidate in all); empty without EXIF. The
  // entries stay valid as long as the bytes do.
  ExifDirectories readDirectories() const;

 private:
  friend class KeptEntriesVisitor;
  // The kept lookups, one slot each; a set bit of keptMask_ marks a found one.
  enum class Slot : uint8_t {
    Make,
    Model,
    DateTime,
    ExifPointer,
    GpsPointer,
    DateTimeOriginal,
  };
  static constexpr size_t kSlotCount = static_cast<size_t>(Slot::DateTimeOriginal) + 1;
  static constexpr uint8_t bitOf(Slot slot) {
    return static_cast<uint8_t>(1u << static_cast<unsigned>(slot));
  }
  // The kept entry of `slot`; null for no slot or one not found.
  const IfdEntry* keptEntry(std::optional<Slot> slot) const {
    return slot && (keptMask_ & bitOf(*slot)) != 0 ? &kept_[static_cast<size_t>(*slot)] : nullptr;
  }

  const uint8_t* bytes_ = nullptr;  // the candidate's first byte, not owned
  uint64_t length_ = 0;             // the candidate's byte count
  bool found_ = false;              // the signature was found at 2 .. length − 8
  uint64_t tiffOffset_ = 0;         // signature position + 6
  uint16_t byteOrder_ = 0;
  bool hasGps_ = false;
  uint8_t limitsHit_ = kExifWithinLimits;
  uint8_t keptMask_ = 0;
  IfdEntry kept_[kSlotCount];
};

static_assert(sizeof(ExifInfo) <= kExifMaxKeptBytes, "ExifInfo must stay small: one per candidate");

}  // namespace kestrix
