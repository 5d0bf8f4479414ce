#include "ui/dialogs/desktop_links.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "ui/dialogs/product.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

QString helpFilePath() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromUtf8(kHelpFileName));
}

bool openHelp(QWidget* parent, Prompter& prompter) {
  const QString path = helpFilePath();
  if (QFileInfo::exists(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return true;
  prompter.warn(
      parent, QString::fromUtf8(kApplicationTitle),
      QString::fromUtf8(windowText(WindowText::NoHelpMessage)).arg(QDir::toNativeSeparators(path)));
  return false;
}

bool openWebPage(QWidget* parent, Prompter& prompter) {
  if (QDesktopServices::openUrl(QUrl(QString::fromUtf8(kProductWebAddress)))) return true;
  prompter.inform(parent, QString::fromUtf8(kApplicationTitle),
                  QString::fromUtf8(windowText(WindowText::NoBrowserMessage)));
  return false;
}

bool openWithDesktop(const QString& path) {
  QProcess process;
  process.setProgram(QStringLiteral("xdg-open"));
  process.setArguments({path});
  // xdg-open's own chatter is of no use to the user; the result code is.
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start();
  if (!process.waitForStarted()) return false;
  process.waitForFinished(-1);
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace kestrix
