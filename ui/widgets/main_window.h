// The program's one window: choose a drive and copy it into a disk image or
// choose an existing image, scan it, look at the candidates, restore them.
//
// It owns the RecoveryJob (plug-ins, image buffer, drive, restore state) and
// the ResultList, and it is the JobReporter of both the job and the scan:
// workers call post/setProgress/… on their own threads, and each call
// becomes a queued event handled here on the user-interface thread. A final
// message's handler first joins the finished worker, then returns the window
// to Idle and shows the outcome, so no worker ever waits for this window.
//
// Which controls are live follows the window's WindowState through the one
// table in window_state.h; enterState is the only place that changes the
// state or enables a control.
//
// Every message box and file dialog goes through the Prompter given at
// construction; tests hand in a scripted one. The folder chooser and the
// opening of a previewed file are replaceable for the same reason.
#pragma once

#include <QPoint>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_reporter.h"
#include "jobs/recovery_job.h"
#include "jobs/restore_preflight.h"
#include "media/drive_list.h"
#include "media/rescue_map.h"
#include "ui/dialogs/folder_chooser.h"
#include "ui/dialogs/prompter.h"
#include "ui/widgets/window_state.h"

class QAbstractItemView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QSizeGrip;
class QStackedWidget;
class QTableView;

namespace kestrix {

class FilterBar;
class ResultFilter;
class ResultFeed;
class ResultList;
class ResultSelection;
class UDisksClient;

class MainWindow : public QWidget, public JobReporter {
  Q_OBJECT

 public:
  static constexpr const char* kSaveImageSuffix = "ksx";

  // The window's size when it opens; the height has room for the filter
  // bar's two lines above a list of about twelve rows.
  static constexpr int kDefaultWidth = 960;
  static constexpr int kDefaultHeight = 600;
  // A column fitted to its texts grows no wider than this (a long maker
  // name must not push the others out of sight).
  static constexpr int kWidestFittedColumn = 240;

  // Where the folder chooser's answer comes from (the dialog by default).
  using FolderChooserFunction = std::function<FolderChoice(QWidget* parent)>;
  // Shows a previewed file; true when the file may be deleted at once,
  // false when it must stay until the window goes.
  using PreviewOpener = std::function<bool(const QString& path)>;
  // The drive box's entries (the machine's drives by default).
  using DriveLister = std::function<std::vector<DriveEntry>()>;

  // Loads the plug-ins of `pluginFolder` (empty: the program's folder).
  explicit MainWindow(Prompter& prompter = defaultPrompter(),
                      const std::string& pluginFolder = std::string(), QWidget* parent = nullptr);
  ~MainWindow() override;

  // JobReporter: called by the workers on their own threads.
  void post(const JobReport& report) override;
  void setProgress(int percent) override;
  void countProgress(uint64_t done, uint64_t total) override;
  void setImageName(const std::string& path) override;
  void copyStatus(const CopyStatus& status) override;

  void setFolderChooser(FolderChooserFunction chooser) { folderChooser_ = std::move(chooser); }
  // How the folder chooser opens for the next restore: at the folder the
  // last restore of this run went to, refusing folders on the card when the
  // image is the card's own block device.
  FolderChooserSetup folderChooserSetup() const;
  // How a chosen destination is examined before a restore (the system by
  // default; tests hand in a full or a FAT folder).
  void setDestinationExaminer(DestinationExaminer examiner) {
    destinationExaminer_ = std::move(examiner);
  }
  void setPreviewOpener(PreviewOpener opener) { previewOpener_ = std::move(opener); }
  void setDriveLister(DriveLister lister) { driveLister_ = std::move(lister); }
  // Lists the drives through udisks2 on `client`'s bus (sysfs when it lists
  // none) and lets the drive ask it for a read-only descriptor of a device
  // the program may not open. Does nothing when the service is absent.
  void useDiskService(std::shared_ptr<UDisksClient> client);
  // Rebuilds the drive box; no entry is chosen afterwards.
  void fillDriveList();

  ResultList& resultList() { return *results_; }
  // What fills the list: published rows, the check pool, the split-photo join.
  ResultFeed& resultFeed() { return *feed_; }
  // What the views show of the list: filtered and sorted.
  ResultFilter& resultFilter() { return *filter_; }
  // The rows chosen in the views: the one selection model over the filter.
  ResultSelection& resultSelection() { return *selection_; }
  RecoveryJob& recoveryJob() { return job_; }
  bool detailsShown() const;
  // What the window is doing; the table in window_state.h says which
  // controls are live in it.
  WindowState windowState() const { return state_; }

