#include "ui/dialogs/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kestrix {

bool installJapaneseQtTranslation(QCoreApplication& application) {
  // The interface is Japanese whatever the session's language, so Qt's
  // parts of it follow the program, not the environment.
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);
  QLocale::setDefault(japanese);
  auto* translator = new QTranslator(&application);
  if (!translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace kestrix
