#include "ui/widgets/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSizeGrip>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "jobs/copy_job.h"
#include "jobs/restore_job.h"
#include "texts/restore_list_writer.h"
#include "media/device_identity.h"
#include "media/drive_error.h"
#include "platform/program_path.h"
#include "texts/drive_texts.h"
#include "texts/job_texts.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/application_icon.h"
#include "ui/dialogs/desktop_links.h"
#include "ui/dialogs/product.h"
#include "ui/dialogs/properties_dialog.h"
#include "ui/dialogs/tidy_dialog.h"
#include "ui/dialogs/viewer_window.h"
#include "core/tidy_names.h"
#include "core/unreadable_sectors.h"
#include "ui/widgets/copy_status_text.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/report_window.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"
#include "ui/widgets/udisks_client.h"
#include "ui/widgets/visible_rows_tracker.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

// Rows measured when the columns are fitted (about two screens), and the
// room a cell needs beyond its text.
constexpr int kRowsMeasured = 60;
constexpr int kCellPadding = 8;

// Failed rows named one by one in the restore's end message; the rest are
// counted, so the box stays on the screen.
constexpr int kFailuresListed = 10;

// The joins the window searches on the user-interface thread: a quarter of the
// command line's decoding per card, so the window waits seconds, not
// minutes, on a card of many broken photos.
const JoinLimits kWindowJoinLimits = [] {
  JoinLimits limits;
  limits.decodedBytesPerCard = uint64_t{1} << 30;
  return limits;
}();

QString fromUtf8(const char* text) { return QString::fromUtf8(text); }

// The details view shows texts only; the thumbnails belong to the icon view.
class TextOnlyDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->features &= ~QStyleOptionViewItem::HasDecoration;
    option->icon = QIcon();
    option->decorationSize = QSize();
  }
};

QPushButton* makeButton(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

// The drive box lists the drives again every time it opens, so a card
// inserted after start-up is there.
class DriveBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;

  void showPopup() override {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
  }
};

}  // namespace

MainWindow::FileIdentity MainWindow::fileIdentity(const std::string& path) {
  struct stat status {};
  if (path.empty() || ::stat(path.c_str(), &status) != 0) return {};
  return {true, status.st_dev, status.st_ino};
}

// One call of a worker on the JobReporter, carried to the window's thread.
class MainWindow::JobEvent : public QEvent {
 public:
  enum class What { Message, Progress, ImageName, CopyState };

  static QEvent::Type eventType() {
    static const int type = QEvent::registerEventType();
    return static_cast<QEvent::Type>(type);
  }

  explicit JobEvent(What what) : QEvent(eventType()), what(what) {}

  What what;
  JobReport report;
  std::string text;
};

MainWindow::MainWindow(Prompter& prompter, const std::string& pluginFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      prompter_(prompter),
      results_(new ResultList(this)),
      filter_(new ResultFilter(*results_, this)),
      feed_(std::make_unique<ResultFeed>(*results_)),
      // The views show the filter; the one selection model works on its rows.
      selection_(new ResultSelection(filter_, this)) {
  setObjectName("dialog102");
  // The taskbar and the window switcher still need a name and an icon.
  setWindowTitle(fromUtf8(kProductName));
  setWindowIcon(applicationIcon());
  setAttribute(Qt::WA_DeleteOnClose, false);

  folderChooser_ = [this](QWidget* parent) {
    return chooseFolder(parent, prompter_, folderChooserSetup());
  };
  previewOpener_ = [this](const QString& path) {
    // Only the name decides: the folder above it may hold ".jpg" too.
    if (QFileInfo(path).fileName().contains(".jpg")) {
      ViewerWindow viewer(this, prompter_);
      viewer.setPath(path.toStdString());
      viewer.run();
      return true;
    }
    if (openWithDesktop(path)) return false;  // the desktop's program may still read it
    prompter_.warn(
        this, fromUtf8(kApplicationTitle),
        fromUtf8(windowText(WindowText::NoOpenerMessage)).arg(QFileInfo(path).fileName()));
    return true;
  };
  driveLister_ = [] { return listDrives(); };
  useDiskService(std::make_shared<UDisksClient>());

  buildControls();
  connectCommands();
  trackUnrestoredResults();
  setUpResizing();
  // The thumbnails of the rows on screen are drawn first.
  new VisibleRowsTracker(*feed_, *views_, this);

  fillDriveList();
  feed_->setRecoveryJob(&job_);
  job_.setResultList(&results_->candidates());
  job_.setReporter(this);
  const std::string folder = pluginFolder.empty() ? programFolder() : pluginFolder;
  // The movie thumbnailer is installed beside the plug-ins.
  feed_->setHelperFolder(folder);
  if (job_.loadPlugins(folder) == 0) {
    // The window still opens: a scan then simply finds nothing.
    prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                     fromUtf8(kNoPluginMessage));
  }
  status_->clear();
}

MainWindow::~MainWindow() {
  stopEverything();
  for (const QString& file : handedOutFiles_) QFile::remove(file);
}

void MainWindow::stopEverything() {
  // Order: the job, the scan, the thumbnails; each joins its thread, so
  // nothing below outlives what it reads.
  job_.stop();
  job_.scanJob().stop();
  feed_->stopThumbnails();
}

