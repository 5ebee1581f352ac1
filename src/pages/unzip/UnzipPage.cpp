#include "pages/unzip/UnzipPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/UnzipRun.h"
#include "pages/unzip/ZipListing.h"
#include "zip/ZipKit.h"

namespace {
const QStringList kColumns = {"File ", "Size", "Date", "Path"};
const QList<int> kWidths = {150, 120, 128, 600};
const char* const kNoZipFiles = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";
const char* const kOpenFilter =
    "All compressed types|*.zip;*.gz;*.tar;*.rar;*.tgz|ZIP Files|*.zip|GZ Files|*.gz|TAR Files|*.tar|RAR "
    "Files|*.rar|TGZ Files|*.tgz";
}  // namespace

TUnzipPage::TUnzipPage(IPageHost& host) : TPage(host) {
  OpenUnzipButton = MakeButton("OPEN", "CHOOSE AN ARCHIVE TO OPEN");
  UnzipButton = MakeButton("UNZIP", "UNZIP THE HIGHLIGHTED FILES");
  SelectAllButton = MakeButton("ALL", "SELECT ALL FILES");
  UnSelectAllButton = MakeButton("None", "SELECT NO FILES");
  SelectButton = MakeButton("Types", "FILTER FILETYPES");
  FolderFilterButton = MakeButton("Folders", "FILTER FOLDERS");
  TreeButton = MakeButton("Tree", "EXPLORER TREE");
  UnzipResetButton = MakeButton("Reset", "CLEAR ZIP FILE WINDOW");
  UnzipPropertiesButton = MakeButton("Options", "SET PROPERTY OPTIONS");
  UnzipHelpButton = MakeButton("HELP");
  UnzipCloseButton = MakeButton("EXIT");
  SpiderButton = MakeButton("Spider", "START CRAWLPAD");
  CLRButton = MakeButton("<- C", "REMOVE FILES FROM THE QUEUE");
  SaveQueueButton = MakeButton("Q", "KEEP THE OPEN FILE IN THE QUEUE");
  MoveBatchButton = MakeButton("B", "MOVE QUEUED FILES TO THE BATCH PAGE");
  SaveUnzipFileButton = MakeButton("SAVE", "SAVE A COPY OF THE OPEN FILE");
  TAGButton = MakeButton("TAG", "SHOW THE ARCHIVE TAG");
  for (QPushButton* b : {CLRButton, SaveQueueButton, MoveBatchButton}) b->setMinimumWidth(40);
  ComboBox = new QComboBox(this);
  ComboBox->setMinimumWidth(260);
  ComboBox->setToolTip("INCOMING FILE QUEUE");

  UnzipListView = new TFileListView(kColumns, kWidths, this);
  UnzipFilteredListView = new TFileListView(kColumns, kWidths, this);
  lists_ = new QStackedWidget(this);
  lists_->addWidget(UnzipListView);
  lists_->addWidget(UnzipFilteredListView);

  UnzipProgressBar = new QProgressBar(this);
  UnzipProgressBar->setRange(0, 100);
  UnzipProgressBar->setValue(0);
  UnzipStopButton = MakeButton("STOP", "STOP UNZIPPING");
  UnzipStopButton->setEnabled(false);
  UnzipStatusBar = new QStatusBar(this);
  UnzipStatusBar->setSizeGripEnabled(false);
  ShowFilesButton = new QPushButton("Show files", this);
  ShowFilesButton->setToolTip("OPEN THE FOLDER OF THE UNZIPPED FILES");
  ShowFilesButton->hide();
  UnzipStatusBar->addPermanentWidget(ShowFilesButton);
  // The button belongs to the outcome line: any other text (or none) hides it.
  connect(UnzipStatusBar, &QStatusBar::messageChanged, this, [this](const QString& text) {
    if (text.isEmpty() || text != UnzipStatusBar->property("outcome").toString()) ShowFilesButton->hide();
  });
  UnzipNumFilesEdit = MakeCounter();
  UnzipTotalFileSizeEdit = MakeCounter();

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1...."));
  step1->addWidget(OpenUnzipButton);
  step1->addSpacing(16);
  step1->addWidget(SpiderButton);
  step1->addWidget(ComboBox, 1);
  step1->addWidget(CLRButton);
  step1->addWidget(SaveQueueButton);
  step1->addWidget(MoveBatchButton);
  step1->addWidget(SaveUnzipFileButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  step2->addWidget(UnzipButton);
  step2->addSpacing(12);
  for (QWidget* w : {SelectAllButton, UnSelectAllButton, SelectButton, FolderFilterButton, TreeButton, TAGButton})
    step2->addWidget(w);
  step2->addStretch(1);
  for (QWidget* w : {UnzipResetButton, UnzipPropertiesButton, UnzipHelpButton, UnzipCloseButton}) step2->addWidget(w);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(UnzipNumFilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(UnzipTotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(lists_, 1);
  layout->addLayout(counters);
  auto* progress = new QHBoxLayout;
  progress->addWidget(UnzipProgressBar, 1);
  progress->addWidget(UnzipStopButton);
  layout->addLayout(progress);
  layout->addWidget(UnzipStatusBar);

  connect(OpenUnzipButton, &QPushButton::clicked, this, [this] { OpenUnzipButtonClick(); });
  connect(UnzipButton, &QPushButton::clicked, this, [this] { UnzipButtonClick(); });
  connect(TAGButton, &QPushButton::clicked, this, [this] { TAGButtonClick(); });
  connect(UnzipStopButton, &QPushButton::clicked, this, [this] { UnzipStopButtonClick(); });
  connect(ShowFilesButton, &QPushButton::clicked, this, [this] { ShowFilesButtonClick(); });
  connect(UnzipResetButton, &QPushButton::clicked, this, [this] { UnzipResetButtonClick(); });
  connect(UnzipPropertiesButton, &QPushButton::clicked, this, [this] { UnzipPropertiesButtonClick(); });
  ConnectExitButton(UnzipCloseButton, false);
  ConnectHelpButton(UnzipHelpButton, "unzip.html");
  UseSharedIcons(UnzipListView, true);
  UseSharedIcons(UnzipFilteredListView, true);
  AutoThumbTimer.setInterval(200);
  SetUpSelection();
}

TUnzipPage::~TUnzipPage() { StopWork(); }


TFileListView* TUnzipPage::MainList() const { return VisibleList(); }

TFileListView* TUnzipPage::VisibleList() const {
  return lists_->currentWidget() == UnzipFilteredListView ? UnzipFilteredListView : UnzipListView;
}

bool TUnzipPage::FilteredShown() const { return lists_->currentWidget() == UnzipFilteredListView; }

void TUnzipPage::ShowFullList() {
  lists_->setCurrentWidget(UnzipListView);
  lists_->show();
}

void TUnzipPage::ShowFilteredList() {
  lists_->setCurrentWidget(UnzipFilteredListView);
  UnzipFilteredListView->setEnabled(true);
  lists_->show();
  Host.SetDropTarget(UnzipFilteredListView);
}

std::vector<QWidget*> TUnzipPage::WorkControls() const {
  return {UnzipCloseButton, UnzipListView,   OpenUnzipButton,     MoveBatchButton, CLRButton,      SelectAllButton,
          UnSelectAllButton, TreeButton,     SpiderButton,        SelectButton,    FolderFilterButton,
          UnzipResetButton,  SaveQueueButton, UnzipButton,        SaveUnzipFileButton, TAGButton, UnzipHelpButton};
}

std::vector<QWidget*> TUnzipPage::CommonControls() const {
  return {OpenUnzipButton, UnzipPropertiesButton, CLRButton, MoveBatchButton, UnzipHelpButton, UnzipCloseButton};
}

void TUnzipPage::EnableCommonControls() {
  TPage::EnableCommonControls();
  SpiderButton->setEnabled(SiblingProgramFound);
}

bool TUnzipPage::HasRows() const { return UnzipListView->HasRows(); }

void TUnzipPage::TakeArchive(const std::string& archive) { OpenArchive(archive); }

void TUnzipPage::EnableWorkControls() {
  for (QWidget* w : WorkControls()) w->setEnabled(true);
  TreeButton->setEnabled(UnzipListView->Count() >= 2);
  SpiderButton->setEnabled(SiblingProgramFound);
  // The buttons that act on a listed archive stay off while none is (a failed or empty open).
  if (!UnzipListView->HasRows()) SetIdleButtons();
}

void TUnzipPage::SetWaitCursor(bool on) {
  if (on) {
    ++waitCursors_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (waitCursors_ > 0) {
    --waitCursors_;
    QApplication::restoreOverrideCursor();
  }
}

// ---------------------------------------------------------------------------------------------
// Opening

void TUnzipPage::OpenUnzipButtonClick() { DoOpenUnzip(); }

void TUnzipPage::DoOpenUnzip() {
  if (Busy()) return;
  UnzipProgressBar->setMaximum(100);
  if (UnzipListView->HasRows()) {
    if (Host.ArchiveExtracted()) {
      ClearUnzipWindow();
    } else if (Host.Settings().QueueEnabled) {
      Host.AddToQueue(Host.CurrentArchiveFile());
      ClearUnzipWindow();
    } else {
      const TPromptAnswer a = Prompt().ShowMessage("Tandor File", "CLEAR THE ENTRIES AND LOAD A NEW ZIP FILE?",
                                                   TPromptIcon::Question, TPromptButtons::YesNoCancel);
      if (a != TPromptAnswer::Yes) {
        VisibleList()->setEnabled(true);
        VisibleList()->setFocus();
        return;
      }
      ClearUnzipWindow();
    }
  }
  const std::string name =
      Prompt().OpenFileName("Choose a zip file to Open", Host.Settings().ArchiveOpenFolder, kOpenFilter);
  if (name.empty()) {
    ShowUnzipListView();
    // The page was cleared (and its controls disabled) before the dialog: leave it usable.
    if (!UnzipListView->HasRows()) Host.SetPageIdleButtons();
    UnzipListView->setEnabled(true);
    return;
  }
  Host.SetCaption(name);
  Host.Settings().ArchiveOpenFolder = ExtractFileDir(name);
  if (!OpenArchive(name)) {
    // Not an archive type of the program: nothing is opened.
    Host.SetCaption(Host.CurrentArchiveFile());
    ShowUnzipListView();
    if (!UnzipListView->HasRows()) Host.SetPageIdleButtons();
    UnzipListView->setEnabled(true);
  }
}

bool TUnzipPage::OpenArchive(const std::string& name) {
  const TArchiveFormat format = FormatByExtension(name);
  // A file of an archive type that cannot be opened says why (and is never read: it may be a FIFO).
  if (format != TArchiveFormat::Unknown && !CheckOpenable(name)) return true;
  switch (DetectArchiveFormat(name).Format) {
    case TArchiveFormat::Zip:
      Host.DisableAll();
      UpdateUnzipWindow(name);
      break;
    case TArchiveFormat::Rar:
      Host.DisableAll();
      UpDateRARWindow(name);
      break;
    case TArchiveFormat::Gzip:
    case TArchiveFormat::TarGz: OpenGZipFile(name); break;
    case TArchiveFormat::Tar:
      Host.DisableAll();
      UpdateTarWindow(name);
      break;
    case TArchiveFormat::Unknown: return false;
  }
  if (Host.Settings().AutoThumbnails && UnzipListView->HasRows()) AutoThumbTimer.start();
  return true;
}

void TUnzipPage::HideListsForListing() {
  UnzipFilteredListView->setEnabled(false);
  lists_->setCurrentWidget(UnzipListView);
  lists_->hide();
  UnzipListView->setEnabled(true);
  Host.SetDropTarget(UnzipListView);
}

bool TUnzipPage::CheckOpenable(const std::string& archive) {
  const TStatus status = CheckArchiveFile(archive);
  if (status.IsOk()) return true;
  OpenFailed(CannotOpenText(archive, status.Text()));
  return false;
}

std::string TUnzipPage::CannotOpenText(const std::string& archive, const std::string& reason) {
  // The file is named once: a reason that starts with its name loses it.
  const std::string prefix = archive + ": ";
  const bool named = reason.size() > prefix.size() && reason.compare(0, prefix.size(), prefix) == 0;
  return "CANNOT OPEN THE FILE " + archive + "\n" + (named ? reason.substr(prefix.size()) : reason);
}

void TUnzipPage::OpenFailed(const std::string& message) {
  ShowFullList();
  UnzipFilteredListView->setEnabled(false);
  ClearUnzipListView();
  UnzipFilteredListviewClear();
  UnzipTotalBytes = 0;
  listedRows_ = 0;
  openedAs_ = TArchiveFormat::Unknown;
  UnzipNumFilesEdit->setText("0");
  UnzipTotalFileSizeEdit->setText("0");
  UnzipProgressBar->setValue(0);
  UnzipProgressBar->setMaximum(100);
  UnzipStatusBar->clearMessage();
  Host.ClearTempFolders();  // a gzipped tar's half-unpacked tar
  Host.SetDropTarget(UnzipListView);
  Host.SetCurrentArchiveFile({});
  Host.SetCaption({});
  Host.SetArchiveExtracted(false);
  Host.EnableAll();  // with nothing listed: the idle buttons
  UnzipListView->setEnabled(true);
  ShowError(message);
}

void TUnzipPage::RunListing(const std::function<void(TRowSink&)>& work) {
  extensionIcons_.clear();
  progressScale_ = 1;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  listingCancel_ = cancel;
  listing_ = true;
  listingWorker_ = true;
  QEventLoop loop;
  const auto post = [this](std::function<void()> f) { QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection); };
  std::thread worker([&, post, cancel] {
    TRowSink sink(
        post, [this](std::shared_ptr<TRowBatch> b) { AppendBatch(*b); }, [this](int64_t t) { SetProgressMax(t); },
        [this](int64_t done) { ShowListingProgress(done); }, cancel);
    try {
      work(sink);
    } catch (...) {
      // A reader that throws ends the listing with the rows it delivered.
    }
    sink.Flush();
    sink.Post([&loop] { loop.quit(); });
    listingWorker_ = false;
  });
  loop.exec();
  worker.join();
  listing_ = false;
  UnzipProgressBar->setValue(0);
  UnzipProgressBar->setMaximum(100);
  UnzipStatusBar->clearMessage();
}

void TUnzipPage::AppendBatch(TRowBatch& batch) {
  for (const std::string& ext : batch.NewExtensions) extensionIcons_.push_back(Host.Icons().FindFilesIcon("x" + ext));
  for (TListRow& r : batch.Rows)
    r.Icon = r.Icon < 0 || r.Icon >= static_cast<int>(extensionIcons_.size()) ? 1 : extensionIcons_[r.Icon];
  UnzipListView->Model()->Append(std::move(batch.Rows));
}

void TUnzipPage::SetProgressMax(int64_t total) {
  UnzipListView->Model()->Reserve(static_cast<size_t>(std::max<int64_t>(total, 0)));
  // The bar counts in steps that fit its int range.
  progressScale_ = total > 1000000000 ? total / 1000000000 + 1 : 1;
  UnzipProgressBar->setMaximum(static_cast<int>(std::max<int64_t>(total / progressScale_, 1)));
  UnzipProgressBar->setValue(0);
}

void TUnzipPage::ShowListingProgress(int64_t done) {
  UnzipStatusBar->showMessage(QString::number(done));
  UnzipProgressBar->setValue(static_cast<int>(std::min<int64_t>(done / progressScale_, UnzipProgressBar->maximum())));
}

void TUnzipPage::FinishListing() {
  const int rows = UnzipListView->Count();
  listedRows_ = rows;
  UnzipNumFilesEdit->setText(GroupedNumber(rows));
  UnzipTotalFileSizeEdit->setText(GroupedNumber(UnzipTotalBytes));
  if (rows > 0) {
    if (Host.Settings().SelectAllOnLoad) UnzipListView->SelectAllRows();
    Host.EnableAll();
    EnableLoadedArchiveButtons();
  } else {
    Host.EnableAll();  // nothing listed: the buttons that need rows stay off
  }
  ShowFullList();
  UnzipListView->setEnabled(true);
  UnzipListView->setFocus();
  UnzipProgressBar->setMaximum(100);
  SetWaitCursor(false);
}

void TUnzipPage::UpdateUnzipWindow(const std::string& archive) {
  if (Busy() || !CheckOpenable(archive)) return;
  HideListsForListing();
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  SetWaitCursor(true);
  int64_t count = 0;
  int64_t total = 0;
  TStatus status;
  RunListing([&](TRowSink& sink) {
    TListParams p;
    p.Archive = archive;
    p.Format = TArchiveFormat::Zip;
    TListJob job(p);
    TRowMaker rows(true);
    job.OnCount = [&](int64_t n) {
      count = n;
      if (n > 0) sink.SetTotal(n);
    };
    job.OnEntry = [&](const TArchiveEntry& e) {
      if ((e.Id & 4095) == 0 && sink.Cancelled()) job.Cancel();
      TListRow row;
      rows.Make(e, row);  // folder entries keep their row (an empty File)
      total += static_cast<int64_t>(e.Size);
      sink.Add(std::move(row));
    };
    status = job.Run().Status;
  });
  openedAs_ = TArchiveFormat::Zip;
  if (count == 0 && status.Failed() && !status.IsCancelled()) {
    // Not a zip archive that can be read: one message, and why.
    SetWaitCursor(false);
    OpenFailed(CannotOpenText(archive, status.Text()));
    return;
  }
  if (count == 0) {
    ShowError(kNoZipFiles);
    UnzipTotalBytes = 0;
    Host.EnableAll();
    ShowFullList();
    SetWaitCursor(false);
    return;
  }
  UnzipTotalBytes = total;
  Host.RunState().BatchUnpackedTotal += total;
  FinishListing();
}

int64_t TUnzipPage::TallyZipFile(const std::string& name) {
  TZipKit& kit = Host.ZipKit();
  if (kit.ZipFileName() != name || name.empty()) kit.SetZipFileName(name);
  int64_t total = 0;
  for (const ZipDirEntry& e : kit.DirEntries()) total += static_cast<int64_t>(e.UnpackedSize);
  Host.RunState().BatchUnpackedTotal += total;
  return total;
}

void TUnzipPage::PostProgress(int percent) {
  QMetaObject::invokeMethod(
      UnzipProgressBar, [bar = UnzipProgressBar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
}

void TUnzipPage::RunOnWorker(const std::function<void()>& work) {
  listingWorker_ = true;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
    }
    QMetaObject::invokeMethod(this, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    listingWorker_ = false;
  });
  loop.exec();
  worker.join();
}

// ---------------------------------------------------------------------------------------------
// Clearing

void TUnzipPage::ClearUnzipWindow() {
  UnzipFilteredListView->setEnabled(false);
  ShowFullList();
  UnzipListView->setEnabled(true);
  Host.SetDropTarget(UnzipListView);
  ClearUnzipListView();
  ClearUnzipCounters();
  ClearUnzipTotals();
  Host.ClearTempFolders();
  UnzipProgressBar->setValue(0);
  UnzipStatusBar->clearMessage();
  Host.SetCurrentArchiveFile({});
  Host.SetCaption({});
  Host.SetArchiveExtracted(false);
}

void TUnzipPage::ClearUnzipListView() {
  if (!UnzipListView->HasRows()) return;
  UnzipListView->Model()->Clear();
  if (UnzipFilteredListView->HasRows()) UnzipFilteredListviewClear();
  Host.SetArchiveExtracted(false);
}

void TUnzipPage::UnzipFilteredListviewClear() { UnzipFilteredListView->Model()->Clear(); }

void TUnzipPage::ClearUnzipCounters() {
  UnzipTotalBytes = 0;
  Host.DisableAll();
  UnzipNumFilesEdit->setText("0");
  UnzipTotalFileSizeEdit->setText("0");
}

void TUnzipPage::ClearUnzipTotals() {
  Host.Icons().ClearCache();
  UnzipTotalBytes = 0;
  UnzipNumFilesEdit->setText("0");
  UnzipTotalFileSizeEdit->setText("0");
}

void TUnzipPage::ShowUnzipListView() {
  if (FilteredShown()) UnzipFilteredListView->setEnabled(false);
  ShowFullList();
  UnzipListView->setEnabled(true);
  Host.SetDropTarget(UnzipListView);
}

void TUnzipPage::ResetUnzipPage() {
  if (Busy()) return;
  Host.DisableAll();
  SetWaitCursor(true);
  ShowUnzipListView();
  Host.SetArchiveExtracted(false);
  ClearUnzipListView();
  ClearUnzipCounters();
  ClearUnzipTotals();
  Host.ClearTempFolders();
  Host.SetPageIdleButtons();
  Host.SetCurrentArchiveFile({});
  Host.SetCaption({});
  SetWaitCursor(false);
}

void TUnzipPage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{UnzipListView, OpenUnzipButton, UnzipCloseButton, UnzipHelpButton,
                                                    CLRButton, MoveBatchButton})
    w->setEnabled(true);
  SpiderButton->setEnabled(SiblingProgramFound);
  for (QWidget* w : std::initializer_list<QWidget*>{SelectAllButton, UnSelectAllButton, TreeButton, SelectButton,
                                                    FolderFilterButton, UnzipResetButton, SaveQueueButton, UnzipButton,
                                                    SaveUnzipFileButton, TAGButton})
    w->setEnabled(false);
}

void TUnzipPage::EnableLoadedArchiveButtons() {
  for (QWidget* w : {SelectAllButton, SelectButton, FolderFilterButton, UnSelectAllButton, UnzipResetButton,
                     SaveQueueButton, UnzipButton, SaveUnzipFileButton, TAGButton})
    w->setEnabled(true);
  TreeButton->setEnabled(UnzipListView->Count() >= 2);
  SpiderButton->setEnabled(SiblingProgramFound);
}

void TUnzipPage::UnzipPropertiesButtonClick() {
  const std::string& archive = Host.CurrentArchiveFile();
  std::string start = "Startup Links   .";
  if (IsZipArchiveName(archive))
    start = "UNZIP";
  else if ((UnzipListView->HasRows() && HasExtension(archive, ".gz")) || HasExtension(archive, ".tar") ||
           HasExtension(archive, ".tar.gz"))
    start = "Tar GZ ";
  if (ShowProperties) ShowProperties(start);
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}

void TUnzipPage::UnzipHelpButtonClick() { Host.OpenHelpPage("unzip.html"); }

void TUnzipPage::StopWork() {
  if (listingCancel_) *listingCancel_ = true;
  if (unzipRunner_) unzipRunner_->Cancel();
  while (listingWorker_ || unzipping_) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
