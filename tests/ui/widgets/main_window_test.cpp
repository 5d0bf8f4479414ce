// The real main window, headless: commands, button states, job ends, boxes.
// Every box and file dialog is answered by a ScriptedPrompter.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QHeaderView>
#include <QScrollBar>
#include <QSizeGrip>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "jobs/copy_job.h"
#include "jobs/restore_job.h"
#include "media/rescue_map.h"
#include "job_message_wait.h"
#include "test_card.h"
#include "texts/job_texts.h"
#include "tests/jobs/made_destinations.h"
#include "ui/dialogs/desktop_links.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/report_window.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"
#include "ui/widgets/window_state.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {
namespace {

using Kind = ScriptedPrompter::Kind;
constexpr int kJobTimeoutMs = 30000;

QString utf8(const char* text) { return QString::fromUtf8(text); }

// Buttons as one comparable value: Browse, Create image, Scan, Restore.
struct JobButtons {
  bool browse, create, scan, restore;
  bool operator==(const JobButtons&) const = default;
};
std::ostream& operator<<(std::ostream& out, const JobButtons& b) {
  return out << "{browse " << b.browse << ", create " << b.create << ", scan " << b.scan
             << ", restore " << b.restore << "}";
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    // Only a missing tool is a reason to skip; a tool that is there and
    // fails is a fault.
    toolsPresent_ = test::cardToolsPresent(&why_);
    if (toolsPresent_) card_ = test::makeCardImage(folder_->path(), &why_);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "no test card: " << why_;
    ASSERT_FALSE(card_.isEmpty()) << "the test card could not be made: " << why_;
    openWindow();
  }

  // A new window with an empty drive box, in place of the last one.
  void openWindow() {
    window_.reset();
    window_ = std::make_unique<MainWindow>(prompter_, test::pluginFolder());
    window_->setDriveLister([] { return std::vector<DriveEntry>{}; });
    window_->fillDriveList();
    window_->show();
    prompter_.clearRequests();
  }

  // A drive box of one card that does not exist, and that card chosen.
  void chooseFakeDrive() {
    window_->setDriveLister([] {
      return std::vector<DriveEntry>{{"fake", "/nonexistent/fake", DriveType::Removable, 0, ""}};
    });
    window_->fillDriveList();
    window_->driveBox()->setCurrentIndex(0);
  }

  // The list menu's tidy item, with the menu opened on the first row shown;
  // nothing when no row is there to open it on.
  std::optional<bool> tidyLive() {
    QTableView* view = window_->detailsView();
    if (!window_->detailsShown() || !view->isEnabled() || window_->resultFilter().rowCount() == 0)
      return std::nullopt;
    const QPoint onRow = view->visualRect(window_->resultFilter().index(0, 0)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, onRow, view->viewport()->mapToGlobal(onRow));
    QApplication::sendEvent(view->viewport(), &click);
    QMenu* menu = window_->openMenu();
    if (menu == nullptr) return std::nullopt;
    const bool live = menu->actions().at(2)->isEnabled();
    menu->close();
    return live;
  }

  // The window's controls against what the state table wants of them.
  void expectControls(const EnabledControls& want) {
    EXPECT_EQ(window_->browseButton()->isEnabled(), want.browse) << "Browse";
    EXPECT_EQ(window_->createImageButton()->isEnabled(), want.createImage) << "Create image";
    EXPECT_EQ(window_->scanButton()->isEnabled(), want.scan) << "Scan";
    EXPECT_EQ(window_->restoreButton()->isEnabled(), want.restore) << "Restore";
    EXPECT_EQ(window_->selectAllButton()->isEnabled(), want.selectAll) << "select-all";
    EXPECT_EQ(window_->detailsView()->isEnabled(), want.views) << "details view";
    EXPECT_EQ(window_->iconView()->isEnabled(), want.views) << "icon view";
    // Last: opening the menu selects the row it opens on.
    // A double-click on a row, as the view sends it while it takes clicks:
    // a preview job only where the table allows one. (Idle's previews are
    // the preview tests' business: they open a viewer.)
    if (!want.preview && want.views && window_->resultFilter().rowCount() > 0) {
      emit window_->detailsView()->doubleClicked(window_->resultFilter().index(0, 0));
      EXPECT_NE(window_->recoveryJob().jobKind(), RecoveryJob::Kind::Preview) << "preview";
    }
    const std::optional<bool> tidy = tidyLive();
    if (tidy.has_value()) {
      EXPECT_EQ(*tidy, want.tidy) << "tidy item";
    }
  }

  void TearDown() override {
    if (window_) window_->close();
  }

  JobButtons buttons() const {
    return {window_->browseButton()->isEnabled(), window_->createImageButton()->isEnabled(),
            window_->scanButton()->isEnabled(), window_->restoreButton()->isEnabled()};
  }

  void browseTo(const QString& path) {
    prompter_.queuePath(path);
    window_->browseCommand();
  }

  // Waits until the window has handled `message`.
  bool waitForMessage(JobMessage message, QSignalSpy& spy) {
    return test::waitForJobMessage(spy, message, kJobTimeoutMs);
  }

