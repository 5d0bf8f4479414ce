// The folder chooser on a scratch folder: what the tree lists, when it
// lists again, which new folders it makes, and what chooseFolder returns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "ui/dialogs/folder_chooser.h"
#include "ui/dialogs/new_folder_dialog.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/window_texts.h"

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

TEST_F(FolderChooserTest, OpensWithOkAndNewFolderOnTheStartFolder) {
  FolderChooser chooser(nullptr, prompter_);
  EXPECT_TRUE(chooser.okButton()->isEnabled()) << "the default folder is selected";
  EXPECT_TRUE(chooser.newFolderButton()->isEnabled())
      << "a folder can be made where the dialog opens";
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
    {"PlainName", QStringLiteral("restored"), true},
    {"JapaneseName", QStringLiteral("復元した写真"), true},
    {"LongestName255Bytes", QString(255, QLatin1Char('n')), true},
    {"NameOf256BytesRefused", QString(256, QLatin1Char('n')), false},
    // 86 three-byte characters are 258 bytes though only 86 characters.
    {"MultiByteOverLimit", QString(86, QChar(0x5199)), false},
    {"SlashRefused", QStringLiteral("a/b"), false},
    {"EmptyRefused", QString(), false},
    {"DotDotRefused", QStringLiteral(".."), false},
    {"ExistingRefused", QStringLiteral("existing"), false},
};

class FolderCreation : public FolderChooserTest, public testing::WithParamInterface<CreateCase> {};

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
  EXPECT_EQ(fallback.selectedPath(), defaultRestoreFolder());
}

struct TypedPathCase {
  const char* name;
  const char* typed;  // relative to the scratch folder; "" for nothing
  bool absolute;
  bool choosable;
};

const TypedPathCase kTypedPathCases[] = {
    // name                  typed                absolute choosable
    {"ExistingFolder", "existing", true, true},
    {"TrailingSlash", "existing/", true, true},
    // OK offers to make it; nothing is chosen until it exists.
    {"MissingFolder", "missing", true, false},
    {"AFileIsNoFolder", "photo.jpg", true, false},
    {"RelativePathRefused", "existing", false, false},
    {"Empty", "", false, false},
};

class TypedPath : public FolderChooserTest, public testing::WithParamInterface<TypedPathCase> {};

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
  const bool missing = c.absolute && !QFileInfo::exists(text);
  EXPECT_EQ(chooser.okButton()->isEnabled(), c.choosable || missing);
  EXPECT_EQ(chooser.missingTypedFolder().isEmpty(), !missing);
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

struct MissingTypedCase {
  const char* name;
  const char* typed;  // under the scratch folder
  bool answer;        // to the question, when it is asked
  bool onSource;      // the card holds the scratch folder
  bool asked;
  bool accepted;
  const char* message;  // the box after the question, or ""
};

const MissingTypedCase kMissingTypedCases[] = {
    // name              typed                 answer onSource asked  accepted message
    {"YesMakesIt", "new", true, false, true, true, ""},
    {"YesMakesTheLevelsAbove", "a/b/c", true, false, true, true, ""},
    {"NoMakesNothing", "new", false, false, true, false, ""},
    {"UnderAFileFails", "photo.jpg/new", true, false, true, false,
     windowText(WindowText::CannotCreateFolderMessage)},
    {"NeverOnTheCard", "new", true, true, false, false,
     windowText(WindowText::FolderOnSourceMessage)},
};

class MissingTypedFolder : public FolderChooserTest,
                           public testing::WithParamInterface<MissingTypedCase> {};

