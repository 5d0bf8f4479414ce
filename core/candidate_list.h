// The candidate list: one row per file found by the last scan, in the order
// found (registry order of the types, then position). The window's model and
// the command-line listing both read it; it needs no Qt. It holds no display
// texts: the programs make a row's texts from its candidate and name
// (texts/row_texts.h) on their own thread, never on the scan thread.
//
// Threading contract.
//   - addCandidate is called by the scan thread while the user-interface
//     thread reads. Appends are serialised among themselves; the EXIF block
//     is read outside the row lock, then the row and its node are published
//     together under the lock, so a reader sees either the whole row or none.
//   - A Candidate is immutable once its row is published; only the row's name
//     changes afterwards (setItemName), under the lock. Pointers from
//     candidateAt stay valid until clear() or the list's destruction.
//   - clear() must not race with a thread that still holds Candidate
//     pointers: the window disables every command that reads the list while
//     it clears (it stops the scan and the thumbnail worker first).
//   - Listener calls are made on the thread that made the change, after the
//     lock is released; a Qt model turns them into queued signals. Set the
//     listener while no other thread uses the list.
//
// Rows and candidate nodes are appended and cleared together, so row i
// (0-based) always holds the node with index i + 1.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/find.h"
#include "imaging/check/verdict.h"
#include "imaging/exif_info.h"

namespace kestrix {

// One found file: where it lies in the image, and its EXIF metadata read
// from those bytes. It views the image block and never owns it.
class Candidate : public ExifInfo {
 public:
  Candidate() = default;
  ~Candidate() override;

  // Sets the view and the find, and reads the EXIF block of imageData +
  // find.start for find.size() bytes. end < start gives an empty view.
  void assign(const uint8_t* imageData, Find find, int32_t index);
  // Forgets the view and the EXIF data (the image bytes are not freed) and
  // marks the node unused (index 0). The chain link is kept.
  void clear();

  const uint8_t* imageData() const { return imageData_; }
  // What the scan found: type, range, parent, fragments (core/find.h).
  const Find& find() const { return find_; }
  int32_t index() const { return index_; }  // 1-based; 0 marks an unused node
  const Candidate* next() const { return next_.get(); }

  // What a check of the find's bytes said (imaging/check/): set once, after
  // the scan, by the check; Unknown until then.
  const CheckResult& check() const { return check_; }
  bool checked() const { return checked_; }
  // 512-byte sectors of the find that the card's rescue map does not mark
  // finished (they read as zeros in the image); 0 without a map.
  uint64_t unreadableSectors() const { return unreadableSectors_; }

 private:
  friend class CandidateList;
  const uint8_t* imageData_ = nullptr;  // the image block, not owned
  Find find_;
  int32_t index_ = 0;
  CheckResult check_;
  std::atomic<bool> checked_{false};  // check_ is written before this is set
  uint64_t unreadableSectors_ = 0;
  std::unique_ptr<Candidate> next_;  // owned; the chain is never shared
};

// Longest shot-date text in CandidateInfo, in bytes ("YYYY:MM:DD hh:mm:ss" is 19).
inline constexpr size_t kShotDateCapacity = 49;

// Flat copy of one row for the restore jobs.
struct CandidateInfo {
  std::string name;      // the row's name, whole (a tidy-step name can exceed 49)
  std::string shotDate;  // DateTimeOriginal, else DateTime; empty without EXIF; ≤ 49 bytes
  Find find;             // the candidate's, as the scan (or a reassembly) left it
};

// Observer of a CandidateList (see the threading contract above).
class CandidateListListener {
 public:
  virtual ~CandidateListListener() = default;
  virtual void rowsAppended(int32_t first, int32_t count) = 0;
  virtual void rowRenamed(int32_t row) = 0;
  virtual void cleared() = 0;
};

class CandidateList {
 public:
  CandidateList();
  ~CandidateList();
  CandidateList(const CandidateList&) = delete;
  CandidateList& operator=(const CandidateList&) = delete;

  // Appends a row named `name` for `find` in `imageData` (which must outlive
  // the row) and reads its EXIF block. False, with nothing appended, when
  // imageData is null, find.end < find.start, the list is full or memory
  // runs out; the scan reports that as a failure of its own.
  bool addCandidate(std::string_view name, const uint8_t* imageData, Find find);
  // Removes every row; the first chain node is kept for reuse.
  void clear();

  int32_t itemCount() const;

  // The row's name; false (out untouched) when the row does not exist.
  bool itemName(int32_t row, std::string& out) const;
  // Replaces the row's name. False when the row does not exist or the name
  // is empty or contains a NUL (it becomes a file name).
  bool setItemName(int32_t row, std::string_view name);
  // Fills name, find and shot date; false (out untouched) for a missing row.
  bool candidateInfo(int32_t row, CandidateInfo& out) const;
  // The candidate with this 1-based index, or null.
  const Candidate* candidateAt(int32_t index) const;

  // Stores the check of a row's find; false for a missing row. Any thread:
  // the result is published by Candidate::checked(), and a row is checked
  // at most once per scan (a second call is ignored and returns false).
  bool setCheck(int32_t row, const CheckResult& result);
  // Stores the number of unreadable sectors of a row's find (the rescue
  // map's answer); false for a missing row. Call before the rows are shown
  // or checked (after the scan, on the thread that ran it).
  bool setUnreadableSectors(int32_t row, uint64_t sectors);
  // Makes a checked row the file joined from `pieces` (a plain range each),
  // with the check of the joined bytes. False for a missing or unchecked
  // row, or pieces that do not start at the row's start. Call only once
  // every check has ended, on the thread that ran them, before the rows
  // are read again (the reassembly step of the command line, and of the
  // window once its check pool is joined).
  bool setReassembly(int32_t row, const FilePieces& pieces, const CheckResult& result);
  // Gives a row without a parent the name of the find that holds it: a
  // thumbnail inside a photo that the reassembly made whole. False for a
  // missing row, one that has a parent, or an empty name. Same calling
  // rules as setReassembly.
  bool setParent(int32_t row, std::string_view parent);

  void setListener(CandidateListListener* listener);

 private:
  struct Row {
    std::string name;
    Candidate* candidate = nullptr;  // node index == row + 1
  };

  mutable std::mutex mutex_;  // guards rows_, nodes_, listener_
  std::mutex appendMutex_;    // serialises addCandidate and clear
  Candidate first_;           // the chain's first node, reused after clear
  // Every node of the chain in order (nodes_[0] == &first_); the first
  // rows_.size() are in use. Gives candidateAt in O(1).
  std::vector<Candidate*> nodes_;
  std::vector<Row> rows_;
  CandidateListListener* listener_ = nullptr;
};

}  // namespace kestrix
