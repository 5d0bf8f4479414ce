// A split photo scanned in the window: once every row is checked it is one
// row joined from its two pieces, its properties list them, and a restore
// writes it byte for byte; the whole photos around it stay as they were.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "job_message_wait.h"
#include "test_card.h"
#include "core/offset_text.h"
#include "ui/dialogs/properties_dialog.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"
#include "ui/widgets/thumbnail_decoder.h"

namespace kestrix {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWaitMs = 60000;
constexpr uint64_t kSector = 512;

Bytes fixture(const std::string& name) {
  std::ifstream in(std::string(KESTRIX_TEST_DATA "/jpeg/") + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

QString utf8(const char* text) { return QString::fromUtf8(text); }

// Whole photo, the split photo's first 20 sectors, 16 sectors of a text
// file, the split photo's rest, whole photo; every file starts on a sector.
struct SplitCard {
  Bytes before = fixture("cjpeg_600x400.jpg");
  Bytes split = fixture("cjpeg_640x480.jpg");
  Bytes after = fixture("cjpeg_320x240_quality_60.jpg");
  uint64_t splitStart = 0;
  uint64_t cut = 20 * kSector;
  uint64_t secondStart = 0;
  uint64_t afterStart = 0;
  Bytes image;

  SplitCard() {
    std::mt19937 random(7);
    auto pad = [&] {
      while (image.size() % kSector != 0) image.push_back(static_cast<uint8_t>(random()));
    };
    image.insert(image.end(), before.begin(), before.end());
    pad();
    splitStart = image.size();
    image.insert(image.end(), split.begin(), split.begin() + static_cast<long>(cut));
    static const char kText[] =
        "Minutes of the meeting, 3 April. Present: all. Budget approved.\r\n";
    for (uint64_t i = 0; i < 16 * kSector; ++i)
      image.push_back(static_cast<uint8_t>(kText[i % (sizeof kText - 1)]));
    secondStart = image.size();
    image.insert(image.end(), split.begin() + static_cast<long>(cut), split.end());
    pad();
    afterStart = image.size();
    image.insert(image.end(), after.begin(), after.end());
    pad();
  }
};

class SplitPhotoWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(card_.before.empty() || card_.split.empty() || card_.after.empty())
        << "fixtures missing";
    ASSERT_LT(card_.cut, card_.split.size());
    ASSERT_TRUE(folder_.isValid());
    path_ = QDir(folder_.path()).filePath("split.ksx");
    QFile out(path_);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(reinterpret_cast<const char*>(card_.image.data()),
                        static_cast<qint64>(card_.image.size())),
              static_cast<qint64>(card_.image.size()));
    out.close();
    window_ = std::make_unique<MainWindow>(prompter_, test::pluginFolder());
    window_->setDriveLister([] { return std::vector<DriveEntry>{}; });
    window_->fillDriveList();
    window_->show();
  }
  void TearDown() override {
    if (window_) window_->close();
  }

  // Scans the card and waits until every row is checked.
  void scanAndCheck() {
    prompter_.queuePath(path_);
    window_->browseCommand();
    QSignalSpy finished(&window_->resultFeed(), &ResultFeed::thumbnailsFinished);
    prompter_.queueAnswer(true);
    window_->scanCommand();
    ASSERT_TRUE(finished.wait(kWaitMs));
  }

  int rowStartingAt(uint64_t start) const {
    const CandidateList& list = window_->resultList().candidates();
    for (int row = 0; row < list.itemCount(); ++row)
      if (list.candidateAt(row + 1)->find().start == start) return row;
    return -1;
  }

