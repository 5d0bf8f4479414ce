// The boundary between the program and its scan-engine plug-ins.
//
// A plug-in is a shared library (*.kxp) that exports exactly two C functions,
// CreateKxEngine and DeleteKxEngine. Everything else crosses the boundary as
// the virtual table of ScanEngine and the PluginInfo record, so both are
// frozen: the virtual functions are declared in slot order and must never be
// reordered, and PluginInfo keeps its byte layout (checked below). Any g++ or
// clang build that uses this header produces the same vtable layout (Itanium
// C++ ABI), so separately built plug-ins interoperate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Scan modes. 256 to 260 are the signature rules: only JPEG reacts to
// 256/257; the scan job sets 259 and 260 while it scans PNG and MOV. In those
// modes ".mp4" finds nothing (FindNext gives *size = 0 and size + 1) and
// extracts by plain copy, so a scan of every listed type stays as it was.
inline constexpr int32_t ScanModeNormal = 256;  // JPEG hit starts at SOI, thumbnails absorbed
inline constexpr int32_t ScanModeSplit = 257;   // every JPEG stream found from its first DQT
inline constexpr int32_t ScanModePng = 259;
inline constexpr int32_t ScanModeMov = 260;
// The precise modes find whole files by their structure, for all four types
// (the default of the program).
inline constexpr int32_t ScanModePrecise = 261;       // nested JPEGs belong to their holder
inline constexpr int32_t ScanModePreciseSplit = 262;  // embedded JPEGs are finds as well

inline bool isPreciseMode(int32_t mode) {
  return mode == ScanModePrecise || mode == ScanModePreciseSplit;
}

// FindNext in the precise modes (261, 262), from position P for type ext:
// - It returns the first find of type ext whose start is >= P: *size is its
//   length and the result start + length, the position just past it. Finds
//   come in strictly increasing start order. When none starts at or after P,
//   *size = 0 and the result is the block size (or, for a movie of the other
//   brand cut by the block end, that movie's start: see below).
// - The result does not depend on where the bound block ends, with two
//   exceptions. Ran out of data: when deciding whether a candidate at s is a
//   file, or where it ends, needs a byte at or past the block end, the find
//   ends exactly at the block end (*size = size - s, result = size); the
//   caller binds more of the image and repeats the same FindNext, and at the
//   true end of the image such a find is a truncated file. Signature reach: a
//   candidate exists only where its whole opening signature lies in the block
//   (JPEG FF D8 FF, the 8-byte PNG signature, a movie's 8-byte atom header),
//   so a caller that binds a window of the image must let the next window
//   start at most PreciseSignatureReach bytes before the bound block's end.
// - ".mov" gives movies whose ftyp major brand is "qt  " or that have no
//   ftyp; ".mp4" movies of any other brand. A movie of the other brand is
//   passed over whole. When such a movie, starting at s, reaches the block
//   end, this block cannot tell where it ends nor what follows it: *size = 0
//   and the result is s (below the block size), meaning "no find in this
//   block, search again from s with more of the image bound". A caller must
//   not resume inside that movie (its top-level atoms would be taken for
//   movies); at the true end of the image the movie is the last thing in it
//   and no find of this type follows.
// - 261: a JPEG inside an APPn payload or a further MPF image of a whole
//   JPEG found before in this search is part of it, never a find of its
//   own. The caller continues a JPEG search from start + 1 of the previous
//   find (so a false opening whose segment lengths run on into a real photo
//   does not hide it), other types from the find's end. A JPEG inside a PNG
//   or movie is still found; the caller decides about it.
// - 262: the caller continues from start + 1 of the previous find, so
//   embedded JPEGs come out as finds of their own, each from its SOI to its
//   EOI.
// - A search from inside the last movie found (whole, or proven by its moov
//   or mdat) goes on after that movie: its atoms are no movies of their own.
//   Of a movie that runs past the block end, only the part before the data
//   of the atom that ran out is passed over (that atom's size may be stray).
// - Linear in the data whatever it holds; never reads outside the block.
// Extract in the precise modes copies [start, start + size) as it is.
inline constexpr uint64_t PreciseSignatureReach = 16;

