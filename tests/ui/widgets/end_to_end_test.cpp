// The window as a person uses it, on a card made like a camera's: open the
// image, scan, let the thumbnails come, sort by date through the header,
// narrow the list with the filter bar, select what is shown, restore it,
// and find exactly those files, byte for byte, with the end message saying
// how many went where. Closing with results never restored asks first.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "rich_test_card.h"
#include "job_message_wait.h"
#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"
#include "ui/widgets/thumbnail_decoder.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {
namespace {

constexpr int kJobTimeoutMs = 60000;
using Kind = ScriptedPrompter::Kind;

QString utf8(const char* text) { return QString::fromUtf8(text); }

class EndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    toolsPresent_ = test::richCardToolsPresent(&why_);
    if (toolsPresent_) card_ = new test::RichCard(test::makeRichCard(folder_->path(), &why_));
  }
  static void TearDownTestSuite() {
    delete card_;
    card_ = nullptr;
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "no test card: " << why_;
    ASSERT_FALSE(card_->path.isEmpty()) << "the test card could not be made: " << why_;
    window_ = std::make_unique<MainWindow>(prompter_, test::pluginFolder());
    window_->setDriveLister([] { return std::vector<DriveEntry>{}; });
    window_->fillDriveList();
    window_->show();
    prompter_.clearRequests();
  }

  void TearDown() override {
    if (window_) {
      prompter_.queueAnswer(true);  // the question about unrestored results
      window_->close();
    }
  }

  // Waits until the window has handled `message`.
  bool waitForMessage(JobMessage message, QSignalSpy& spy) {
    return test::waitForJobMessage(spy, message, kJobTimeoutMs);
  }

  void openAndScan() {
    prompter_.queuePath(card_->path);
    window_->browseCommand();
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    QSignalSpy thumbnails(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
    prompter_.queueAnswer(true);
    window_->scanCommand();
    ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
    ASSERT_TRUE(thumbnails.count() > 0 || thumbnails.wait(kJobTimeoutMs));
  }

  // The texts of `column` in the order the details view shows its rows.
  QStringList shownColumn(int column) const {
    QStringList texts;
    const QAbstractItemModel* model = window_->detailsView()->model();
    for (int row = 0; row < model->rowCount(); ++row)
      texts << model->index(row, column).data().toString();
    return texts;
  }

  ScriptedPrompter prompter_;
  std::unique_ptr<MainWindow> window_;
  static inline QTemporaryDir* folder_ = nullptr;
  static inline test::RichCard* card_ = nullptr;
  static inline bool toolsPresent_ = false;
  static inline std::string why_;
};

TEST_F(EndToEndTest, EveryFindGetsItsPictureMoviesAFrameWithTheirLength) {
  openAndScan();
  ResultList& list = window_->resultList();
  ASSERT_EQ(list.rowCount(), 8) << shownColumn(0).join(' ').toStdString();
  const QImage icon = movieIconImage().convertToFormat(QImage::Format_RGB32);
  for (int row = 0; row < list.rowCount(); ++row) {
    SCOPED_TRACE(row);
    EXPECT_GT(list.imageIndex(row), 0) << "JPEG, PNG and movie rows all get a thumbnail";
  }
  for (int row : {6, 7}) {
    const QImage shown = list.data(list.index(row, 0), Qt::DecorationRole).value<QImage>();
    EXPECT_NE(shown.convertToFormat(QImage::Format_RGB32), icon) << "a frame, not the icon";
  }
  EXPECT_EQ(list.data(list.index(4, ResultList::kColumnVerdict)).toString(), utf8("破損"));
}

