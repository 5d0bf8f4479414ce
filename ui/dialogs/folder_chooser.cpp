#include "ui/dialogs/folder_chooser.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "ui/dialogs/new_folder_dialog.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

// Item data: the folder's absolute path, and whether its children have been
// listed at least once (the tree's own "expanded once" state).
constexpr int kPathRole = Qt::UserRole;
constexpr int kListedRole = Qt::UserRole + 1;

// Longest file-name component of Linux file systems, in bytes (NAME_MAX).
constexpr qsizetype kFolderNameMaxBytes = 255;

// Where removable media are mounted, and how many folder levels below the
// base a card's mount point lies: udisks uses /media/<user>/<label> (Debian)
// or /run/media/<user>/<label> (Fedora); by hand people mount at /media/<name>
// or /mnt/<name>. Deeper mounts are helpers' internals, not cards.
struct MediaBase {
  const char* base;
  int maxDepth;
};
const MediaBase kMediaBases[] = {
    // base            depth
    {"/media/", 2},
    {"/run/media/", 2},
    {"/mnt/", 1},
};

QString itemPath(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toString(); }

// One directory read, not a full listing: enough to decide whether the
// expand button is shown before the folder is opened.
bool hasSubFolders(const QString& path) {
  QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
  return it.hasNext();
}

// The home folder of whoever started the program: under sudo or pkexec the
// user who asked for root, otherwise the process's own.
QString invokingUserHome() {
  if (::geteuid() == 0) {
    const passwd* user = nullptr;
    if (const char* name = std::getenv("SUDO_USER"); name != nullptr && *name != '\0') {
      user = ::getpwnam(name);
    } else if (const char* uid = std::getenv("PKEXEC_UID"); uid != nullptr && *uid != '\0') {
      user = ::getpwuid(static_cast<uid_t>(std::strtoul(uid, nullptr, 10)));
    }
    if (user != nullptr && user->pw_uid != 0 && user->pw_dir != nullptr) {
      const QString home = QDir::cleanPath(QString::fromLocal8Bit(user->pw_dir));
      if (QFileInfo(home).isDir()) return home;  // system users have none
    }
  }
  return QDir::cleanPath(QDir::homePath());
}

// XDG_PICTURES_DIR of `home`'s user-dirs.dirs ("$HOME/Pictures" there is
// "ピクチャ" on a Japanese desktop); empty when it names none.
QString picturesFolderOf(const QString& home) {
  QFile file(home + QStringLiteral("/.config/user-dirs.dirs"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  const QByteArray key("XDG_PICTURES_DIR=");
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    if (!line.startsWith(key)) continue;
    QString value = QString::fromUtf8(line.mid(key.size()));
    if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')) && value.size() >= 2)
      value = value.mid(1, value.size() - 2);
    value.replace(QStringLiteral("$HOME"), home);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
  }
  return {};
}

}  // namespace

QString defaultRestoreFolder() {
  const QString home = invokingUserHome();
  QString pictures = picturesFolderOf(home);
  if (pictures.isEmpty() && home == QDir::cleanPath(QDir::homePath()))
    pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (pictures.isEmpty()) pictures = home + QStringLiteral("/Pictures");
  // The home folder itself is no place for a pile of photos, but it beats a
  // folder that is not there.
  return QFileInfo(pictures).isDir() && pictures != home ? QDir::cleanPath(pictures) : home;
}

bool folderNameUsable(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  if (name.contains(QLatin1Char('/')) || name.contains(QChar(0))) return false;
  return name.toUtf8().size() <= kFolderNameMaxBytes;
}

FolderChoice chooseFolder(QWidget* parent, Prompter& prompter, const FolderChooserSetup& setup) {
  FolderChooser dialog(parent, prompter, setup);
  FolderChoice choice;
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedPath().isEmpty()) {
    choice.accepted = true;
    choice.path = dialog.selectedPath().toStdString();
  }
  // Cancel leaves 0 here whatever the box showed.
  choice.setFileTime = choice.accepted ? dialog.setFileTime() : 0;
  return choice;
}

