// "Kestrix ビュー" (dialog 138): shows one candidate's picture at a
// comfortable size. No controls; it closes through the window's close box.
//
//   ViewerWindow viewer(this);
//   viewer.setPath(temporaryFile);
//   viewer.run();                 // modal; shows a message if nothing loads
//   // then the caller deletes the temporary file
//
// The picture is loaded by DibImage (".jpg" or ".bmp" by name, any letter
// case) and always stretched over the whole client area on a white
// background, so resizing the window stretches it (without keeping the
// proportions). DibImage::DrawScaled does the stretching with area-weighted
// means, the smooth filtering the picture needs when it is shrunk; a picture
// it refuses to draw (a greyscale JPEG loads as 8 bits) leaves the window
// white.
#pragma once

#include <QDialog>
#include <QImage>
#include <QSize>
#include <string>

#include "imaging/loader/dib_image.h"
#include "ui/dialogs/prompter.h"

namespace kestrix {

// The client size the viewer opens with for a picture of width × height
// (r = width / height):
//   width > 480 or height > 480: 640 × 640 / r
//   otherwise width < 128:       128 × 128 / r
//   otherwise:                   width × height
// Heights are truncated toward zero (computed as 640 × height / width in
// integers, so no rounding error creeps in). An invalid QSize for a width or
// height below 1.
QSize viewerClientSize(int width, int height);

class ViewerWindow : public QDialog {
  Q_OBJECT

 public:
  // What run() returns.
  enum class RunResult : int {
    NotShown = 0,  // the file did not load; the message was shown
    Closed = 2,    // the user closed the window (the dialog's cancel result)
  };

  explicit ViewerWindow(QWidget* parent = nullptr, Prompter& prompter = defaultPrompter());

  void setPath(const std::string& path) { path_ = path; }
  // Loads the picture, sizes the window and shows it modally; see RunResult.
  RunResult run();

  // The loaded picture (empty before run or after a failed load).
  const DibImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  Prompter& prompter_;
  std::string path_;
  DibImage picture_;
  // The picture drawn at the client size, redrawn when the size changes.
  QImage scaled_;
};

}  // namespace kestrix
