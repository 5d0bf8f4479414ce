// The viewer's opening size, and one real viewer on generated files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <string>

#include "ui/dialogs/scripted_prompter.h"
#include "ui/dialogs/viewer_window.h"

namespace kestrix {
namespace {

struct SizeCase {
  const char* name;
  int width, height;
  int clientWidth, clientHeight;
};

const SizeCase kSizeCases[] = {
    // name                     picture       client
    {"WideLargeFitsSixForty", 1600, 1200, 640, 480}, {"TallLargeGrowsTaller", 1200, 1600, 640, 853},
    {"MediumAtActualSize", 400, 300, 400, 300},      {"NarrowWidenedTo128", 100, 50, 128, 64},
    {"NarrowTallWidenedTo128", 100, 400, 128, 512},  {"NarrowButTallIsLarge", 100, 600, 640, 3840},
    {"ExactlyFourEightyActual", 480, 480, 480, 480}, {"JustOverFourEighty", 481, 100, 640, 133},
    {"Exactly128Actual", 128, 32, 128, 32},          {"OnePixel", 1, 1, 128, 128},
};

class ViewerSize : public testing::TestWithParam<SizeCase> {};

TEST_P(ViewerSize, FollowsTheSizingRule) {
  const SizeCase& c = GetParam();
  EXPECT_EQ(viewerClientSize(c.width, c.height), QSize(c.clientWidth, c.clientHeight));
}

INSTANTIATE_TEST_SUITE_P(Rule, ViewerSize, testing::ValuesIn(kSizeCases),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ViewerSizeRule, EmptyPictureHasNoSize) {
  EXPECT_FALSE(viewerClientSize(0, 100).isValid());
  EXPECT_FALSE(viewerClientSize(100, 0).isValid());
}

class ViewerRun : public testing::Test {
 protected:
  std::string writeJpeg(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    const QString path = dir_.filePath(name);
    EXPECT_TRUE(image.save(path, "JPEG"));
    return path.toStdString();
  }

  // Runs the viewer; once its loop runs, records the client size and
  // closes it the way the user does.
  ViewerWindow::RunResult runAndClose(ViewerWindow& viewer, QSize& shownSize) {
    QTimer::singleShot(0, &viewer, [&viewer, &shownSize] {
      shownSize = viewer.size();
      viewer.close();
    });
    return viewer.run();
  }

  QTemporaryDir dir_;
};

TEST_F(ViewerRun, GeneratedJpegOpensAtTheRuleSize) {
  ScriptedPrompter prompter;
  ViewerWindow viewer(nullptr, prompter);
  viewer.setPath(writeJpeg("00000000.JPG", 1600, 1200));
  QSize shown;
  EXPECT_EQ(runAndClose(viewer, shown), ViewerWindow::RunResult::Closed);
  EXPECT_EQ(shown, QSize(640, 480));
  EXPECT_EQ(viewer.windowTitle(), QStringLiteral("Kestrix ビュー"));
  EXPECT_TRUE(prompter.requests().empty());
  // Painted white underneath, the picture on top over the whole area.
  const QImage grabbed = viewer.grab().toImage();
  EXPECT_EQ(grabbed.size(), QSize(640, 480));
  EXPECT_GT(qRed(grabbed.pixel(320, 240)), 150);
  EXPECT_LT(qGreen(grabbed.pixel(320, 240)), 100);
}

TEST_F(ViewerRun, GreyscaleJpegShowsItsGrey) {
  QImage grey(300, 200, QImage::Format_Grayscale8);
  grey.fill(40);
  const QString path = dir_.filePath(QStringLiteral("grey.jpg"));
  ASSERT_TRUE(grey.save(path, "JPEG"));
  ScriptedPrompter prompter;
  ViewerWindow viewer(nullptr, prompter);
  viewer.setPath(path.toStdString());
  QSize shown;
  EXPECT_EQ(runAndClose(viewer, shown), ViewerWindow::RunResult::Closed);
  EXPECT_EQ(shown, QSize(300, 200));
  EXPECT_TRUE(prompter.requests().empty());
  // A greyscale photo used to leave the window blank white.
  const QRgb middle = viewer.grab().toImage().pixel(150, 100);
  EXPECT_NEAR(qRed(middle), 40, 3);
  EXPECT_EQ(qRed(middle), qGreen(middle));
  EXPECT_EQ(qGreen(middle), qBlue(middle));
}

TEST_F(ViewerRun, ResizingStretchesThePictureOverTheNewArea) {
  // Left half black, right half white: after widening, the boundary moves
  // with the window instead of the picture keeping its size.
  QImage image(400, 300, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 200; ++x) image.setPixel(x, y, qRgb(0, 0, 0));
  }
  const QString path = dir_.filePath(QStringLiteral("halves.jpg"));
  ASSERT_TRUE(image.save(path, "JPEG", 95));
  ScriptedPrompter prompter;
  ViewerWindow viewer(nullptr, prompter);
  viewer.setPath(path.toStdString());
  QImage widened;
  QTimer::singleShot(0, &viewer, [&] {
    viewer.resize(800, 300);
    widened = viewer.grab().toImage();
    viewer.close();
  });
  EXPECT_EQ(viewer.run(), ViewerWindow::RunResult::Closed);
  ASSERT_EQ(widened.size(), QSize(800, 300));
  EXPECT_LT(qGray(widened.pixel(380, 150)), 40);
  EXPECT_GT(qGray(widened.pixel(420, 150)), 215);
}

struct RefusedCase {
  const char* name;
  const char* fileName;
  const char* contents;  // null: write a real JPEG
};

const RefusedCase kRefusedCases[] = {
    {"GarbageNamedJpg", "00000001.jpg", "not a picture at all"},
    {"FourLetterJpegSpelling", "00000002.jpeg", nullptr},
    {"NoExtension", "00000003", nullptr},
    {"MissingFile", "missing.jpg", ""},
};

class ViewerRefuses : public ViewerRun, public testing::WithParamInterface<RefusedCase> {};

TEST_P(ViewerRefuses, ShowsTheMessageAndNoWindow) {
  const RefusedCase& c = GetParam();
  std::string path;
  if (c.contents == nullptr) {
    path = writeJpeg(QStringLiteral("real.jpg"), 64, 64);
    const QString renamed = dir_.filePath(QString::fromUtf8(c.fileName));
    ASSERT_TRUE(QFile::rename(QString::fromStdString(path), renamed));
    path = renamed.toStdString();
  } else {
    path = dir_.filePath(QString::fromUtf8(c.fileName)).toStdString();
    if (*c.contents != '\0') {
      QFile file(QString::fromStdString(path));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.contents);
    }
  }
  ScriptedPrompter prompter;
  ViewerWindow viewer(nullptr, prompter);
  viewer.setPath(path);
  EXPECT_EQ(viewer.run(), ViewerWindow::RunResult::NotShown);
  EXPECT_FALSE(viewer.isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ASSERT_EQ(prompter.requests().size(), 1u);
  EXPECT_EQ(prompter.requests()[0].caption, QStringLiteral("Kestrix"));
  EXPECT_EQ(prompter.requests()[0].text,
            QStringLiteral("選択したファイルは表示可能なデータではありませんでした。"));
}

INSTANTIATE_TEST_SUITE_P(Viewer, ViewerRefuses, testing::ValuesIn(kRefusedCases),
                         [](const testing::TestParamInfo<RefusedCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kestrix
