#include "ui/dialogs/folder_chooser.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/dialogs/new_folder_dialog.h"

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
    {"/media/",        2},
    {"/run/media/",    2},
    {"/mnt/",          1},
};

QString itemPath(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toString(); }

// One directory read, not a full listing: enough to decide whether the
// expand button is shown before the folder is opened.
bool hasSubFolders(const QString& path) {
  QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
  return it.hasNext();
}

}  // namespace

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

FolderChooser::FolderChooser(QWidget* parent, Prompter& prompter,
                             const FolderChooserSetup& setup)
    : QDialog(parent), prompter_(prompter), isOnSource_(setup.isOnSource) {
  setObjectName(QStringLiteral("dialog154"));
  setWindowTitle(QStringLiteral("フォルダの選択"));

  tree_ = new QTreeWidget;
  tree_->setObjectName(QStringLiteral("tree1020"));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->setMinimumSize(380, 320);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);

  newButton_ = new QPushButton(QStringLiteral("フォルダの新規作成"));
  newButton_->setObjectName(QStringLiteral("button1022"));
  newButton_->setAutoDefault(false);

  pathField_ = new QLineEdit;
  pathField_->setObjectName(QStringLiteral("editPath"));
  pathField_->setClearButtonEnabled(true);
  auto* pathLabel = new QLabel(QStringLiteral("フォルダ:"));
  pathLabel->setBuddy(pathField_);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(pathLabel);
  pathRow->addWidget(pathField_, 1);

  fileTimeBox_ = new QCheckBox(QStringLiteral("ファイルの日時を撮影（更新）日にあわせる"));
  fileTimeBox_->setObjectName(QStringLiteral("check1034"));

  auto* buttons = new QDialogButtonBox;
  okButton_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  okButton_->setObjectName(QStringLiteral("button1"));
  okButton_->setDefault(true);
  QPushButton* cancel =
      buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
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

  const QString home = QDir::homePath();
  addRoot(home, home);
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
  // Restoring again usually goes where the last restore went.
  const bool started = !setup.startFolder.isEmpty() && selectPath(setup.startFolder);
  if (!started && first != nullptr) tree_->setCurrentItem(first);
  // The dialog opens with New folder off whatever the selection handler
  // decided for the first item: a folder is made only where the user chose.
  newButton_->setEnabled(false);
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
  okButton_->setEnabled(!path.isEmpty());
}

void FolderChooser::onPathEdited(const QString& text) {
  // A typed path is the choice while it names an existing folder; the tree
  // follows when the folder lies under one of its roots.
  const QString typed = text.trimmed();
  const QFileInfo info(typed);
  if (typed.isEmpty() || !info.isAbsolute() || !info.isDir()) {
    setChoosable(QString());
    newButton_->setEnabled(false);
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
  newButton_->setEnabled(tree_->currentItem() != nullptr &&
                         itemPath(tree_->currentItem()) == path);
}

bool FolderChooser::createFolder(const QString& name) {
  QTreeWidgetItem* item = tree_->currentItem();
  const QString path = item != nullptr ? itemPath(item) : QString();
  // Checked here rather than in the name box, so every refusal reads the same.
  const bool created = item != nullptr && folderNameUsable(name) && QFileInfo(path).isDir() &&
                       QDir(path).mkdir(name);
  if (!created) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(kCannotCreateFolderMessage));
    return false;
  }
  if (item->isExpanded()) {
    listChildren(item);
  } else {
    tree_->expandItem(item);  // lists through onExpanded
  }
  // The user made the folder to put the files in: OK must mean that one,
  // not its parent.
  QTreeWidgetItem* made = findItem(QDir(path).filePath(name));
  if (made != nullptr) tree_->setCurrentItem(made);
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
  if (selectedPath_.isEmpty()) return;
  if (isOnSource_ && isOnSource_(selectedPath_)) {
    prompter_.inform(this, QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(kFolderOnSourceMessage));
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
