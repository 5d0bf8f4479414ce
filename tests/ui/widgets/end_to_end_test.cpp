// The window as a person uses it, on a card made like a camera's: open the
// image, scan, let the thumbnails come, sort by date through the header,
// narrow the list with the filter bar, select what is shown, restore it,
// and find exactly those files, byte for byte, with the end message saying
// how many went where. Closing with results never restored asks first.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "rich_test_card.h"
#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/thumbnail_decoder.h"

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

  bool waitForMessage(JobMessage message, QSignalSpy& spy) {
    return QTest::qWaitFor(
        [&] {
          for (const QList<QVariant>& call : spy)
            if (call.at(0).toUInt() == static_cast<quint32>(message)) return true;
          return false;
        },
        kJobTimeoutMs);
  }

  void openAndScan() {
    prompter_.queuePath(card_->path);
    window_->browseCommand();
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    QSignalSpy thumbnails(&window_->resultList(), &ResultList::thumbnailsFinished);
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

TEST_F(EndToEndTest, AMovieWithoutAFrameShowsTheMovieIcon) {
  // No thumbnailer where it is looked for: the movie rows lose their frame,
  // nothing else.
  window_->resultList().setHelperFolder(folder_->path().toStdString() + "/nowhere");
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
