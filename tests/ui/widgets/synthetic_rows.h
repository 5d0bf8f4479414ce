// Rows for the results list made in memory: chosen names, sizes, EXIF
// maker, model and shot date, parents and verdicts, without a card.
//
//   SyntheticImage image;
//   const uint64_t exif = image.block("Canon", "EOS", "2003:07:14 09:05:30");
//   image.finish(1 << 20);                       // candidates up to 1 MiB
//   addRow(list, image, {"a.jpg", exif, 4096});
//
// Every candidate views the one image buffer: a row starts at the EXIF
// block it should carry and runs on into the buffer's tail for its size, so
// 100,000 rows of any size cost only the few blocks.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/candidate_list.h"
#include "tests/imaging/exif_bytes.h"
#include "ui/widgets/result_list.h"

namespace kestrix::test {

class SyntheticImage {
 public:
  // Offset of a JPEG start with an EXIF block holding these texts (an empty
  // text leaves its tag out); with all three empty, of bytes without EXIF.
  // Only before finish().
  uint64_t block(const std::string& maker, const std::string& model, const std::string& date) {
    const auto key = std::make_tuple(maker, model, date);
    const auto found = blocks_.find(key);
    if (found != blocks_.end()) return found->second;
    const uint64_t offset = bytes_.size();
    if (maker.empty() && model.empty() && date.empty()) {
      bytes_.insert(bytes_.end(), 64, 0x20);
    } else {
      std::vector<TestDirectory> dirs(2);
      if (!maker.empty()) dirs[0].entries.push_back(asciiEntry(kTagMake, maker));
      if (!model.empty()) dirs[0].entries.push_back(asciiEntry(kTagModel, model));
      dirs[0].entries.push_back(pointerEntry(kTagExifIfdPointer, 1));
      if (!date.empty()) dirs[1].entries.push_back(asciiEntry(kTagDateTimeOriginal, date));
      const std::vector<uint8_t> jpeg = TiffWriter::inJpeg(TiffWriter(false).build(dirs));
      bytes_.insert(bytes_.end(), jpeg.begin(), jpeg.end());
    }
    blocks_[key] = offset;
    return offset;
  }
  // Room after the last block, so a row may be up to `tail` bytes long.
  void finish(size_t tail) { bytes_.resize(bytes_.size() + tail, 0x20); }
  const uint8_t* data() const { return bytes_.data(); }
  uint64_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  std::map<std::tuple<std::string, std::string, std::string>, uint64_t> blocks_;
};

struct SyntheticRow {
  SyntheticRow() = default;
  SyntheticRow(std::string name, uint64_t start, uint64_t size)
      : name(std::move(name)), start(start), size(size) {}

  std::string name;
  uint64_t start = 0;  // a SyntheticImage block
  uint64_t size = 0;
  std::string parent;  // non-empty: a nested find
  bool checked = false;
  Verdict verdict = Verdict::Unknown;
  int width = 0;
  int height = 0;
};

// Appends the row (published at the list's next flush); false when the list
// refused it. Any thread, like the scan.
inline bool addRow(ResultList& list, const SyntheticImage& image, const SyntheticRow& row) {
  CandidateList& candidates = list.candidates();
  const int32_t index = candidates.itemCount();
  Find find(FileType::Jpeg, row.start, row.start + row.size);
  find.parent = row.parent;
  find.plainRange = true;
  if (!candidates.addCandidate(row.name, image.data(), find)) return false;
  if (!row.checked) return true;
  CheckResult check;
  check.verdict = row.verdict;
  check.width = row.width;
  check.height = row.height;
  return candidates.setCheck(index, check);
}

}  // namespace kestrix::test
