// The verdict column "状態" and the thumbnail mark, and the check pool run
// from the window after a scan: progress, the end, and a clear while the
// pool works.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_list.h"

namespace kestrix {
namespace {

constexpr int kWaitMs = 60000;

QString utf8(const char* text) { return QString::fromUtf8(text); }

const std::vector<uint8_t>& imageBytes() {
  static const std::vector<uint8_t> bytes(4096, 0x20);
  return bytes;
}

CheckResult resultOf(Verdict verdict) {
  CheckResult result;
  result.verdict = verdict;
  return result;
}

TEST(CheckColumnTest, EveryVerdictHasItsTextAndDamageItsMark) {
  ResultList list;
  QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
  const struct {
    const char* name;
    bool checked;
    Verdict verdict;
    const char* text;
    bool marked;
  } rows[] = {
      {"not checked yet", false, Verdict::Unknown, "未確認", false},
      {"intact", true, Verdict::Intact, "正常", false},
      {"damaged", true, Verdict::Damaged, "破損", true},
      {"truncated", true, Verdict::Truncated, "途中まで", true},
      {"a type no checker knows", true, Verdict::Unknown, "未確認", false},
  };
  const int count = static_cast<int>(std::size(rows));
  for (int row = 0; row < count; ++row) {
    ASSERT_TRUE(list.candidates().addCandidate("r" + std::to_string(row) + ".jpg",
                                               imageBytes().data(), {FileType::Jpeg, 0, 2048}));
    if (rows[row].checked) {
      ASSERT_TRUE(list.candidates().setCheck(row, resultOf(rows[row].verdict)));
    }
  }
  list.publishRows(count);
  ASSERT_EQ(list.rowCount(), count);
  EXPECT_EQ(list.headerData(ResultList::kColumnVerdict, Qt::Horizontal).toString(), utf8("状態"));
  const QImage placeholder = ResultList::placeholderImage().convertToFormat(QImage::Format_RGB32);
  for (int row = 0; row < count; ++row) {
    SCOPED_TRACE(rows[row].name);
    const QModelIndex verdict = list.index(row, ResultList::kColumnVerdict);
    EXPECT_EQ(list.data(verdict).toString(), utf8(rows[row].text));
    const QImage shown = list.data(list.index(row, 0), Qt::DecorationRole)
                             .value<QImage>()
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), placeholder.size());
    // The mark fills the top right corner; the rest of the picture stays.
    EXPECT_EQ(shown.pixel(98, 1) != placeholder.pixel(98, 1), rows[row].marked);
    EXPECT_EQ(shown.pixel(50, 40), placeholder.pixel(50, 40));
  }
  const QImage damaged = list.data(list.index(2, 0), Qt::DecorationRole).value<QImage>();
  const QImage truncated = list.data(list.index(3, 0), Qt::DecorationRole).value<QImage>();
  EXPECT_NE(damaged.pixel(98, 1), truncated.pixel(98, 1)) << "the two marks differ";
}

TEST(CheckColumnTest, ClearWhileThePoolRunsStopsItWithoutAnEnd) {
  // No job: the pool has no image, so its rows end at once unchecked; a
  // clear right after the start must join it and drop whatever it sent.
  ResultList list;
  ResultFeed feed(list);
  QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (int row = 0; row < 500; ++row) {
    list.candidates().addCandidate("r" + std::to_string(row) + ".jpg", imageBytes().data(),
                                   {FileType::Jpeg, 0, 2048});
  }
  QSignalSpy finished(&feed, &ResultFeed::thumbnailsFinished);
  QSignalSpy progressed(&feed, &ResultFeed::checksProgressed);
  ASSERT_TRUE(feed.startThumbnails());
  feed.clear();
  EXPECT_FALSE(feed.thumbnailsActive());
  QTest::qWait(0);
  QCoreApplication::processEvents();
  EXPECT_EQ(finished.count(), 0) << "signals of a cleared result set are dropped";
  EXPECT_EQ(progressed.count(), 0);
  EXPECT_EQ(list.rowCount(), 0);
}