void MainWindow::buildControls() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(14, 10, 14, 8);
  outer->setSpacing(6);

  // A caption-less window still says what it is; the band is also where the
  // user most naturally grabs it to move it.
  auto* titleRow = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(applicationIcon().pixmap(24, 24));
  auto* title = new QLabel(fromUtf8(kProductName), this);
  QFont titleFont = title->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  titleFont.setBold(true);
  title->setFont(titleFont);
  title->setStyleSheet("color: #f4f7fb;");
  titleRow->addWidget(icon);
  titleRow->addWidget(title);
  titleRow->addStretch(1);
  helpButton_ = makeButton("", "button1014", this);
  helpButton_->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  helpButton_->setToolTip("Help");
  helpButton_->setFlat(true);
  titleRow->addWidget(helpButton_);
  outer->addLayout(titleRow);

  auto* driveRow = new QHBoxLayout;
  auto* driveBox = new DriveBox(this);
  driveBox->beforePopup = [this] { fillDriveList(); };
  driveBox_ = driveBox;
  driveBox_->setObjectName("combo1007");
  driveBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  driveBox_->setMinimumContentsLength(20);
  createButton_ = makeButton(windowText(WindowText::CreateImageButtonText), "button1008", this);
  browseButton_ = makeButton(windowText(WindowText::BrowseButton), "button1002", this);
  driveRow->addWidget(driveBox_, 1);
  driveRow->addWidget(createButton_);
  driveRow->addWidget(browseButton_);
  outer->addLayout(driveRow);

  auto* imageRow = new QHBoxLayout;
  auto* imageLabel = new QLabel(fromUtf8(windowText(WindowText::ImageNameLabel)), this);
  imageLabel->setObjectName("static1011");
  imageName_ = new QLineEdit(this);
  imageName_->setObjectName("edit1001");
  imageName_->setReadOnly(true);
  scanButton_ = makeButton(windowText(WindowText::ScanButton), "button1004", this);
  splitBox_ = new QCheckBox(fromUtf8(windowText(WindowText::SplitBox)), this);
  splitBox_->setObjectName("check1017");
  // The structure-aware search is the default; the header/footer signature
  // rules stay one click away for cards where a user wants the old results.
  signatureBox_ = new QCheckBox(fromUtf8(windowText(WindowText::SignatureRulesLabel)), this);
  signatureBox_->setObjectName("checkSignatureRules");
  imageRow->addWidget(imageLabel);
  imageRow->addWidget(imageName_, 1);
  imageRow->addWidget(scanButton_);
  imageRow->addWidget(splitBox_);
  imageRow->addWidget(signatureBox_);
  outer->addLayout(imageRow);

  filterBar_ = new FilterBar(this);
  outer->addWidget(filterBar_);

  views_ = new QStackedWidget(this);
  detailsView_ = new QTableView(views_);
  detailsView_->setObjectName("list1000");
  detailsView_->setModel(filter_);
  detailsView_->setSelectionModel(selection_->model());
  detailsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  detailsView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  detailsView_->setItemDelegate(new TextOnlyDelegate(detailsView_));
  detailsView_->setShowGrid(true);
  detailsView_->setWordWrap(false);
  detailsView_->setContextMenuPolicy(Qt::CustomContextMenu);
  detailsView_->verticalHeader()->hide();
  // Fixed row heights keep a list of 100,000 rows cheap to lay out.
  detailsView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  detailsView_->verticalHeader()->setDefaultSectionSize(detailsView_->fontMetrics().height() + 6);
  // Scan order until a header is clicked; a second click sorts the other
  // way, a third goes back to scan order.
  QHeaderView* header = detailsView_->horizontalHeader();
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setSortIndicatorClearable(true);
  header->setSectionsClickable(true);
  detailsView_->setSortingEnabled(true);
  detailsView_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  detailsView_->horizontalHeader()->setHighlightSections(false);
  for (int column = 0; column < results_->columnCount(); ++column)
    detailsView_->setColumnWidth(column, ResultList::columnWidth(column));

  iconView_ = new QListView(views_);
  iconView_->setObjectName("list1000icons");
  iconView_->setModel(filter_);
  iconView_->setSelectionModel(selection_->model());
  iconView_->setViewMode(QListView::IconMode);
  iconView_->setIconSize(QSize(ResultList::kThumbnailWidth, ResultList::kThumbnailHeight));
  iconView_->setGridSize(
      QSize(ResultList::kThumbnailWidth + 24,
            ResultList::kThumbnailHeight + iconView_->fontMetrics().height() + 14));
  iconView_->setResizeMode(QListView::Adjust);
  iconView_->setMovement(QListView::Static);
  iconView_->setUniformItemSizes(true);
  iconView_->setLayoutMode(QListView::Batched);
  iconView_->setWordWrap(false);
  // Whole rows, as in the details view: both share one selection.
  iconView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  iconView_->setContextMenuPolicy(Qt::CustomContextMenu);
  views_->addWidget(detailsView_);
  views_->addWidget(iconView_);
  outer->addWidget(views_, 1);

  auto* progressRow = new QHBoxLayout;
  auto* progressLabel = new QLabel(fromUtf8(windowText(WindowText::ProgressLabel)), this);
  progressLabel->setObjectName("static1016");
  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress1009");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(14);
  status_ = new QLabel(this);
  status_->setObjectName("static1012");
  status_->setMinimumWidth(160);
  progressRow->addWidget(progressLabel);
  progressRow->addWidget(progress_, 1);
  progressRow->addWidget(status_);
  outer->addLayout(progressRow);

  auto* buttonRow = new QHBoxLayout;
  restoreButton_ = makeButton(windowText(WindowText::RestoreButton), "button1", this);
  selectAllButton_ = makeButton(windowText(WindowText::SelectAllButton), "button1015", this);
  viewButton_ = makeButton(windowText(WindowText::ThumbnailsButton), "button1021", this);
  exitButton_ = makeButton(windowText(WindowText::ExitButton), "button2", this);
  for (QPushButton* button : {restoreButton_, selectAllButton_, viewButton_, exitButton_})
    button->setMinimumWidth(92);
  buttonRow->addWidget(restoreButton_);
  buttonRow->addWidget(selectAllButton_);
  buttonRow->addWidget(viewButton_);
  selectedCount_ = new QLabel(this);
  selectedCount_->setObjectName("staticSelectedCount");
  buttonRow->addSpacing(8);
  buttonRow->addWidget(selectedCount_);
  buttonRow->addStretch(1);
  buttonRow->addWidget(exitButton_);
  outer->addLayout(buttonRow);

  webLink_ = new QLabel(fromUtf8(kWebLinkText), this);
  webLink_->setObjectName("static1010");
  webLink_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  webLink_->setCursor(Qt::PointingHandCursor);
  webLink_->setStyleSheet("color: #d8e4f2;");
  // The window has no frame to drag, so its corner carries a grip.
  sizeGrip_ = new QSizeGrip(this);
  sizeGrip_->setObjectName("sizeGrip");
  auto* footRow = new QHBoxLayout;
  footRow->setContentsMargins(0, 0, 0, 0);
  footRow->addWidget(webLink_, 1);
  footRow->addWidget(sizeGrip_, 0, Qt::AlignBottom | Qt::AlignRight);
  outer->addLayout(footRow);

  // The template's initial states are Idle's row with no drive, image or rows.
  updateSelectAllButton(0);
  // Wide enough for every column's header and a shot date in full.
  resize(kDefaultWidth, kDefaultHeight);
}

