// Qt's own texts (the buttons of message boxes, the file dialogs, the
// context menus of text fields) in Japanese, to match the program's own.
//
// The translation comes from Qt's translation folder (Debian's
// qt6-translations-l10n puts qtbase_ja.qm there). Without it Qt's texts
// stay English and the program works on.
#pragma once

class QCoreApplication;

namespace kestrix {

// Loads qtbase_ja.qm from QLibraryInfo's translation folder into `application`
// (the translator lives as long as the application) and makes Japanese the
// default locale. False when the file is missing or unreadable.
bool installJapaneseQtTranslation(QCoreApplication& application);

}  // namespace kestrix