  // Browses to the card, scans it (answering Yes) and waits for the end of
  // the scan and of the thumbnails.
  void scanCard() {
    browseTo(card_);
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    QSignalSpy thumbnails(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
    prompter_.queueAnswer(true);
    window_->scanCommand();
    ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
    ASSERT_TRUE(thumbnails.count() > 0 || thumbnails.wait(kJobTimeoutMs));
  }

  // Selects every row and restores it into `folder` (answering Yes); true
  // once the restore's end was handled.
  bool restoreAllInto(const QString& folder) {
    window_->setFolderChooser([folder](QWidget*) {
      return FolderChoice{true, folder.toStdString(), 0};
    });
    window_->resultSelection().selectAll(true);
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    prompter_.queueAnswer(true);
    window_->restoreCommand();
    return waitForMessage(JobMessage::RestoreEnded, handled);
  }

  bool shown(Kind kind, const QString& caption, const QString& text) const {
    for (const auto& request : prompter_.requests())
      if (request.kind == kind && request.caption == caption && request.text == text) return true;
    return false;
  }

  std::string cell(int row, int column) const {
    return window_->resultList()
        .data(window_->resultList().index(row, column))
        .toString()
        .toStdString();
  }

  // A card as large as 400 copies of the test card, so that a scan or a
  // restore of it is still at work when the test looks.
  QString makeBigCard(const QTemporaryDir& work) {
    QFile cardFile(card_);
    if (!cardFile.open(QIODevice::ReadOnly)) return {};
    const QByteArray one = cardFile.readAll();
    const QString big = QDir(work.path()).filePath("big.ksx");
    QFile out(big);
    if (!out.open(QIODevice::WriteOnly)) return {};
    for (int i = 0; i < 400; ++i) out.write(one);
    return big;
  }

  // Browses to a big card made in `work` and scans it; true once the scan
  // ended and its thumbnails were stopped, so a restore of it runs alone.
  bool scanBigCard(const QTemporaryDir& work) {
    const QString big = makeBigCard(work);
    if (big.isEmpty()) return false;
    browseTo(big);
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    prompter_.queueAnswer(true);
    window_->scanCommand();
    if (!waitForMessage(JobMessage::ScanEnded, handled)) return false;
    window_->resultFeed().stopThumbnails();
    return !window_->resultFeed().thumbnailsActive();
  }

  // Restores the chosen rows into `folder` (answering Yes) and holds the
  // job; true when it was held before it ended.
  bool startHeldRestore(const QString& folder) {
    window_->setFolderChooser([folder](QWidget*) {
      return FolderChoice{true, folder.toStdString(), 0};
    });
    prompter_.queueAnswer(true);
    window_->restoreCommand();
    return window_->recoveryJob().suspend() >= 0;
  }

  // The views' index of a row of the list (the selection model and the
  // views work on the filter's rows).
  QModelIndex shownIndex(int row) const { return window_->resultFilter().indexOfSourceRow(row); }

  void selectRow(int row, QItemSelectionModel::SelectionFlags how = QItemSelectionModel::Select) {
    window_->resultSelection().model()->select(shownIndex(row), how | QItemSelectionModel::Rows);
  }

  static bool toolsPresent_;
  static QTemporaryDir* folder_;
  static QString card_;
  static std::string why_;
  ScriptedPrompter prompter_;
  std::unique_ptr<MainWindow> window_;
};

bool MainWindowTest::toolsPresent_ = false;
QTemporaryDir* MainWindowTest::folder_ = nullptr;
QString MainWindowTest::card_;
std::string MainWindowTest::why_;

TEST_F(MainWindowTest, ControlsCarryTheirTextsAndStartStates) {
  EXPECT_EQ(window_->windowTitle(), "Kestrix");
  EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(window_->createImageButton()->text(), utf8("ﾃﾞｨｽｸｲﾒｰｼﾞ作成"));
  EXPECT_EQ(window_->browseButton()->text(), utf8("参　照"));
  EXPECT_EQ(window_->scanButton()->text(), utf8("スキャン"));
  EXPECT_EQ(window_->splitBox()->text(), utf8("分解抽出"));
  EXPECT_EQ(window_->restoreButton()->text(), utf8("復　元"));
  EXPECT_EQ(window_->selectAllButton()->text(), utf8("全選択"));
  EXPECT_EQ(window_->viewButton()->text(), utf8("縮小表示"));
  EXPECT_EQ(window_->exitButton()->text(), utf8("終　了"));
  EXPECT_EQ(window_->webLink()->text(), utf8("v1.34b -> Go Web!!"));
  EXPECT_EQ((JobButtons{true, false, false, false}), buttons());
  EXPECT_FALSE(window_->selectAllButton()->isEnabled()) << "no rows yet";
  EXPECT_FALSE(window_->splitBox()->isChecked());
  EXPECT_TRUE(window_->statusLine()->text().isEmpty());
}

TEST_F(MainWindowTest, WarnsOnceWithoutPlugIns) {
  QTemporaryDir empty;
  ScriptedPrompter prompter;
  MainWindow window(prompter, empty.path().toStdString() + "/");
  ASSERT_EQ(prompter.requests().size(), 1u);
  EXPECT_EQ(prompter.requests()[0].caption, utf8("情報"));
  EXPECT_EQ(prompter.requests()[0].text, utf8(kNoPluginMessage));
}

TEST_F(MainWindowTest, ScanListsEveryCandidateWithItsColumns) {
  scanCard();
  ASSERT_EQ(window_->resultList().rowCount(), test::kCardRows);
  EXPECT_TRUE(shown(Kind::Inform, "Kestrix", utf8("ディスクイメージの検査を終了しました。")));
  EXPECT_TRUE(
      shown(Kind::Ask, utf8("質問"), utf8("選択されたディスクイメージの内容を検査しますか？")));

  EXPECT_EQ(cell(0, 0), "00000000.jpg");
  EXPECT_EQ(cell(0, 1), test::kCardModel);
  EXPECT_EQ(cell(0, 2), test::kCardShotDate);
  EXPECT_EQ(cell(0, 4), "なし");
  EXPECT_EQ(cell(0, 5), test::kCardMake);
  EXPECT_NE(cell(0, 6), "不明") << "the EXIF block has a byte order";
  // Without EXIF: unknown everywhere except the size and GPS.
  EXPECT_EQ(cell(1, 0), "00000001.jpg");
  for (int column : {1, 2, 5, 6}) EXPECT_EQ(cell(1, column), "不明") << "column " << column;
  EXPECT_EQ(cell(1, 4), "なし");
  EXPECT_EQ(cell(2, 0), "00000000.png");
  EXPECT_EQ(cell(3, 0), "00000000.mov");
  EXPECT_EQ(cell(2, 3), "0KB") << "a 64 × 48 flat PNG is under 1 KiB";

  EXPECT_EQ((JobButtons{true, false, true, true}), buttons());
  EXPECT_EQ(window_->statusLine()->text(), utf8("状態の確認終了（4 件）"));
  EXPECT_EQ(window_->progressBar()->value(), 100);
  EXPECT_TRUE(window_->selectAllButton()->isEnabled());
}

TEST_F(MainWindowTest, ThumbnailsGoDenselyToJpegRowsOnly) {
  scanCard();
  const ResultList& list = window_->resultList();
  EXPECT_EQ(list.imageIndex(0), 1);
  EXPECT_EQ(list.imageIndex(1), 2);
  EXPECT_EQ(list.imageIndex(2), 3) << "PNG thumbnails come from Qt's reader";
  EXPECT_EQ(list.imageIndex(3), 0) << "MOV keeps the placeholder";
  EXPECT_EQ(list.imageCount(), test::kCardRows + 1);
  const QImage first = list.image(1);
  EXPECT_EQ(first.size(), QSize(100, 75));
  EXPECT_NE(first, ResultList::placeholderImage());
  // Thumbnails are made from memory: no file is written for them.
  for (const char* name : {"00000000.jpg", "00000001.jpg", "00000000.png", "00000000.mov"}) {
    EXPECT_FALSE(QFile::exists(QString::fromStdString(temporaryFolder() + "/" + name))) << name;
  }

  // The second switch to the icon view does not make them again.
  QSignalSpy again(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
  window_->switchView();
  EXPECT_FALSE(window_->detailsShown());
  EXPECT_EQ(window_->viewButton()->text(), utf8("詳細表示"));
  EXPECT_FALSE(window_->resultFeed().thumbnailsActive());
  window_->switchView();
  EXPECT_EQ(window_->viewButton()->text(), utf8("縮小表示"));
  QTest::qWait(0);
  EXPECT_EQ(again.count(), 0);
}

// Defined beside the copy tests.
bool offerFileDrive(MainWindow& window, const QString& drive, int kibibytes);

TEST_F(MainWindowTest, FileDialogsOfferTheImageTypes) {
  chooseFakeDrive();
  window_->createImageCommand();
  ASSERT_FALSE(prompter_.requests().empty());
  EXPECT_EQ(prompter_.requests().back().kind, Kind::SaveFile);
  EXPECT_EQ(prompter_.requests().back().text,
            utf8("KSX ディスクイメージ (*.ksx);;ディスクイメージ (*.dat)"));
  browseTo(card_);
  EXPECT_EQ(prompter_.requests().back().kind, Kind::OpenFile);
  EXPECT_EQ(
      prompter_.requests().back().text,
      utf8(
          "すべてのイメージファイル (*.dat *.img *.iso *.ksx);;KSX ディスクイメージ (*.dat *.ksx);;"
          "CD イメージ (*.img *.iso)"));
}

// Every row of the window's state table, reached the way a user reaches it
// with a drive chosen, and held there while the controls are compared with
// the row. Choosing the drive again meanwhile must not bring back what the
// state takes away: Create image used to come on during a scan or a
// restore, and a copy started then would free the block they read.
TEST_F(MainWindowTest, EveryStateEnablesTheControlsOfItsTableRow) {
  bool copyReached = false;
  for (const StateControls& row : kWindowStateTable) {
    const WindowState state = row.state;
    SCOPED_TRACE(windowStateName(state));
    openWindow();
    bool checked = false;
    const auto check = [&](const WindowFacts& facts) {
      checked = true;
      ASSERT_EQ(window_->windowState(), state);
      {
        SCOPED_TRACE("entered");
        expectControls(enabledControls(state, facts));
      }
      window_->driveBox()->setCurrentIndex(-1);
      window_->driveBox()->setCurrentIndex(0);
      SCOPED_TRACE("the drive chosen again");
      expectControls(enabledControls(state, facts));
    };
    QTemporaryDir work;
    switch (state) {
      case WindowState::Idle:
        chooseFakeDrive();
        scanCard();
        check({.driveChosen = true,
               .imageScannable = true,
               .rowsListed = true,
               .rowsShownOrSelected = true});
        break;
      case WindowState::Copying: {
        const QString drive = QDir(work.path()).filePath("card.img");
        // 256 MiB: the copy is still at work when the test holds it.
        if (!offerFileDrive(*window_, drive, 262144)) continue;
        copyReached = true;
        prompter_.queuePath(QDir(work.path()).filePath("copy.ksx"));
        window_->createImageCommand();
        RecoveryJob& job = window_->recoveryJob();
        ASSERT_GE(job.suspend(), 0) << "the copy ended before it could be held";
        // The list went with the old block; the new image is not there yet.
        check({.driveChosen = true});
        EXPECT_EQ(window_->createImageButton()->text(), utf8("作成中止"));
        prompter_.queueAnswer(true);
        window_->createImageCommand();  // stops it
        job.resume();
        break;
      }
      case WindowState::Scanning: {
        chooseFakeDrive();
        const QString big = makeBigCard(work);
        ASSERT_FALSE(big.isEmpty());
        browseTo(big);
        window_->recoveryJob().setScanWindowBytes(64 << 10);
        QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
        prompter_.queueAnswer(true);
        window_->scanCommand();
        ScanJob& scan = window_->recoveryJob().scanJob();
        ASSERT_GE(scan.suspend(), 0) << "the scan ended before it could be held";
        EXPECT_EQ(window_->statusLine()->text(), utf8("解析中....."));
        // Rows found so far may be published and selected while it is held.
        check({.driveChosen = true,
               .imageScannable = true,
               .rowsListed = window_->resultList().rowCount() > 0,
               .rowsShownOrSelected = window_->resultFilter().rowCount() > 0});
        scan.resume();
        ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
        window_->resultFeed().stopThumbnails();
        break;
      }
      case WindowState::Restoring:
        chooseFakeDrive();
        scanCard();
        window_->resultSelection().selectAll(true);
        // The folder chooser opens once the restore holds the controls.
        window_->setFolderChooser([&](QWidget*) {
          check({.driveChosen = true,
                 .imageScannable = true,
                 .rowsListed = true,
                 .rowsShownOrSelected = true});
          return FolderChoice{};
        });
        prompter_.queueAnswer(true);
        window_->restoreCommand();
        break;
      default: ADD_FAILURE() << "no way known to reach this state";
    }
    EXPECT_TRUE(checked);
    EXPECT_EQ(window_->windowState(), WindowState::Idle) << "back once the work is over";
  }
  if (!copyReached) GTEST_SKIP() << "mkfs.fat missing: the copy's row was not reached";
}

// The idle window's conditional cells, each fact on and off, as a user
// reaches them; every case starts from a fresh window.
TEST_F(MainWindowTest, IdleControlsFollowTheirFacts) {
  QTemporaryDir work;
  const auto copyOfCard = [&](const QString& name) {
    const QString path = QDir(work.path()).filePath(name);
    QFile::remove(path);
    EXPECT_TRUE(QFile::copy(card_, path));
    return path;
  };
  const auto scanThenBrowseElsewhere = [&] {
    chooseFakeDrive();
    scanCard();
    prompter_.queueAnswer(true);  // the results may go
    browseTo(copyOfCard("other.ksx"));
  };
  struct Case {
    const char* name;
    std::function<void()> steps;
    WindowFacts facts;
  };
  const std::vector<Case> cases = {
      {"a fresh window", [] {}, {}},
      {"a drive chosen", [&] { chooseFakeDrive(); }, {.driveChosen = true}},
      {"the drive list filled again, no entry chosen",
       [&] {
         chooseFakeDrive();
         window_->fillDriveList();
       },
       {}},
      {"the save dialog cancelled",
       [&] {
         chooseFakeDrive();
         window_->createImageCommand();
       },
       {.driveChosen = true}},
      {"an image browsed to", [&] { browseTo(card_); }, {.imageScannable = true}},
      {"a name that names no file",
       [&] { browseTo(QDir(work.path()).filePath("missing.ksx")); },
       {}},
      // Scan stays off: the same image would fail the same way.
      {"an image that does not load",
       [&] {
         browseTo(work.path());
         prompter_.queueAnswer(true);
         window_->scanCommand();
       },
       {}},
      {"a card scanned",
       [&] {
         chooseFakeDrive();
         scanCard();
       },
       {.driveChosen = true,
        .imageScannable = true,
        .rowsListed = true,
        .rowsShownOrSelected = true}},
      {"the scan question answered No",
       [&] {
         chooseFakeDrive();
         scanCard();
         prompter_.queueAnswer(false);
         window_->scanCommand();
       },
       {.driveChosen = true,
        .imageScannable = true,
        .rowsListed = true,
        .rowsShownOrSelected = true}},
      // Create image waits for the drive to be chosen again.
      {"another image browsed to after a scan", scanThenBrowseElsewhere, {.imageScannable = true}},
      {"the drive chosen again after that",
       [&] {
         scanThenBrowseElsewhere();
         chooseFakeDrive();
       },
       {.driveChosen = true, .imageScannable = true}},
      // The rows went with the stale block, and Restore with them: it used
      // to stay live with nothing left to restore.
      {"the scanned file replaced under the same name",
       [&] {
         chooseFakeDrive();
         const QString path = copyOfCard("replaced.ksx");
         browseTo(path);
         QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
         prompter_.queueAnswer(true);
         window_->scanCommand();
         ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
         copyOfCard("replaced.ksx");  // a new file, a new inode
         browseTo(path);
       },
       {.driveChosen = true, .imageScannable = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    openWindow();
    c.steps();
    EXPECT_EQ(window_->windowState(), WindowState::Idle);
    expectControls(enabledControls(WindowState::Idle, c.facts));
  }
}

TEST_F(MainWindowTest, BrowseToTheSameFileInAnotherCaseClearsNothing) {
  scanCard();
  // The other spelling names the same file (as on a case-insensitive
  // mount): the rows and the block they point into both stay.
  const QString upper = QFileInfo(card_).dir().filePath("CARD.KSX");
  QFile::remove(upper);
  ASSERT_EQ(::link(card_.toLocal8Bit().constData(), upper.toLocal8Bit().constData()), 0);
  browseTo(upper);
  EXPECT_EQ(window_->resultList().rowCount(), test::kCardRows);
  EXPECT_TRUE(window_->restoreButton()->isEnabled());
  EXPECT_NE(window_->recoveryJob().image(), nullptr);
  QFile::remove(upper);
}

TEST_F(MainWindowTest, BrowseToAnotherFileInAnotherCaseClearsTheRowsWithTheBlock) {
  scanCard();
  // On Linux another spelling can be another file: rows left behind would
  // point into a released block, and a restore would cut this file at the
  // old file's offsets.
  const QString upper = QFileInfo(card_).dir().filePath("Card.ksx");
  QFile::remove(upper);
  ASSERT_TRUE(QFile::copy(card_, upper));
  prompter_.queueAnswer(true);  // the results may go
  browseTo(upper);
  EXPECT_EQ(window_->resultList().rowCount(), 0);
  EXPECT_EQ(window_->resultList().candidates().itemCount(), 0);
  EXPECT_EQ(window_->recoveryJob().image(), nullptr);
  EXPECT_FALSE(window_->restoreButton()->isEnabled());
  QFile::remove(upper);
}

TEST_F(MainWindowTest, BrowseToAnotherNameClearsTheResults) {
  scanCard();

  // Another name clears the list and disables Restore and Create image.
  const QString other = QFileInfo(card_).dir().filePath("other.dat");
  QFile::remove(other);
  ASSERT_TRUE(QFile::copy(card_, other));
  prompter_.queueAnswer(true);  // the results may go
  browseTo(other);
  EXPECT_EQ(window_->resultList().rowCount(), 0);
  EXPECT_EQ((JobButtons{true, false, true, false}), buttons());
  EXPECT_FALSE(window_->selectAllButton()->isEnabled());
}

TEST_F(MainWindowTest, BrowseToAnotherImageAsksBeforeItDiscardsTheResults) {
  scanCard();
  const QString other = QFileInfo(card_).dir().filePath("asked.dat");
  QFile::remove(other);
  ASSERT_TRUE(QFile::copy(card_, other));
  const QString question = utf8(windowText(WindowText::DiscardResultsQuestion));

  // No: the rows, the block and the image name all stay.
  prompter_.queueAnswer(false);
  browseTo(other);
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), question));
  EXPECT_EQ(window_->resultList().rowCount(), test::kCardRows);
  EXPECT_NE(window_->recoveryJob().image(), nullptr);
  EXPECT_EQ(window_->imageNameField()->text(), card_);
  EXPECT_EQ(window_->recoveryJob().imagePath(), card_.toStdString());
  EXPECT_TRUE(window_->restoreButton()->isEnabled());

  // Yes: the other image replaces them.
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  browseTo(other);
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), question));
  EXPECT_EQ(window_->resultList().rowCount(), 0);
  EXPECT_EQ(window_->imageNameField()->text(), other);

  // Nothing left to lose: no question.
  prompter_.clearRequests();
  browseTo(card_);
  EXPECT_FALSE(shown(Kind::Ask, utf8("質問"), question));
  EXPECT_EQ(window_->imageNameField()->text(), card_);
  QFile::remove(other);
}