void MainWindow::setUpResizing() {
  QHeaderView* header = detailsView_->horizontalHeader();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  connect(header, &QHeaderView::sectionResized, this, [this] {
    if (!fittingColumns_) columnsSetByUser_ = true;
  });
  detailsView_->viewport()->installEventFilter(this);
  connect(results_, &ResultList::rowsPublished, this, [this] {
    if (scrollToTopPending_) {
      // A new list starts at its first row in both views, whatever the
      // last one was scrolled to.
      scrollToTopPending_ = false;
      detailsView_->scrollToTop();
      iconView_->scrollToTop();
    }
    fitColumns();
  });
  connect(results_, &QAbstractItemModel::modelReset, this, [this] {
    scrollToTopPending_ = true;
    detailsView_->scrollToTop();
    iconView_->scrollToTop();
  });
  // Another filter or order shows other texts in the rows on the screen.
  connect(filter_, &QAbstractItemModel::layoutChanged, this, &MainWindow::fitColumns);
  // A regular grid: every cell the same size whatever its name, long
  // names shortened in the middle so their numbers stay readable.
  iconView_->setWrapping(true);
  iconView_->setFlow(QListView::LeftToRight);
  iconView_->setTextElideMode(Qt::ElideMiddle);
  fitColumns();
}

void MainWindow::fitColumns() {
  if (columnsSetByUser_) return;
  const QHeaderView* header = detailsView_->horizontalHeader();
  const int columns = results_->columnCount();
  if (columns == 0) return;
  std::vector<int> widths(static_cast<size_t>(columns));
  // The visible rows only: measuring 100,000 rows would stall the window.
  const int rows = filter_->rowCount();
  const int first = std::max(0, detailsView_->rowAt(0));
  int last = detailsView_->rowAt(detailsView_->viewport()->height() - 1);
  if (last < 0) last = rows - 1;
  last = std::min(last, first + kRowsMeasured - 1);
  int total = 0;
  for (int column = 0; column < columns; ++column) {
    int content = 0;
    for (int row = first; row <= last; ++row) {
      content =
          std::max(content, detailsView_->sizeHintForIndex(filter_->index(row, column)).width());
    }
    // Room for the grid line and the cell's own margins.
    content = std::min(content + kCellPadding, kWidestFittedColumn);
    const int width =
        std::max({ResultList::columnWidth(column), header->sectionSizeHint(column), content});
    widths[static_cast<size_t>(column)] = width;
    total += width;
  }
  const int available = detailsView_->viewport()->width();
  if (total > available) {
    // Too narrow for every text: the columns give up what they have beyond
    // their header, each by its share, so every header stays whole and the
    // longest texts are shortened ("…") rather than the last column cut off.
    std::vector<int> floors(static_cast<size_t>(columns));
    int slack = 0;
    for (int column = 0; column < columns; ++column) {
      const size_t at = static_cast<size_t>(column);
      floors[at] = std::min(widths[at], header->sectionSizeHint(column));
      slack += widths[at] - floors[at];
    }
    const int excess = std::min(total - available, slack);
    int taken = 0;
    for (int column = 0; column < columns && slack > 0; ++column) {
      const size_t at = static_cast<size_t>(column);
      const int share = column + 1 == columns
                            ? excess - taken
                            : static_cast<int>(int64_t{excess} * (widths[at] - floors[at]) / slack);
      const int take = std::min(share, widths[at] - floors[at]);
      widths[at] -= take;
      taken += take;
    }
    // What the rounding left goes from whichever columns still have room.
    for (int column = 0; column < columns && taken < excess; ++column) {
      const size_t at = static_cast<size_t>(column);
      const int take = std::min(excess - taken, widths[at] - floors[at]);
      widths[at] -= take;
      taken += take;
    }
    total -= taken;
  }
  if (available > total) {
    // What is left goes to every column by its share, the last one taking
    // the rounding, so the columns end at the view's right edge.
    const int spare = available - total;
    int given = 0;
    for (int column = 0; column < columns; ++column) {
      const int extra = column + 1 == columns ? spare - given
                                              : spare * widths[static_cast<size_t>(column)] / total;
      widths[static_cast<size_t>(column)] += extra;
      given += extra;
    }
  }
  fittingColumns_ = true;
  for (int column = 0; column < columns; ++column)
    detailsView_->setColumnWidth(column, widths[static_cast<size_t>(column)]);
  fittingColumns_ = false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == detailsView_->viewport() && event->type() == QEvent::Resize) fitColumns();
  return QWidget::eventFilter(watched, event);
}

void MainWindow::connectCommands() {
  connect(createButton_, &QPushButton::clicked, this, &MainWindow::createImageCommand);
  connect(browseButton_, &QPushButton::clicked, this, &MainWindow::browseCommand);
  connect(scanButton_, &QPushButton::clicked, this, &MainWindow::scanCommand);
  connect(restoreButton_, &QPushButton::clicked, this, &MainWindow::restoreCommand);
  connect(selectAllButton_, &QPushButton::clicked, this, &MainWindow::selectAllCommand);
  connect(viewButton_, &QPushButton::clicked, this, &MainWindow::switchView);
  connect(feed_.get(), &ResultFeed::checksProgressed, this, &MainWindow::showCheckProgress);
  connect(feed_.get(), &ResultFeed::thumbnailsFinished, this, &MainWindow::checksFinished);
  connect(helpButton_, &QPushButton::clicked, this, &MainWindow::helpCommand);
  connect(exitButton_, &QPushButton::clicked, this, &QWidget::close);
  // Any user choice in the box (picked, or the popup closed) re-checks it.
  connect(driveBox_, &QComboBox::currentIndexChanged, this, &MainWindow::driveChoiceChanged);
  connect(imageName_, &QLineEdit::textChanged, this, &MainWindow::imageNameChanged);
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(detailsView_),
                                  static_cast<QAbstractItemView*>(iconView_)}) {
    connect(view, &QAbstractItemView::doubleClicked, this, &MainWindow::previewClickedRow);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& position) { showListMenu(view, position); });
  }
  connect(selection_, &ResultSelection::countChanged, this, &MainWindow::updateSelectAllButton);
  connect(results_, &ResultList::rowsPublished, this,
          [this] { updateSelectAllButton(selection_->selectedCount()); });
  // A cleared list leaves nothing to restore.
  connect(results_, &QAbstractItemModel::modelReset, this, [this] {
    menuRow_ = -1;
    updateSelectAllButton(selection_->selectedCount());
  });
  connect(filterBar_, &FilterBar::criteriaChanged, filter_, &ResultFilter::setCriteria);
  // Other rows are shown now: both views start again at their first.
  connect(filterBar_, &FilterBar::criteriaChanged, this, [this] {
    detailsView_->scrollToTop();
    iconView_->scrollToTop();
  });
  connect(filter_, &ResultFilter::countsChanged, filterBar_, &FilterBar::showCounts);
  connect(filter_, &ResultFilter::countsChanged, this,
          [this] { updateSelectAllButton(selection_->selectedCount()); });
  filter_->setCriteria(filterBar_->criteria());
  filterBar_->showCounts(filter_->totalRows(), filter_->rowCount());
}

