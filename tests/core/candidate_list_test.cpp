#include "core/candidate_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "imaging/exif_bytes.h"

namespace kestrix {
namespace {

using test::asciiEntry;
using test::pointerEntry;
using test::TestDirectory;
using test::TiffWriter;

std::string nameOf(const CandidateList& list, int32_t row) {
  std::string out = "<none>";
  list.itemName(row, out);
  return out;
}

// An image block holding one camera-like JPEG at `offset`.
std::vector<uint8_t> imageWith(size_t offset, bool withOriginal, size_t* length) {
  std::vector<TestDirectory> dirs(2);
  dirs[0].entries = {asciiEntry(kTagMake, "Canon"), asciiEntry(kTagModel, "IXY"),
                     asciiEntry(kTagDateTime, "2005:06:07 08:09:10"),
                     pointerEntry(kTagExifIfdPointer, 1)};
  dirs[1].entries = {withOriginal ? asciiEntry(kTagDateTimeOriginal, "2004:01:02 03:04:05")
                                  : asciiEntry(0x9004, "2004:01:02 03:04:05")};
  const std::vector<uint8_t> jpeg = TiffWriter::inJpeg(TiffWriter(true).build(dirs));
  std::vector<uint8_t> image(offset, 0);
  image.insert(image.end(), jpeg.begin(), jpeg.end());
  image.resize(image.size() + 4096, 0);
  *length = jpeg.size();
  return image;
}

// The texts of the rows are the programs' (tests/texts/row_texts_test.cpp).
TEST(CandidateList, RowWithoutExifHasNoShotDate) {
  std::vector<uint8_t> image(4096, 0x55);
  CandidateList list;
  ASSERT_TRUE(list.addCandidate("00000000.png", image.data(), {FileType::Png, 0, 2048}));
  EXPECT_FALSE(list.candidateAt(1)->hasExif());
  CandidateInfo info;
  info.shotDate = "stale";
  ASSERT_TRUE(list.candidateInfo(0, info));
  EXPECT_EQ(info.shotDate, "");
}

TEST(CandidateList, ShotDateFallsBackToDateTime) {
  size_t length = 0;
  const std::vector<uint8_t> with = imageWith(333, true, &length);
  const std::vector<uint8_t> without = imageWith(77, false, &length);
  CandidateList list;
  ASSERT_TRUE(list.addCandidate("00000000.jpg", with.data(), {FileType::Jpeg, 333, 333 + length}));
  ASSERT_TRUE(list.addCandidate("00000001.jpg", without.data(), {FileType::Jpeg, 77, 77 + length}));
  CandidateInfo info;
  ASSERT_TRUE(list.candidateInfo(1, info));
  EXPECT_EQ(info.name, "00000001.jpg");
  EXPECT_EQ(info.shotDate, "2005:06:07 08:09:10");
  EXPECT_EQ(info.find.start, 77u);
  EXPECT_EQ(info.find.end, 77u + length);
  ASSERT_TRUE(list.candidateInfo(0, info));
  EXPECT_EQ(info.shotDate, "2004:01:02 03:04:05");
}

TEST(CandidateList, FirstNodeReusedAfterClear) {
  std::vector<uint8_t> image(4096, 0);
  CandidateList list;
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(list.addCandidate("x.jpg", image.data(), {FileType::Jpeg, uint64_t(i), 100}));
  const Candidate* first = list.candidateAt(1);
  list.clear();
  EXPECT_EQ(list.itemCount(), 0);
  EXPECT_EQ(list.candidateAt(1), nullptr);
  EXPECT_EQ(first->index(), 0);  // cleared, unused
  EXPECT_EQ(first->next(), nullptr);
  ASSERT_TRUE(list.addCandidate("y.jpg", image.data(), {FileType::Jpeg, 10, 20}));
  EXPECT_EQ(list.candidateAt(1), first);
  EXPECT_EQ(first->index(), 1);
  EXPECT_EQ(first->find().start, 10u);
  ASSERT_TRUE(list.addCandidate("z.jpg", image.data(), {FileType::Jpeg, 20, 30}));
  EXPECT_EQ(first->next(), list.candidateAt(2));
  EXPECT_EQ(list.candidateAt(2)->index(), 2);
  EXPECT_EQ(list.candidateAt(3), nullptr);
  EXPECT_EQ(list.candidateAt(0), nullptr);
}

TEST(CandidateList, LongNameDoesNotSpillIntoDateOrOffsets) {
  size_t length = 0;
  const std::vector<uint8_t> image = imageWith(0, true, &length);
  CandidateList list;
  ASSERT_TRUE(list.addCandidate("a.jpg", image.data(), {FileType::Jpeg, 0, length}));
  const std::string longName = std::string(19, 'p') + std::string(30, '9') + "0001.jpg";
  ASSERT_TRUE(list.setItemName(0, longName));
  CandidateInfo info;
  ASSERT_TRUE(list.candidateInfo(0, info));
  EXPECT_EQ(info.name, longName);
  EXPECT_EQ(info.shotDate, "2004:01:02 03:04:05");
  EXPECT_EQ(info.find.start, 0u);
  EXPECT_EQ(info.find.end, length);
}

TEST(CandidateList, RefusalsLeaveOutputsUntouched) {
  std::vector<uint8_t> image(64, 0);
  CandidateList list;
  EXPECT_FALSE(list.addCandidate("n.jpg", nullptr, {FileType::Jpeg, 0, 10}));
  EXPECT_FALSE(list.addCandidate("r.jpg", image.data(), {FileType::Jpeg, 10, 5}));
  EXPECT_EQ(list.itemCount(), 0);
  ASSERT_TRUE(list.addCandidate("ok.jpg", image.data(), {FileType::Jpeg, 0, 10}));
  std::string out = "kept";
  EXPECT_FALSE(list.itemName(1, out));
  EXPECT_FALSE(list.itemName(-1, out));
  EXPECT_EQ(out, "kept");
  CandidateInfo info{"n", "d", Find(FileType::Jpeg, 1, 2)};
  EXPECT_FALSE(list.candidateInfo(5, info));
  EXPECT_EQ(info.name, "n");
  EXPECT_FALSE(list.setItemName(3, "x.jpg"));
  EXPECT_FALSE(list.setItemName(0, ""));
  EXPECT_FALSE(list.setItemName(0, std::string_view("a\0b.jpg", 7)));
  EXPECT_EQ(nameOf(list, 0), "ok.jpg");
}

class RecordingListener : public CandidateListListener {
 public:
  void rowsAppended(int32_t first, int32_t count) override {
    events.push_back("append " + std::to_string(first) + "+" + std::to_string(count));
  }
  void rowRenamed(int32_t row) override { events.push_back("rename " + std::to_string(row)); }
  void cleared() override { events.push_back("clear"); }
  std::vector<std::string> events;
};

TEST(CandidateList, NotifiesItsListener) {
  std::vector<uint8_t> image(64, 0);
  CandidateList list;
  RecordingListener listener;
  list.setListener(&listener);
  list.addCandidate("a.jpg", image.data(), {FileType::Jpeg, 0, 1});
  list.addCandidate("b.jpg", image.data(), {FileType::Jpeg, 0, 1});
  list.setItemName(1, "c.jpg");
  list.clear();
  EXPECT_EQ(listener.events,
            (std::vector<std::string>{"append 0+1", "append 1+1", "rename 1", "clear"}));
}

TEST(CandidateList, HundredThousandRowsThenClearDoesNotRecurse) {
  std::vector<uint8_t> image(64, 0);
  CandidateList list;
  for (int i = 0; i < 100000; ++i)
    ASSERT_TRUE(list.addCandidate("r.jpg", image.data(), {FileType::Jpeg, 0, 16}));
  EXPECT_EQ(list.candidateAt(100000)->index(), 100000);
  list.clear();
  for (int i = 0; i < 100000; ++i)
    ASSERT_TRUE(list.addCandidate("r.jpg", image.data(), {FileType::Jpeg, 0, 16}));
  EXPECT_EQ(list.itemCount(), 100000);
}  // destruction of the chain must not overflow the stack either

TEST(CandidateListConcurrency, ReaderSeesWholeRowsWhileScanAppends) {
  size_t length = 0;
  const std::vector<uint8_t> image = imageWith(0, true, &length);
  CandidateList list;
  constexpr int kRows = 3000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRows; ++i) {
      list.addCandidate(std::to_string(i) + ".jpg", image.data(), {FileType::Jpeg, 0, length});
    }
    done.store(true);
  });
  int checks = 0;
  bool consistent = true;
  while (!done.load() || checks == 0) {
    const int32_t count = list.itemCount();
    if (count > 0) {
      const int32_t row = count - 1;
      consistent &= nameOf(list, row) == std::to_string(row) + ".jpg";
      const Candidate* candidate = list.candidateAt(count);
      std::string maker;
      consistent &= candidate != nullptr && candidate->index() == count && candidate->hasExif() &&
                    candidate->mainChainText(kTagMake, maker) && maker == "Canon";
      // A write from this thread too, under the lock the appends take.
      consistent &= list.setItemName(row, std::to_string(row) + ".jpg");
      CandidateInfo info;
      consistent &= list.candidateInfo(row, info) && info.shotDate == "2004:01:02 03:04:05";
    }
    ++checks;
  }
  writer.join();
  EXPECT_TRUE(consistent);
  EXPECT_EQ(list.itemCount(), kRows);
}

}  // namespace
}  // namespace kestrix