  // The controls, named after their ids ("button1008", "edit1001", …).
  QComboBox* driveBox() const { return driveBox_; }
  QPushButton* createImageButton() const { return createButton_; }
  QPushButton* browseButton() const { return browseButton_; }
  QPushButton* scanButton() const { return scanButton_; }
  QCheckBox* splitBox() const { return splitBox_; }
  QCheckBox* signatureRulesBox() const { return signatureBox_; }
  QPushButton* restoreButton() const { return restoreButton_; }
  QPushButton* selectAllButton() const { return selectAllButton_; }
  QPushButton* viewButton() const { return viewButton_; }
  QPushButton* helpButton() const { return helpButton_; }
  QPushButton* exitButton() const { return exitButton_; }
  QLineEdit* imageNameField() const { return imageName_; }
  QTableView* detailsView() const { return detailsView_; }
  QListView* iconView() const { return iconView_; }
  QProgressBar* progressBar() const { return progress_; }
  QLabel* statusLine() const { return status_; }
  QLabel* webLink() const { return webLink_; }
  QSizeGrip* sizeGrip() const { return sizeGrip_; }
  FilterBar* filterBar() const { return filterBar_; }
  // "N 件中 M 件を選択" beside the select-all button.
  QLabel* selectedCountLabel() const { return selectedCount_; }
  // The context menu last opened over the list or the window (null when
  // none is open).
  QMenu* openMenu() const { return openMenu_; }

 public slots:
  void createImageCommand();
  void browseCommand();
  void scanCommand();
  void restoreCommand();
  void previewCommand();
  void selectAllCommand();
  void switchView();
  void helpCommand();
  void webLinkCommand();
  void aboutCommand();
  void reportCommand();
  void tidyCommand();
  void propertiesCommand();

 signals:
  // A job's message has been handled (after its box, if any, was shown).
  void jobMessageHandled(quint32 message, quint64 protocolValue);
  // A result or report window was opened.
  void reportOpened(QWidget* window);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class JobEvent;

  // A file as the system knows it: two paths name the same file when their
  // device and inode agree, whatever their spelling.
  struct FileIdentity {
    bool known = false;  // false: the path could not be examined
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity& other) const {
      return known && other.known && device == other.device && inode == other.inode;
    }
  };
  static FileIdentity fileIdentity(const std::string& path);

  void buildControls();
  void connectCommands();
  // The check pool's progress, shown while no job uses the progress line.
  void showCheckProgress(int finished, int total);
  // The status line beside the bar while a scan or a restore runs.
  void showJobProgress();
  void checksFinished();
  // A job starts: an empty bar and its own text, whatever the last one left.
  void showJobStart(const char* text);
  // A job is over: the bar full (or empty when nothing came of it) and the
  // line saying so, before any box about it opens.
  void showJobEnd(const QString& text, bool full = true);
  // The grip, the columns that follow the width, the icon grid and the
  // views' return to the top when a new result list starts.
  void setUpResizing();
  // Gives every column of the details view at least the room its header and
  // its visible texts need, and shares any width left over among them.
  void fitColumns();
  // The one place the state changes: sets it and applies its row of
  // kWindowStateTable, reading the facts its conditional cells ask about.
  void enterState(WindowState next);
  // Something the table's cells ask about changed (the drive box, the image
  // name, the rows, the selection): the same state, its cells read again.
  void refreshControls() { enterState(state_); }
  WindowFacts windowFacts() const;
  // A choice made or abandoned in the drive box.
  void driveChoiceChanged();
  void imageNameChanged();
  // Clears the rows (their EXIF views point into the block), then drops the
  // image block.
  void releaseImageBlock();
  bool createImage(const QString& devicePath);
  // While a copy runs the Create button stops it: the map is saved and the
  // window returns to Idle (a stopped copy posts no final message).
  void stopCopyCommand();
  // True when the image at `path` has a copy to continue: a ".part", or a
  // map (the ".part.map", else the image's own) with areas still to read.
  static bool copyCanResume(const std::string& path);
  // Loads the image block unless held; false (message shown) on failure.
  bool loadImageBlock();
  // The select-all button's caption and the count beside it.
  void updateSelectAllButton(int selected);
  void showListMenu(QAbstractItemView* view, const QPoint& position);
  // A double-click: the clicked row becomes the selection, then the preview
  // (which writes the first selected row) opens it.
  void previewClickedRow(const QModelIndex& index);
  void showReport(const QString& text, const QString& title);
  void handleJobEvent(JobEvent& event);
  void scanEnded();
  void copyNotice(uint64_t code);
  void copyEnded(uint64_t finished);
  void restoreEnded();
  void previewEnded(uint64_t rowPlusOne);
  // Asks before closing while `thread` works; true when the window may close.
  bool mayStopWork(JobThread& thread);
  // Follows which rows a restore has written.
  void trackUnrestoredResults();
  // True while some row of the list was never restored.
  bool hasUnrestoredResults() const;
  // Asks `question` when such results would be lost; true when they may go.
  bool mayDiscardResults(const char* question);
  void stopEverything();

