#include "core/candidate_check.h"

#include <array>

#include "core/candidate_bytes.h"
#include "imaging/check/find_checker.h"

namespace kestrix {

int32_t CheckRowQueue::take() {
  // fetch_add may run past total_ on later calls; those rows are refused.
  const int32_t row = next_.fetch_add(1);
  return row < total_ ? row : -1;
}

CheckResult checkFindBytes(const uint8_t* bytes, uint64_t size, const std::string& type,
                           uint8_t* cell, bool* cellMade) {
  bool made = false;
  CheckResult result =
      CheckFind(bytes, size, type, cell, cell != nullptr ? &made : nullptr, PixelOrder::Rgb);
  if (cellMade != nullptr) *cellMade = cell != nullptr && made;
  return result;
}

void applyUnreadableSectors(uint64_t unreadableSectors, CheckResult& result) {
  if (unreadableSectors == 0 || result.verdict == Verdict::Damaged) return;
  result.verdict = Verdict::Damaged;
  result.hasBadOffset = false;
  result.badOffset = 0;
  result.reason = "unreadable sectors";
}

namespace {

// The type a checker knows the find by: the scan's, else the name's
// extension (a scan that gave no type still named the file).
std::string checkType(const CandidateInfo& info) {
  std::string type = typeText(info.find);
  if (!type.empty()) return type;
  const size_t dot = info.name.rfind('.');
  return dot == std::string::npos ? std::string() : info.name.substr(dot + 1);
}

}  // namespace

bool checkCandidateRow(const ImageBlock& image, EngineSet* engines, CandidateList& list,
                       int32_t row, uint8_t* cell, bool* cellMade,
                       const std::function<void(const CandidateBytes&)>& withBytes) {
  if (cellMade != nullptr) *cellMade = false;
  CandidateInfo info;
  const Candidate* candidate = list.candidateAt(row + 1);
  if (candidate == nullptr || !list.candidateInfo(row, info) || candidate->checked()) {
    return false;
  }
  CheckResult result;
  const CandidateBytes bytes(image, engines, info);
  if (bytes.ok()) {
    result = checkFindBytes(bytes.data(), bytes.size(), checkType(info), cell, cellMade);
    if (withBytes) withBytes(bytes);
  } else {
    // Why the bytes could not be had is the restore's to tell the user
    // (FileProblem); the check only notes that it saw none.
    result.reason = "no bytes";
  }
  applyUnreadableSectors(candidate->unreadableSectors(), result);
  return list.setCheck(row, result);
}

int32_t checkCandidates(const ImageBlock& image, EngineSet* engines, CandidateList& list,
                        CheckRowQueue& rows, const CheckCallbacks& callbacks) {
  std::array<uint8_t, kCheckCellStride * kCheckCellHeight> cell{};
  uint8_t* wanted = callbacks.thumbnailMade ? cell.data() : nullptr;
  int32_t checked = 0;
  while (!callbacks.shouldContinue || callbacks.shouldContinue()) {
    const int32_t row = rows.take();
    if (row < 0) break;
    bool made = false;
    if (checkCandidateRow(image, engines, list, row, wanted, &made)) ++checked;
    if (made) callbacks.thumbnailMade(row, cell.data());
    const int32_t finished = rows.finishOne();
    if (callbacks.progress) callbacks.progress(finished, rows.total());
  }
  return checked;
}

}  // namespace kestrix