TEST_P(MissingTypedFolder, OkOffersToMakeIt) {
  const MissingTypedCase& c = GetParam();
  FolderChooserSetup setup;
  if (c.onSource)
    setup.isOnSource = [this](const QString& folder) { return folder.startsWith(root_); };
  FolderChooser chooser(nullptr, prompter_, setup);
  chooser.show();
  const QString wanted = path(c.typed);
  QTest::keyClick(chooser.pathField(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(chooser.pathField(), wanted);
  ASSERT_TRUE(chooser.okButton()->isEnabled());
  prompter_.queueAnswer(c.answer);
  chooser.setResult(-1);
  chooser.accept();
  const auto& requests = prompter_.requests();
  const bool asked = !requests.empty() && requests.front().kind == ScriptedPrompter::Kind::Ask;
  EXPECT_EQ(asked, c.asked);
  if (asked) {
    EXPECT_EQ(requests.front().caption, QStringLiteral("質問"));
    EXPECT_EQ(requests.front().text,
              QString::fromUtf8(windowText(WindowText::CreateTypedFolderQuestion)).arg(wanted));
  }
  EXPECT_EQ(chooser.result() == QDialog::Accepted, c.accepted);
  EXPECT_EQ(QFileInfo(wanted).isDir(), c.accepted) << "made only on Yes, and then chosen";
  if (c.accepted) {
    EXPECT_EQ(chooser.selectedPath(), wanted);
  }
  if (*c.message != '\0') {
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().text, QString::fromUtf8(c.message));
  }
}

INSTANTIATE_TEST_SUITE_P(Chooser, MissingTypedFolder, testing::ValuesIn(kMissingTypedCases),
                         [](const testing::TestParamInfo<MissingTypedCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(FolderChooserTest, NewFolderGoesIntoATypedFolder) {
  FolderChooser chooser(nullptr, prompter_);
  chooser.show();
  QTest::keyClick(chooser.pathField(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(chooser.pathField(), path("existing"));
  ASSERT_TRUE(chooser.newFolderButton()->isEnabled());
  ASSERT_TRUE(chooser.createFolder(QStringLiteral("2026-12 旅行")));
  EXPECT_TRUE(QFileInfo(path("existing/2026-12 旅行")).isDir());
  EXPECT_EQ(chooser.selectedPath(), path("existing/2026-12 旅行"))
      << "the new folder is the choice";
  EXPECT_EQ(chooser.pathField()->text(), path("existing/2026-12 旅行"));
}

TEST_F(FolderChooserTest, OpensWideEnoughForLongNames) {
  const QString longName = QString(60, QChar(0x5199));  // 60 × "写"
  ASSERT_TRUE(QDir(root_).mkdir(longName));
  FolderChooserSetup setup;
  setup.startFolder = QDir(root_).filePath(longName);
  FolderChooser chooser(nullptr, prompter_, setup);
  chooser.show();
  QCoreApplication::processEvents();  // the tree lays itself out
  EXPECT_GE(chooser.width(), kFolderChooserWidth);
  // The tree's column is as wide as the name: scrolled to, never cut.
  QTreeWidgetItem* item = chooser.findItem(setup.startFolder);
  ASSERT_NE(item, nullptr);
  EXPECT_GE(chooser.tree()->columnWidth(0),
            chooser.tree()->fontMetrics().horizontalAdvance(longName));
}

TEST(NewFolderBox, TheNameFieldHasTheFocusAndRoom) {
  NewFolderDialog dialog;
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), dialog.nameEdit());
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("DCIM"));
  EXPECT_EQ(dialog.name(), QStringLiteral("DCIM")) << "typing goes into the name at once";
  EXPECT_GE(dialog.nameEdit()->width(), 400);
}

TEST(DefaultRestoreFolder, PicturesOfTheHomeElseTheHome) {
  QTemporaryDir home;
  const QString homePath = QDir(home.path()).canonicalPath();
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldSudo = qgetenv("SUDO_USER");
  qputenv("HOME", homePath.toUtf8());
  qunsetenv("SUDO_USER");
  EXPECT_EQ(defaultRestoreFolder(), homePath) << "no Pictures folder yet";
  ASSERT_TRUE(QDir(homePath).mkpath(QStringLiteral(".config")));
  QFile dirs(homePath + QStringLiteral("/.config/user-dirs.dirs"));
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write(
      "# written by "
      "xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/"
      "\xe3\x83\x94\xe3\x82\xaf\xe3\x83\x81\xe3\x83\xa3\"\n");
  dirs.close();
  ASSERT_TRUE(QDir(homePath).mkdir(QStringLiteral("ピクチャ")));
  EXPECT_EQ(defaultRestoreFolder(), homePath + QStringLiteral("/ピクチャ"));
  qputenv("HOME", oldHome);
  if (!oldSudo.isEmpty()) qputenv("SUDO_USER", oldSudo);
}

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
  EXPECT_EQ(prompter_.requests()[0].text,
            QString::fromUtf8(windowText(WindowText::FolderOnSourceMessage)));
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
    {"CancelCheckedGivesZero", true, false, false, 0},
    {"CancelUnchecked", false, false, false, 0},
    {"OkChecked", true, true, true, 1},
    {"OkUnchecked", false, true, true, 0},
};

class ChooseFolder : public FolderChooserTest, public testing::WithParamInterface<ChoiceCase> {};

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