TEST_F(EndToEndTest, ScanSortByDateFilterSelectShownRestoreThem) {
  openAndScan();
  ResultList& list = window_->resultList();
  ASSERT_EQ(list.rowCount(), 8);

  // Sort by date with a click on its header, as a person would.
  QHeaderView* header = window_->detailsView()->horizontalHeader();
  const int dateColumn = int(RowTexts::Column::ShotDate);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(dateColumn) + 8, header->height() / 2));
  const QStringList dates = shownColumn(dateColumn);
  ASSERT_EQ(dates.size(), 8);
  EXPECT_EQ(dates.mid(0, 4), (QStringList{"2019:12:24 18:30:00", "2021:05:03 10:00:00",
                                          "2022:01:02 03:04:05", "2023:08:15 07:45:10"}))
      << dates.join(" | ").toStdString();

  // Narrow it down: shot from 2020 to 2023, by a KestrixCam, not damaged.
  FilterBar* bar = window_->filterBar();
  bar->firstDayEdit()->setDate(QDate(2020, 1, 1));
  bar->lastDayEdit()->setDate(QDate(2023, 12, 31));
  bar->dateRangeBox()->setChecked(true);
  QTest::keyClicks(bar->makerModelField(), "kestrixcam");
  QTest::keyClick(bar->makerModelField(), Qt::Key_Return);
  bar->damagedBox()->setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shownColumn(0).size() == 2; }, kJobTimeoutMs))
      << shownColumn(0).join(' ').toStdString();
  EXPECT_EQ(shownColumn(0), (QStringList{"00000000.jpg", "00000002.jpg"})) << "still by date";
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("8 件中 2 件を表示"));

  // Select what is shown.
  QTest::mouseClick(window_->selectAllButton(), Qt::LeftButton);
  EXPECT_EQ(window_->selectedCountLabel()->text(), utf8("8 件中 2 件を選択"));
  EXPECT_EQ(window_->resultSelection().chosenRows(), (std::vector<int32_t>{0, 2}));

  // Closing now would lose them: the window asks, and No keeps it open.
  prompter_.queueAnswer(false);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(prompter_.requests().back().text,
            utf8(windowText(WindowText::CloseWithResultsQuestion)));

  // Restore them into a folder of their own.
  QTemporaryDir destination;
  window_->setFolderChooser([&](QWidget*) {
    return FolderChoice{true, destination.path().toStdString(), 0};
  });
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  QTest::mouseClick(window_->restoreButton(), Qt::LeftButton);
  ASSERT_TRUE(waitForMessage(JobMessage::RestoreEnded, handled));
  EXPECT_EQ(prompter_.requests().back().kind, Kind::Inform);
  EXPECT_EQ(prompter_.requests().back().text,
            utf8("ファイルの復元に成功しました。\r\n2 個のファイルを ") + destination.path() +
                utf8(" に保存しました。"));

  // Exactly the shown photos, byte for byte as the camera wrote them.
  const QStringList written = QDir(destination.path()).entryList(QDir::Files, QDir::Name);
  EXPECT_EQ(written, (QStringList{"00000000.jpg", "00000002.jpg"}));
  for (const auto& [file, original] :
       {std::pair{"00000000.jpg", "summer.jpg"}, std::pair{"00000002.jpg", "autumn.jpg"}}) {
    QFile restored(QDir(destination.path()).filePath(file));
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly)) << file;
    ASSERT_NE(card_->file(original), nullptr);
    EXPECT_TRUE(restored.readAll() == card_->file(original)->bytes) << file;
  }

  // Six finds were left out of the restore: closing still asks, and Yes
  // closes.
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  EXPECT_TRUE(window_->close());
  ASSERT_EQ(prompter_.requests().size(), 1u);
  EXPECT_EQ(prompter_.requests().back().text,
            utf8(windowText(WindowText::CloseWithResultsQuestion)));
  window_.reset();
}

TEST_F(EndToEndTest, AMovieWithoutAFrameShowsTheMovieIcon) {
  // No thumbnailer where it is looked for: the movie rows lose their frame,
  // nothing else.
  window_->resultFeed().setHelperFolder(folder_->path().toStdString() + "/nowhere");
  openAndScan();
  ResultList& list = window_->resultList();
  ASSERT_EQ(list.rowCount(), 8);
  const QImage icon = movieIconImage().convertToFormat(QImage::Format_RGB32);
  for (int row : {6, 7}) {
    EXPECT_EQ(list.imageIndex(row), 0);
    const QImage shown = list.data(list.index(row, 0), Qt::DecorationRole).value<QImage>();
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32), icon);
  }
  EXPECT_GT(list.imageIndex(5), 0) << "the PNG still has its picture";
}

}  // namespace
}  // namespace kestrix