TEST_F(MainWindowTest, ClosingWithUnrestoredResultsAsksUntilARestoreWroteThem) {
  scanCard();
  const QString question = utf8(windowText(WindowText::CloseWithResultsQuestion));
  prompter_.queueAnswer(false);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  ASSERT_FALSE(prompter_.requests().empty());
  EXPECT_EQ(prompter_.requests().back().text, question);
  EXPECT_EQ(prompter_.requests().back().caption, utf8("質問"));
  EXPECT_EQ(prompter_.requests().back().defaultAnswer, DefaultAnswer::No);

  // Esc asks the same.
  prompter_.clearRequests();
  prompter_.queueAnswer(false);
  QTest::keyClick(window_.get(), Qt::Key_Escape);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), question));

  // After a restore wrote files the window closes without a word.
  QTemporaryDir destination;
  ASSERT_TRUE(restoreAllInto(destination.path()));
  prompter_.clearRequests();
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(shown(Kind::Ask, utf8("質問"), question));
}

// Rows left out of a restore are lost on closing just as after a scan.
TEST_F(MainWindowTest, ClosingAfterAPartialRestoreAsksForTheRowsLeftOut) {
  scanCard();
  QTemporaryDir destination;
  window_->setFolderChooser([&](QWidget*) {
    return FolderChoice{true, destination.path().toStdString(), 0};
  });
  selectRow(0);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::RestoreEnded, handled));
  prompter_.clearRequests();
  prompter_.queueAnswer(false);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(
      shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::CloseWithResultsQuestion))));

  // Once every row went somewhere, closing loses nothing.
  ASSERT_TRUE(restoreAllInto(destination.path()));
  prompter_.clearRequests();
  EXPECT_TRUE(window_->close());
  EXPECT_TRUE(prompter_.requests().empty());
}

// A second restore into the same folder replaces nothing; the end says how
// many files took another name.
TEST_F(MainWindowTest, TheEndMessageCountsRenamedFiles) {
  scanCard();
  QTemporaryDir destination;
  ASSERT_TRUE(restoreAllInto(destination.path()));
  EXPECT_FALSE(prompter_.requests().back().text.contains(utf8("名前を変えて")));
  ASSERT_TRUE(restoreAllInto(destination.path()));
  const QString text = prompter_.requests().back().text;
  EXPECT_TRUE(text.endsWith(
      utf8(windowText(WindowText::RestoredWhereMessage)).arg(4).arg(destination.path()) + "\r\n" +
      utf8(windowText(WindowText::RenamedFilesMessage)).arg(4)))
      << text.toStdString();
  EXPECT_TRUE(QFile::exists(QDir(destination.path()).filePath("00000000 (2).jpg")));
  EXPECT_EQ(window_->recoveryJob().restoreOutcome().renamed, 4u);
}

