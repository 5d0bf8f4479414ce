// A Prompter for tests: it shows nothing, records every request in order and
// answers from queues filled beforehand. With an empty queue ask() answers
// No and the file choices answer "cancelled" (empty path).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "ui/dialogs/prompter.h"

namespace kestrix {

class ScriptedPrompter : public QObject, public Prompter {
  Q_OBJECT

 public:
  enum class Kind { Inform, Ask, Warn, OpenFile, SaveFile };
  struct Request {
    Kind kind;
    QString caption;
    QString text;  // the message, or the file filter for file choices
    DefaultAnswer defaultAnswer = DefaultAnswer::No;  // questions only
  };

  void inform(QWidget* parent, const QString& caption, const QString& text) override;
  bool ask(QWidget* parent, const QString& caption, const QString& text,
           DefaultAnswer defaultAnswer = DefaultAnswer::No) override;
  void warn(QWidget* parent, const QString& caption, const QString& text) override;
  QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& filter) override;
  QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& defaultSuffix) override;

  void queueAnswer(bool yes) { answers_.push_back(yes); }
  void queuePath(const QString& path) { paths_.push_back(path); }

  const std::vector<Request>& requests() const { return requests_; }
  void clearRequests() { requests_.clear(); }

 signals:
  // Emitted after each request is recorded, so a test can wait for a box.
  void prompted();

 private:
  void record(Kind kind, const QString& caption, const QString& text,
              DefaultAnswer defaultAnswer = DefaultAnswer::No);

  std::vector<Request> requests_;
  std::deque<bool> answers_;
  std::deque<QString> paths_;
};

}  // namespace kestrix