TEST(CheckColumnTest, RowsStillComingAreCheckedAsTheyArriveAndTheEndComesOnce) {
  // Without a job every row ends unchecked at once, which is all the pool's
  // hand-out needs: rows published while a scan goes on are taken as they
  // come, and the run ends only after the scan has.
  ResultList list;
  ResultFeed feed(list);
  QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy finished(&feed, &ResultFeed::thumbnailsFinished);
  int checked = 0;
  QObject::connect(&feed, &ResultFeed::checksProgressed,
                   [&](int done, int) { checked = std::max(checked, done); });
  const auto addRows = [&](int count) {
    for (int i = 0; i < count; ++i) {
      list.candidates().addCandidate("r.jpg", imageBytes().data(), {FileType::Jpeg, 0, 2048});
    }
    feed.flushPendingRows();
  };
  feed.setRowsComing(true);
  feed.preferRows({70, 3});
  addRows(100);
  EXPECT_TRUE(feed.thumbnailsActive()) << "started by the first rows";
  EXPECT_FALSE(feed.startThumbnails()) << "already running";
  ASSERT_TRUE(QTest::qWaitFor([&] { return checked == 100; }, kWaitMs));
  QTest::qWait(20);
  EXPECT_EQ(finished.count(), 0) << "more rows may come";
  EXPECT_TRUE(feed.thumbnailsActive());
  addRows(50);
  ASSERT_TRUE(QTest::qWaitFor([&] { return checked == 150; }, kWaitMs));
  EXPECT_EQ(list.imageCount(), 151) << "a slot per row plus the placeholder";
  feed.setRowsComing(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() > 0; }, kWaitMs));
  QTest::qWait(20);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(feed.thumbnailsActive());
}

class CheckPoolWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    toolsPresent_ = test::cardToolsPresent(&why_);
    if (toolsPresent_) card_ = test::makeCardImage(folder_->path(), &why_);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "no test card: " << why_;
    ASSERT_FALSE(card_.isEmpty()) << why_;
    window_ = std::make_unique<MainWindow>(prompter_, test::pluginFolder());
    window_->setDriveLister([] { return std::vector<DriveEntry>{}; });
    window_->fillDriveList();
    window_->show();
  }
  void TearDown() override {
    if (window_) window_->close();
  }

  ScriptedPrompter prompter_;
  std::unique_ptr<MainWindow> window_;
  static inline QTemporaryDir* folder_ = nullptr;
  static inline QString card_;
  static inline bool toolsPresent_ = false;
  static inline std::string why_;
};

TEST_F(CheckPoolWindowTest, TheScanEndChecksEveryRowWithProgressThenSaysTheyAreOver) {
  QAbstractItemModelTester tester(&window_->resultList(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  prompter_.queuePath(card_);
  window_->browseCommand();
  QSignalSpy progressed(&window_->resultFeed(), &ResultFeed::checksProgressed);
  QSignalSpy finished(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
  QString statusSeen;
  QObject::connect(&window_->resultFeed(), &ResultFeed::checksProgressed, window_.get(),
                   [&] { statusSeen = window_->statusLine()->text(); });
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(finished.wait(kWaitMs));

  ASSERT_FALSE(progressed.isEmpty());
  const QList<QVariant> last = progressed.last();
  EXPECT_EQ(last.at(0).toInt(), test::kCardRows);
  EXPECT_EQ(last.at(1).toInt(), test::kCardRows);
  EXPECT_EQ(statusSeen, utf8("状態を確認中… %1 / %1").arg(test::kCardRows));
  EXPECT_EQ(window_->statusLine()->text(), utf8("状態の確認終了（%1 件）").arg(test::kCardRows))
      << "the line says the checks are over";
  EXPECT_EQ(window_->progressBar()->value(), 100);

  const ResultList& list = window_->resultList();
  for (int row = 0; row < test::kCardRows; ++row) {
    SCOPED_TRACE(row);
    const Candidate* candidate = list.candidates().candidateAt(row + 1);
    ASSERT_NE(candidate, nullptr);
    EXPECT_TRUE(candidate->checked());
    // Our own test photos, PNG and movie are whole: none may read as broken.
    EXPECT_NE(candidate->check().verdict, Verdict::Damaged);
    EXPECT_NE(candidate->check().verdict, Verdict::Truncated);
  }
  EXPECT_EQ(list.data(list.index(0, ResultList::kColumnVerdict)).toString(), utf8("正常"));
  EXPECT_EQ(list.candidates().candidateAt(1)->check().width, 640);
  // The JPEG thumbnails came with the checks.
  EXPECT_EQ(list.imageIndex(0), 1);
  EXPECT_NE(list.image(1), ResultList::placeholderImage());
}

}  // namespace
}  // namespace kestrix