TEST_F(MainWindowTest, ClosingWithUnrestoredResultsAndYesCloses) {
  scanCard();
  prompter_.queueAnswer(true);
  EXPECT_TRUE(window_->close());
  EXPECT_TRUE(
      shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::CloseWithResultsQuestion))));
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(MainWindowTest, QuestionsThatStartWorkDefaultToYes) {
  scanCard();
  window_->resultSelection().selectAll(true);
  window_->setFolderChooser([](QWidget*) { return FolderChoice{}; });
  prompter_.queueAnswer(false);
  window_->restoreCommand();
  std::map<QString, DefaultAnswer> defaults;
  for (const auto& request : prompter_.requests())
    if (request.kind == Kind::Ask) defaults[request.text] = request.defaultAnswer;
  prompter_.queueAnswer(false);
  window_->scanCommand();
  for (const auto& request : prompter_.requests())
    if (request.kind == Kind::Ask) defaults[request.text] = request.defaultAnswer;
  EXPECT_EQ(defaults[utf8(windowText(WindowText::ScanQuestion))], DefaultAnswer::Yes);
  EXPECT_EQ(defaults[utf8(windowText(WindowText::RestoreQuestion))], DefaultAnswer::Yes);
}

TEST_F(MainWindowTest, FolderChooserOpensWhereTheLastRestoreWent) {
  scanCard();
  EXPECT_TRUE(window_->folderChooserSetup().startFolder.isEmpty());
  // An image file tells nothing about the card it came from.
  ASSERT_TRUE(window_->folderChooserSetup().isOnSource);
  EXPECT_FALSE(window_->folderChooserSetup().isOnSource(QDir::tempPath()));

  QTemporaryDir destination;
  ASSERT_TRUE(restoreAllInto(destination.path()));
  EXPECT_EQ(window_->folderChooserSetup().startFolder, destination.path());
}

TEST_F(MainWindowTest, RestoreWritesTheSelectedRowsAndTellsTheTruth) {
  scanCard();
  // Nothing selected: the restore stops at once.
  window_->restoreCommand();
  EXPECT_TRUE(shown(Kind::Inform, utf8("情報"),
                    utf8("現在選択されている復元候補がありません。\r\n復元作業を中止します。")));

  QTemporaryDir destination;
  selectRow(0);
  selectRow(2);
  EXPECT_EQ(window_->selectAllButton()->text(), utf8("解　除"));
  window_->setFolderChooser([&](QWidget*) {
    return FolderChoice{true, destination.path().toStdString(), 0};
  });
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  EXPECT_EQ(window_->statusLine()->text(), utf8("復元中....."));
  ASSERT_TRUE(waitForMessage(JobMessage::RestoreEnded, handled));
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8("選択されたファイルの復元を行いますか？")));
  // Success, and how many files went where.
  EXPECT_TRUE(shown(Kind::Inform, "Kestrix",
                    utf8("ファイルの復元に成功しました。\r\n2 個のファイルを ") +
                        destination.path() + utf8(" に保存しました。")));
  QFile jpeg(QDir(destination.path()).filePath("00000000.jpg"));
  ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
  EXPECT_EQ(jpeg.read(2), QByteArray("\xFF\xD8", 2));
  EXPECT_TRUE(QFile::exists(QDir(destination.path()).filePath("00000000.png")));
  EXPECT_FALSE(QFile::exists(QDir(destination.path()).filePath("00000001.jpg")));
  EXPECT_EQ((JobButtons{true, false, true, true}), buttons());

  // A destination that is not there: refused before anything starts, in
  // Japanese, and no success claimed.
  prompter_.clearRequests();
  window_->setFolderChooser([&](QWidget*) {
    return FolderChoice{true, destination.path().toStdString() + "/missing", 0};
  });
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  EXPECT_FALSE(window_->recoveryJob().hasThread());
  EXPECT_FALSE(shown(Kind::Inform, "Kestrix", utf8("ファイルの復元に成功しました。")));
  EXPECT_TRUE(shown(Kind::Inform, utf8("情報"),
                    utf8("復元先フォルダにファイルを保存できません。\r\n"
                         "ファイルまたはフォルダがありません（No such file or directory）\r\n"
                         "別のフォルダを選択してください。")));
  EXPECT_EQ((JobButtons{true, false, true, true}), buttons());

  // The chooser cancelled: nothing starts, the buttons come back.
  window_->setFolderChooser([](QWidget*) { return FolderChoice{}; });
  handled.clear();
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  EXPECT_FALSE(window_->recoveryJob().hasThread());
  EXPECT_EQ((JobButtons{true, false, true, true}), buttons());
}

// A folder that would fail every file, or fill up half way, is refused
// before the first byte: one Japanese box, no job, the buttons back.
TEST_F(MainWindowTest, RestoreRefusesADestinationThatCannotTakeTheFiles) {
  scanCard();
  QTemporaryDir parent;
  struct Case {
    const char* name;
    test::MadeDestination::Kind kind;
    const char* reason;
  };
  const Case cases[] = {
      {"read-only", test::MadeDestination::Kind::ReadOnly,
       "復元先フォルダにファイルを保存できません。"},
      {"full", test::MadeDestination::Kind::Small, "復元先の空き容量が足りません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::MadeDestination folder(parent.path().toStdString(), c.kind, 4096);
    if (!folder.ok()) {
      std::printf("skipped %s: %s\n", c.name, folder.why().c_str());
      continue;
    }
    prompter_.clearRequests();
    window_->resultSelection().selectAll(true);
    window_->setFolderChooser([&](QWidget*) { return FolderChoice{true, folder.path(), 0}; });
    prompter_.queueAnswer(true);
    window_->restoreCommand();
    EXPECT_FALSE(window_->recoveryJob().hasThread()) << "no restore was started";
    ASSERT_FALSE(prompter_.requests().empty());
    const auto& box = prompter_.requests().back();
    EXPECT_EQ(box.kind, Kind::Inform);
    EXPECT_EQ(box.caption, utf8("情報"));
    EXPECT_TRUE(box.text.startsWith(utf8(c.reason))) << box.text.toStdString();
    EXPECT_EQ(QDir(QString::fromStdString(folder.path()))
                  .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              QStringList());
    EXPECT_EQ((JobButtons{true, false, true, true}), buttons());
  }

  // Any machine: a destination the examiner calls full. The numbers are
  // the selection's.
  QTemporaryDir destination;
  window_->setDestinationExaminer([](const std::string&, const std::string&) {
    DestinationFacts facts;
    facts.spaceKnown = true;
    facts.freeBytes = 1024;
    return facts;
  });
  window_->setFolderChooser([&](QWidget*) {
    return FolderChoice{true, destination.path().toStdString(), 0};
  });
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  EXPECT_FALSE(window_->recoveryJob().hasThread());
  ASSERT_FALSE(prompter_.requests().empty());
  EXPECT_TRUE(prompter_.requests().back().text.contains(utf8("、空き 1 KB）")))
      << prompter_.requests().back().text.toStdString();
  EXPECT_TRUE(QDir(destination.path()).isEmpty());
}

// What the bar and the line say while each job's end box is open, after
// the checks, and when the next job starts.
TEST_F(MainWindowTest, StatusLineAndBarFollowEachJobToItsEnd) {
  struct Seen {
    QString status;
    int bar = -1;
    bool checking = false;  // the pool was at work, or done, behind the box
  };
  std::map<QString, Seen> atBox;
  QObject listening;  // ends the connection with the test's locals
  QObject::connect(&prompter_, &ScriptedPrompter::prompted, &listening, [&] {
    const ResultList& list = window_->resultList();
    atBox[prompter_.requests().back().text] = {
        window_->statusLine()->text(), window_->progressBar()->value(),
        window_->resultFeed().thumbnailsActive() || list.imageCount() > 0};
  });
  QAbstractItemModelTester tester(&window_->resultList(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  browseTo(card_);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  QSignalSpy checked(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  EXPECT_EQ(window_->progressBar()->value(), 0);
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  const Seen scan = atBox[utf8(windowText(WindowText::ScanEndedMessage))];
  EXPECT_EQ(scan.status, utf8("解析終了（4 件）"));
  EXPECT_EQ(scan.bar, 100);
  EXPECT_TRUE(scan.checking) << "the checks start before the box, not after it is closed";
  ASSERT_TRUE(checked.count() > 0 || checked.wait(kJobTimeoutMs));
  EXPECT_EQ(window_->statusLine()->text(), utf8("状態の確認終了（4 件）"));
  EXPECT_EQ(window_->progressBar()->value(), 100);

  QTemporaryDir destination;
  ASSERT_TRUE(restoreAllInto(destination.path()));
  const QString success =
      utf8(windowText(WindowText::RestoreSucceededMessage)) + "\r\n" +
      utf8(windowText(WindowText::RestoredWhereMessage)).arg(4).arg(destination.path());
  ASSERT_EQ(atBox.count(success), 1u);
  EXPECT_EQ(atBox[success].status, utf8("復元終了 4 / 4 個"));
  EXPECT_EQ(atBox[success].bar, 100);
  EXPECT_EQ(window_->statusLine()->text(), utf8("復元終了 4 / 4 個")) << "until the next job";

  // The next job starts from an empty bar with its own text.
  handled.clear();
  prompter_.queueAnswer(true);
  window_->scanCommand();
  EXPECT_EQ(window_->progressBar()->value(), 0);
  EXPECT_TRUE(window_->statusLine()->text().startsWith(utf8("解析中")))
      << window_->statusLine()->text().toStdString();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  window_->resultFeed().stopThumbnails();
}

TEST_F(MainWindowTest, PreviewWritesTheFirstSelectedRowAndDeletesItAfterwards) {
  scanCard();
  selectRow(1);
  QString opened;
  qint64 openedSize = -1;
  window_->setPreviewOpener([&](const QString& path) {
    opened = path;
    openedSize = QFileInfo(path).size();
    return true;
  });
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  window_->previewCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::PreviewEnded, handled));
  EXPECT_TRUE(opened.endsWith("/00000001.jpg")) << opened.toStdString();
  EXPECT_GT(openedSize, 0);
  EXPECT_FALSE(QFile::exists(opened));
  EXPECT_EQ((JobButtons{true, false, true, true}), buttons());

  // Without the image block the preview refuses and says so.
  window_->resultFeed().stopThumbnails();
  window_->recoveryJob().releaseImage();
  selectRow(1);
  window_->previewCommand();
  EXPECT_TRUE(
      shown(Kind::Inform, utf8("情報"), utf8(windowText(WindowText::NoBufferForPreviewMessage))));
}

TEST_F(MainWindowTest, FailedOpenersSayWhy) {
  // No desktop opener anywhere on the search path, and no help page next to
  // the test program.
  QTemporaryDir emptyBin;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", emptyBin.path().toLocal8Bit());
  scanCard();
  int pngRow = -1;
  for (int row = 0; row < window_->resultList().rowCount() && pngRow < 0; ++row)
    if (QString::fromStdString(cell(row, 0)).endsWith(".png")) pngRow = row;
  ASSERT_GE(pngRow, 0) << "the test card holds a PNG";
  selectRow(pngRow, QItemSelectionModel::ClearAndSelect);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  window_->previewCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::PreviewEnded, handled));
  const QString name = QString::fromStdString(cell(pngRow, 0));
  EXPECT_TRUE(
      shown(Kind::Warn, "Kestrix", utf8(windowText(WindowText::NoOpenerMessage)).arg(name)));

  window_->helpButton()->click();
  qputenv("PATH", path);
  ASSERT_FALSE(prompter_.requests().empty());
  EXPECT_EQ(prompter_.requests().back().kind, Kind::Warn);
  EXPECT_EQ(
      prompter_.requests().back().text,
      utf8(windowText(WindowText::NoHelpMessage)).arg(QDir::toNativeSeparators(helpFilePath())));
}