bool MainWindow::detailsShown() const { return views_->currentWidget() == detailsView_; }

// ---------------------------------------------------------------------------
// JobReporter: worker threads.

void MainWindow::post(const JobReport& report) {
  auto* event = new JobEvent(JobEvent::What::Message);
  event->report = report;
  QCoreApplication::postEvent(this, event);
}

void MainWindow::setProgress(int percent) {
  pendingProgress_.store(percent);
  if (progressQueued_.exchange(true)) return;  // the queued event will read the new value
  QCoreApplication::postEvent(this, new JobEvent(JobEvent::What::Progress));
}

void MainWindow::countProgress(uint64_t done, uint64_t total) {
  const uint64_t clamp = 0xFFFFFFFFu;
  pendingCount_.store(std::min(done, clamp) << 32 | std::min(total, clamp));
  if (progressQueued_.exchange(true)) return;
  QCoreApplication::postEvent(this, new JobEvent(JobEvent::What::Progress));
}

void MainWindow::copyStatus(const CopyStatus& status) {
  {
    std::lock_guard lock(copyStatusMutex_);
    pendingCopyStatus_ = status;
  }
  if (copyStatusQueued_.exchange(true)) return;  // the queued event reads the latest
  QCoreApplication::postEvent(this, new JobEvent(JobEvent::What::CopyState));
}

void MainWindow::setImageName(const std::string& path) {
  auto* event = new JobEvent(JobEvent::What::ImageName);
  event->text = path;
  QCoreApplication::postEvent(this, event);
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == JobEvent::eventType()) {
    handleJobEvent(static_cast<JobEvent&>(*event));
    return true;
  }
  return QWidget::event(event);
}

void MainWindow::handleJobEvent(JobEvent& event) {
  switch (event.what) {
    case JobEvent::What::Progress:
      progressQueued_.store(false);
      progress_->setValue(pendingProgress_.load());
      showJobProgress();
      return;
    case JobEvent::What::ImageName: {
      // The copy writes the path the field already shows; the check must
      // still run, because the file exists only now.
      // The copy has rewritten the file: a block held from it is stale
      // whatever its name.
      releaseImageBlock();
      const QString path = QString::fromStdString(event.text);
      if (imageName_->text() == path)
        imageNameChanged();
      else
        imageName_->setText(path);
      return;
    }
    case JobEvent::What::CopyState: {
      copyStatusQueued_.store(false);
      CopyStatus status;
      {
        std::lock_guard lock(copyStatusMutex_);
        status = pendingCopyStatus_;
      }
      // A late status of a copy already stopped must not come back.
      if (state_ == WindowState::Copying) {
        status_->setText(fromUtf8(windowText(WindowText::CopyingStatus)) + "  " +
                         QString::fromStdString(copyStatusText(status)));
      }
      return;
    }
    case JobEvent::What::Message: break;
  }
  const JobReport& report = event.report;
  if (std::holds_alternative<report::ScanEnded>(report)) {
    scanEnded();
  } else if (const auto* notice = std::get_if<report::CopyNotice>(&report)) {
    copyNotice(notice->code);
  } else if (const auto* copied = std::get_if<report::CopyEnded>(&report)) {
    copyEnded(copied->finished ? 1 : 0);
  } else if (std::holds_alternative<report::RestoreEnded>(report)) {
    restoreEnded();
  } else if (std::holds_alternative<report::PreviewEnded>(report)) {
    previewEnded(protocolValueOf(report));
  }
  emit jobMessageHandled(static_cast<quint32>(messageOf(report)), protocolValueOf(report));
}

// ---------------------------------------------------------------------------
// End of jobs.

void MainWindow::showJobProgress() {
  if (job_.scanJob().isActive()) {
    // The finds so far, published or not: the list shows them within 50 ms.
    status_->setText(fromUtf8(windowText(WindowText::ScanningCountStatus))
                         .arg(progress_->value())
                         .arg(results_->candidates().itemCount()));
    return;
  }
  const uint64_t count = pendingCount_.load();
  const RecoveryJob::Kind kind = job_.jobKind();
  if (job_.isActive() && count != 0 &&
      (kind == RecoveryJob::Kind::Restore || kind == RecoveryJob::Kind::Preview)) {
    status_->setText(fromUtf8(windowText(WindowText::RestoringCountStatus))
                         .arg(count >> 32)
                         .arg(count & 0xFFFFFFFFu));
  }
}

void MainWindow::showCheckProgress(int finished, int total) {
  // A restore or copy beside the checks owns the progress line.
  if (job_.isActive() || job_.scanJob().isActive() || total <= 0) return;
  progress_->setValue(static_cast<int>(int64_t{finished} * 100 / total));
  status_->setText(fromUtf8(windowText(WindowText::CheckingStatus)).arg(finished).arg(total));
}

void MainWindow::checksFinished() {
  if (job_.isActive() || job_.scanJob().isActive()) return;
  if (joinAfterChecks_) {
    // Once per result set. No job is at work and the pool is joined, so no
    // other thread reads the rows while they change. The search runs on
    // this thread: the window's smaller budget keeps the wait short.
    joinAfterChecks_ = false;
    status_->setText(fromUtf8(windowText(WindowText::JoiningStatus)));
    status_->repaint();
    feed_->joinSplitPhotos(kWindowJoinLimits);
  }
  showJobEnd(fromUtf8(windowText(WindowText::ChecksEndedStatus)).arg(results_->rowCount()));
}

void MainWindow::showJobStart(const char* text) {
  pendingCount_.store(0);
  progress_->setValue(0);
  status_->setText(fromUtf8(text));
}

void MainWindow::showJobEnd(const QString& text, bool full) {
  progress_->setValue(full ? 100 : 0);
  status_->setText(text);
}