// Interface version of this header; IsCompatible accepts it and 0.
inline constexpr int32_t EngineInterfaceVersion = 0x00010003;

// Identity record of a plug-in file, shared by every engine it creates.
struct PluginInfo {
  char name[20];         // NUL-terminated, Shift-JIS
  char extensions[200];  // ".jpg;.png;.mov;.mp4": leading dots, ';' separated, no blanks
  int32_t type;          // 1 in the shipped plug-in; not read by the program
  int32_t version;       // interface version
};
static_assert(offsetof(PluginInfo, name) == 0);
static_assert(offsetof(PluginInfo, extensions) == 20);
static_assert(offsetof(PluginInfo, type) == 220);
static_assert(offsetof(PluginInfo, version) == 224);
static_assert(sizeof(PluginInfo) == 228);

// A scan engine finds files in a bound block of bytes by their signatures
// and copies them out. Positions are unsigned 64-bit; as arguments they cross
// the boundary as two 32-bit halves, low half first; results come back whole.
//
// The program uses one engine from one thread at a time. The bound block is
// lent to the engine and never written by it; an extraction block is owned by
// the engine until FreeExtraction, the next Extract or destruction.
class ScanEngine {
 public:
  // Slot 1. Copies the hit at *start of *size bytes into a new zero-filled
  // extraction block; per type it may complete the bytes and grow *size (and,
  // for MOV, start the copy earlier without changing *start). Null when the
  // block cannot be allocated or no data is bound.
  virtual uint8_t* Extract(uint64_t* start, uint64_t* size, const char* extension) = 0;
  // Slot 2.
  virtual int32_t GetMode() = 0;
  // Slot 3. Stored without validation.
  virtual void SetMode(int32_t mode) = 0;
  // Slot 4. Binds data and size, then SetMode(mode), then SelectType(extension).
  // Callers free their extraction (FreeExtraction) before binding again; an
  // unreleased block stays the engine's until FreeExtraction, the next
  // Extract or destruction.
  virtual void Attach(const uint8_t* data, uint32_t sizeLow, uint32_t sizeHigh,
                      const char* extension, int32_t mode) = 0;
  // Slot 5. 1 for version 0 or the plug-in's own version, else 0.
  virtual int32_t IsCompatible(int32_t version) = 0;
  // Slot 6. 1 when item occurs in list as a substring; 0 otherwise or for null.
  virtual int32_t ListContains(const char* list, const char* item) = 0;
  // Slot 7.
  virtual const PluginInfo* GetInfo() = 0;
  // Slot 8. Searches from the position for the next hit; *size receives the
  // hit's length and the result is the position just past it.
  virtual uint64_t FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                            const char* extension) = 0;
  // Slot 9.
  virtual void FreeExtraction() = 0;
  // Slot 10. Releases the extraction block.
  virtual ~ScanEngine() = default;
  // Slot 11. Clears the signatures, remembers the extension text and sets the
  // signatures of a known type; -1 for an extension not in the list.
  virtual int32_t SelectType(const char* extension) = 0;
  // Slot 12. Exact byte-pattern search from the position.
  virtual uint64_t FindPattern(uint32_t positionLow, uint32_t positionHigh, const uint8_t* pattern,
                               int32_t length) = 0;
  // Slot 13. ListContains(GetInfo()->extensions, extension).
  virtual int32_t Supports(const char* extension) = 0;
};

// The two exports of every plug-in.
using CreateEngineFunction = ScanEngine* (*)();
using DeleteEngineFunction = void (*)(ScanEngine*);
inline constexpr const char* CreateEngineSymbol = "CreateKxEngine";
inline constexpr const char* DeleteEngineSymbol = "DeleteKxEngine";

inline uint32_t lowHalf(uint64_t value) { return static_cast<uint32_t>(value); }
inline uint32_t highHalf(uint64_t value) { return static_cast<uint32_t>(value >> 32); }
inline uint64_t joinHalves(uint32_t low, uint32_t high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace kestrix

extern "C" {
kestrix::ScanEngine* CreateKxEngine();
void DeleteKxEngine(kestrix::ScanEngine* engine);
}
