// kestrix: the desktop program. One window; the program ends when it closes.
#include <QApplication>

#include "ui/dialogs/application_icon.h"
#include "ui/widgets/main_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Kestrix");
  QApplication::setWindowIcon(kestrix::applicationIcon());
  kestrix::MainWindow window;
  window.show();
  return QApplication::exec();
}