void MainWindow::scanEnded() {
  // The scan posted this as its last act: joining returns at once.
  job_.scanJob().stop();
  // Publishes the last rows; the pool finishes once they are checked.
  feed_->setRowsComing(false);
  // Everything the end changes comes before the boxes: their event loops
  // keep the checks and thumbnails going, and the window behind them shows
  // the state after the scan rather than a stale percentage. Restore is
  // live when the scan found something (the rows are all published now).
  enterState(WindowState::Idle);
  showJobEnd(fromUtf8(windowText(WindowText::ScanEndedStatus)).arg(results_->rowCount()));
  feed_->startThumbnails();
  updateSelectAllButton(selection_->selectedCount());
  prompter_.inform(this, fromUtf8(kApplicationTitle),
                   fromUtf8(windowText(WindowText::ScanEndedMessage)));
  // Rows the list could not take, or bytes of the card that could not be
  // read, must not pass for a complete result.
  const ScanSummary& summary = job_.scanJob().summary();
  if (summary.appendFailures != 0) {
    prompter_.warn(
        this, fromUtf8(kApplicationTitle),
        fromUtf8(windowText(WindowText::RowsNotAddedMessage)).arg(summary.appendFailures));
  }
  const uint64_t unreadable = job_.image() != nullptr ? job_.image()->unreadableBytes() : 0;
  if (unreadable != 0) {
    prompter_.warn(
        this, fromUtf8(kApplicationTitle),
        fromUtf8(windowText(WindowText::UnreadableImageMessage)).arg((unreadable + 1023) / 1024));
  }
  if (scanMap_ && job_.image() != nullptr) {
    const uint64_t unread = unreadImageBytes(*scanMap_, job_.image()->size());
    if (unread != 0) {
      prompter_.warn(
          this, fromUtf8(kApplicationTitle),
          fromUtf8(windowText(WindowText::IncompleteImageMessage)).arg(mebibytesRoundedUp(unread)));
    }
  }
}

void MainWindow::copyNotice(uint64_t code) {
  const QString text = copyNoticeBoxText(code);
  if (!text.isEmpty()) prompter_.inform(this, fromUtf8(kApplicationTitle), text);
}

void MainWindow::copyEnded(uint64_t finished) {
  job_.stop();
  // The image name shows the copy's file; a failed copy leaves nothing new
  // there to scan.
  if (finished == 0) imageScannable_ = false;
  enterState(WindowState::Idle);
  showJobEnd(fromUtf8(finished != 0 ? windowText(WindowText::CopyEndedStatus)
                                    : windowText(WindowText::CopyFailedStatus)),
             finished != 0);
  const std::string& text = job_.resultText();
  showReport(text.empty() ? fromUtf8(windowText(WindowText::NoCopyResultText))
                          : QString::fromStdString(text),
             fromUtf8(windowText(WindowText::CopyResultTitle)));
}

void MainWindow::restoreEnded() {
  job_.stop();
  // The message tells the truth: success only when every selected file was
  // written; either way it says how many went where.
  const RestoreOutcome& outcome = job_.restoreOutcome();
  enterState(WindowState::Idle);
  showJobEnd(fromUtf8(windowText(WindowText::RestoreEndedStatus))
                 .arg(outcome.written)
                 .arg(outcome.written + outcome.failures.size()));
  const QString where = fromUtf8(windowText(WindowText::RestoredWhereMessage))
                            .arg(outcome.written)
                            .arg(QDir::toNativeSeparators(lastRestoreFolder_));
  QString summary = where;
  if (outcome.renamed != 0)
    summary += "\r\n" + fromUtf8(windowText(WindowText::RenamedFilesMessage)).arg(outcome.renamed);
  if (outcome.failures.empty()) {
    prompter_.inform(this, fromUtf8(kApplicationTitle),
                     fromUtf8(windowText(WindowText::RestoreSucceededMessage)) + "\r\n" + summary);
  } else {
    prompter_.warn(this, fromUtf8(kApplicationTitle),
                   restoreFailuresText(outcome, kFailuresListed) + "\r\n" + summary);
  }
}

void MainWindow::previewEnded(uint64_t rowPlusOne) {
  job_.stop();
  enterState(WindowState::Idle);
  // A preview is over as soon as its file opens: nothing to keep saying.
  showJobEnd(QString(), false);
  if (rowPlusOne == 0) return;
  const RestoreOutcome& outcome = job_.restoreOutcome();
  if (outcome.files.empty()) return;
  const QString path = QString::fromStdString(outcome.files.front().path);
  if (previewOpener_(path))
    QFile::remove(path);
  else
    handedOutFiles_.push_back(path);
}

// ---------------------------------------------------------------------------
// Button states.

WindowFacts MainWindow::windowFacts() const {
  WindowFacts facts;
  facts.driveChosen =
      !createAwaitsDrive_ && driveBox_->currentIndex() >= 0 && !driveBox_->currentText().isEmpty();
  facts.imageScannable = imageScannable_;
  facts.rowsListed = results_->rowCount() > 0;
  facts.rowsShownOrSelected = filter_->rowCount() > 0 || selection_->selectedCount() > 0;
  return facts;
}

void MainWindow::enterState(WindowState next) {
  // A job's start or end hands Create image back to the drive box.
  if (next != state_) createAwaitsDrive_ = false;
  state_ = next;
  const EnabledControls live = enabledControls(state_, windowFacts());
  browseButton_->setEnabled(live.browse);
  createButton_->setEnabled(live.createImage);
  scanButton_->setEnabled(live.scan);
  restoreButton_->setEnabled(live.restore);
  selectAllButton_->setEnabled(live.selectAll);
  // The scan appends to the list the views show: they take no clicks until
  // it has ended.
  detailsView_->setEnabled(live.views);
  iconView_->setEnabled(live.views);
  // While a copy runs the Create button is its stop.
  createButton_->setText(fromUtf8(state_ == WindowState::Copying
                                      ? windowText(WindowText::StopCopyButtonText)
                                      : windowText(WindowText::CreateImageButtonText)));
}

void MainWindow::driveChoiceChanged() {
  createAwaitsDrive_ = false;
  refreshControls();
}

void MainWindow::updateSelectAllButton(int selected) {
  selectAllButton_->setText(fromUtf8(selected > 0 ? windowText(WindowText::DeselectAllButton)
                                                  : windowText(WindowText::SelectAllButton)));
  selectedCount_->setText(fromUtf8(windowText(WindowText::SelectedCountFormat))
                              .arg(results_->rowCount())
                              .arg(selected));
  refreshControls();
}

