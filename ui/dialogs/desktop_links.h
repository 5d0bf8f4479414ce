// Hand-offs to the desktop: the help page, the project's web page, and
// files the program cannot show itself (non-JPEG previews).
#pragma once

#include <QString>

#include "ui/dialogs/prompter.h"

class QWidget;

namespace kestrix {

// The help page's file name; it lies next to the program file, in the
// build's bin folder and in the installed program folder alike.
inline constexpr const char* kHelpFileName = "kestrix-help.html";

// Full path of the help page next to the running program.
QString helpFilePath();

// Opens the help page in the desktop's browser. On failure (the page is
// missing, or the desktop refused) shows WindowText::NoHelpMessage through `prompter`
// and returns false: a Help button that does nothing looks broken.
bool openHelp(QWidget* parent, Prompter& prompter = defaultPrompter());

// Opens the project's web page. On failure shows WindowText::NoBrowserMessage through
// `prompter` and returns false.
bool openWebPage(QWidget* parent, Prompter& prompter = defaultPrompter());

// Opens `path` with the desktop's default application through xdg-open
// and waits for xdg-open to end, so that the caller may delete the file
// afterwards. True when xdg-open ran and reported success.
//
// Limits: xdg-open returns as soon as it has handed the file over on most
// desktops (GNOME, KDE, XFCE start the application detached), so "ended"
// often means "started", and an application that opens the file lazily can
// find it deleted. Only on bare sessions, where xdg-open runs the program
// itself, does the wait last until the application closes. Blocks the
// calling thread; it may be called from a worker thread (it needs no event
// loop).
bool openWithDesktop(const QString& path);

}  // namespace kestrix