  Prompter& prompter_;
  RecoveryJob job_;
  ResultList* results_;   // child QObject
  ResultFilter* filter_;  // child QObject, the views' model
  // Gone before the list (a child, deleted after the members) and before
  // job_, whose host made the pool's engines.
  std::unique_ptr<ResultFeed> feed_;
  ResultSelection* selection_;  // child QObject, the views' selection over filter_
  FolderChooserFunction folderChooser_;
  DestinationExaminer destinationExaminer_ = examineDestination;
  PreviewOpener previewOpener_;
  DriveLister driveLister_;

  QComboBox* driveBox_ = nullptr;
  QPushButton* createButton_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  QPushButton* scanButton_ = nullptr;
  QCheckBox* splitBox_ = nullptr;
  QCheckBox* signatureBox_ = nullptr;  // checked: the header/footer signature rules
  QPushButton* restoreButton_ = nullptr;
  QPushButton* selectAllButton_ = nullptr;
  QPushButton* viewButton_ = nullptr;
  QPushButton* helpButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QLineEdit* imageName_ = nullptr;
  QStackedWidget* views_ = nullptr;
  QTableView* detailsView_ = nullptr;
  QListView* iconView_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* webLink_ = nullptr;
  QPointer<QMenu> openMenu_;
  QSizeGrip* sizeGrip_ = nullptr;
  FilterBar* filterBar_ = nullptr;
  QLabel* selectedCount_ = nullptr;

  // Progress from the workers: only the latest value matters, so one event
  // at a time carries whatever value is current when it is handled.
  std::atomic<int> pendingProgress_{0};
  std::atomic<bool> progressQueued_{false};
  // The restore's files handled (high half) and to do (low half), carried
  // by the same event.
  std::atomic<uint64_t> pendingCount_{0};
  // The copy's latest state, carried the same way.
  std::mutex copyStatusMutex_;
  CopyStatus pendingCopyStatus_;
  std::atomic<bool> copyStatusQueued_{false};

  WindowState state_ = WindowState::Idle;
  // Browsing to another image takes Create image back until the drive box
  // is chosen again or the window enters another state.
  bool createAwaitsDrive_ = false;
  // The last image-name check found the file; a failed load of it, a scan
  // that did not start or a copy into it that failed takes it back.
  bool imageScannable_ = false;

  // Dragging the caption-less window by its surface.
  bool dragging_ = false;
  QPoint dragOffset_;
  // The rescue map found beside the image when the scan started; its counts
  // go into the rows once the scan has ended.
  std::optional<RescueMap> scanMap_;
  // The file the image block was loaded from (unknown while none is held).
  FileIdentity loadedImage_;
  // The rows come from a precise scan: once checked, their split photos
  // are joined (the signature rules' ends are not the files' own).
  bool joinAfterChecks_ = false;
  // Files handed to the desktop for viewing; removed when the window goes,
  // since the desktop gives no sign of when the viewer is done with them.
  std::vector<QString> handedOutFiles_;
  // Columns follow the width until the user drags one; from then on they
  // keep the widths the user gave them.
  bool columnsSetByUser_ = false;
  bool fittingColumns_ = false;
  // Set when the list is emptied: the next rows bring the views to the top.
  bool scrollToTopPending_ = true;
  // The row (of the list) the context menu was last opened on; −1 after a
  // clear. The properties show it.
  int menuRow_ = -1;
  // Where the last restore of this run went (empty before the first).
  QString lastRestoreFolder_;
  // The rows of the list some restore has written (by row); cleared with
  // the list. A row not marked is a result that closing would lose.
  std::vector<bool> restoredRows_;
};

}  // namespace kestrix