void MainWindow::useDiskService(std::shared_ptr<UDisksClient> client) {
  if (client == nullptr || !client->available()) return;
  // The desktop's disk service knows the cards a user may be handed; the
  // kernel's list stays the answer when it knows none.
  driveLister_ = [client] {
    std::vector<DriveEntry> entries = client->listDrives();
    return entries.empty() ? listDrives() : entries;
  };
  // Called on the copy's thread too: the client's blocking calls are safe
  // from any thread.
  job_.drive().setDeniedOpener(
      [client](const std::string& path) { return client->openReadOnly(path); });
}

void MainWindow::fillDriveList() {
  const QSignalBlocker quiet(driveBox_);
  driveBox_->clear();
  for (const DriveEntry& entry : driveLister_())
    driveBox_->addItem(QString::fromStdString(driveEntryText(entry)),
                       QString::fromStdString(entry.devicePath));
  driveBox_->setCurrentIndex(-1);
  driveChoiceChanged();
}

void MainWindow::imageNameChanged() {
  const std::string& path = job_.imagePath();
  imageScannable_ = !imageName_->text().isEmpty() && !path.empty() &&
                    QFileInfo::exists(QString::fromStdString(path));
  // The same file under another name (a link, another letter case on a
  // case-insensitive mount) keeps its block and its rows.
  if (imageScannable_ && !(job_.image() != nullptr && fileIdentity(path) == loadedImage_))
    releaseImageBlock();
  refreshControls();
}

void MainWindow::releaseImageBlock() {
  joinAfterChecks_ = false;
  // The rows' EXIF views point into the block, and the thumbnails read it:
  // both go before it does.
  if (results_->rowCount() > 0 || results_->candidates().itemCount() > 0)
    feed_->clear();
  else
    feed_->stopThumbnails();
  job_.releaseImage();
  loadedImage_ = {};
}

// ---------------------------------------------------------------------------
// Commands.

void MainWindow::createImageCommand() {
  if (state_ == WindowState::Copying) {
    stopCopyCommand();
    return;
  }
  const QString devicePath = driveBox_->currentData().toString();
  if (driveBox_->currentIndex() < 0 || devicePath.isEmpty()) {
    prompter_.inform(this, fromUtf8(kApplicationTitle),
                     fromUtf8(windowText(WindowText::ChooseDriveMessage)));
    return;
  }
  // Not started: the dialogs may have changed the image name, and with it
  // what Scan and Restore may do.
  enterState(createImage(devicePath) ? WindowState::Copying : WindowState::Idle);
}

bool MainWindow::createImage(const QString& devicePath) {
  const QString path = prompter_.chooseSaveFile(
      this, fromUtf8(windowText(WindowText::SaveImageCaption)),
      fromUtf8(windowText(WindowText::SaveImageFilter)), fromUtf8(kSaveImageSuffix));
  if (path.isEmpty()) return false;
  // A copy left unfinished is offered first: No starts over, which replaces
  // what it read, so that still needs the overwrite question's Yes.
  CopyOptions options;
  const std::string target = path.toStdString();
  if (copyCanResume(target)) {
    options.resume = prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)),
                                   fromUtf8(windowText(WindowText::ResumeQuestion)));
  }
  // The copy writes beside an existing image and replaces it only when it
  // has finished, so a copy that fails keeps the old image.
  const bool somethingThere =
      QFileInfo::exists(path) || copyCanResume(target) ||
      QFileInfo::exists(QString::fromStdString(CopyJob::partMapPath(target))) ||
      QFileInfo::exists(QString::fromStdString(CopyJob::mapPath(target)));
  if (!options.resume && somethingThere &&
      !prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)),
                     fromUtf8(windowText(WindowText::OverwriteQuestion)))) {
    return false;
  }
  job_.setCopyOptions(options);
  // Only now: a refused file must not become the job's image.
  job_.setImagePath(path.toStdString());
  imageName_->clear();
  prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                   fromUtf8(windowText(WindowText::CopyStartMessage)));
  imageName_->setText(path);
  RawDrive& drive = job_.drive();
  const uint32_t code = drive.probe(devicePath.toStdString());
  if (code != 0) {
    prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                     QString::fromUtf8(driveErrorText(code)));
    return false;
  }
  // The list and the block go before the copy starts: the check pool
  // reads through the same image buffer whose file the copy is about to
  // write, and the file the block came from may be the one being replaced.
  releaseImageBlock();
  showJobStart(windowText(WindowText::CopyingStatus));
  job_.setJobKind(RecoveryJob::Kind::Copy);
  if (!job_.start()) {
    status_->clear();
    return false;
  }
  return true;
}

bool MainWindow::copyCanResume(const std::string& path) {
  if (QFileInfo::exists(QString::fromStdString(CopyJob::partPath(path)))) return true;
  const RescueMapLoad loaded = RescueMap::load(CopyJob::resumeMapPath(path));
  return loaded.map && !loaded.map->onlyBadSectorsLeft();
}

void MainWindow::stopCopyCommand() {
  if (!mayStopWork(job_)) return;
  // The copy asks before every read: it saves the map and returns.
  job_.stop();
  if (job_.lastCopyOutcome() != CopyOutcome::Stopped) {
    // It ended on its own first; its queued messages end the state.
    return;
  }
  enterState(WindowState::Idle);
  imageNameChanged();  // the image is complete only once the copy finishes
  progress_->setValue(0);
  status_->clear();
  prompter_.inform(this, fromUtf8(kApplicationTitle),
                   fromUtf8(windowText(WindowText::CopyStoppedMessage)));
}

void MainWindow::browseCommand() {
  const QString path =
      prompter_.chooseOpenFile(this, fromUtf8(windowText(WindowText::OpenImageCaption)),
                               fromUtf8(windowText(WindowText::OpenImageFilter)));
  if (path.isEmpty()) return;
  const QString previous = imageName_->text();
  const FileIdentity previousFile = fileIdentity(previous.toStdString());
  const bool anotherFile =
      !previous.isEmpty() &&
      !(previousFile.known && previousFile == fileIdentity(path.toStdString()));
  // No leaves everything as it was, the image name included.
  if (anotherFile && !mayDiscardResults(windowText(WindowText::DiscardResultsQuestion))) return;
  job_.setImagePath(path.toStdString());
  // The same text is no signal, but the file behind it may have been
  // replaced: the check runs anyway.
  if (previous == path)
    imageNameChanged();
  else
    imageName_->setText(path);
  // Letter case alone is not a different image to the user (card tools and
  // cameras disagree about it), but on Linux it can name another file: the
  // file's identity decides, so a differently spelt name of the same file
  // clears nothing and another file always clears.
  if (anotherFile) {
    createAwaitsDrive_ = true;
    releaseImageBlock();  // the rows go, and Restore with them
    refreshControls();
  }
}

