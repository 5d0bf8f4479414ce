// Checking a list: every row once over several threads, the progress and the
// stop, and the rule for sectors the card could not read.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/candidate_check.h"
#include "core/candidate_list.h"

namespace kestrix {
namespace {

class MemoryBlock : public ImageBlock {
 public:
  explicit MemoryBlock(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  const uint8_t* data() const override { return bytes_.data(); }
  uint64_t size() const override { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// `rows` plain-range finds of 16 bytes each; `type` names their checker.
void fill(CandidateList& list, const ImageBlock& image, int rows, const std::string& type) {
  for (int row = 0; row < rows; ++row) {
    const std::string name = std::to_string(row) + "." + type;
    Find find(FileType::Unknown, uint64_t(row) * 16, uint64_t(row) * 16 + 16);
    setFileType(find, type);
    find.plainRange = true;
    ASSERT_TRUE(list.addCandidate(name, image.data(), find));
  }
}

TEST(CandidateCheck, UnreadableSectorsMakeEveryVerdictDamaged) {
  const struct {
    const char* name;
    Verdict before;
    uint64_t sectors;
    Verdict after;
  } cases[] = {
      {"intact with a sector the card lost", Verdict::Intact, 1, Verdict::Damaged},
      {"truncated with lost sectors", Verdict::Truncated, 8, Verdict::Damaged},
      {"unknown type with lost sectors", Verdict::Unknown, 2, Verdict::Damaged},
      {"intact without a map's word", Verdict::Intact, 0, Verdict::Intact},
      {"damaged keeps its own reason", Verdict::Damaged, 3, Verdict::Damaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CheckResult result;
    result.verdict = c.before;
    result.width = 640;
    result.height = 480;
    if (c.before == Verdict::Damaged) result.Judge(Verdict::Damaged, 100, "bad huffman code");
    applyUnreadableSectors(c.sectors, result);
    EXPECT_EQ(result.verdict, c.after);
    EXPECT_EQ(result.width, 640);
    if (c.before == Verdict::Damaged) {
      EXPECT_EQ(result.reason, "bad huffman code");
    }
  }
}

TEST(CandidateCheck, RowWithUnreadableSectorsIsStoredDamaged) {
  const MemoryBlock image(std::vector<uint8_t>(64, 0x41));
  CandidateList list;
  fill(list, image, 2, "xyz");
  ASSERT_TRUE(list.setUnreadableSectors(1, 1));
  EXPECT_TRUE(checkCandidateRow(image, nullptr, list, 0));
  EXPECT_TRUE(checkCandidateRow(image, nullptr, list, 1));
  EXPECT_EQ(list.candidateAt(1)->check().verdict, Verdict::Unknown);
  EXPECT_EQ(list.candidateAt(2)->check().verdict, Verdict::Damaged);
  // Checked once per scan; a missing row is refused.
  EXPECT_FALSE(checkCandidateRow(image, nullptr, list, 0));
  EXPECT_FALSE(checkCandidateRow(image, nullptr, list, 2));
}

TEST(CandidateCheck, TwoThreadsCheckEveryRowOnceWithProgressToTheEnd) {
  constexpr int kRows = 2000;
  const MemoryBlock image(std::vector<uint8_t>(kRows * 16, 0));
  CandidateList list;
  fill(list, image, kRows, "png");
  CheckRowQueue rows(list.itemCount());
  std::atomic<int> progressCalls{0};
  std::atomic<int> lastTotal{0};
  std::atomic<int> highest{0};
  CheckCallbacks callbacks;
  callbacks.progress = [&](int32_t finished, int32_t total) {
    ++progressCalls;
    lastTotal = total;
    int seen = highest.load();
    while (finished > seen && !highest.compare_exchange_weak(seen, finished)) {
    }
  };
  int32_t byOther = 0;
  std::thread other([&] { byOther = checkCandidates(image, nullptr, list, rows, callbacks); });
  const int32_t byThis = checkCandidates(image, nullptr, list, rows, callbacks);
  other.join();
  EXPECT_EQ(byThis + byOther, kRows);
  EXPECT_EQ(progressCalls.load(), kRows);
  EXPECT_EQ(highest.load(), kRows);
  EXPECT_EQ(lastTotal.load(), kRows);
  for (int row = 0; row < kRows; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    ASSERT_TRUE(candidate->checked()) << row;
    // Sixteen zero bytes are no PNG.
    EXPECT_EQ(candidate->check().verdict, Verdict::Damaged) << row;
  }
}

TEST(CandidateCheck, StopEndsTheWorkBetweenRows) {
  const MemoryBlock image(std::vector<uint8_t>(100 * 16, 0));
  CandidateList list;
  fill(list, image, 100, "png");
  CheckRowQueue rows(list.itemCount());
  int asked = 0;
  CheckCallbacks callbacks;
  callbacks.shouldContinue = [&asked] { return ++asked <= 10; };
  EXPECT_EQ(checkCandidates(image, nullptr, list, rows, callbacks), 10);
  EXPECT_TRUE(list.candidateAt(10)->checked());
  EXPECT_FALSE(list.candidateAt(11)->checked());
}

}  // namespace
}  // namespace kestrix
