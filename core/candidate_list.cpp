#include "core/candidate_list.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace kestrix {

namespace {

// The table's rows are addressed with signed 32-bit numbers.
constexpr size_t kMaxRows = static_cast<size_t>(std::numeric_limits<int32_t>::max());

bool validRow(int32_t row, size_t rowCount) {
  return row >= 0 && static_cast<size_t>(row) < rowCount;
}

}  // namespace

// ---------------------------------------------------------------- Candidate

Candidate::~Candidate() {
  // Unlink the chain node by node: letting each node's unique_ptr destroy the
  // next would recurse once per candidate and overflow the stack on a scan
  // with a hundred thousand hits.
  std::unique_ptr<Candidate> node = std::move(next_);
  while (node) node = std::move(node->next_);
}

void Candidate::assign(const uint8_t* imageData, Find find, int32_t index) {
  imageData_ = imageData;
  find_ = std::move(find);
  index_ = index;
  if (imageData == nullptr || find_.end < find_.start) {
    ExifInfo::clear();
    return;
  }
  parse(imageData + find_.start, find_.end - find_.start);
}

void Candidate::clear() {
  ExifInfo::clear();
  find_ = Find{};
  check_ = CheckResult{};
  checked_.store(false);
  unreadableSectors_ = 0;
  imageData_ = nullptr;
  index_ = 0;
}

// ------------------------------------------------------------ CandidateList

CandidateList::CandidateList() { nodes_.push_back(&first_); }

CandidateList::~CandidateList() = default;

bool CandidateList::addCandidate(std::string_view name, const uint8_t* imageData, Find find) {
  if (imageData == nullptr || find.end < find.start) return false;
  std::lock_guard appendLock(appendMutex_);

  // Claim the node for row `used`: an unused one left by clear(), or a new
  // one. Neither is visible to readers yet (candidateAt stops at itemCount).
  size_t used;
  Candidate* node = nullptr;
  {
    std::lock_guard lock(mutex_);
    used = rows_.size();
    if (used >= kMaxRows) return false;
    if (used < nodes_.size()) node = nodes_[used];
  }
  std::unique_ptr<Candidate> fresh;
  Row row;
  try {
    if (node == nullptr) {
      fresh = std::make_unique<Candidate>();
      node = fresh.get();
    }
    // Reading the EXIF block walks the whole hit; do it outside the row lock
    // so the user-interface thread is not held up.
    node->assign(imageData, std::move(find), static_cast<int32_t>(used + 1));
    row.name.assign(name);
    row.candidate = node;

    std::lock_guard lock(mutex_);
    // Reserve first so that publishing below cannot fail half-way.
    // Grow geometrically: reserve(size + 1) alone would copy every row on
    // every append.
    if (rows_.size() == rows_.capacity()) rows_.reserve(std::max<size_t>(64, 2 * rows_.capacity()));
    if (fresh && nodes_.size() == nodes_.capacity()) {
      nodes_.reserve(std::max<size_t>(64, 2 * nodes_.capacity()));
    }
    if (fresh) {
      nodes_.back()->next_ = std::move(fresh);
      nodes_.push_back(node);
    }
    rows_.push_back(std::move(row));
  } catch (const std::bad_alloc&) {
    // The row could not be added: the node goes back to unused.
    if (node != nullptr) node->clear();
    return false;
  }

  CandidateListListener* listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener->rowsAppended(static_cast<int32_t>(used), 1);
  return true;
}

void CandidateList::clear() {
  std::lock_guard appendLock(appendMutex_);
  CandidateListListener* listener;
  {
    std::lock_guard lock(mutex_);
    rows_.clear();
    // Destroys every node after the first (iteratively, see ~Candidate).
    std::unique_ptr<Candidate> rest = std::move(first_.next_);
    while (rest) rest = std::move(rest->next_);
    first_.clear();
    nodes_.assign(1, &first_);
    listener = listener_;
  }
  if (listener) listener->cleared();
}

int32_t CandidateList::itemCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(rows_.size());
}

bool CandidateList::itemName(int32_t row, std::string& out) const {
  std::lock_guard lock(mutex_);
  if (!validRow(row, rows_.size())) return false;
  out = rows_[row].name;
  return true;
}

bool CandidateList::setItemName(int32_t row, std::string_view name) {
  // The name becomes a file name: an empty one or one cut by a NUL would
  // restore under a different name than the one shown.
  if (name.empty() || name.find('\0') != std::string_view::npos) return false;
  CandidateListListener* listener;
  {
    std::lock_guard lock(mutex_);
    if (!validRow(row, rows_.size())) return false;
    rows_[row].name.assign(name);
    listener = listener_;
  }
  if (listener) listener->rowRenamed(row);
  return true;
}

bool CandidateList::candidateInfo(int32_t row, CandidateInfo& out) const {
  std::lock_guard lock(mutex_);
  if (!validRow(row, rows_.size())) return false;
  const Row& source = rows_[row];
  const Candidate& candidate = *source.candidate;
  out.name = source.name;
  out.shotDate.clear();
  if (candidate.hasExif()) candidate.shotDateText(out.shotDate, kShotDateCapacity);
  out.find = candidate.find();
  return true;
}

const Candidate* CandidateList::candidateAt(int32_t index) const {
  std::lock_guard lock(mutex_);
  if (index < 1 || static_cast<size_t>(index) > rows_.size()) return nullptr;
  return nodes_[index - 1];
}

bool CandidateList::setCheck(int32_t row, const CheckResult& result) {
  Candidate* candidate;
  {
    std::lock_guard lock(mutex_);
    if (!validRow(row, rows_.size())) return false;
    candidate = rows_[row].candidate;
  }
  // One writer per row: the first check wins, readers see it only once
  // checked() is true.
  if (candidate->checked_.load(std::memory_order_acquire)) return false;
  candidate->check_ = result;
  candidate->checked_.store(true, std::memory_order_release);
  return true;
}

bool CandidateList::setUnreadableSectors(int32_t row, uint64_t sectors) {
  std::lock_guard lock(mutex_);
  if (!validRow(row, rows_.size())) return false;
  rows_[row].candidate->unreadableSectors_ = sectors;
  return true;
}

bool CandidateList::setReassembly(int32_t row, const FilePieces& pieces,
                                  const CheckResult& result) {
  std::lock_guard lock(mutex_);
  if (!validRow(row, rows_.size()) || pieces.empty()) return false;
  Candidate& candidate = *rows_[row].candidate;
  if (!candidate.checked() || pieces.front().start != candidate.find_.start) return false;
  for (const FilePiece& piece : pieces) {
    if (piece.end <= piece.start) return false;
  }
  Find& find = candidate.find_;
  find.fragments = pieces;
  uint64_t furthest = 0;
  for (const FilePiece& piece : pieces) furthest = std::max(furthest, piece.end);
  find.end = furthest;
  find.plainRange = true;
  candidate.check_ = result;
  return true;
}

bool CandidateList::setParent(int32_t row, std::string_view parent) {
  std::lock_guard lock(mutex_);
  if (!validRow(row, rows_.size()) || parent.empty()) return false;
  Candidate& candidate = *rows_[row].candidate;
  if (!candidate.find_.parent.empty()) return false;
  candidate.find_.parent = std::string(parent);
  return true;
}

void CandidateList::setListener(CandidateListListener* listener) {
  std::lock_guard lock(mutex_);
  listener_ = listener;
}

}  // namespace kestrix