bool MainWindow::loadImageBlock() {
  if (job_.image() != nullptr) return true;
  feed_->stopThumbnails();  // nothing to make without an image, and it is about to change
  // Mapping the file reads nothing yet, so this returns at once whatever
  // the image's size: the window never freezes on a large card.
  const LoadStatus status = job_.openImage(job_.imagePath());
  if (status == LoadStatus::Loaded) {
    loadedImage_ = fileIdentity(job_.imagePath());
    return true;
  }
  prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                   fromUtf8(loadStatusMessage(status)));
  return false;
}

void MainWindow::scanCommand() {
  if (!prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)),
                     fromUtf8(windowText(WindowText::ScanQuestion)), DefaultAnswer::Yes))
    return;
  feed_->clear();
  enterState(WindowState::Scanning);
  ScanSettings settings;
  settings.windowBytes = job_.scanWindowBytes();
  const bool split = splitBox_->isChecked();
  if (signatureBox_->isChecked()) {
    settings.mode = split ? ScanMode::SignatureRulesSplit : ScanMode::SignatureRules;
  } else {
    settings.mode = split ? ScanMode::PreciseSplit : ScanMode::Precise;
  }
  if (!loadImageBlock()) {
    // Scan stays off: the same image would fail the same way.
    imageScannable_ = false;
    enterState(WindowState::Idle);
    return;
  }
  // The map is read now, so the counts describe the image as it was scanned.
  ImageMapLoad beside = loadMapBeside(job_.image()->path());
  if (!beside.path.empty() && !beside.map) {
    prompter_.warn(
        this, fromUtf8(kApplicationTitle),
        fromUtf8(windowText(WindowText::MapUnreadableMessage))
            .arg(QString::fromStdString(beside.path), QString::fromStdString(beside.error)));
  }
  scanMap_ = std::move(beside.map);
  // The rows get their unreadable sectors as they arrive, and the pool
  // checks and draws them from the first find on.
  if (scanMap_) feed_->showUnreadableSectors(*scanMap_);
  joinAfterChecks_ = settings.mode == ScanMode::Precise || settings.mode == ScanMode::PreciseSplit;
  feed_->setRowsComing(true);
  showJobStart(windowText(WindowText::ScanningStatus));
  if (!job_.scanJob().start(*job_.image(), results_->candidates(), settings)) {
    joinAfterChecks_ = false;
    feed_->setRowsComing(false);
    status_->clear();
    imageScannable_ = false;
    enterState(WindowState::Idle);
  }
}

void MainWindow::restoreCommand() {
  if (selection_->selectedCount() == 0) {
    prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                     fromUtf8(windowText(WindowText::NothingSelectedMessage)));
    return;
  }
  if (!prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)),
                     fromUtf8(windowText(WindowText::RestoreQuestion)), DefaultAnswer::Yes))
    return;
  enterState(WindowState::Restoring);
  bool started = false;
  const FolderChoice choice = folderChooser_(this);
  if (choice.accepted) lastRestoreFolder_ = QString::fromStdString(choice.path);
  // The rows chosen now are the ones written: the views stay live during
  // the restore, and a click there must not change what it writes.
  std::vector<int32_t> chosen = selection_->chosenRows();
  // A folder that would fail every file, or fill up half way, is refused
  // before the first byte is written, in one sentence rather than one
  // failure per file.
  const RestoreRefusal refusal =
      choice.accepted ? checkRestoreDestination(destinationExaminer_(choice.path, job_.imagePath()),
                                                plannedFiles(results_->candidates(), chosen))
                      : RestoreRefusal{};
  if (refusal) {
    prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                     QString::fromStdString(refusalText(refusal)));
  } else if (choice.accepted && loadImageBlock()) {
    job_.setDestination(choice.path, choice.setFileTime);
    job_.setChosenRows(std::move(chosen));
    showJobStart(windowText(WindowText::RestoringStatus));
    job_.setJobKind(RecoveryJob::Kind::Restore);
    started = job_.start();
    if (!started) status_->clear();
  }
  if (!started) enterState(WindowState::Idle);
}

FolderChooserSetup MainWindow::folderChooserSetup() const {
  FolderChooserSetup setup;
  setup.startFolder = lastRestoreFolder_;
  // Only an image that is itself a card's block device tells which card is
  // being rescued; an image file says nothing about where it came from.
  const std::string source = job_.imagePath();
  setup.isOnSource = [source](const QString& folder) {
    return isOnSourceDevice(source, folder.toStdString());
  };
  return setup;
}

void MainWindow::previewCommand() {
  if (!enabledControls(state_, windowFacts()).preview || selection_->selectedCount() == 0) return;
  enterState(WindowState::Restoring);
  if (job_.image() == nullptr) {
    // The preview never loads the image itself: a restore does.
    prompter_.inform(this, fromUtf8(windowText(WindowText::InformationCaption)),
                     fromUtf8(windowText(WindowText::NoBufferForPreviewMessage)));
    enterState(WindowState::Idle);
    return;
  }
  job_.setChosenRows(selection_->chosenRows());
  showJobStart(windowText(WindowText::RestoringStatus));
  job_.setJobKind(RecoveryJob::Kind::Preview);
  if (!job_.start()) {
    status_->clear();
    enterState(WindowState::Idle);
  }
}

void MainWindow::selectAllCommand() {
  if (selection_->selectedCount() > 0) {
    selection_->selectAll(false);
  } else {
    selection_->selectAll(true);
    if (detailsShown())
      detailsView_->setFocus();
    else
      iconView_->setFocus();
  }
}

void MainWindow::switchView() {
  if (detailsShown()) {
    views_->setCurrentWidget(iconView_);
    viewButton_->setText(fromUtf8(windowText(WindowText::DetailsButton)));
    // The pool has engines of its own, so a restore may run beside it;
    // during a scan the first published rows have started it already.
    if (!job_.scanJob().isActive()) feed_->startThumbnails();
  } else {
    views_->setCurrentWidget(detailsView_);
    viewButton_->setText(fromUtf8(windowText(WindowText::ThumbnailsButton)));
  }
}

