// The folder chooser on a scratch folder: what the tree lists, when it
// lists again, which new folders it makes, and what chooseFolder returns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "ui/dialogs/folder_chooser.h"
#include "ui/dialogs/scripted_prompter.h"

namespace kestrix {
namespace {

class FolderChooserTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.isValid());
    root_ = QDir(scratch_.path()).canonicalPath();
    ASSERT_TRUE(QDir(root_).mkdir(QStringLiteral("existing")));
    QFile file(QDir(root_).filePath(QStringLiteral("photo.jpg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  QStringList childNames(QTreeWidgetItem* item) const {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
    return names;
  }

  QString path(const char* name) const { return QDir(root_).filePath(QString::fromUtf8(name)); }

  QTemporaryDir scratch_;
  QString root_;
  ScriptedPrompter prompter_;
};

TEST_F(FolderChooserTest, ListsFoldersOnlyAndEnablesOkOnAFolder) {
  FolderChooser chooser(nullptr, prompter_);
  ASSERT_TRUE(chooser.selectPath(root_));
  EXPECT_EQ(chooser.selectedPath(), root_);
  EXPECT_TRUE(chooser.okButton()->isEnabled());
  EXPECT_TRUE(chooser.newFolderButton()->isEnabled());
  QTreeWidgetItem* item = chooser.findItem(root_);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(childNames(item), QStringList{QStringLiteral("existing")});
}

TEST_F(FolderChooserTest, OpensWithOkOnAndNewFolderOffUntilTheUserChooses) {
  FolderChooser chooser(nullptr, prompter_);
  EXPECT_TRUE(chooser.okButton()->isEnabled()) << "the first folder is selected";
  EXPECT_FALSE(chooser.newFolderButton()->isEnabled());
  ASSERT_TRUE(chooser.selectPath(root_));
  EXPECT_TRUE(chooser.okButton()->isEnabled());
  EXPECT_TRUE(chooser.newFolderButton()->isEnabled());
}

TEST_F(FolderChooserTest, SelectionThatVanishedDisablesOk) {
  FolderChooser chooser(nullptr, prompter_);
  ASSERT_TRUE(chooser.selectPath(path("existing")));
  ASSERT_TRUE(QDir(path("existing")).removeRecursively());
  // Selecting the stale item again is what a user's click does.
  QTreeWidgetItem* stale = chooser.findItem(path("existing"));
  ASSERT_NE(stale, nullptr);
  chooser.tree()->setCurrentItem(chooser.findItem(root_));
  chooser.tree()->setCurrentItem(stale);
  EXPECT_TRUE(chooser.selectedPath().isEmpty());
  EXPECT_FALSE(chooser.okButton()->isEnabled());
  EXPECT_FALSE(chooser.newFolderButton()->isEnabled());
}

TEST_F(FolderChooserTest, FolderMadeOutsideShowsAfterCollapseAndExpand) {
  FolderChooser chooser(nullptr, prompter_);
  ASSERT_TRUE(chooser.selectPath(root_));
  QTreeWidgetItem* item = chooser.findItem(root_);
  ASSERT_NE(item, nullptr);
  chooser.tree()->expandItem(item);
  ASSERT_TRUE(QDir(root_).mkdir(QStringLiteral("made-outside")));
  EXPECT_EQ(chooser.findItem(path("made-outside")), nullptr);

  chooser.tree()->collapseItem(item);
  chooser.tree()->expandItem(item);
  EXPECT_NE(chooser.findItem(path("made-outside")), nullptr);
}

struct CreateCase {
  const char* name;
  QString folderName;
  bool created;
};

const CreateCase kCreateCases[] = {
    // name                   folder name                         created
    {"PlainName",             QStringLiteral("restored"),         true},
    {"JapaneseName",          QStringLiteral("復元した写真"),     true},
    {"LongestName255Bytes",   QString(255, QLatin1Char('n')),     true},
    {"NameOf256BytesRefused", QString(256, QLatin1Char('n')),     false},
    // 86 three-byte characters are 258 bytes though only 86 characters.
    {"MultiByteOverLimit",    QString(86, QChar(0x5199)),         false},
    {"SlashRefused",          QStringLiteral("a/b"),              false},
    {"EmptyRefused",          QString(),                          false},
    {"DotDotRefused",         QStringLiteral(".."),               false},
    {"ExistingRefused",       QStringLiteral("existing"),         false},
};

class FolderCreation : public FolderChooserTest,
                       public testing::WithParamInterface<CreateCase> {};

TEST_P(FolderCreation, CreatesOrShowsTheFailureMessage) {
  const CreateCase& c = GetParam();
  FolderChooser chooser(nullptr, prompter_);
  ASSERT_TRUE(chooser.selectPath(root_));
  const QStringList before = QDir(root_).entryList(QDir::Dirs | QDir::NoDotAndDotDot);

  EXPECT_EQ(chooser.createFolder(c.folderName), c.created);
  if (c.created) {
    EXPECT_TRUE(prompter_.requests().empty());
    const QString made = QDir(root_).filePath(c.folderName);
    EXPECT_TRUE(QFileInfo(made).isDir());
    // Listed under its parent and selected, so OK restores into it.
    EXPECT_NE(chooser.findItem(made), nullptr);
    EXPECT_EQ(chooser.selectedPath(), QDir::cleanPath(made));
    EXPECT_EQ(chooser.pathField()->text(), QDir::cleanPath(made));
    EXPECT_TRUE(chooser.okButton()->isEnabled());
  } else {
    EXPECT_EQ(QDir(root_).entryList(QDir::Dirs | QDir::NoDotAndDotDot), before);
    ASSERT_EQ(prompter_.requests().size(), 1u);
    EXPECT_EQ(prompter_.requests()[0].caption, QStringLiteral("Kestrix"));
    EXPECT_EQ(prompter_.requests()[0].text,
              QStringLiteral("その位置にはフォルダを作成することができません。"));
  }
}

INSTANTIATE_TEST_SUITE_P(Chooser, FolderCreation, testing::ValuesIn(kCreateCases),
                         [](const testing::TestParamInfo<CreateCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(FolderChooserTest, CreatingWhereTheFolderBecameAFileFails) {
  FolderChooser chooser(nullptr, prompter_);
  ASSERT_TRUE(chooser.selectPath(path("existing")));
  // The selected folder is replaced by a plain file behind the dialog's back.
  ASSERT_TRUE(QDir(path("existing")).removeRecursively());
  QFile file(path("existing"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_FALSE(chooser.createFolder(QStringLiteral("inside")));
  ASSERT_EQ(prompter_.requests().size(), 1u);
  EXPECT_EQ(prompter_.requests()[0].text,
            QStringLiteral("その位置にはフォルダを作成することができません。"));
}

TEST_F(FolderChooserTest, OpensAtTheStartFolder) {
  FolderChooserSetup setup;
  setup.startFolder = path("existing");
  FolderChooser chooser(nullptr, prompter_, setup);
  EXPECT_EQ(chooser.selectedPath(), path("existing"));
  EXPECT_EQ(chooser.pathField()->text(), path("existing"));
  EXPECT_TRUE(chooser.okButton()->isEnabled());

  // A start folder that went away since: the dialog opens as usual.
  setup.startFolder = path("gone");
  FolderChooser fallback(nullptr, prompter_, setup);
  EXPECT_EQ(fallback.selectedPath(), QDir::cleanPath(QDir::homePath()));
}

struct TypedPathCase {
  const char* name;
  const char* typed;  // relative to the scratch folder; "" for nothing
  bool absolute;
  bool choosable;
};

const TypedPathCase kTypedPathCases[] = {
    // name                  typed                absolute choosable
    {"ExistingFolder",       "existing",          true,    true},
    {"TrailingSlash",        "existing/",         true,    true},
    {"MissingFolder",        "missing",           true,    false},
    {"AFileIsNoFolder",      "photo.jpg",         true,    false},
    {"RelativePathRefused",  "existing",          false,   false},
    {"Empty",                "",                  false,   false},
};

class TypedPath : public FolderChooserTest,
                  public testing::WithParamInterface<TypedPathCase> {};

TEST_P(TypedPath, ChoosesOnlyAnExistingFolder) {
  const TypedPathCase& c = GetParam();
  FolderChooser chooser(nullptr, prompter_);
  chooser.show();  // typing goes to visible fields only
  const QString text = c.absolute ? root_ + QLatin1Char('/') + QString::fromUtf8(c.typed)
                                  : QString::fromUtf8(c.typed);
  // As a user would: select what the field shows, delete it, type.
  QTest::keyClick(chooser.pathField(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(chooser.pathField(), Qt::Key_Backspace);
  QTest::keyClicks(chooser.pathField(), text);
  EXPECT_EQ(chooser.okButton()->isEnabled(), c.choosable);
  EXPECT_EQ(chooser.pathField()->text(), text) << "the field keeps what was typed";
  if (c.choosable) {
    EXPECT_EQ(chooser.selectedPath(), QDir::cleanPath(text));
  } else {
    EXPECT_TRUE(chooser.selectedPath().isEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Chooser, TypedPath, testing::ValuesIn(kTypedPathCases),
                         [](const testing::TestParamInfo<TypedPathCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(FolderChooserTest, RefusesAFolderOnTheCardAndStaysOpen) {
  FolderChooserSetup setup;
  QStringList asked;
  setup.isOnSource = [&](const QString& folder) {
    asked << folder;
    return folder == path("existing");
  };
  FolderChooser chooser(nullptr, prompter_, setup);
  ASSERT_TRUE(chooser.selectPath(path("existing")));
  chooser.setResult(-1);
  chooser.accept();
  EXPECT_EQ(chooser.result(), -1) << "the dialog did not end";
  ASSERT_EQ(prompter_.requests().size(), 1u);
  EXPECT_EQ(prompter_.requests()[0].caption, QStringLiteral("Kestrix"));
  EXPECT_EQ(prompter_.requests()[0].text, QString::fromUtf8(kFolderOnSourceMessage));
  EXPECT_EQ(asked, QStringList{path("existing")});

  // Another folder is taken.
  ASSERT_TRUE(chooser.selectPath(root_));
  chooser.accept();
  EXPECT_EQ(chooser.result(), QDialog::Accepted);
  EXPECT_EQ(prompter_.requests().size(), 1u);
}

struct ChoiceCase {
  const char* name;
  bool check;
  bool pressOk;
  bool accepted;
  int setFileTime;
};

const ChoiceCase kChoiceCases[] = {
    // name                   check  OK     accepted setFileTime
    {"CancelCheckedGivesZero", true,  false, false,   0},
    {"CancelUnchecked",        false, false, false,   0},
    {"OkChecked",              true,  true,  true,    1},
    {"OkUnchecked",            false, true,  true,    0},
};

class ChooseFolder : public FolderChooserTest,
                     public testing::WithParamInterface<ChoiceCase> {};

TEST_P(ChooseFolder, ReturnsPathAndFlag) {
  const ChoiceCase& c = GetParam();
  // Runs inside chooseFolder's modal loop, as soon as the dialog is up.
  // It only records what it found and always closes the dialog: an
  // assertion here would return with the dialog still open and hang.
  bool found = false;
  bool selected = false;
  QTimer::singleShot(0, [this, &c, &found, &selected] {
    FolderChooser* chooser = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* candidate = qobject_cast<FolderChooser*>(widget);
      if (candidate != nullptr && candidate->isVisible()) chooser = candidate;
    }
    found = chooser != nullptr;
    if (!found) return;
    selected = chooser->selectPath(root_);
    if (!selected) {
      chooser->reject();
      return;
    }
    chooser->fileTimeBox()->setChecked(c.check);
    chooser->findChild<QPushButton*>(c.pressOk ? "button1" : "button2")->click();
  });
  const FolderChoice choice = chooseFolder(nullptr, prompter_);
  ASSERT_TRUE(found) << "no folder chooser was open";
  ASSERT_TRUE(selected);
  EXPECT_EQ(choice.accepted, c.accepted);
  EXPECT_EQ(choice.setFileTime, c.setFileTime);
  EXPECT_EQ(choice.path, c.accepted ? root_.toStdString() : std::string());
}

INSTANTIATE_TEST_SUITE_P(Chooser, ChooseFolder, testing::ValuesIn(kChoiceCases),
                         [](const testing::TestParamInfo<ChoiceCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(FolderChooserRoots, HomeAndRootAreListed) {
  FolderChooser chooser;
  QStringList roots;
  for (int i = 0; i < chooser.tree()->topLevelItemCount(); ++i) {
    roots << chooser.tree()->topLevelItem(i)->text(0);
  }
  EXPECT_TRUE(roots.contains(QDir::homePath()));
  EXPECT_TRUE(roots.contains(QStringLiteral("/")));
  EXPECT_EQ(chooser.windowTitle(), QStringLiteral("フォルダの選択"));
}

}  // namespace
}  // namespace kestrix