FolderChooser::FolderChooser(QWidget* parent, Prompter& prompter, const FolderChooserSetup& setup)
    : QDialog(parent), prompter_(prompter), isOnSource_(setup.isOnSource) {
  setObjectName(QStringLiteral("dialog154"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::FolderChooserTitle)));

  tree_ = new QTreeWidget;
  tree_->setObjectName(QStringLiteral("tree1020"));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->setMinimumSize(380, 320);
  // Long names scroll sideways rather than being cut.
  tree_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);

  newButton_ = new QPushButton(QString::fromUtf8(windowText(WindowText::NewFolder)));
  newButton_->setObjectName(QStringLiteral("button1022"));
  newButton_->setAutoDefault(false);

  pathField_ = new QLineEdit;
  pathField_->setObjectName(QStringLiteral("editPath"));
  pathField_->setClearButtonEnabled(true);
  auto* pathLabel = new QLabel(QString::fromUtf8(windowText(WindowText::FolderLabel)));
  pathLabel->setBuddy(pathField_);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(pathLabel);
  pathRow->addWidget(pathField_, 1);

  fileTimeBox_ = new QCheckBox(QString::fromUtf8(windowText(WindowText::FileTimeBox)));
  fileTimeBox_->setObjectName(QStringLiteral("check1034"));

  auto* buttons = new QDialogButtonBox;
  okButton_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  okButton_->setObjectName(QStringLiteral("button1"));
  okButton_->setDefault(true);
  QPushButton* cancel = buttons->addButton(QString::fromUtf8(windowText(WindowText::CancelButton)),
                                           QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("button2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &FolderChooser::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FolderChooser::reject);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(newButton_);
  bottom->addStretch(1);
  bottom->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(pathRow);
  layout->addWidget(fileTimeBox_);
  layout->addLayout(bottom);

  connect(tree_, &QTreeWidget::itemExpanded, this, &FolderChooser::onExpanded);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &FolderChooser::onSelectionChanged);
  connect(newButton_, &QPushButton::clicked, this, &FolderChooser::onNewFolder);
  connect(pathField_, &QLineEdit::textEdited, this, &FolderChooser::onPathEdited);

  const QString home = invokingUserHome();
  addRoot(home, home);
  if (QDir::cleanPath(QDir::homePath()) != home && QDir::homePath() != QDir::rootPath())
    addRoot(QDir::homePath(), QDir::homePath());
  if (home != QDir::rootPath()) addRoot(QDir::rootPath(), QDir::rootPath());
  QStringList media;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    for (const MediaBase& base : kMediaBases) {
      const QLatin1String prefix(base.base);
      if (!root.startsWith(prefix) || root.size() == prefix.size()) continue;
      const qsizetype depth = root.mid(prefix.size()).count(QLatin1Char('/')) + 1;
      if (depth <= base.maxDepth) media << root;
    }
  }
  media.sort();
  media.removeDuplicates();
  for (const QString& root : media) addRoot(root, root);

  okButton_->setEnabled(false);
  QTreeWidgetItem* first = tree_->topLevelItem(0);
  if (first != nullptr) tree_->expandItem(first);
  // Restoring again usually goes where the last restore went; a first
  // restore goes to the user's pictures.
  const bool started = !setup.startFolder.isEmpty() && selectPath(setup.startFolder);
  if (!started && !selectPath(defaultRestoreFolder()) && first != nullptr)
    tree_->setCurrentItem(first);
  resize(kFolderChooserWidth, kFolderChooserHeight);
}

