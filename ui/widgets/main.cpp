// kestrix: the desktop program. One window; the program ends when it closes.
#include <QApplication>

#include "ui/dialogs/application_icon.h"
#include "ui/dialogs/qt_translation.h"
#include "ui/widgets/main_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Kestrix");
  QApplication::setWindowIcon(kestrix::applicationIcon());
  // Without the translation the standard buttons stay English; the window
  // works all the same.
  kestrix::installJapaneseQtTranslation(application);
  kestrix::MainWindow window;
  window.show();
  return QApplication::exec();
}
