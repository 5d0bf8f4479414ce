#include "ui/dialogs/scripted_prompter.h"

namespace kestrix {

void ScriptedPrompter::record(Kind kind, const QString& caption, const QString& text,
                              DefaultAnswer defaultAnswer) {
  requests_.push_back({kind, caption, text, defaultAnswer});
  emit prompted();
}

void ScriptedPrompter::inform(QWidget*, const QString& caption, const QString& text) {
  record(Kind::Inform, caption, text);
}

bool ScriptedPrompter::ask(QWidget*, const QString& caption, const QString& text,
                           DefaultAnswer defaultAnswer) {
  bool yes = false;
  if (!answers_.empty()) {
    yes = answers_.front();
    answers_.pop_front();
  }
  record(Kind::Ask, caption, text, defaultAnswer);
  return yes;
}

void ScriptedPrompter::warn(QWidget*, const QString& caption, const QString& text) {
  record(Kind::Warn, caption, text);
}

QString ScriptedPrompter::chooseOpenFile(QWidget*, const QString& caption, const QString& filter) {
  QString path;
  if (!paths_.empty()) {
    path = paths_.front();
    paths_.pop_front();
  }
  record(Kind::OpenFile, caption, filter);
  return path;
}

QString ScriptedPrompter::chooseSaveFile(QWidget*, const QString& caption, const QString& filter,
                                         const QString&) {
  QString path;
  if (!paths_.empty()) {
    path = paths_.front();
    paths_.pop_front();
  }
  record(Kind::SaveFile, caption, filter);
  return path;
}

}  // namespace kestrix