TEST_F(MainWindowTest, ColumnsShowTheirTextsWholeAndFollowTheWidth) {
  scanCard();
  QTableView* view = window_->detailsView();
  ASSERT_EQ(window_->size(), QSize(MainWindow::kDefaultWidth, MainWindow::kDefaultHeight));
  ASSERT_NE(window_->sizeGrip(), nullptr);
  EXPECT_EQ(window_->sizeGrip()->window(), window_.get()) << "the grip resizes the main window";
  EXPECT_TRUE(window_->sizeGrip()->isVisible());

  for (const QSize size :
       {QSize(MainWindow::kDefaultWidth, MainWindow::kDefaultHeight), QSize(1000, 700)}) {
    window_->resize(size);
    QApplication::processEvents();
    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
    // Every cell's text fits its column: nothing is cut off.
    for (int row = 0; row < window_->resultList().rowCount(); ++row) {
      for (const int column : {int(RowTexts::Column::ShotDate), int(RowTexts::Column::Model),
                               int(RowTexts::Column::Maker)}) {
        const QString text = QString::fromStdString(cell(row, column));
        EXPECT_GE(view->columnWidth(column), view->fontMetrics().horizontalAdvance(text) + 6)
            << "row " << row << " column " << column << ": " << text.toStdString();
      }
    }
    // The columns end at the view's right edge: no scrolling sideways.
    int total = 0;
    for (int column = 0; column < window_->resultList().columnCount(); ++column)
      total += view->columnWidth(column);
    EXPECT_EQ(total, view->viewport()->width());
  }
  const int grownHeight = view->height();
  window_->resize(1000, 900);
  QApplication::processEvents();
  EXPECT_GT(view->height(), grownHeight) << "the list grows with the window";

  // A column the user dragged keeps its width when the window changes.
  view->horizontalHeader()->resizeSection(int(RowTexts::Column::Name), 300);
  window_->resize(900, 700);
  QApplication::processEvents();
  EXPECT_EQ(view->columnWidth(int(RowTexts::Column::Name)), 300);
}

// Narrower than the texts want but wide enough for every header: the
// headers stay whole and nothing scrolls sideways (texts are shortened).
TEST_F(MainWindowTest, ColumnsFitTheViewWheneverTheHeadersDo) {
  scanCard();
  QTableView* view = window_->detailsView();
  const QHeaderView* header = view->horizontalHeader();
  const int columns = window_->resultList().columnCount();
  int tested = 0;
  for (int width = MainWindow::kDefaultWidth; width >= 560; width -= 40) {
    window_->resize(width, MainWindow::kDefaultHeight);
    QApplication::processEvents();
    int headers = 0;
    for (int column = 0; column < columns; ++column) headers += header->sectionSizeHint(column);
    if (headers > view->viewport()->width()) continue;
    ++tested;
    SCOPED_TRACE(testing::Message() << "window width " << width);
    int total = 0;
    for (int column = 0; column < columns; ++column) {
      EXPECT_GE(view->columnWidth(column), header->sectionSizeHint(column))
          << "header " << column << " is cut";
      total += view->columnWidth(column);
    }
    EXPECT_EQ(total, view->viewport()->width());
  }
  EXPECT_GT(tested, 3);
}

// The clear button appears with the first letter; the field must not
// jump to the next line under the cursor at any window width.
TEST_F(MainWindowTest, TheMakerFieldKeepsItsLineWhileTyping) {
  auto* field = window_->filterBar()->findChild<QLineEdit*>("editMakerModel");
  ASSERT_NE(field, nullptr);
  for (int width = MainWindow::kDefaultWidth; width >= 560; width -= 20) {
    SCOPED_TRACE(testing::Message() << "window width " << width);
    window_->resize(width, MainWindow::kDefaultHeight);
    field->clear();
    QApplication::processEvents();
    const QPoint before = field->mapTo(window_.get(), QPoint(0, 0));
    const int barHeight = window_->filterBar()->height();
    const QSize hint = field->parentWidget()->sizeHint();
    QTest::keyClicks(field, "C");
    QApplication::processEvents();
    EXPECT_EQ(field->parentWidget()->sizeHint(), hint) << "the flow layout would wrap on it";
    EXPECT_EQ(field->mapTo(window_.get(), QPoint(0, 0)), before);
    EXPECT_EQ(window_->filterBar()->height(), barHeight);
  }
}

// A new filter shows other rows: the thumbnails start again at the top,
// not half a row down where the old ones were.
TEST_F(MainWindowTest, TheIconViewReturnsToTheTopAfterAFilterChange) {
  scanCard();
  window_->switchView();
  window_->resize(420, 330);
  QApplication::processEvents();
  QScrollBar* bar = window_->iconView()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0) << "the icon view must scroll for this test";
  QAbstractItemModelTester tester(&window_->resultFilter(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  bar->setValue(bar->maximum() / 2 + 1);
  FilterCriteria criteria = window_->filterBar()->criteria();
  criteria.hideNested = !criteria.hideNested;  // the card has no nested finds: every row stays
  window_->filterBar()->setCriteria(criteria);
  QApplication::processEvents();
  EXPECT_EQ(window_->resultFilter().rowCount(), test::kCardRows);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(window_->detailsView()->verticalScrollBar()->value(), 0);
}

TEST_F(MainWindowTest, ARescanStartsBothViewsAtTheTop) {
  scanCard();
  window_->switchView();
  // Small enough that four thumbnails need scrolling.
  window_->resize(420, 330);
  QApplication::processEvents();
  QScrollBar* bar = window_->iconView()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0) << "the icon view must scroll for this test";
  bar->setValue(bar->maximum());
  QScrollBar* detailsBar = window_->detailsView()->verticalScrollBar();

  // Rescanned in the details view, then back to the thumbnails.
  window_->switchView();
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  window_->switchView();
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(detailsBar->value(), 0);

  // The grid is regular: every item the same size, each a whole number of
  // grid cells away from the first.
  QListView* icons = window_->iconView();
  const QRect first = icons->visualRect(shownIndex(0));
  const QSize grid = icons->gridSize();
  for (int row = 1; row < window_->resultList().rowCount(); ++row) {
    const QRect rect = icons->visualRect(shownIndex(row));
    EXPECT_EQ(rect.size(), first.size()) << "row " << row;
    EXPECT_EQ((rect.x() - first.x()) % grid.width(), 0) << "row " << row;
    EXPECT_EQ((rect.y() - first.y()) % grid.height(), 0) << "row " << row;
  }
}

