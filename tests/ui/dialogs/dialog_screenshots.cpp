// Saves a PNG of every dialog into the folder given as the only argument,
// with sample contents, so texts and layout can be looked at after a change.
// Exits non-zero when a picture cannot be written.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <vector>

#include "tests/imaging/exif_bytes.h"
#include "core/candidate_list.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/application_icon.h"
#include "ui/dialogs/folder_chooser.h"
#include "ui/dialogs/new_folder_dialog.h"
#include "ui/dialogs/prompter.h"
#include "ui/dialogs/properties_dialog.h"
#include "ui/dialogs/qt_translation.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/dialogs/tidy_dialog.h"
#include "ui/dialogs/viewer_window.h"
#include "ui/widgets/window_texts.h"

using namespace kestrix;

namespace {

bool save(QWidget& widget, const QDir& out, const char* name) {
  widget.show();
  const QString path = out.filePath(QString::fromUtf8(name) + QStringLiteral(".png"));
  const bool saved = widget.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  widget.hide();
  return saved;
}

// A sample photograph: sky, ground and a sun, enough to see the stretching.
QImage samplePicture() {
  QImage image(800, 600, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const bool sun = (x - 600) * (x - 600) + (y - 150) * (y - 150) < 60 * 60;
      image.setPixel(x, y,
                     sun       ? qRgb(250, 210, 60)
                     : y < 400 ? qRgb(90, 150 + y / 8, 230)
                               : qRgb(70, 140 - (y - 400) / 4, 60));
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // As the program does: Qt's own buttons in Japanese.
  if (!installJapaneseQtTranslation(application))
    std::fprintf(stderr, "dialog_screenshots: no Japanese Qt translation, buttons stay English\n");
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_screenshots <output folder>\n");
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) return 1;
  bool ok = true;
  ScriptedPrompter prompter;

  // Properties of a row with maker, model, date and GPS.
  using namespace kestrix::test;
  TestDirectory ifd0;
  ifd0.entries.push_back(asciiEntry(kTagMake, "KESTREL OPTICS"));
  ifd0.entries.push_back(asciiEntry(kTagModel, "KX-100"));
  ifd0.entries.push_back(pointerEntry(kTagExifIfdPointer, 1));
  ifd0.entries.push_back(pointerEntry(kTagGpsIfdPointer, 2));
  TestDirectory exif;
  exif.entries.push_back(asciiEntry(kTagDateTimeOriginal, "2011:03:04 05:06:07"));
  TestDirectory gps;
  gps.entries.push_back(asciiEntry(0x0001, "N"));
  std::vector<uint8_t> bytes = TiffWriter::inJpeg(TiffWriter(true).build({ifd0, exif, gps}));
  bytes.resize(bytes.size() + 125000);
  CandidateList list;
  list.addCandidate("00000000.jpg", bytes.data(), {FileType::Jpeg, 0, bytes.size()});
  {
    PropertiesDialog dialog(list, 0);
    ok &= save(dialog, out, "properties_dialog");
  }
  {
    TidyDialog dialog(nullptr, prompter);
    dialog.prefixEdit()->setText(QStringLiteral("旅行"));
    dialog.digitsEdit()->setText(QStringLiteral("4"));
    ok &= save(dialog, out, "tidy_dialog");
    dialog.digitsEdit()->setText(QStringLiteral("31"));
    ok &= save(dialog, out, "tidy_dialog_invalid");
  }
  {
    FolderChooser chooser(nullptr, prompter);
    chooser.selectPath(QDir::homePath());
    ok &= save(chooser, out, "folder_chooser");
  }
  {
    // Opened at a start folder, with a folder just made selected.
    QTemporaryDir scratch;
    QDir(scratch.path()).mkdir(QStringLiteral("写真"));
    FolderChooserSetup setup;
    setup.startFolder = scratch.path();
    FolderChooser chooser(nullptr, prompter, setup);
    chooser.createFolder(QStringLiteral("復元した写真"));
    ok &= save(chooser, out, "folder_chooser_new_folder");
  }
  {
    // A folder typed that is not there yet: OK stays on and asks to make it.
    QTemporaryDir scratch;
    FolderChooser chooser(nullptr, prompter);
    chooser.show();
    // As typed: the field's edit signal, which a set text does not send.
    const QString typed = scratch.path() + QStringLiteral("/2026年12月 旅行の写真");
    chooser.pathField()->setText(typed);
    emit chooser.pathField()->textEdited(typed);
    ok &= save(chooser, out, "folder_chooser_missing_typed");
    const auto box =
        makeQuestionBox(nullptr, QString::fromUtf8(windowText(WindowText::QuestionCaption)),
                        QString::fromUtf8(windowText(WindowText::CreateTypedFolderQuestion))
                            .arg(chooser.missingTypedFolder()),
                        DefaultAnswer::Yes);
    ok &= save(*box, out, "create_typed_folder_question");
  }
  {
    const auto box = makeQuestionBox(
        nullptr, QString::fromUtf8(windowText(WindowText::QuestionCaption)),
        QStringLiteral("選択されたディスクイメージの内容を検査しますか？"), DefaultAnswer::Yes);
    ok &= save(*box, out, "question_box");
  }
  {
    NewFolderDialog dialog;
    dialog.nameEdit()->setText(QStringLiteral("復元した写真"));
    ok &= save(dialog, out, "new_folder_dialog");
  }
  {
    AboutBox box;
    ok &= save(box, out, "about_box");
  }
  {
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("00000000.jpg"));
    samplePicture().save(path, "JPEG");
    ViewerWindow viewer(nullptr, prompter);
    viewer.setPath(path.toStdString());
    QTimer::singleShot(0, &viewer, [&] {
      ok &= save(viewer, out, "viewer_window");
      viewer.close();
    });
    viewer.run();
  }
  const QString iconPath = out.filePath(QStringLiteral("application_icon.png"));
  ok &= applicationIcon().pixmap(128, 128).save(iconPath);
  return ok ? 0 : 1;
}