void MainWindow::helpCommand() { openHelp(this, prompter_); }

void MainWindow::webLinkCommand() { openWebPage(this, prompter_); }

void MainWindow::aboutCommand() { showAboutBox(this); }

void MainWindow::showReport(const QString& text, const QString& title) {
  auto* window = new ReportWindow(text, title, this, prompter_);
  window->setWindowIcon(applicationIcon());
  window->setAttribute(Qt::WA_DeleteOnClose);
  // Window-modal without a nested event loop: the handler that opens it
  // returns, and the window blocks input to this one until it is closed.
  window->open();
  emit reportOpened(window);
}

void MainWindow::reportCommand() {
  std::string text;
  writeRestoreList(job_.image(), results_->candidates(), text);
  if (text.empty()) return;
  showReport(QString::fromStdString(text), QString());
}

void MainWindow::tidyCommand() {
  TidyDialog dialog(this, prompter_);
  const int32_t rows = results_->candidates().itemCount();
  if (dialog.exec() != QDialog::Accepted) return;
  if (dialog.settings().digitsText.empty()) return;
  tidyNames(results_->candidates(), dialog.settings(), rows);
}

void MainWindow::propertiesCommand() {
  // The menu's row, else the first chosen one in scan order.
  int32_t row = menuRow_;
  if (row < 0) {
    const std::vector<int32_t> chosen = selection_->chosenRows();
    row = chosen.empty() ? -1 : chosen.front();
  }
  PropertiesDialog dialog(results_->candidates(), row, this);
  dialog.exec();
}

void MainWindow::previewClickedRow(const QModelIndex& index) {
  // Refused before the click takes the selection: a restore may be using it.
  if (!enabledControls(state_, windowFacts()).preview) return;
  if (index.isValid()) {
    selection_->model()->select(index,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  previewCommand();
}

void MainWindow::showListMenu(QAbstractItemView* view, const QPoint& position) {
  const QModelIndex index = view->indexAt(position);
  if (!index.isValid()) return;  // only a row has a menu
  // The view's index is the filter's: the list's row is behind it.
  menuRow_ = filter_->sourceRow(index);
  // As in a Windows list: the clicked row becomes the selection unless it
  // is already part of it.
  if (!selection_->model()->isSelected(index.siblingAtColumn(0))) {
    selection_->model()->select(index,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  auto* menu = new QMenu(this);
  menu->setObjectName("menu168");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(fromUtf8(windowText(WindowText::ReportMenuText)), this,
                  &MainWindow::reportCommand);
  menu->addSeparator();
  QAction* tidy =
      menu->addAction(fromUtf8(windowText(WindowText::TidyNames)), this, &MainWindow::tidyCommand);
  // A restore or preview reads the rows' names while it writes; thumbnails
  // are made from memory and do not care about names.
  menu->addSeparator();
  menu->addAction(fromUtf8(windowText(WindowText::Properties)), this,
                  &MainWindow::propertiesCommand);
  tidy->setEnabled(enabledControls(state_, windowFacts()).tidy);
  openMenu_ = menu;
  menu->popup(view->viewport()->mapToGlobal(position));
}

// ---------------------------------------------------------------------------
// Window behaviour.

bool MainWindow::mayStopWork(JobThread& thread) {
  if (!thread.isActive()) return true;
  thread.suspend();
  const bool stop = prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)),
                                  fromUtf8(windowText(WindowText::StopWorkQuestion)));
  thread.resume();
  return stop;
}

void MainWindow::trackUnrestoredResults() {
  connect(results_, &QAbstractItemModel::modelReset, this, [this] { restoredRows_.clear(); });
  connect(this, &MainWindow::jobMessageHandled, this, [this](quint32 message, quint64) {
    if (message != static_cast<quint32>(JobMessage::RestoreEnded)) return;
    for (const RestoredFile& file : job_.restoreOutcome().files) {
      if (file.row < 0) continue;
      const size_t row = static_cast<size_t>(file.row);
      if (restoredRows_.size() <= row) restoredRows_.resize(row + 1, false);
      restoredRows_[row] = true;
    }
  });
}

bool MainWindow::hasUnrestoredResults() const {
  const int rows = results_->rowCount();
  if (rows == 0) return false;
  if (restoredRows_.size() < static_cast<size_t>(rows)) return true;
  return std::find(restoredRows_.begin(), restoredRows_.begin() + rows, false) !=
         restoredRows_.begin() + rows;
}

bool MainWindow::mayDiscardResults(const char* question) {
  // Rows the user left out of a restore are lost as surely as after a scan.
  if (!hasUnrestoredResults()) return true;
  return prompter_.ask(this, fromUtf8(windowText(WindowText::QuestionCaption)), fromUtf8(question));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // One question is enough: stopping the work already throws its results away.
  const bool workAsked = job_.isActive() || job_.scanJob().isActive();
  if (!mayStopWork(job_) || !mayStopWork(job_.scanJob()) ||
      (!workAsked && !mayDiscardResults(windowText(WindowText::CloseWithResultsQuestion)))) {
    event->ignore();
    return;
  }
  stopEverything();
  event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  // The version label takes no clicks itself; they arrive here.
  if (webLink_->geometry().contains(event->position().toPoint())) {
    if (event->button() == Qt::LeftButton) webLinkCommand();
    return;
  }
  if (event->button() == Qt::LeftButton) {
    // Without a caption the whole surface is the handle.
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  // The window has no caption and so no system menu; its surface offers
  // the About item instead.
  auto* menu = new QMenu(this);
  menu->setObjectName("systemMenu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(applicationIcon(), fromUtf8(windowText(WindowText::AboutMenuText)), this,
                  &MainWindow::aboutCommand);
  openMenu_ = menu;
  menu->popup(event->globalPos());
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient background(0, 0, 0, height());
  background.setColorAt(0, QColor(38, 70, 110));
  background.setColorAt(0.09, QColor(58, 96, 140));
  background.setColorAt(0.0901, QColor(226, 232, 240));
  background.setColorAt(1, QColor(200, 210, 224));
  painter.fillRect(rect(), background);
  // The lower band carries the version link.
  QLinearGradient foot(0, height() - 26, 0, height());
  foot.setColorAt(0, QColor(58, 96, 140));
  foot.setColorAt(1, QColor(38, 70, 110));
  painter.fillRect(QRect(0, height() - 26, width(), 26), foot);
  painter.setPen(QColor(30, 50, 80));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace kestrix
