// Screenshots of the main window after a scan of the test card, in the
// details view and in the thumbnail view, for a person to look at:
//   window_screenshots OUTPUT_FOLDER
// Runs under a real X server (xvfb-run); exits 0 when both pictures were
// written.
#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/result_list.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
  QDir().mkpath(output);

  QTemporaryDir work;
  std::string why;
  const QString card = kestrix::test::makeCardImage(work.path(), &why);
  if (card.isEmpty()) {
    std::fprintf(stderr, "window_screenshots: %s\n", why.c_str());
    return 1;
  }

  kestrix::ScriptedPrompter prompter;
  kestrix::MainWindow window(prompter, kestrix::test::pluginFolder());
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;

  kestrix::ResultList& list = window.resultList();
  QSignalSpy thumbnails(&list, &kestrix::ResultList::thumbnailsFinished);
  prompter.queuePath(card);
  window.browseCommand();
  prompter.queueAnswer(true);
  window.scanCommand();
  if (!thumbnails.wait(30000)) {
    std::fprintf(stderr, "window_screenshots: the scan or the thumbnails did not end\n");
    return 1;
  }
  list.selectionModel()->select(list.index(0, 0),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::qWait(100);  // let the views paint the selection

  const QString details = QDir(output).filePath("main_window_details.png");
  if (!window.grab().save(details)) return 1;
  window.switchView();
  QTest::qWait(200);
  const QString icons = QDir(output).filePath("main_window_thumbnails.png");
  if (!window.grab().save(icons)) return 1;
  std::printf("%s\n%s\n", details.toLocal8Bit().constData(), icons.toLocal8Bit().constData());
  prompter.queueAnswer(true);
  window.close();
  return 0;
}
