// The scan: every engine over the image, in windows, with one read of the
// card for all file types. Synchronous; the window's scan thread and the
// command-line program both call it.
//
//   EngineSet engines = host.createEngineSet();
//   ScanSummary summary = scanImage(image, engines, host.registry().keys(), list,
//                                   ScanSettings{ScanMode::Precise}, callbacks);
//
// Windows. The image is taken a window at a time (kScanWindowBytes); every
// extension, in registry order, finishes the window before the next window
// starts. Each window is read from storage once and then found in the page
// cache by the other types, so an image larger than memory is read about
// once, not once per type. The results are exactly those of one pass per
// type over the whole image: the same finds, names, counters and order
// (registry order, then position).
//
// How each mode keeps that promise:
//   - The signature rules look ahead without limit (the next header, the
//     next footer), so their engines are bound to the whole image; windows
//     only decide which hits are handed out when.
//   - The precise modes are bound to the window plus kScanMarginBytes. Their
//     engines report a find that needs bytes beyond the bound as ending
//     exactly at the bound; such a find is decided again on the whole image.
//     A find that starts past the window waits for the next one.
//
// A precise find ending at the image's end is listed only when what lies
// before the end proves a file (a cut photo, a movie whose moov or mdat was
// walked); bytes that merely open like one are passed over.
//
// Names are "%08u.%s", one counter per extension. In the precise modes a
// find lying inside a span of a whole file (a frame in a movie's mdat, a
// JPEG in a PNG chunk or a photo's APPn) is dropped in the normal mode and
// listed with its parent's name in the split mode. A find that is cut,
// damaged or unverified never drops another.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/image_block.h"

namespace kestrix {

class Candidate;
class CandidateList;
class EngineSet;

// How the engines look at the bytes.
enum class ScanMode {
  SignatureRules,       // header and footer signatures, thumbnails absorbed
  SignatureRulesSplit,  // the same, every JPEG stream found from its tables (分解抽出)
  Precise,              // structure-aware: whole files, nested ones not listed
  PreciseSplit,         // structure-aware, embedded JPEGs listed with their parent
};

// The value an engine is given for the mode (the plug-in interface's number).
int32_t engineModeValue(ScanMode mode);
bool isPrecise(ScanMode mode);
bool isSplit(ScanMode mode);
// Whether a row is listed (shown, restored) in `mode`. A find held by
// another is listed only in the split modes: the scan drops it from the
// normal mode's list, and one found held after the rows were named (the
// EXIF thumbnail of a photo joined from its pieces) keeps its row, unlisted.
bool isListed(ScanMode mode, const Candidate& candidate);

// Bytes per window: large enough that the per-window work is negligible,
// small enough that a window stays in the page cache while every type reads
// it, even on a machine with little free memory.
inline constexpr uint64_t kScanWindowBytes = uint64_t{256} << 20;
// Bytes a precise engine may read past its window before a find is decided
// again on the whole image: a photo of that size is rare. Smaller margins are
// raised to 64 bytes, so no signature is ever cut by the bound.
inline constexpr uint64_t kScanMarginBytes = uint64_t{64} << 20;

struct ScanSettings {
  ScanMode mode = ScanMode::Precise;
  uint64_t windowBytes = kScanWindowBytes;  // tests set small windows
  uint64_t marginBytes = kScanMarginBytes;
};

struct ScanCallbacks {
  // Progress over the whole scan, 0 to 100; may be empty.
  std::function<void(int percent)> progress;
  // Asked between finds and between windows; empty means "go on".
  std::function<bool()> shouldContinue;
};

struct ScanSummary {
  uint64_t added = 0;           // rows appended to the list
  uint64_t appendFailures = 0;  // finds the list could not take (out of memory)
  bool stopped = false;         // shouldContinue turned false part-way
};

// Scans `image` for every extension of `extensions` (registry keys, with
// their dots) that an engine of `engines` handles, appending the finds to
// `list`. The list is not cleared first. Given `besideEngines` (a second set
// from the same host, used by nothing else meanwhile), the types after the
// first are searched on a second thread at the same time; the results are
// the same, and `callbacks.shouldContinue` is then asked from both threads.
ScanSummary scanImage(const ImageBlock& image, EngineSet& engines,
                      const std::vector<std::string>& extensions, CandidateList& list,
                      const ScanSettings& settings, const ScanCallbacks& callbacks = {},
                      EngineSet* besideEngines = nullptr);

}  // namespace kestrix