TEST_F(MainWindowTest, APreviewFileOutlivesTheThumbnailOfItsRow) {
  scanCard();
  // The preview's file of a row, as the window is about to open it.
  const QString preview = QString::fromStdString(temporaryFolder() + "/00000000.jpg");
  QFile file(preview);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("preview");
  file.close();
  EXPECT_TRUE(window_->resultFeed().remakeThumbnail(0));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the thumbnail deleted the preview's file";
  EXPECT_EQ(file.readAll(), QByteArray("preview"));
  file.close();
  QFile::remove(preview);

  // The preview's folder is this process's own, and only its user can
  // enter it, so other instances never meet its names.
  const std::string process = temporaryFolder();
  struct stat status {};
  ASSERT_EQ(::stat(process.c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  EXPECT_EQ(QFileInfo(QString::fromStdString(process)).fileName().left(8), "kestrix-");
}

TEST_F(MainWindowTest, ContextMenuOpensOnRowsOnly) {
  scanCard();
  QTableView* view = window_->detailsView();
  QWidget* viewport = view->viewport();
  const QPoint empty(10, viewport->height() - 5);
  ASSERT_FALSE(view->indexAt(empty).isValid());
  QContextMenuEvent onEmpty(QContextMenuEvent::Mouse, empty, viewport->mapToGlobal(empty));
  QApplication::sendEvent(viewport, &onEmpty);
  EXPECT_EQ(window_->openMenu(), nullptr);

  const QPoint onFirstRow = view->visualRect(shownIndex(0)).center();
  QContextMenuEvent onRow(QContextMenuEvent::Mouse, onFirstRow, viewport->mapToGlobal(onFirstRow));
  QApplication::sendEvent(viewport, &onRow);
  QMenu* menu = window_->openMenu();
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  for (QAction* action : menu->actions())
    texts << (action->isSeparator() ? QString("-") : action->text());
  EXPECT_EQ(texts, (QStringList{utf8("レポート"), "-", utf8("ファイル名の整頓"), "-",
                                utf8("プロパティ")}));
  EXPECT_TRUE(menu->actions().at(2)->isEnabled()) << "thumbnails are done";
  EXPECT_EQ(window_->resultSelection().chosenRows(), std::vector<int32_t>{0})
      << "the clicked row is selected";

  // The report item opens the restore list in the report window.
  QSignalSpy opened(window_.get(), &MainWindow::reportOpened);
  menu->actions().at(0)->trigger();
  ASSERT_EQ(opened.count(), 1);
  auto* report = qobject_cast<ReportWindow*>(opened.at(0).at(0).value<QWidget*>());
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->windowTitle(), utf8("スキャン結果"));
  EXPECT_TRUE(report->text().contains("00000000.mov"));
  EXPECT_FALSE(report->text().contains('\r'));
  report->close();
  menu->close();
}

TEST_F(MainWindowTest, TidyItemStaysAvailableWhileThumbnailsAreMade) {
  // 1,600 rows: the worker pauses 1 ms per row, so it is still at work
  // when the scan's end has been handled.
  QTemporaryDir work;
  QFile cardFile(card_);
  ASSERT_TRUE(cardFile.open(QIODevice::ReadOnly));
  const QByteArray one = cardFile.readAll();
  const QString big = QDir(work.path()).filePath("big.ksx");
  QFile out(big);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  for (int i = 0; i < 400; ++i) out.write(one);
  out.close();
  browseTo(big);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  ASSERT_TRUE(window_->resultFeed().thumbnailsActive());

  QWidget* viewport = window_->detailsView()->viewport();
  const QPoint onRow = window_->detailsView()->visualRect(shownIndex(0)).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, onRow, viewport->mapToGlobal(onRow));
  QApplication::sendEvent(viewport, &click);
  QMenu* menu = window_->openMenu();
  ASSERT_NE(menu, nullptr);
  // Thumbnails come from memory and never from a file named after the
  // row, so renaming rows cannot race them.
  QAction* tidy = menu->actions().at(2);
  EXPECT_EQ(tidy->text(), utf8(windowText(WindowText::TidyNames)));
  EXPECT_TRUE(tidy->isEnabled());
  menu->close();
  // Closing asks about the unrestored results only, not about the
  // thumbnails, and stops them.
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  EXPECT_TRUE(window_->close());
  ASSERT_EQ(prompter_.requests().size(), 1u);
  EXPECT_EQ(prompter_.requests()[0].text, utf8(windowText(WindowText::CloseWithResultsQuestion)));
  EXPECT_FALSE(window_->resultFeed().thumbnailsActive());
}

TEST_F(MainWindowTest, TidyItemIsGreyedWhileARestoreRuns) {
  QTemporaryDir work, destination;
  ASSERT_TRUE(scanBigCard(work));

  window_->selectAllCommand();
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  ASSERT_TRUE(startHeldRestore(destination.path())) << "the restore ended before it was held";
  RecoveryJob& job = window_->recoveryJob();

  QWidget* viewport = window_->detailsView()->viewport();
  const QPoint onRow = window_->detailsView()->visualRect(shownIndex(0)).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, onRow, viewport->mapToGlobal(onRow));
  QApplication::sendEvent(viewport, &click);
  QMenu* menu = window_->openMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(menu->actions().at(2)->isEnabled());
  menu->close();
  job.resume();
  ASSERT_TRUE(waitForMessage(JobMessage::RestoreEnded, handled));
}

// The views stay live while a restore writes: what it writes is the
// selection as it stood when the command was given, whatever is clicked
// meanwhile.
TEST_F(MainWindowTest, ARestoreWritesTheRowsChosenWhenItStarted) {
  QTemporaryDir work, destination;
  ASSERT_TRUE(scanBigCard(work));

  // Every other shown row, so the rows chosen are not simply all of them.
  ResultSelection& selection = window_->resultSelection();
  const int shown = window_->resultFilter().rowCount();
  for (int row = 0; row < shown; row += 2) {
    selection.model()->select(window_->resultFilter().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  const std::vector<int32_t> chosen = selection.chosenRows();
  ASSERT_EQ(static_cast<int>(chosen.size()), (shown + 1) / 2);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  ASSERT_TRUE(startHeldRestore(destination.path())) << "the restore ended before it was held";
  RecoveryJob& job = window_->recoveryJob();
  EXPECT_EQ(job.chosenRows(), chosen);

  // A click on another row while the restore is held.
  selectRow(1, QItemSelectionModel::ClearAndSelect);
  ASSERT_EQ(selection.selectedCount(), 1);
  job.resume();
  ASSERT_TRUE(waitForMessage(JobMessage::RestoreEnded, handled));
  const RestoreOutcome& outcome = job.restoreOutcome();
  std::vector<int32_t> written;
  for (const RestoredFile& file : outcome.files) written.push_back(file.row);
  for (const RestoreFailure& failure : outcome.failures) written.push_back(failure.row);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, chosen);
}

TEST_F(MainWindowTest, ThumbnailsStartWithTheFirstRowsWhileAScanRuns) {
  QTemporaryDir work;
  const QString big = makeBigCard(work);
  ASSERT_FALSE(big.isEmpty());
  browseTo(big);
  // Small windows: rows arrive window by window while the scan goes on,
  // and a scan of many windows lasts long enough to be held.
  window_->recoveryJob().setScanWindowBytes(64 << 10);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  QSignalSpy thumbnails(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ScanJob& scan = window_->recoveryJob().scanJob();
  // A tight wait for the first rows, then the scan is held.
  while (window_->resultList().candidates().itemCount() == 0 && scan.isActive()) {
  }
  ASSERT_GE(scan.suspend(), 0) << "the scan ended before it could be held";
  // The rows found so far are published and their thumbnails made while
  // the scan is still held.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return window_->resultList().imageCount() > 0; }, kJobTimeoutMs));
  EXPECT_TRUE(scan.isActive());
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return window_->resultList().imageIndex(0) > 0; }, kJobTimeoutMs))
      << "the first row's thumbnail comes before the scan's end";
  EXPECT_EQ(thumbnails.count(), 0) << "more rows may come";
  window_->switchView();
  EXPECT_FALSE(window_->detailsShown());
  scan.resume();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  ResultList& list = window_->resultList();
  EXPECT_EQ(list.imageCount(), list.rowCount() + 1) << "a slot for every row, the last ones too";
  // 1,600 rows take a while to check; how a run ends is the pool's test.
  window_->resultFeed().stopThumbnails();
}

TEST_F(MainWindowTest, RefusedOverwriteLeavesTheImagePathAlone) {
  window_->setDriveLister([] {
    return std::vector<DriveEntry>{{"fake", "/nonexistent/fake", DriveType::Removable, 0, ""}};
  });
  window_->fillDriveList();
  window_->driveBox()->setCurrentIndex(0);
  browseTo(card_);
  QTemporaryDir work;
  const QString existing = QDir(work.path()).filePath("existing.ksx");
  QFile file(existing);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  prompter_.queuePath(existing);
  prompter_.queueAnswer(false);
  window_->createImageCommand();
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::OverwriteQuestion))));
  EXPECT_EQ(window_->recoveryJob().imagePath(), card_.toStdString());
  EXPECT_TRUE(QFile::exists(existing));
}

TEST_F(MainWindowTest, SelectAllButtonSelectsAndReleases) {
  scanCard();
  window_->selectAllCommand();
  EXPECT_EQ(window_->resultSelection().selectedCount(), test::kCardRows);
  EXPECT_EQ(window_->selectAllButton()->text(), utf8("解　除"));
  window_->selectAllCommand();
  EXPECT_EQ(window_->resultSelection().selectedCount(), 0);
  EXPECT_EQ(window_->selectAllButton()->text(), utf8("全選択"));
}

