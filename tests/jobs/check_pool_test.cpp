// The check pool's contract with its owner, without a window: every row is
// reported once however the rows arrive, progress only grows, the end is
// announced once, only by a pool that was closed and not stopped; and a
// row's report carries the thumbnail made from its check's decode, or none.
#include "jobs/check_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "job_test_support.h"

namespace kestrix {
namespace {

class CountingListener : public CheckPoolListener {
 public:
  explicit CountingListener(int32_t rows) : checks_(static_cast<size_t>(rows)) {}

  void post(CheckReport report) override {
    if (const auto* checked = std::get_if<check_report::RowChecked>(&report)) {
      EXPECT_EQ(checked->generation, 7);
      // Called on the pool's thread: a slow listener is a slow pool.
      if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++checks_[static_cast<size_t>(checked->row)];
      std::lock_guard<std::mutex> lock(mutex_);
      if (checked->thumbnail) thumbnails_[checked->row] = *checked->thumbnail;
    } else if (const auto* progress = std::get_if<check_report::Progress>(&report)) {
      std::lock_guard<std::mutex> lock(mutex_);
      EXPECT_LE(progress->finished, progress->total);
      progress_.push_back(progress->finished);
    } else {
      ++ends_;
    }
  }

  bool waitForEnd() {
    for (int i = 0; i < 2000 && ends_ == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ends_ > 0;
  }

  std::vector<std::atomic<int>> checks_;
  std::mutex mutex_;
  std::vector<int32_t> progress_;
  std::map<int32_t, ThumbnailPixels> thumbnails_;
  std::atomic<int> ends_{0};
  bool slow_ = false;
};

TEST(CheckPoolTest, RowsPublishedInBatchesAreEachReportedOnceAndTheEndIsSaidOnce) {
  // No image: every row is reported without a check, which is all the
  // hand-out needs.
  CountingListener listener(100);
  CheckPool pool(listener, {}, 7);
  ASSERT_TRUE(pool.start());
  pool.extend(10);
  pool.prefer({90, 95});  // not published yet: taken when they come, in their turn
  pool.extend(60);
  pool.extend(100);
  // close() says so itself when every row is done already; else the last
  // thread does, once.
  const bool doneAtClose = pool.close();
  if (!doneAtClose) {
    ASSERT_TRUE(listener.waitForEnd());
  }
  pool.stop();
  EXPECT_EQ(listener.ends_, doneAtClose ? 0 : 1);
  for (size_t row = 0; row < listener.checks_.size(); ++row)
    EXPECT_EQ(listener.checks_[row], 1) << "row " << row;
  std::lock_guard<std::mutex> lock(listener.mutex_);
  ASSERT_FALSE(listener.progress_.empty());
  EXPECT_EQ(*std::max_element(listener.progress_.begin(), listener.progress_.end()), 100);
  EXPECT_TRUE(listener.thumbnails_.empty());
}

TEST(CheckPoolTest, AStoppedPoolSaysNothingMoreAndChecksNoRowTwice) {
  CountingListener listener(400);
  listener.slow_ = true;
  CheckPool pool(listener, {}, 7);
  ASSERT_TRUE(pool.start());
  pool.extend(400);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pool.stop();  // rows not reached stay unchecked
  EXPECT_FALSE(pool.isActive());
  EXPECT_EQ(listener.ends_, 0) << "a pool that was never closed has no end to announce";
  int checked = 0;
  for (const std::atomic<int>& count : listener.checks_) {
    EXPECT_LE(count, 1);
    checked += count;
  }
  EXPECT_LT(checked, 400);
}

TEST(CheckPoolTest, EachRowComesWithTheThumbnailOfItsOwnDecodeOrNone) {
  // An image of a real photo, a PNG the owner's drawing decodes, bytes that
  // are no PNG, and a movie with no thumbnailer where it is looked for.
  const std::string jpeg = test::readFile(KESTRIX_TEST_DATA "/jpeg/cjpeg_320x240_quality_60.jpg");
  ASSERT_FALSE(jpeg.empty());
  const std::string pngMark = "drawable";
  std::string content = jpeg;
  const uint64_t png = content.size();
  content += pngMark + std::string(504, '\x01');
  const uint64_t junk = content.size();
  content += std::string(512, '\x02');
  const uint64_t movie = content.size();
  content += std::string(512, '\x03');
  test::ScratchFolder folder;
  const std::unique_ptr<ImageFile> image = test::openContent(folder.file("card.ksx"), content);
  ASSERT_NE(image, nullptr);
  CandidateList list;
  const auto add = [&](const char* name, FileType type, uint64_t start, uint64_t end) {
    Find find(type, start, end);
    find.plainRange = true;  // as the scan leaves a find it read in one piece
    return list.addCandidate(name, image->data(), find);
  };
  ASSERT_TRUE(add("00000000.jpg", FileType::Jpeg, 0, png));
  ASSERT_TRUE(add("00000000.png", FileType::Png, png, junk));
  ASSERT_TRUE(add("00000001.png", FileType::Png, junk, movie));
  ASSERT_TRUE(add("00000000.mov", FileType::Mov, movie, content.size()));
  // The program's own scan plug-in: each thread's engines know the types.
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadPlugin(std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kxengine.kxp"), 1);

  std::atomic<int> framesDrawn{0};
  CheckPoolInput input;
  input.image = image.get();
  input.list = &list;
  input.host = &host;
  input.movieHelperPath = folder.file("nowhere");
  input.drawing.picture = [&](const uint8_t* data, uint64_t size,
                              const std::string& extension) -> std::optional<ThumbnailPixels> {
    EXPECT_EQ(extension, ".png") << "a JPEG's picture comes with its check";
    if (size < pngMark.size() || std::string(data, data + pngMark.size()) != pngMark)
      return std::nullopt;
    return ThumbnailPixels{2, 1, 8, std::vector<uint8_t>(8, 0x7f)};
  };
  input.drawing.movieFrame = [&](const MovieFrame&) -> std::optional<ThumbnailPixels> {
    ++framesDrawn;
    return std::nullopt;
  };
  CountingListener listener(4);
  CheckPool pool(listener, std::move(input), 7);
  pool.extend(4);
  pool.close();
  ASSERT_TRUE(pool.start());
  ASSERT_TRUE(listener.waitForEnd());
  pool.stop();

  for (const std::atomic<int>& count : listener.checks_) EXPECT_EQ(count, 1);
  for (int32_t row = 0; row < 4; ++row) {
    EXPECT_TRUE(list.candidateAt(row + 1)->checked()) << "row " << row;
  }
  EXPECT_EQ(list.candidateAt(1)->check().verdict, Verdict::Intact);
  std::lock_guard<std::mutex> lock(listener.mutex_);
  ASSERT_EQ(listener.thumbnails_.count(0), 1u) << "the JPEG's cell from its check";
  const ThumbnailPixels& cell = listener.thumbnails_.at(0);
  EXPECT_EQ(cell.width, 100);
  EXPECT_EQ(cell.height, 75);
  EXPECT_EQ(cell.stride, 300);
  ASSERT_EQ(cell.rgb.size(), 300u * 75u);
  // A 320 × 240 photo fills the cell: its middle is no white background.
  const size_t middle = 37 * 300 + 50 * 3;
  EXPECT_FALSE(cell.rgb[middle] == 0xff && cell.rgb[middle + 1] == 0xff &&
               cell.rgb[middle + 2] == 0xff);
  ASSERT_EQ(listener.thumbnails_.count(1), 1u) << "the drawing's picture";
  EXPECT_EQ(listener.thumbnails_.at(1).rgb, std::vector<uint8_t>(8, 0x7f));
  EXPECT_EQ(listener.thumbnails_.count(2), 0u) << "bytes that are no picture";
  EXPECT_EQ(listener.thumbnails_.count(3), 0u) << "a movie without a frame";
  EXPECT_EQ(framesDrawn, 0) << "no thumbnailer, no frame to draw";
}

}  // namespace
}  // namespace kestrix
