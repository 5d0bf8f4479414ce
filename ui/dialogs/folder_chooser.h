// "フォルダの選択": where restored files go, and whether their
// file times are set to the shot date.
//
//   const FolderChoice choice = chooseFolder(this);
//   if (choice.accepted) restoreInto(choice.path, choice.setFileTime);
//
// The tree holds folders only. Its roots are the home folder, "/" and the
// media mounted under /media, /run/media and /mnt (those present when the
// dialog opens). Nothing below a folder is listed until it is expanded or
// selected, and every expansion lists the folder again, so a folder created
// by another program appears after its parent is collapsed and expanded.
// OK and the new-folder button are enabled while the selection is an
// existing directory. The path field below the tree shows the selection and
// takes a typed path; a folder typed there that exists is what OK returns,
// and one that does not is offered to be made (WindowText::CreateTypedFolderQuestion)
// when OK is pressed. A folder just made with the new-folder button becomes
// the selection.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "ui/dialogs/prompter.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrix {

// Result of chooseFolder. path is empty and setFileTime 0 on cancel.
struct FolderChoice {
  bool accepted = false;
  std::string path;     // UTF-8 file-system path of the chosen folder
  int setFileTime = 0;  // 1: set each restored file's times from its shot date
};

// How the dialog opens and what it refuses.
struct FolderChooserSetup {
  // Selected when the dialog opens (the folder of the last restore); empty
  // or gone: defaultRestoreFolder().
  QString startFolder;
  // True when `folder` lies on the card being rescued; OK then shows
  // WindowText::FolderOnSourceMessage and the dialog stays open. Empty: nothing is
  // refused (the card is not known).
  std::function<bool(const QString& folder)> isOnSource;
};

// Where a first restore goes: the user's Pictures folder, else the home
// folder. Under sudo or pkexec that is the invoking user's, not root's: a
// user who had to start the program as root still wants the photos at home.
QString defaultRestoreFolder();

// Shows FolderChooser modally over `parent` (may be null).
FolderChoice chooseFolder(QWidget* parent, Prompter& prompter = defaultPrompter(),
                          const FolderChooserSetup& setup = {});

// The dialog's size when it opens: room for long folder names.
inline constexpr int kFolderChooserWidth = 640;
inline constexpr int kFolderChooserHeight = 480;

// A name mkdir can take as one new entry: not empty, not "." or "..", no
// '/' or NUL, at most 255 bytes in UTF-8 (NAME_MAX of Linux file systems).
bool folderNameUsable(const QString& name);

class FolderChooser : public QDialog {
  Q_OBJECT

 public:
  explicit FolderChooser(QWidget* parent = nullptr, Prompter& prompter = defaultPrompter(),
                         const FolderChooserSetup& setup = {});

  // Path of the current selection; empty when it is no existing directory.
  const QString& selectedPath() const { return selectedPath_; }
  // The typed folder that does not exist yet and that OK offers to make;
  // empty otherwise.
  const QString& missingTypedFolder() const { return missingTyped_; }
  // 1 when the check box was checked at OK; 0 otherwise (also after cancel).
  int setFileTime() const { return setFileTime_; }

  // Creates `name` inside the selected folder (chosen in the tree or typed), lists the folder
  // again, expands it and selects the new folder, so OK restores into it. On failure shows
  // WindowText::CannotCreateFolderMessage and returns false; the tree is unchanged.
  bool createFolder(const QString& name);

  // The item for `path` among the listed items, or null (for tests and for
  // preselecting a folder).
  QTreeWidgetItem* findItem(const QString& path) const;
  // Expands the roots' branches down to `path` (listing each level) and
  // selects it; false when the path is under no root or does not exist.
  bool selectPath(const QString& path);

  QTreeWidget* tree() const { return tree_; }                  // "tree1020"
  QPushButton* okButton() const { return okButton_; }          // "button1"
  QPushButton* newFolderButton() const { return newButton_; }  // "button1022"
  QCheckBox* fileTimeBox() const { return fileTimeBox_; }      // "check1034"
  QLineEdit* pathField() const { return pathField_; }          // "editPath"

 public slots:
  void accept() override;
  void reject() override;

 private:
  void addRoot(const QString& path, const QString& text);
  void listChildren(QTreeWidgetItem* item);
  void onExpanded(QTreeWidgetItem* item);
  void onSelectionChanged();
  void onNewFolder();
  void onPathEdited(const QString& text);
  void setChoosable(const QString& path);
  // Asks to make missingTyped_ and makes it; true when it now exists and
  // is the selection.
  bool createTypedFolder();

  Prompter& prompter_;
  QTreeWidget* tree_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* newButton_ = nullptr;
  QCheckBox* fileTimeBox_ = nullptr;
  QLineEdit* pathField_ = nullptr;
  std::function<bool(const QString&)> isOnSource_;
  QString selectedPath_;
  QString missingTyped_;
  int setFileTime_ = 0;  // set only by accept
};

}  // namespace kestrix
