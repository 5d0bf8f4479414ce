// Checking the finds of a scan (imaging/check/): every row's bytes in memory
// (core/candidate_bytes.h), CheckFind by the row's type, then the rule for
// sectors the card could not read, stored with CandidateList::setCheck.
// Synchronous and without threads of its own: a caller that wants both
// cores runs checkCandidates on several threads over one CheckRowQueue, each
// thread with its own EngineSet (an extraction binds the engine).
//
//   CheckRowQueue rows(list.itemCount());
//   // on each of N threads, with engines = host.createEngineSet():
//   checkCandidates(image, engines, list, rows, callbacks);
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "core/candidate_list.h"
#include "core/image_block.h"
#include "imaging/check/verdict.h"

namespace kestrix {

class CandidateBytes;
class EngineSet;

// The thumbnail cell a check can fill on the way: 100 × 75, RGB, 3 bytes a
// pixel, stride 300 (the checker's own layout).
inline constexpr int kCheckCellWidth = 100;
inline constexpr int kCheckCellHeight = 75;
inline constexpr int kCheckCellStride = kCheckCellWidth * 3;

// Hands out the rows 0 .. total − 1, each exactly once, to any number of
// threads, and counts the rows finished, for the progress.
class CheckRowQueue {
 public:
  explicit CheckRowQueue(int32_t total) : total_(total < 0 ? 0 : total) {}
  // The next row to check, or −1 when every row was handed out.
  int32_t take();
  // Counts one row as finished; returns the rows finished so far.
  int32_t finishOne() { return finished_.fetch_add(1) + 1; }
  int32_t total() const { return total_; }
  int32_t finished() const { return finished_.load(); }

 private:
  const int32_t total_;
  std::atomic<int32_t> next_{0};
  std::atomic<int32_t> finished_{0};
};

struct CheckCallbacks {
  // Asked before every row; false ends this thread's share at once.
  std::function<bool()> shouldContinue;
  // After each row is stored (on the checking thread): rows finished of all.
  std::function<void(int32_t finished, int32_t total)> progress;
  // When set, JPEG checks also make the row's thumbnail from the same
  // decoding work; called on the checking thread with the row and the cell
  // (layout above), valid only during the call. Not called for rows whose
  // check made no picture.
  std::function<void(int32_t row, const uint8_t* cell)> thumbnailMade;
};

// The check of one find's bytes of type `type` (Candidate::type). Also used
// where the bytes are already at hand; no rescue-map rule here.
CheckResult checkFindBytes(const uint8_t* bytes, uint64_t size, const std::string& type,
                           uint8_t* cell = nullptr, bool* cellMade = nullptr);

// The rescue map's rule, applied to a checker's result: bytes the card could
// not read were stored as zeros, so the file is not the one that was shot,
// whatever its decode says: "damaged" (the size in pixels is kept).
void applyUnreadableSectors(uint64_t unreadableSectors, CheckResult& result);

// Checks the row (see the file's comment) and stores the result. `engines`
// is this thread's own (needed for a find that is not a plain range); a find
// whose bytes cannot be had is stored as "unknown" with the reason. `cell`,
// when given, receives a JPEG's thumbnail and *cellMade says whether it did.
// `withBytes`, when set, is shown the find's bytes after the check and
// before the result is stored (the window draws a PNG's thumbnail from them).
// False when the row does not exist or was checked already.
bool checkCandidateRow(const ImageBlock& image, EngineSet* engines, CandidateList& list,
                       int32_t row, uint8_t* cell = nullptr, bool* cellMade = nullptr,
                       const std::function<void(const CandidateBytes&)>& withBytes = {});

// Checks rows taken from `rows` until it is empty or shouldContinue says
// no. Returns the rows this call checked.
int32_t checkCandidates(const ImageBlock& image, EngineSet* engines, CandidateList& list,
                        CheckRowQueue& rows, const CheckCallbacks& callbacks = {});

}  // namespace kestrix
