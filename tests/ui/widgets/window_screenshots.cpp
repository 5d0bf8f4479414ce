// Screenshots of the main window after a scan of a card made like a
// camera's (photos, a PNG, an MP4 and a MOV clip), in the details view (in
// scan order with its filter bar, sorted by size, with a maker typed into
// the bar, after a restore, and the boxes of a restore's end and of a
// refused destination) and in the thumbnail view, for a person to look at:
//   window_screenshots OUTPUT_FOLDER
// Runs under a real X server (xvfb-run); exits 0 when every picture was
// written.
#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "rich_test_card.h"
#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/report_window.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"
#include "ui/dialogs/qt_translation.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  kestrix::installJapaneseQtTranslation(application);
  const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
  QDir().mkpath(output);

  QTemporaryDir work;
  std::string why;
  const QString card = kestrix::test::makeRichCard(work.path(), &why).path;
  if (card.isEmpty()) {
    std::fprintf(stderr, "window_screenshots: %s\n", why.c_str());
    return 1;
  }

  kestrix::ScriptedPrompter prompter;
  kestrix::MainWindow window(prompter, kestrix::test::pluginFolder());
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;

  QSignalSpy thumbnails(&window.resultFeed(), &kestrix::ResultFeed::thumbnailsFinished);
  prompter.queuePath(card);
  window.browseCommand();
  prompter.queueAnswer(true);
  window.scanCommand();
  if (!thumbnails.wait(30000)) {
    std::fprintf(stderr, "window_screenshots: the scan or the thumbnails did not end\n");
    return 1;
  }
  window.resultSelection().model()->select(window.resultFilter().indexOfSourceRow(0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::qWait(100);  // let the views paint the selection

  const QString details = QDir(output).filePath("main_window_details.png");
  if (!window.grab().save(details)) return 1;
  window.detailsView()->sortByColumn(int(kestrix::RowTexts::Column::Size), Qt::DescendingOrder);
  QTest::qWait(100);
  const QString sorted = QDir(output).filePath("main_window_sorted.png");
  if (!window.grab().save(sorted)) return 1;
  // Typing into the maker field: the bar keeps its lines.
  QTest::keyClicks(window.filterBar()->makerModelField(), QStringLiteral("Kes"));
  QTest::qWait(400);
  const QString typing = QDir(output).filePath("main_window_typing.png");
  if (!window.grab().save(typing)) return 1;
  window.filterBar()->makerModelField()->clear();
  QTest::qWait(400);
  window.detailsView()->sortByColumn(-1, Qt::AscendingOrder);

  // A restore of every row, then one refused before it starts.
  QTemporaryDir destination;
  window.setFolderChooser([&](QWidget*) {
    return kestrix::FolderChoice{true, destination.path().toStdString(), 0};
  });
  window.resultSelection().selectAll(true);
  QSignalSpy handled(&window, &kestrix::MainWindow::jobMessageHandled);
  prompter.queueAnswer(true);
  window.restoreCommand();
  if (!handled.wait(30000)) return 1;
  QTest::qWait(100);
  const QString restored = QDir(output).filePath("main_window_restored.png");
  if (!window.grab().save(restored)) return 1;
  const QString endText = prompter.requests().back().text;
  window.setDestinationExaminer([](const std::string&, const std::string&) {
    kestrix::DestinationFacts facts;
    facts.unwritable = EROFS;
    return facts;
  });
  prompter.queueAnswer(true);
  window.restoreCommand();
  const QString refusalText = prompter.requests().back().text;
  for (const auto& [name, text] : {std::pair{"restore_end_box.png", endText},
                                   std::pair{"restore_refused_box.png", refusalText}}) {
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(kestrix::kApplicationTitle), text,
                    QMessageBox::Ok);
    box.show();
    QTest::qWait(50);
    if (!box.grab().save(QDir(output).filePath(name))) return 1;
  }

  window.switchView();
  QTest::qWait(200);
  const QString icons = QDir(output).filePath("main_window_thumbnails.png");
  if (!window.grab().save(icons)) return 1;
  kestrix::ReportWindow report(
      QString::fromUtf8("メディア情報: 1048576 バイト\r\n\r\n復元リスト：\r\n\r\n"
                        "00000000.jpg 6KB 0x00001000 0x00002A1C KestrixCam ﾓﾄﾛｰﾗ形式 \r\n"
                        "00000001.jpg 12KB 0x00003800 0x00006C40 不明 不明 \r\n"),
      QString(), &window, prompter);
  report.show();
  QTest::qWait(100);
  const QString reportPath = QDir(output).filePath("report_window.png");
  if (!report.grab().save(reportPath)) return 1;
  report.close();
  std::printf("%s\n%s\n%s\n%s\n", details.toLocal8Bit().constData(),
              sorted.toLocal8Bit().constData(), icons.toLocal8Bit().constData(),
              reportPath.toLocal8Bit().constData());
  prompter.queueAnswer(true);
  window.close();
  return 0;
}
