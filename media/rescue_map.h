// The rescue map: which bytes of a drive have been copied into its image,
// which failed and which are still to be tried, in GNU ddrescue's mapfile
// format, so ddrescuelog and ddrescueview read the maps written here and the
// scan reads ddrescue's own.
//
//   RescueMap map = RescueMap::fresh(deviceBytes);      // all non-tried
//   map.set(0, 1 << 20, BlockStatus::Finished);
//   map.save(imagePath + ".map");                       // temp + fsync + rename
//
//   RescueMapLoad loaded = RescueMap::load(path);       // the scan's side
//   if (loaded.map) loaded.map->unfinishedSectors(start, end);
//
// A map is text: comment lines start with '#'; the first non-comment line is
// the status line "current_pos current_status [current_pass]"; every later
// non-comment line is a block "pos size status". Numbers are decimal, 0x hex
// or 0-prefixed octal, as ddrescue reads them. Comments written here also
// carry the identity of the drive ("# kestrix-device: ...") so a resume can
// refuse the map of another card; ddrescue ignores them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// A block's state, as the character the mapfile stores. A block only ever
// moves to the right through the passes (NonTried → NonTrimmed →
// NonScraped → BadSector → Finished), except that a successful read at any
// stage makes it Finished at once.
enum class BlockStatus : char {
  NonTried = '?',    // not read yet
  NonTrimmed = '*',  // a large read failed somewhere inside; edges not tried alone
  NonScraped = '/',  // edges trimmed; the inside still to be read sector by sector
  BadSector = '-',   // read alone and failed (a further --retries pass may try again)
  Finished = '+',    // read and in the image
};

// Progress of the copy when the map was saved, as the status line keeps it.
enum class RescuePhase : char {
  Copying = '?',
  Trimming = '*',
  Scraping = '/',
  Retrying = '-',
  Done = '+',
};

// Who the map belongs to. Empty fields are unknown and never compared.
struct DeviceIdentity {
  std::string path;   // as the user named it: informative only
  uint64_t size = 0;  // bytes
  std::string id;     // a stable identity: serial/model from sysfs, or device and inode of a file

  bool operator==(const DeviceIdentity&) const = default;
};

struct MapBlock {
  uint64_t pos = 0;
  uint64_t size = 0;
  BlockStatus status = BlockStatus::NonTried;
  uint64_t end() const { return pos + size; }
};

struct RescueMapLoad;

// Invariants, kept by every operation:
//   - blocks_ is keyed by pos; blocks never overlap and follow each other
//     without gaps from domainBegin() to domainEnd();
//   - no block is empty; two neighbours never share a status (they merge);
//   - domainEnd() never exceeds kMaximumPosition, so pos + size never wraps.
// Bytes outside the domain are unknown and count as not finished.
class RescueMap {
 public:
  // ddrescue keeps positions in signed 64-bit values.
  static constexpr uint64_t kMaximumPosition = uint64_t{INT64_MAX};
  static constexpr uint64_t kSectorBytes = 512;  // unit of unfinishedSectors()
  // Longer lines are refused rather than buffered: no valid map has them.
  static constexpr size_t kMaximumLineBytes = 4096;

  RescueMap() = default;
  // One non-tried block over [0, bytes).
  static RescueMap fresh(uint64_t bytes);

  // Reads a map from text; empty optional and a reason on any malformed,
  // overlapping or out-of-range line.
  static std::optional<RescueMap> parse(std::string_view text, std::string* error = nullptr);
  // Reads a map file (ours or ddrescue's).
  static RescueMapLoad load(const std::string& path);
  // The mapfile text.
  std::string format() const;
  // Writes format() to path + ".tmp", fsyncs it, renames it over path and
  // fsyncs the folder: a crash leaves either the old map or the new one.
  // 0 or the errno of the first step that failed.
  int save(const std::string& path) const;

  // Gives [begin, end) the status; the domain grows to cover it. The part
  // at or past kMaximumPosition is dropped.
  void set(uint64_t begin, uint64_t end, BlockStatus status);
  // The status at pos; NonTried outside the domain.
  BlockStatus statusAt(uint64_t pos) const;
  // The block holding pos (clipped to nothing outside the domain).
  std::optional<MapBlock> blockAt(uint64_t pos) const;
  // The first block at or after pos with the status, or none.
  std::optional<MapBlock> nextBlock(uint64_t pos, BlockStatus status) const;

  // --- what the scan asks ---
  // 512-byte sectors of the image (sector k covers [512k, 512k + 512)) that
  // overlap [begin, end) and hold any byte not marked finished, bytes
  // outside the domain included. 0 for an empty range. Both questions end
  // at kMaximumPosition, as set() does: nothing lies past it.
  uint64_t unfinishedSectors(uint64_t begin, uint64_t end) const;
  // Bytes of [begin, end) not marked finished (non-tried, non-trimmed,
  // non-scraped, bad, or outside the domain).
  uint64_t unfinishedBytes(uint64_t begin, uint64_t end) const;
  // The same over the whole domain.
  uint64_t unfinishedBytes() const { return unfinishedBytes(domainBegin(), domainEnd()); }
  // Bytes of the whole domain with the status.
  uint64_t bytesWith(BlockStatus status) const;
  // Number of blocks with the status (bad areas for the progress line).
  uint64_t blocksWith(BlockStatus status) const;
  // True when nothing is left to read but bad sectors (or nothing at all).
  bool onlyBadSectorsLeft() const;

  uint64_t domainBegin() const { return blocks_.empty() ? 0 : blocks_.begin()->first; }
  uint64_t domainEnd() const;
  template <typename Visit>
  void forEachBlock(Visit visit) const {
    for (const auto& [pos, block] : blocks_) visit(MapBlock{pos, block.size, block.status});
  }

  // The status line and the device comments.
  uint64_t currentPos = 0;
  RescuePhase phase = RescuePhase::Copying;
  uint32_t pass = 1;
  DeviceIdentity device;  // written as comments; filled by parse when present

 private:
  struct Extent {
    uint64_t size;
    BlockStatus status;
  };
  using Blocks = std::map<uint64_t, Extent>;
  // Makes a block start at pos if pos lies inside one.
  void splitAt(uint64_t pos);
  void mergeAround(Blocks::iterator it);

  Blocks blocks_;
};

struct RescueMapLoad {
  std::optional<RescueMap> map;  // empty when the file could not be read or parsed
  std::string error;             // why, with the line number for a parse error
  // The file does not end with a newline: every map written here or by
  // ddrescue does, so it was cut short inside its last line (which may
  // still have parsed, as a shorter block or a shorter device comment).
  bool endsInsideALine = false;
};

// The character of a status, and back; false for a character that is none.
bool blockStatusFromChar(char c, BlockStatus* status);

}  // namespace kestrix