  SplitCard card_;
  QTemporaryDir folder_;
  QString path_;
  ScriptedPrompter prompter_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(SplitPhotoWindowTest, TheChecksJoinItShowItsPiecesAndTheRestoreWritesItWhole) {
  scanAndCheck();
  const ResultList& list = window_->resultList();
  // The filler is a text file: the split photo is one row, not two.
  ASSERT_EQ(list.rowCount(), 3);
  const int split = rowStartingAt(card_.splitStart);
  ASSERT_GE(split, 0);
  const Candidate* joined = list.candidates().candidateAt(split + 1);
  ASSERT_EQ(joined->find().fragments.size(), 2u);
  EXPECT_EQ(joined->find().size(), card_.split.size());
  // The size cell is made again after the join: the whole file's, not the first piece's.
  EXPECT_EQ(list.data(list.index(split, int(RowTexts::Column::Size))).toString(),
            QString::number(card_.split.size() / 1024) + "KB");
  EXPECT_EQ(list.data(list.index(split, ResultList::kColumnVerdict)).toString(),
            utf8("正常（再構成）"));
  for (uint64_t start : {uint64_t{0}, card_.afterStart}) {
    const int row = rowStartingAt(start);
    ASSERT_GE(row, 0) << "a whole photo at " << start;
    EXPECT_TRUE(list.candidates().candidateAt(row + 1)->find().fragments.empty());
    EXPECT_EQ(list.data(list.index(row, ResultList::kColumnVerdict)).toString(), utf8("正常"));
  }

  // Its thumbnail was made again from the joined bytes: the whole picture,
  // no longer the first piece over grey.
  const QImage whole = decodeThumbnail(card_.split.data(), card_.split.size(), ".jpg");
  ASSERT_FALSE(whole.isNull());
  EXPECT_TRUE(QTest::qWaitFor([&] { return list.image(list.imageIndex(split)) == whole; }, 10000));

  const PropertiesDialog properties(list.candidates(), split);
  EXPECT_EQ(properties.piecesText(),
            QString::fromStdString(offsetText(card_.splitStart) + " - " +
                                   offsetText(card_.splitStart + card_.cut) + "\n" +
                                   offsetText(card_.secondStart) + " - " +
                                   offsetText(card_.secondStart + card_.split.size() - card_.cut)));
  EXPECT_TRUE(PropertiesDialog(list.candidates(), rowStartingAt(0)).piecesText().isEmpty());

  QTemporaryDir destination;
  ASSERT_TRUE(destination.isValid());
  const QString where = destination.path();
  window_->setFolderChooser([where](QWidget*) {
    return FolderChoice{true, where.toStdString(), 0};
  });
  window_->resultSelection().selectAll(true);
  QSignalSpy handled(window_.get(), &MainWindow::jobMessageHandled);
  prompter_.queueAnswer(true);
  window_->restoreCommand();
  ASSERT_TRUE(test::waitForJobMessage(handled, JobMessage::RestoreEnded, kWaitMs));
  std::vector<Bytes> written;
  for (const QFileInfo& file : QDir(where).entryInfoList(QDir::Files)) {
    QFile in(file.filePath());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    written.emplace_back(bytes.begin(), bytes.end());
  }
  ASSERT_EQ(written.size(), 3u);
  for (const Bytes* expected : {&card_.before, &card_.split, &card_.after}) {
    EXPECT_NE(std::find(written.begin(), written.end(), *expected), written.end())
        << "a photo of " << expected->size() << " bytes not written byte for byte";
  }
}

// A camera photo split around another photo, its EXIF thumbnail in its first
// piece: listed on its own while the photo is broken (the other photo's
// markers end the scan's walk), hidden with the nested finds once the
// checks have joined the photo that holds it.
TEST(SplitPhotoThumbnailWindowTest, IsHiddenOnceItsPhotoIsJoined) {
  std::string why;
  if (!test::cardToolsPresent(&why)) GTEST_SKIP() << why;
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString photo = QDir(folder.path()).filePath("photo.jpg");
  const QString thumb = QDir(folder.path()).filePath("thumb.jpg");
  ASSERT_TRUE(
      test::runTool(QString("convert -seed 4 -size 640x480 plasma:fractal -quality 85 '%1' && "
                            "convert -seed 5 -size 160x120 plasma:fractal -quality 80 '%2' && "
                            "exiftool -q -overwrite_original -JFIF:all= '%2' && "
                            "exiftool -q -overwrite_original '-ThumbnailImage<=%2' '%1'")
                        .arg(photo, thumb),
                    &why))
      << why;
  std::ifstream in(photo.toStdString(), std::ios::binary);
  const Bytes split(std::istreambuf_iterator<char>(in), {});
  const Bytes other = fixture("cjpeg_320x240_quality_60.jpg");
  const uint64_t cut = 40 * kSector;  // past the EXIF block
  ASSERT_GT(split.size(), cut);
  Bytes image(split.begin(), split.begin() + static_cast<long>(cut));
  image.insert(image.end(), other.begin(), other.end());
  image.resize((image.size() + kSector - 1) / kSector * kSector, 0x5A);
  image.insert(image.end(), split.begin() + static_cast<long>(cut), split.end());
  image.resize(image.size() + 2 * kSector, 0x33);
  const QString path = QDir(folder.path()).filePath("card.ksx");
  std::ofstream(path.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  ScriptedPrompter prompter;
  MainWindow window(prompter, test::pluginFolder());
  window.setDriveLister([] { return std::vector<DriveEntry>{}; });
  window.fillDriveList();
  window.show();
  prompter.queuePath(path);
  window.browseCommand();
  QSignalSpy finished(&window.resultFeed(), &ResultFeed::thumbnailsFinished);
  prompter.queueAnswer(true);
  window.scanCommand();
  ASSERT_TRUE(finished.wait(kWaitMs));
  // The joined photo, its thumbnail and the other photo; the thumbnail has
  // the photo as its parent and is hidden as nested finds are by default.
  const CandidateList& list = window.resultList().candidates();
  ASSERT_EQ(list.itemCount(), 3);
  EXPECT_EQ(list.candidateAt(1)->find().fragments.size(), 2u);
  EXPECT_EQ(list.candidateAt(2)->find().parent, "00000000.jpg");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.resultFilter().rowCount() == 2; }, 10000))
      << window.resultFilter().rowCount() << " rows shown";
  window.close();
}

// The signature rules' ends are not the files' own (a header runs to the
// next footer, and the row is an extraction, not a plain range): their
// rows are never joined, the broken one stays 破損.
TEST_F(SplitPhotoWindowTest, TheSignatureRulesJoinNothing) {
  window_->signatureRulesBox()->setChecked(true);
  scanAndCheck();
  const ResultList& list = window_->resultList();
  ASSERT_GT(list.rowCount(), 0);
  for (int row = 0; row < list.rowCount(); ++row) {
    SCOPED_TRACE(row);
    EXPECT_TRUE(list.candidates().candidateAt(row + 1)->find().fragments.empty());
    EXPECT_FALSE(
        list.data(list.index(row, ResultList::kColumnVerdict)).toString().contains(utf8("再構成")));
  }
  const int split = rowStartingAt(card_.splitStart);
  ASSERT_GE(split, 0);
  EXPECT_EQ(list.data(list.index(split, ResultList::kColumnVerdict)).toString(), utf8("破損"));
}

}  // namespace
}  // namespace kestrix
