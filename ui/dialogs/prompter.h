// Every message box and file-path choice of the user interface goes through
// a Prompter, so that windows can be driven by tests without a modal box
// stopping the event loop, and so that all boxes look alike.
//
// Captions follow one rule across the program:
//   - boxes raised by a command the user chose: WindowText::InformationCaption ("情報",
//     OK button) or WindowText::QuestionCaption ("質問", Yes/No with the question icon);
//   - boxes raised at the end of a job, and a few others named where they
//     are raised: the program's title, kApplicationTitle ("Kestrix").
//
// Use defaultPrompter() in the program; tests hand a ScriptedPrompter
// (scripted_prompter.h) to the window or dialog instead.
#pragma once

#include <QString>
#include <memory>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace kestrix {

inline constexpr const char* kApplicationTitle = "Kestrix";

// Which button of a question Return presses. A question that starts the
// work the user just asked for (scan, restore) defaults to Yes; one that
// would stop, replace or throw away something defaults to No.
enum class DefaultAnswer { No, Yes };

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A box with an information icon and an OK button; returns when closed.
  virtual void inform(QWidget* parent, const QString& caption, const QString& text) = 0;
  // A box with the question icon and Yes/No buttons; true for Yes.
  virtual bool ask(QWidget* parent, const QString& caption, const QString& text,
                   DefaultAnswer defaultAnswer = DefaultAnswer::No) = 0;
  // A box with a warning icon and an OK button (failures the user must see).
  virtual void warn(QWidget* parent, const QString& caption, const QString& text) = 0;

  // Choice of an existing file to read. `filter` is a Qt name filter list
  // ("Disk images (*.ksx *.dat);;All files (*)"). Empty on cancel.
  virtual QString chooseOpenFile(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
  // Choice of a file to write; the platform dialog asks before replacing.
  // `defaultSuffix` (without the dot) is added when the user types none.
  // Empty on cancel.
  virtual QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& filter,
                                 const QString& defaultSuffix) = 0;
};

// QMessageBox / QFileDialog implementation. Box buttons carry the platform's
// standard texts.
class MessageBoxPrompter : public Prompter {
 public:
  void inform(QWidget* parent, const QString& caption, const QString& text) override;
  bool ask(QWidget* parent, const QString& caption, const QString& text,
           DefaultAnswer defaultAnswer = DefaultAnswer::No) override;
  void warn(QWidget* parent, const QString& caption, const QString& text) override;
  QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& filter) override;
  QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& defaultSuffix) override;
};

// The box MessageBoxPrompter::ask shows, built but not shown (tests look at
// its buttons).
std::unique_ptr<QMessageBox> makeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text, DefaultAnswer defaultAnswer);

// What MessageBoxPrompter does to its file dialogs: when Qt draws the dialog
// itself (no desktop dialog), the modification times read "2026/12/10 09:05"
// instead of the session locale's form ("10 Dec 2026" under LANG=C). A
// desktop's own dialog keeps the desktop's language.
void useJapaneseDates(QFileDialog& dialog);
// The form of those times.
inline constexpr const char* kFileDialogDateFormat = "yyyy/MM/dd HH:mm";

// The program-wide MessageBoxPrompter; lives as long as the program.
Prompter& defaultPrompter();

}  // namespace kestrix