TEST_F(MainWindowTest, CopiesAFileBackedDriveAndShowsTheResult) {
  QTemporaryDir work;
  const QString drive = QDir(work.path()).filePath("card.img");
  const QString command =
      QString("mkfs.fat -C -F 16 -S 512 -s 4 '%1' 16384 >/dev/null 2>&1").arg(drive);
  if (std::system(command.toLocal8Bit().constData()) != 0) GTEST_SKIP() << "mkfs.fat missing";
  window_->setDriveLister([&] {
    return std::vector<DriveEntry>{{"card", drive.toStdString(), DriveType::Removable, 0, ""}};
  });
  window_->fillDriveList();
  window_->driveBox()->setCurrentIndex(0);

  const QString image = QDir(work.path()).filePath("copy.ksx");
  QFile existing(image);
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  // The existing file: answered No, nothing starts.
  prompter_.queuePath(image);
  prompter_.queueAnswer(false);
  window_->createImageCommand();
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::OverwriteQuestion))));
  EXPECT_FALSE(window_->recoveryJob().hasThread());
  EXPECT_EQ((JobButtons{true, true, false, false}), buttons());

  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  QSignalSpy opened(window_.get(), &MainWindow::reportOpened);
  prompter_.queuePath(image);
  prompter_.queueAnswer(true);
  window_->createImageCommand();
  EXPECT_TRUE(shown(Kind::Inform, utf8("情報"), utf8(windowText(WindowText::CopyStartMessage))));
  ASSERT_TRUE(waitForMessage(JobMessage::CopyEnded, handled));
  ASSERT_EQ(opened.count(), 1);
  auto* report = qobject_cast<ReportWindow*>(opened.at(0).at(0).value<QWidget*>());
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->windowTitle(), utf8("イメージ作成の結果"));
  EXPECT_TRUE(report->text().contains(utf8("FAT16")));
  EXPECT_TRUE(report->text().contains(utf8("ディスクイメージの作成が完了しました。")));
  EXPECT_TRUE(report->text().endsWith(utf8("特にエラーは発生しませんでした。")));
  report->close();
  // The line and the bar say the copy is over until the next job.
  EXPECT_EQ(window_->statusLine()->text(), utf8("ディスクイメージ作成終了"));
  EXPECT_EQ(window_->progressBar()->value(), 100);

  EXPECT_EQ(window_->imageNameField()->text(), image);
  EXPECT_EQ((JobButtons{true, true, true, false}), buttons());
  QFile source(drive), copy(image);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
  const QByteArray copied = copy.readAll();
  EXPECT_GT(copied.size(), 0);
  EXPECT_EQ(copied, source.read(copied.size()));
}

TEST_F(MainWindowTest, AMapBesideTheImageCountsUnreadableSectorsPerRow) {
  QTemporaryDir work;
  const QString image = QDir(work.path()).filePath("card.ksx");
  ASSERT_TRUE(QFile::copy(card_, image));
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  browseTo(image);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  ASSERT_EQ(window_->resultList().rowCount(), test::kCardRows);
  EXPECT_EQ(window_->resultList()
                .headerData(ResultList::kUnreadableSectorsColumn, Qt::Horizontal)
                .toString(),
            utf8("読めないセクタ"));
  EXPECT_EQ(cell(0, ResultList::kUnreadableSectorsColumn), "") << "no map: nothing is known";
  const Candidate* first = window_->resultList().candidates().candidateAt(1);
  ASSERT_NE(first, nullptr);
  const uint64_t bad = first->find().start / 512 * 512 + 1024;  // two sectors into the photo
  ASSERT_LT(bad + 1024, first->find().end);

  // A copy that left two bad sectors inside the first photo.
  const uint64_t size = static_cast<uint64_t>(QFileInfo(image).size());
  std::ofstream(image.toStdString() + ".map") << "0 -\n0 " << bad << " +\n"
                                              << bad << " 1024 -\n"
                                              << bad + 1024 << " " << size - bad - 1024 << " +\n";
  handled.clear();
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  ASSERT_EQ(window_->resultList().rowCount(), test::kCardRows);
  EXPECT_EQ(cell(0, ResultList::kUnreadableSectorsColumn), "2");
  EXPECT_EQ(cell(1, ResultList::kUnreadableSectorsColumn), "0");
  EXPECT_TRUE(
      shown(Kind::Warn, "Kestrix", utf8(windowText(WindowText::IncompleteImageMessage)).arg(1)));

  // A map that does not parse: said before the scan, which then runs without it.
  std::ofstream(image.toStdString() + ".map") << "0 +\n0 100 X\n";
  handled.clear();
  prompter_.clearRequests();
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  EXPECT_EQ(cell(0, ResultList::kUnreadableSectorsColumn), "");
  bool warned = false;
  for (const auto& request : prompter_.requests()) {
    warned |= request.kind == Kind::Warn && request.text.contains(utf8("マップなしで検査します"));
  }
  EXPECT_TRUE(warned);
}

// A FAT card of `kibibytes` in a file, offered as the only drive.
bool offerFileDrive(MainWindow& window, const QString& drive, int kibibytes) {
  const QString command =
      QString("mkfs.fat -C -F 32 -S 512 -s 8 '%1' %2 >/dev/null 2>&1").arg(drive).arg(kibibytes);
  if (std::system(command.toLocal8Bit().constData()) != 0) return false;
  window.setDriveLister([drive] {
    return std::vector<DriveEntry>{{"card", drive.toStdString(), DriveType::Removable, 0, ""}};
  });
  window.fillDriveList();
  window.driveBox()->setCurrentIndex(0);
  return true;
}

TEST_F(MainWindowTest, StoppingACopyKeepsTheMapAndTheNextCopyOffersToResume) {
  QTemporaryDir work;
  const QString drive = QDir(work.path()).filePath("card.img");
  // 256 MiB: the copy is still at work when the test holds it.
  if (!offerFileDrive(*window_, drive, 262144)) GTEST_SKIP() << "mkfs.fat missing";
  const QString image = QDir(work.path()).filePath("copy.ksx");
  const std::string partMap = image.toStdString() + ".part.map", map = image.toStdString() + ".map";

  prompter_.queuePath(image);
  window_->createImageCommand();
  RecoveryJob& job = window_->recoveryJob();
  ASSERT_GE(job.suspend(), 0) << "the copy ended before it could be held";
  EXPECT_EQ(window_->createImageButton()->text(), utf8("作成中止"));
  EXPECT_TRUE(window_->createImageButton()->isEnabled()) << "the button stops the copy";
  EXPECT_EQ((JobButtons{false, true, false, false}), buttons());

  // The copy's state reaches the status line, with no estimate while
  // nothing reads well.
  CopyStatus status;
  status.deviceBytes = 256u << 20;
  status.rescuedBytes = 3u << 20;
  status.pendingBytes = 253u << 20;
  status.badAreas = 2;
  status.secondsSinceGoodRead = 9;
  window_->copyStatus(status);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return window_->statusLine()->text().contains(utf8("不良 2 箇所")); }, kJobTimeoutMs));
  EXPECT_TRUE(window_->statusLine()->text().endsWith(utf8("残り時間 不明")))
      << window_->statusLine()->text().toStdString();

  // No keeps copying; Yes stops, keeps the map and gives the buttons back.
  prompter_.queueAnswer(false);
  window_->createImageCommand();
  EXPECT_TRUE(job.isActive());
  prompter_.queueAnswer(true);
  window_->createImageCommand();
  job.resume();
  EXPECT_FALSE(job.hasThread());
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8("作業を途中で中断しますか？")));
  EXPECT_TRUE(shown(Kind::Inform, "Kestrix", utf8(windowText(WindowText::CopyStoppedMessage))));
  EXPECT_EQ(window_->createImageButton()->text(), utf8("ﾃﾞｨｽｸｲﾒｰｼﾞ作成"));
  EXPECT_EQ((JobButtons{true, true, false, false}), buttons()) << "no finished image to scan";
  EXPECT_TRUE(window_->statusLine()->text().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(image));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(map)))
      << "the stopped copy's map lies beside its .part";
  const RescueMapLoad stopped = RescueMap::load(partMap);
  ASSERT_TRUE(stopped.map) << stopped.error;
  EXPECT_GT(stopped.map->unfinishedBytes(), 0u);

  // The same name again: asked to resume; Yes continues from the map.
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.clearRequests();
  prompter_.queuePath(image);
  prompter_.queueAnswer(true);
  window_->createImageCommand();
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::ResumeQuestion))));
  EXPECT_FALSE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::OverwriteQuestion))));
  EXPECT_TRUE(job.copyOptions().resume);
  ASSERT_TRUE(waitForMessage(JobMessage::CopyEnded, handled));
  EXPECT_EQ(job.lastCopyOutcome(), CopyOutcome::Finished);
  EXPECT_EQ(window_->createImageButton()->text(), utf8("ﾃﾞｨｽｸｲﾒｰｼﾞ作成"));
  QFile source(drive), copy(image);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
  EXPECT_EQ(copy.size(), source.size());
  EXPECT_TRUE(copy.readAll() == source.readAll());
  const RescueMapLoad finished = RescueMap::load(map);
  ASSERT_TRUE(finished.map);
  EXPECT_EQ(finished.map->unfinishedBytes(), 0u);

  // A finished map has nothing to resume: only the overwrite question.
  prompter_.clearRequests();
  prompter_.queuePath(image);
  prompter_.queueAnswer(false);
  window_->createImageCommand();
  EXPECT_FALSE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::ResumeQuestion))));
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8(windowText(WindowText::OverwriteQuestion))));
}