void FolderChooser::addRoot(const QString& path, const QString& text) {
  if (!QFileInfo(path).isDir()) return;
  auto* item = new QTreeWidgetItem(tree_, QStringList(text));
  item->setData(0, kPathRole, QDir::cleanPath(path));
  item->setToolTip(0, path);
  item->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

void FolderChooser::listChildren(QTreeWidgetItem* item) {
  // Drop whatever an earlier listing found: the folder may have changed
  // since (another program, a card pulled out).
  const QList<QTreeWidgetItem*> old = item->takeChildren();
  qDeleteAll(old);

  const QDir dir(itemPath(item));
  const QFileInfoList entries = dir.entryInfoList(
      QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  const QIcon icon = style()->standardIcon(QStyle::SP_DirIcon);
  for (const QFileInfo& entry : entries) {
    auto* child = new QTreeWidgetItem(item, QStringList(entry.fileName()));
    child->setData(0, kPathRole, entry.absoluteFilePath());
    child->setIcon(0, icon);
    child->setChildIndicatorPolicy(hasSubFolders(entry.absoluteFilePath())
                                       ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicator);
  }
  item->setData(0, kListedRole, true);
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void FolderChooser::onExpanded(QTreeWidgetItem* item) { listChildren(item); }

void FolderChooser::onSelectionChanged() {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.constFirst();
  bool acceptable = false;
  if (item != nullptr) {
    const QString path = itemPath(item);
    acceptable = QFileInfo(path).isDir();
    if (acceptable && !item->data(0, kListedRole).toBool()) listChildren(item);
    setChoosable(acceptable ? path : QString());
    if (acceptable) pathField_->setText(path);
  } else {
    setChoosable(QString());
  }
  newButton_->setEnabled(acceptable);
}

void FolderChooser::setChoosable(const QString& path) {
  selectedPath_ = path;
  missingTyped_.clear();
  okButton_->setEnabled(!path.isEmpty());
  // A folder can be made wherever one can be chosen; whether the system
  // lets it is told when it is tried.
  newButton_->setEnabled(!path.isEmpty());
}

void FolderChooser::onPathEdited(const QString& text) {
  // A typed path is the choice while it names an existing folder; the tree
  // follows when the folder lies under one of its roots.
  const QString typed = text.trimmed();
  const QFileInfo info(typed);
  if (typed.isEmpty() || !info.isAbsolute() || (info.exists() && !info.isDir())) {
    setChoosable(QString());
    return;
  }
  if (!info.exists()) {
    // OK offers to make it; nothing is made before the user says so.
    const QSignalBlocker quiet(tree_);
    tree_->clearSelection();
    setChoosable(QString());
    missingTyped_ = QDir::cleanPath(typed);
    okButton_->setEnabled(true);
    return;
  }
  const QString path = QDir::cleanPath(info.absoluteFilePath());
  {
    // The tree's selection handler would rewrite the field under the user's
    // cursor.
    const QSignalBlocker quiet(tree_);
    if (!selectPath(path)) tree_->clearSelection();
  }
  setChoosable(path);
}

bool FolderChooser::createFolder(const QString& name) {
  // The selection, whether clicked in the tree or typed in the field.
  const QString path = selectedPath_;
  // Checked here rather than in the name box, so every refusal reads the same.
  const bool created = !path.isEmpty() && folderNameUsable(name) && QFileInfo(path).isDir() &&
                       QDir(path).mkdir(name);
  if (!created) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(windowText(WindowText::CannotCreateFolderMessage)));
    return false;
  }
  QTreeWidgetItem* item = findItem(path);
  if (item != nullptr && item->isExpanded()) listChildren(item);
  // The user made the folder to put the files in: OK must mean that one,
  // not its parent (selectPath lists and expands the levels above it).
  const QString made = QDir(path).filePath(name);
  if (!selectPath(made)) setChoosable(made);
  pathField_->setText(made);
  return true;
}

bool FolderChooser::createTypedFolder() {
  const QString wanted = missingTyped_;
  // Making the folder is already a write: never on the card being rescued.
  QString existing = wanted;
  while (!QFileInfo(existing).exists() && existing != QDir::rootPath())
    existing = QFileInfo(existing).path();
  if (isOnSource_ && isOnSource_(existing)) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(windowText(WindowText::FolderOnSourceMessage)));
    return false;
  }
  if (!prompter_.ask(
          this, QString::fromUtf8(windowText(WindowText::QuestionCaption)),
          QString::fromUtf8(windowText(WindowText::CreateTypedFolderQuestion)).arg(wanted),
          DefaultAnswer::Yes)) {
    return false;
  }
  if (!QFileInfo(existing).isDir() || !QDir().mkpath(wanted)) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(windowText(WindowText::CannotCreateFolderMessage)));
    return false;
  }
  if (!selectPath(wanted)) setChoosable(wanted);
  return true;
}

void FolderChooser::onNewFolder() {
  NewFolderDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  createFolder(dialog.name());
}

QTreeWidgetItem* FolderChooser::findItem(const QString& path) const {
  const QString wanted = QDir::cleanPath(path);
  QList<QTreeWidgetItem*> pending;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) pending << tree_->topLevelItem(i);
  while (!pending.isEmpty()) {
    QTreeWidgetItem* item = pending.takeFirst();
    if (itemPath(item) == wanted) return item;
    for (int i = 0; i < item->childCount(); ++i) pending << item->child(i);
  }
  return nullptr;
}

bool FolderChooser::selectPath(const QString& path) {
  const QString wanted = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  if (!QFileInfo(wanted).isDir()) return false;
  // The deepest root holding the path, so /media/card is reached from its
  // own root rather than through "/".
  QTreeWidgetItem* item = nullptr;
  qsizetype bestLength = -1;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* root = tree_->topLevelItem(i);
    const QString rootPath = itemPath(root);
    const bool holds = wanted == rootPath || rootPath == QDir::rootPath() ||
                       wanted.startsWith(rootPath + QLatin1Char('/'));
    if (holds && rootPath.size() > bestLength) {
      item = root;
      bestLength = rootPath.size();
    }
  }
  while (item != nullptr && itemPath(item) != wanted) {
    tree_->expandItem(item);
    if (!item->data(0, kListedRole).toBool()) listChildren(item);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
      QTreeWidgetItem* child = item->child(i);
      const QString childPath = itemPath(child);
      if (wanted == childPath || wanted.startsWith(childPath + QLatin1Char('/'))) next = child;
    }
    item = next;
  }
  if (item == nullptr) return false;
  tree_->setCurrentItem(item);
  return true;
}

void FolderChooser::accept() {
  if (selectedPath_.isEmpty() && !missingTyped_.isEmpty() && !createTypedFolder()) return;
  if (selectedPath_.isEmpty()) return;
  if (isOnSource_ && isOnSource_(selectedPath_)) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(windowText(WindowText::FolderOnSourceMessage)));
    return;
  }
  setFileTime_ = fileTimeBox_->isChecked() ? 1 : 0;
  QDialog::accept();
}

void FolderChooser::reject() {
  setFileTime_ = 0;
  QDialog::reject();
}

}  // namespace kestrix
