// What one candidate's EXIF block may cost. Each limit lives here once.
//
// A crafted card can give every candidate 64 chained directories of 65,535
// entries that overlap in under 1 MB of bytes; read without limits that is
// about 190 MB of entries and a third of a second per candidate. Within these
// limits a candidate costs a fixed ExifInfo (no allocation at all) and at most
// kExifMaxEntriesPerCandidate entry decodes, whatever its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Directories followed along the main chain (IFD0, IFD1, ...). Cameras write
// IFD0 and IFD1 (the thumbnail); multi-page TIFF-like blocks a few more.
// Loops end the walk anyway; this ends chains of distinct overlapping ones.
inline constexpr size_t kExifMaxMainChainDirectories = 16;

// Entries examined in one directory. The tags TIFF 6.0 and EXIF 2.3 define
// number about 250 in all and a camera's Exif directory holds 30 to 70;
// entries beyond this are not read (the directory's next offset still is).
inline constexpr uint32_t kExifMaxEntriesPerDirectory = 1024;

// Entries examined over all directories of one candidate: bounds the parse
// time (a few microseconds) when many directories are each under the
// per-directory limit. A camera file has about 100.
inline constexpr uint32_t kExifMaxEntriesPerCandidate = 4096;

// Bytes an ExifInfo may occupy. It keeps only what the rows, the properties
// dialog and the report ask for, never the directories, so 100,000
// candidates stay well under 64 MiB (checked where ExifInfo is defined).
inline constexpr size_t kExifMaxKeptBytes = 512;

// Which limit cut a candidate's reading short (ExifInfo::limitsHit); the
// values are bits and may combine.
// plain enum: the bits are OR'd into one uint8_t (ExifInfo::limitsHit).
enum ExifLimitHit : uint8_t {
  kExifWithinLimits = 0,
  kExifDirectoryLimit = 1,       // more than kExifMaxMainChainDirectories in the chain
  kExifEntryLimit = 2,           // a directory holds more than kExifMaxEntriesPerDirectory
  kExifCandidateEntryLimit = 4,  // the directories hold more than kExifMaxEntriesPerCandidate
};

}  // namespace kestrix