TEST_F(MainWindowTest, ACardThatStopsAnsweringSaysAResumeIsPossible) {
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  window_->post(report::CopyNotice{CopyNoticeDriveLost});
  ASSERT_TRUE(waitForMessage(JobMessage::CopyNotice, handled));
  EXPECT_TRUE(shown(Kind::Inform, "Kestrix",
                    utf8(copyNoticeText(CopyNoticeDriveLost)) + "\r\n" +
                        utf8(windowText(WindowText::ResumePossibleMessage))));
}

TEST_F(MainWindowTest, CopyNoticesShowTheirBoxes) {
  struct Case {
    const char* name;
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {"the image file", CopyNoticeImageFileNotOpened,
       "バックアップファイルを開くことができませんでした。"},
      {"the drive", CopyNoticeDriveNotOpened, "ドライブを開くことができませんでした。"},
      {"a write error", CopyNoticeWriteFailed,
       "ディスクイメージの書き込み中にエラーが発生しました。"},
  };
  for (const Case& c : cases) {
    QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
    window_->post(report::CopyNotice{static_cast<CopyNoticeCode>(c.code)});
    ASSERT_TRUE(waitForMessage(JobMessage::CopyNotice, handled)) << c.name;
    EXPECT_TRUE(shown(Kind::Inform, "Kestrix", utf8(c.text))) << c.name;
  }
}

TEST_F(MainWindowTest, CloseDuringAScanAsksAndHonoursBothAnswers) {
  // A card with enough hits that the scan is still at work when asked.
  QTemporaryDir work;
  QFile cardFile(card_);
  ASSERT_TRUE(cardFile.open(QIODevice::ReadOnly));
  const QByteArray one = cardFile.readAll();
  const QString big = QDir(work.path()).filePath("big.ksx");
  QFile out(big);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  for (int i = 0; i < 400; ++i) out.write(one);
  out.close();

  browseTo(big);
  prompter_.queueAnswer(true);  // scan
  window_->scanCommand();
  ScanJob& scan = window_->recoveryJob().scanJob();
  // Held still so the questions below meet a working scan.
  ASSERT_GE(scan.suspend(), 0) << "the scan ended before it could be held";

  prompter_.queueAnswer(false);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(shown(Kind::Ask, utf8("質問"), utf8("作業を途中で中断しますか？")));
  EXPECT_TRUE(scan.isActive()) << "No keeps the scan";

  prompter_.queueAnswer(true);
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(scan.hasThread()) << "Yes stops and joins the scan";
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

// The names of the rows in the order the views show them.
QStringList shownNames(const ResultFilter& filter) {
  QStringList names;
  for (int row = 0; row < filter.rowCount(); ++row) names << filter.index(row, 0).data().toString();
  return names;
}

void clickHeader(QTableView* view, int column) {
  QHeaderView* header = view->horizontalHeader();
  const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                      header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
}

TEST_F(MainWindowTest, AHeaderClickSortsBothViewsAndAThirdGoesBackToScanOrder) {
  scanCard();
  ResultFilter& filter = window_->resultFilter();
  QTableView* view = window_->detailsView();
  EXPECT_EQ(view->model(), &filter);
  EXPECT_EQ(window_->iconView()->model(), &filter) << "the icon view shows the same rows";
  const QStringList scanOrder{"00000000.jpg", "00000001.jpg", "00000000.png", "00000000.mov"};
  EXPECT_EQ(shownNames(filter), scanOrder) << "no sorting before a click";
  EXPECT_EQ(view->horizontalHeader()->sortIndicatorSection(), -1);

  // A selected row must not turn the first click into a descending sort.
  selectRow(2);
  clickHeader(view, int(RowTexts::Column::Name));
  EXPECT_EQ(filter.sortColumn(), int(RowTexts::Column::Name));
  EXPECT_TRUE(view->horizontalHeader()->isSortIndicatorShown());
  EXPECT_EQ(view->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
  EXPECT_EQ(shownNames(filter),
            (QStringList{"00000000.jpg", "00000000.mov", "00000000.png", "00000001.jpg"}));
  EXPECT_EQ(window_->resultSelection().chosenRows(), std::vector<int32_t>{2})
      << "the selection moves with its row";
  EXPECT_TRUE(window_->resultSelection().model()->isSelected(filter.index(2, 0)));

  // Sizes as numbers: 12KB after 6KB, which text order would put first.
  clickHeader(view, int(RowTexts::Column::Size));
  EXPECT_EQ(shownNames(filter).mid(2), (QStringList{"00000000.jpg", "00000001.jpg"}));
  clickHeader(view, int(RowTexts::Column::Size));
  EXPECT_EQ(shownNames(filter).first(), "00000001.jpg");
  clickHeader(view, int(RowTexts::Column::Size));
  EXPECT_EQ(filter.sortColumn(), -1);
  EXPECT_EQ(shownNames(filter), scanOrder);

  // The columns still end at the view's right edge with the indicator's room.
  int total = 0;
  for (int column = 0; column < filter.columnCount(); ++column) total += view->columnWidth(column);
  EXPECT_EQ(total, view->viewport()->width());
}

TEST_F(MainWindowTest, TheFilterBarHidesRowsAndSelectAllTakesOnlyTheShownOnes) {
  scanCard();
  FilterBar* bar = window_->filterBar();
  QLabel* selected = window_->selectedCountLabel();
  EXPECT_TRUE(bar->nestedBox()->isChecked()) << "nested finds are hidden by default";
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 4 件を表示"));
  EXPECT_EQ(selected->text(), utf8("4 件中 0 件を選択"));
  EXPECT_TRUE(selected->isVisible());

  // At least 10 KB: only the 12 KB photo.
  bar->minimumSizeBox()->setValue(10);
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 1 件を表示"));
  EXPECT_EQ(window_->iconView()->model()->rowCount(), 1);
  window_->selectAllCommand();
  EXPECT_EQ(selected->text(), utf8("4 件中 1 件を選択"));
  ResultSelection& selection = window_->resultSelection();
  EXPECT_EQ(selection.chosenRows(), std::vector<int32_t>{1}) << "hidden rows are not selected";

  // Back to every size: the selection stays as it was.
  bar->minimumSizeBox()->setValue(0);
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 4 件を表示"));
  EXPECT_EQ(selected->text(), utf8("4 件中 1 件を選択"));

  // The maker, in another case, applied by Enter: the selected row goes
  // from the view and so from the selection.
  QLineEdit* maker = bar->makerModelField();
  maker->setFocus();
  maker->setText("kestrixcam");
  QTest::keyClick(maker, Qt::Key_Return);
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 1 件を表示"));
  EXPECT_EQ(selected->text(), utf8("4 件中 0 件を選択"));
  EXPECT_EQ(window_->selectAllButton()->text(), utf8("全選択"));
  window_->selectAllCommand();
  EXPECT_EQ(selection.chosenRows(), std::vector<int32_t>{0});

  // A date range that misses the shot date hides the last row; the button
  // is left for the release.
  bar->dateRangeBox()->setChecked(true);
  bar->firstDayEdit()->setDate(QDate(2003, 7, 15));
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 0 件を表示"));
  EXPECT_EQ(selection.selectedCount(), 0);
  EXPECT_FALSE(window_->selectAllButton()->isEnabled());
  bar->firstDayEdit()->setDate(QDate(2003, 7, 14));
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 1 件を表示"))
      << "the range includes its first day";

  // A rescan keeps the criteria and counts its own rows.
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->scanCommand();
  ASSERT_TRUE(waitForMessage(JobMessage::ScanEnded, handled));
  EXPECT_EQ(bar->shownCountLabel()->text(), utf8("4 件中 1 件を表示"));
  EXPECT_EQ(selected->text(), utf8("4 件中 0 件を選択"));
}

TEST_F(MainWindowTest, ADoubleClickAndTheMenuActOnTheRowClickedInASortedView) {
  scanCard();
  ResultFilter& filter = window_->resultFilter();
  filter.sort(int(RowTexts::Column::Name), Qt::DescendingOrder);
  ASSERT_EQ(shownNames(filter).first(), "00000001.jpg");
  selectRow(0);  // selected too, and first in scan order

  QString opened;
  window_->setPreviewOpener([&](const QString& path) {
    opened = path;
    return true;
  });
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  emit window_->detailsView()->doubleClicked(filter.index(0, 0));
  ASSERT_TRUE(waitForMessage(JobMessage::PreviewEnded, handled));
  EXPECT_TRUE(opened.endsWith("/00000001.jpg")) << opened.toStdString();

  // The menu's row, in the icon view this time.
  window_->switchView();
  QListView* icons = window_->iconView();
  const QPoint onLast = icons->visualRect(filter.index(3, 0)).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, onLast, icons->viewport()->mapToGlobal(onLast));
  QApplication::sendEvent(icons->viewport(), &click);
  ASSERT_NE(window_->openMenu(), nullptr);
  EXPECT_EQ(window_->resultSelection().chosenRows(), std::vector<int32_t>{0})
      << "00000000.jpg is shown last";
  window_->openMenu()->close();
}

}  // namespace
}  // namespace kestrix
