#include "pages/batch/BatchPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unordered_map>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/BatchUnzip.h"
#include "pages/batch/BatchForms.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/JobRunner.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace {

constexpr int kArchiveIcon = 3;
constexpr int kErrorIcon = -2;
constexpr int kScanInterval = 50, kRunInterval = 100;
constexpr int64_t kSystemDiskReserve = 50000000;
constexpr size_t kListedReasons = 20;

const char* const kScanComplete =
    "SCAN COMPLETE.\n\nYOU CAN SCAN ANOTHER FOLDER, OR USE THE \"ADD FILES\" BOX TO ADD MORE FILES OR YOU CAN PRESS "
    "THE UNZIP BUTTON TO BEGIN THE BATCH UNZIP PROCESS.\n\nIF YOU WISH TO MOVE THE ZIP FILES TO A NEW LOCATION "
    "REMEMBER TO CHECKMARK THE MOVE BOX BEFORE PRESSING THE UNZIP BUTTON.\n\nYOU CAN ALSO CLICK ONLY THOSE ZIP FILES "
    "YOU WANT TO UNZIP TO HIGHLIGHT THEM.  ONLY HIGHLIGHTED (BLUE) ZIP FILES WILL BE PROCESSED.";
const char* const kNoRoomToMoveHere =
    "THERE IS NO ENOUGH ROOM ON THE SELECTED DRIVE TO MOVE THE ZIP FILES.  CHOOSE ANOTHER DRIVE WITH MORE FREE SPACE.";
const char* const kNoRoomToUnzip =
    "THERE IS NOT ENOUGH ROOM ON THE SLECTED DISK DRIVE FOR THE UNZIPPED FILES.\n\nSELECT A NEW FOLDER ON A DRIVE WITH "
    "MORE FREE SPACE";
const char* const kNoRoomToMove =
    "THERE IS NOT ENOUGH ROOM TO MOVE THE ZIP FILES TO THE DRIVE YOU HAVE CHOSEN.YOU MUST EITHER UNCHECK THE MOVE ZIP "
    "FILE CHECKBOX OR CHOOSE ANOTHER DRIVE WITH MORE FREE SPACE.";
const char* const kNoHighlight =
    "YOU MUST HIGHLIGHT AT LEAST ONE ZIP FILE TO SELECT IT. Highlighted Zipfiles will be unzipped.   Press SELECT ALL "
    "to highlight all the zip files or click on the Zipfiles you want to batch unzip (while holding down the CTRL or "
    "SHIFT keys to make multiple selections).";

std::string SystemDiskWarning(int64_t freeBytes) {
  return "YOU ARE ATTEMPTING TO EXTRACT THE ZIP FILES TO THE FILE SYSTEM OF \"/\"\nON A TYPICAL COMPUTER THIS WOULD BE "
         "THE DISK DRIVE ON WHICH\nLINUX IS INSTALLED.  THIS DRIVE HAS LESS THAN 50 MEGABYTES\nOF FREE SPACE "
         "REMAINING.  LINUX CAN BECOME UNSTABLE WHEN\nTHE LINUX DRIVE HAS LITTLE SPACE REMAINING.  THIS DRIVE HAS\n" +
         std::to_string(freeBytes / 1000000) +
         " MEGABYTES OF FREE SPACE REMAINING\n\nTO EXTRACT THE ZIP FILE TO THIS DRIVE CHOOSE \"YES\"\nCHOOSE CANCEL TO "
         "SELECT A DIFFERENT DRIVE\n\nEXTRACT THE ZIP FILE TO THE \"/\" FILE SYSTEM?";
}

std::string NormalPath(const std::string& path) {
  std::error_code ec;
  const fs::path abs = fs::absolute(path, ec);
  std::string s = (ec ? fs::path(path) : abs).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

int64_t Number(const QLineEdit* edit) { return GroupedValue(edit->text()); }
int64_t Number(const QString& text) { return GroupedValue(text); }

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The run's questions on the window's thread: one password window per encrypted archive.
class TBatchQuestions final : public IJobQuestions {
 public:
  explicit TBatchQuestions(QWidget* owner) : owner_(owner) {}
  TOverwriteChoice AskOverwrite(const TOverwriteQuestion&) override { return TOverwriteChoice::NoToAll; }
  TPasswordChoice AskPassword(const std::string& archive, std::string& password) override {
    TPasswordChoice choice = TPasswordChoice::Cancel;
    RunOnUiThread([&] {
      TBatchPasswordForm form(archive, owner_);
      const int r = ExecModal(form, "TBatchPasswordForm");
      if (r == QDialog::Accepted && !form.Password().empty()) {
        password = form.Password();
        choice = TPasswordChoice::Ok;
      } else if (r == TBatchPasswordForm::kCancelAll) {
        choice = TPasswordChoice::CancelAll;
      }
    });
    return choice;
  }
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override { return TSecurityChoice::Ignore; }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Skip; }

 private:
  QWidget* owner_;
};

// Up to kListedReasons lines "path: why" (a reason that names the path already is not prefixed
// again), then how many more.
std::string ListOf(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string text;
  for (size_t i = 0; i < items.size() && i < kListedReasons; ++i) {
    const auto& [path, why] = items[i];
    text += "\n" + (why.rfind(path + ": ", 0) == 0 ? why : why.empty() ? path : path + ": " + why);
  }
  if (items.size() > kListedReasons) text += "\n... AND " + std::to_string(items.size() - kListedReasons) + " MORE";
  return text;
}

}  // namespace

QString BatchStatusFolder(const QString& folder) {
  QString withSlash = folder;
  if (!withSlash.endsWith('/')) withSlash += '/';
  if (withSlash.size() > 90) return withSlash.left(60) + "..." + withSlash.mid(withSlash.size() - 28, 27);
  return withSlash.size() > 1 ? withSlash.chopped(1) : withSlash;
}

TBatchPage::TBatchPage(IPageHost& host) : TPage(host), runner_(std::make_unique<TJobRunner>()) {
  BatchUnzipOpenFileButton = MakeButton("SELECT FILES", "CHOOSE ZIP FILES TO ADD TO THE LIST");
  ScanFolderForZipFilesButton = MakeButton("SCAN FOLDER", "FIND THE ZIP FILES IN A FOLDER");
  ScanSubDirCheckBox = new QCheckBox("Scan  all folders inside selected folder", this);
  ScanSubDirCheckBox->setChecked(true);
  AllTypesCheckBox = new QCheckBox("All archive types", this);
  AllTypesCheckBox->setToolTip("FIND AND UNZIP TAR, TAR.GZ, GZIP AND RAR ARCHIVES TOO");
  BatchDeleteButton = MakeButton("DELETE", "REMOVE THE HIGHLIGHTED ARCHIVES FROM THE LIST");
  BatchUnzipButton = MakeButton("UNZIP", "UNZIP THE HIGHLIGHTED ARCHIVES");
  BatchThreadStopButton = MakeButton("STOP");
  BatchThreadStopButton->setEnabled(false);
  BatchSelectAllButton = MakeButton("Select All");
  BatchResetButton = MakeButton("RESET");
  BatchHelpButton = MakeButton("HELP");
  BatchExitButton = MakeButton("EXIT");
  MoveZipFileCheckBox = new QCheckBox("Move Zip Files", this);
  MoveZipFileEdit = new QLineEdit(this);
  MoveZipFileEdit->setReadOnly(true);
  MoveZipFileButton = MakeButton("?", "Select a Folder.  the Zip Files will be moved here.");
  MoveZipFileButton->setMinimumWidth(32);
  BatchListView = new TFileListView({"File ", "Size", "Date", "Path", "Unzipped Size"}, {170, 110, 165, 380, 120}, this);
  BatchListView->setSortingEnabled(false);
  BatchListView->header()->setSectionsClickable(true);
  BatchListView->header()->moveSection(4, 2);  // File, Size, Unzipped Size, Date, Path
  BatchNumEdit = MakeCounter();
  ZipSizeEdit = MakeCounter();
  BatchTotalSizeEdit = MakeCounter();
  BatchCompleteEdit = MakeCounter();
  BatchFileNumEdit = MakeCounter();
  BatchFileSizeEdit = MakeCounter();
  BatchTotalDoneEdit = MakeCounter();
  BatchProgressBar = new QProgressBar(this);
  BatchProgressBar->setRange(0, 100);
  BatchProgressBar->setValue(0);
  BatchFileProgressBar = new QProgressBar(this);
  BatchFileProgressBar->setRange(0, 100);
  BatchFileProgressBar->setValue(0);
  BatchPathStatusBar = new QStatusBar(this);
  BatchPathStatusBar->setSizeGripEnabled(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1...."));
  step1->addWidget(BatchUnzipOpenFileButton);
  step1->addWidget(ScanFolderForZipFilesButton);
  step1->addWidget(ScanSubDirCheckBox);
  step1->addWidget(AllTypesCheckBox);
  step1->addStretch(1);
  step1->addWidget(BatchHelpButton);
  step1->addWidget(BatchExitButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  for (QWidget* w : {BatchUnzipButton, BatchThreadStopButton, BatchSelectAllButton, BatchDeleteButton, BatchResetButton})
    step2->addWidget(w);
  step2->addSpacing(12);
  step2->addWidget(MoveZipFileCheckBox);
  step2->addWidget(MoveZipFileEdit, 1);
  step2->addWidget(MoveZipFileButton);

  auto counters = [this](std::initializer_list<std::pair<const char*, QLineEdit*>> boxes) {
    auto* row = new QHBoxLayout;
    for (const auto& [label, edit] : boxes) {
      row->addWidget(new QLabel(label, this));
      row->addWidget(edit);
    }
    row->addStretch(1);
    return row;
  };
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(BatchListView, 1);
  layout->addLayout(counters({{"Zip Files", BatchNumEdit}, {"Zip Size", ZipSizeEdit}, {"Unzipped Size", BatchTotalSizeEdit}}));
  layout->addLayout(counters({{"Completed", BatchCompleteEdit},
                              {"Number of files", BatchFileNumEdit},
                              {"File Size :", BatchFileSizeEdit},
                              {"Total Done", BatchTotalDoneEdit}}));
  layout->addWidget(BatchProgressBar);
  layout->addWidget(BatchFileProgressBar);
  layout->addWidget(BatchPathStatusBar);

  ConnectExitButton(BatchExitButton, true);
  ConnectHelpButton(BatchHelpButton, "batch.html");
  UseSharedIcons(BatchListView, true);
  BatchListView->Model()->SetIconProvider([this](int i) {
    return i == kErrorIcon ? style()->standardIcon(QStyle::SP_MessageBoxCritical) : Host.Icons().Icon(i);
  });

  connect(BatchUnzipOpenFileButton, &QPushButton::clicked, this, &TBatchPage::BatchUnzipOpenFileButtonClick);
  connect(ScanFolderForZipFilesButton, &QPushButton::clicked, this, &TBatchPage::ScanFolderForZipFilesButtonClick);
  connect(BatchUnzipButton, &QPushButton::clicked, this, &TBatchPage::BatchUnzipButtonClick);
  connect(BatchThreadStopButton, &QPushButton::clicked, this, &TBatchPage::BatchThreadStopButtonClick);
  connect(BatchResetButton, &QPushButton::clicked, this, &TBatchPage::BatchResetButtonClick);
  connect(BatchSelectAllButton, &QPushButton::clicked, this, &TBatchPage::BatchSelectAllButtonClick);
  connect(BatchDeleteButton, &QPushButton::clicked, this, &TBatchPage::BatchDeleteButtonClick);
  connect(MoveZipFileCheckBox, &QCheckBox::clicked, this, &TBatchPage::MoveZipFileCheckBoxClick);
  connect(MoveZipFileButton, &QPushButton::clicked, this, &TBatchPage::MoveZipFileButtonClick);
  connect(AllTypesCheckBox, &QCheckBox::toggled, this, [this](bool on) { Host.Settings().BatchAllArchiveTypes = on; });
  connect(BatchListView->header(), &QHeaderView::sectionClicked, this, &TBatchPage::BatchListViewColumnClick);
  connect(BatchListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TBatchPage::BatchListViewSelectItem);
  connect(&BatchUnzipTimer, &QTimer::timeout, this, &TBatchPage::BatchUnzipTimerTimer);
}

TBatchPage::~TBatchPage() {
  BatchUnzipTimer.stop();
  // Closing the window stops the archive in work too; the runner then waits for the worker.
  if (unzipJob_) unzipJob_->AbortCurrent();
  runner_.reset();
}

std::vector<QWidget*> TBatchPage::WorkControls() const {
  return {BatchUnzipOpenFileButton, ScanFolderForZipFilesButton, BatchDeleteButton,  BatchUnzipButton,
          BatchHelpButton,          BatchExitButton,             BatchSelectAllButton, BatchResetButton,
          MoveZipFileButton,        ScanSubDirCheckBox,          AllTypesCheckBox,   MoveZipFileCheckBox,
          BatchListView};
}

std::vector<QWidget*> TBatchPage::CommonControls() const {
  return {BatchUnzipOpenFileButton, ScanFolderForZipFilesButton, ScanSubDirCheckBox, AllTypesCheckBox,
          MoveZipFileCheckBox,      MoveZipFileButton,           MoveZipFileEdit,    BatchHelpButton,
          BatchExitButton};
}

void TBatchPage::EnableWorkControls() {
  TPage::EnableWorkControls();
  EnableListButtons(HasRows());
}

void TBatchPage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{BatchUnzipOpenFileButton, ScanFolderForZipFilesButton,
                                                    BatchHelpButton, BatchExitButton, MoveZipFileButton,
                                                    ScanSubDirCheckBox, AllTypesCheckBox, MoveZipFileCheckBox,
                                                    BatchListView})
    w->setEnabled(true);
  EnableListButtons(false);
}

bool TBatchPage::Busy() const { return scanning_ || running_; }

bool TBatchPage::AllTypes() const { return Host.Settings().BatchAllArchiveTypes; }

void TBatchPage::showEvent(QShowEvent* event) {
  TPage::showEvent(event);
  AllTypesCheckBox->setChecked(Host.Settings().BatchAllArchiveTypes);
}

void TBatchPage::EnableListButtons(bool on) {
  for (QWidget* w : {BatchDeleteButton, BatchUnzipButton, BatchSelectAllButton, BatchResetButton}) w->setEnabled(on);
}

void TBatchPage::ShowList() {
  BatchListView->show();
  BatchListView->setEnabled(true);
  if (HasRows()) BatchListView->setFocus();
}

std::string TBatchPage::RowArchive(int row) const {
  const TListRow& r = BatchListView->Model()->Row(row);
  std::string path = r.Path.toStdString();
  if (path != "/") path += '/';
  path += r.File.toStdString();
  return path;
}

bool TBatchPage::CheckForDupeBatchZipDrop(const std::string& path) const {
  // Names differing in letter case are different files here.
  const std::string wanted = NormalPath(path);
  const int n = BatchListView->Count();
  for (int i = 0; i < n; ++i)
    if (RowArchive(i) == wanted) return true;
  return false;
}

namespace {

TListRow BatchRow(const std::string& path, uint64_t size, int64_t time, const TArchiveTally& tally,
                  const TDateText& dates) {
  TListRow row;
  row.File = QString::fromStdString(ExtractFileName(path));
  const std::string folder = ExtractFileDir(path);
  row.Path = QString::fromStdString(folder.empty() ? std::string("/") : folder);
  row.Size = GroupedNumber(static_cast<int64_t>(size));
  row.SizeValue = static_cast<qint64>(size);
  row.Extra = GroupedNumber(static_cast<int64_t>(tally.Unpacked));
  row.Date = dates.FromUnix(time);
  row.DateValue = time;
  row.Data = tally.Entries;
  row.Icon = kArchiveIcon;
  return row;
}

// Appends rows highlighted.
void AppendHighlighted(TFileListView& list, std::vector<TListRow>&& rows) {
  if (rows.empty()) return;
  const int first = list.Count();
  list.Model()->Append(std::move(rows));
  const TFileListModel& m = *list.Model();
  list.selectionModel()->select(QItemSelection(m.index(first, 0), m.index(m.Count() - 1, m.columnCount() - 1)),
                                QItemSelectionModel::Select);
}

}  // namespace

bool TBatchPage::DropFileToBatchZip(const std::string& path) {
  const std::string archive = NormalPath(path);
  struct stat st {};
  if (::stat(archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  TArchiveTally tally;
  TallyArchive(archive, AllTypes(), tally);
  std::vector<TListRow> rows;
  rows.push_back(BatchRow(archive, static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec, tally, TDateText()));
  AppendHighlighted(*BatchListView, std::move(rows));
  if (sorted_) BatchListViewColumnClick(0);
  return true;
}

void TBatchPage::TakeArchive(const std::string& archive) {
  if (Busy() || CheckForDupeBatchZipDrop(archive)) return;
  if (!DropFileToBatchZip(archive)) return;
  EnableListButtons(true);
  RecountHighlighted();
}

void TBatchPage::ShowCounters(int64_t files, int64_t packed, int64_t unpacked) {
  BatchNumEdit->setText(GroupedNumber(files));
  ZipSizeEdit->setText(GroupedNumber(packed));
  BatchTotalSizeEdit->setText(GroupedNumber(unpacked));
}

void TBatchPage::RecountHighlighted() {
  int64_t packed = 0, unpacked = 0;
  const std::vector<int> rows = BatchListView->SelectedRows();
  for (int i : rows) {
    const TListRow& r = BatchListView->Model()->Row(i);
    packed += r.SizeValue;
    unpacked += Number(r.Extra);
  }
  ShowCounters(static_cast<int64_t>(rows.size()), packed, unpacked);
}

void TBatchPage::BatchListViewSelectItem() {
  if (!Busy()) RecountHighlighted();
}

void TBatchPage::BatchUnzipOpenFileButtonClick() {
  if (Busy()) return;
  TSettings& s = Host.Settings();
  const std::string filter =
      AllTypes() ? "Archives|*.zip;*.rar;*.tar;*.tar.gz;*.tgz;*.gz" : "Zip Files|*.zip";
  const std::vector<std::string> files = Prompt().OpenFileNames("Choose the zip files to Open", s.BatchOpenFolder, filter);
  if (!files.empty()) {
    s.BatchOpenFolder = ExtractFileDir(NormalPath(files.front()));
    TWaitCursor wait;
    const bool several = files.size() > 1;
    if (several) Host.DisableAll();
    for (const std::string& f : files)
      if (!CheckForDupeBatchZipDrop(f)) DropFileToBatchZip(f);
    if (several) Host.EnableAll();
    EnableListButtons(HasRows());
    RecountHighlighted();
  }
  if (HasRows()) ShowList();
}

void TBatchPage::ScanFolderForZipFilesButtonClick() {
  if (Busy()) return;
  const std::string folder = Host.BrowseforFolder("SELECT DRIVE OR FOLDER TO SCAN FOR ZIP FILES...", false, false);
  if (folder.empty()) {
    if (HasRows()) ShowList();
    RecountHighlighted();
    return;
  }
  TBatchScanParams p;
  p.Folder = NormalPath(folder);
  p.Subfolders = ScanSubDirCheckBox->isChecked();
  p.AllTypes = AllTypes();
  for (int i = 0; i < BatchListView->Count(); ++i) p.Known.push_back(RowArchive(i));

  Host.DisableAll();
  TRunState& rs = Host.RunState();
  rs.BatchScanSubfolders = p.Subfolders;
  rs.BatchBusy = true;
  rs.BatchStop = false;
  rs.BatchScanning = true;
  BatchThreadStopButton->setEnabled(true);
  scanning_ = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  BatchListView->hide();
  auto job = std::make_unique<TBatchScanJob>(p);
  scanJob_ = job.get();
  runner_->Start(std::move(job), {}, {}, [this](const TJobResult&) { ScanFinished(); });
  BatchUnzipTimer.start(kScanInterval);
}

void TBatchPage::AddFoundRows() {
  if (!scanJob_) return;
  std::vector<TBatchFound> found;
  scanJob_->TakeFound(found);
  if (found.empty()) return;
  const TDateText dates;
  std::vector<TListRow> rows;
  rows.reserve(found.size());
  for (const TBatchFound& f : found) rows.push_back(BatchRow(f.Path, f.Size, f.Time, f.Tally, dates));
  AppendHighlighted(*BatchListView, std::move(rows));
}

void TBatchPage::ScanFinished() {
  BatchUnzipTimer.stop();
  BatchThreadStopButton->setEnabled(false);
  AddFoundRows();
  scanJob_ = nullptr;
  scanning_ = false;
  TRunState& rs = Host.RunState();
  rs.BatchBusy = false;
  rs.BatchScanning = false;
  if (sorted_) BatchListViewColumnClick(0);
  RecountHighlighted();
  ShowList();
  QApplication::restoreOverrideCursor();
  if (HasRows()) {
    EnableListButtons(true);
    ShowInfo(kScanComplete);
  }
  Host.EnableAll();
  BatchPathStatusBar->clearMessage();
  emit ScanEnded();
}

void TBatchPage::BatchUnzipTimerTimer() {
  if (scanning_) {
    AddFoundRows();
    RecountHighlighted();
    if (scanJob_) BatchPathStatusBar->showMessage(BatchStatusFolder(QString::fromStdString(scanJob_->CurrentFolder())));
    return;
  }
  if (!running_ || !unzipJob_ || runArchives_.empty()) return;
  // UnzipInfoToBatchInfo
  const size_t i = std::min<size_t>(static_cast<size_t>(std::max(unzipJob_->CurrentIndex(), 0)), runArchives_.size() - 1);
  BatchProgressBar->setValue(static_cast<int>(i));
  BatchPathStatusBar->showMessage(QString::fromStdString(runArchives_[i].Path));
  BatchCompleteEdit->setText(GroupedNumber(static_cast<int64_t>(i) + 1));
  BatchFileNumEdit->setText(GroupedNumber(unzipJob_->CurrentEntries()));
  BatchFileSizeEdit->setText(GroupedNumber(static_cast<int64_t>(runArchives_[i].Unpacked)));
  BatchTotalDoneEdit->setText(GroupedNumber(runningSizes_[i]));
  const uint64_t total = unzipJob_->CurrentTotal(), done = unzipJob_->CurrentDone();
  BatchFileProgressBar->setValue(total ? static_cast<int>(std::min<uint64_t>(done * 100 / total, 100)) : 0);
}

void TBatchPage::BatchThreadStopButtonClick() {
  Host.RunState().BatchStop = true;
  BatchThreadStopButton->setEnabled(false);
  runner_->Cancel();
}

void TBatchPage::BatchResetButtonClick() {
  if (Busy()) return;
  Host.DisableAll();
  BatchListView->Model()->Clear();
  sorted_ = false;
  for (QLineEdit* e : {BatchFileSizeEdit, BatchFileNumEdit, BatchNumEdit, BatchCompleteEdit, ZipSizeEdit,
                       BatchTotalSizeEdit, BatchTotalDoneEdit})
    e->setText("0");
  BatchPathStatusBar->clearMessage();
  Host.SetCurrentArchiveFile({});
  SetIdleButtons();
}

void TBatchPage::BatchSelectAllButtonClick() {
  {
    TWaitCursor wait;
    BatchListView->SelectAllRows();
  }
  RecountHighlighted();
  ShowList();
}

void TBatchPage::BatchDeleteButtonClick() {
  if (Busy()) return;
  BatchListView->Model()->RemoveRows(BatchListView->SelectedRows());
  BatchListView->SelectNone();
  RecountHighlighted();
  if (!HasRows()) EnableListButtons(false);
  else BatchListView->setFocus();
}

void TBatchPage::BatchListViewColumnClick(int column) {
  if (column != 0 || BatchListView->Count() < 2) return;
  // Sorting moves rows: the highlight follows the archives.
  std::set<std::string> highlighted;
  for (int i : BatchListView->SelectedRows()) highlighted.insert(RowArchive(i));
  BatchListView->Model()->sort(0, Qt::AscendingOrder);
  sorted_ = true;
  BatchListView->SelectNone();
  for (int i = 0; i < BatchListView->Count(); ++i)
    if (highlighted.count(RowArchive(i))) BatchListView->SelectRow(i);
}

void TBatchPage::TakeMoveFolder(const std::string& folder) {
  if (folder.empty()) return;
  if (!ZipSizeEdit->text().isEmpty() && FreeOnDisk(folder) <= Number(ZipSizeEdit)) {
    ShowError(kNoRoomToMoveHere);
    return;
  }
  MoveZipFileEdit->setText(QString::fromStdString(folder));
}

void TBatchPage::MoveZipFileCheckBoxClick() {
  if (MoveZipFileCheckBox->isChecked() && MoveZipFileEdit->text().isEmpty())
    TakeMoveFolder(Host.BrowseforFolder("MOVE ZIP FILES TO SELECTED DRIVE OR FOLDER...", false, true));
  if (MoveZipFileEdit->text().isEmpty()) MoveZipFileCheckBox->setChecked(false);
  if (HasRows() && BatchListView->isEnabled()) BatchListView->setFocus();
}

void TBatchPage::MoveZipFileButtonClick() {
  const QString before = MoveZipFileEdit->text();
  TakeMoveFolder(Host.BrowseforFolder("MOVE ZIP FILES TO SELECTED DRIVE OR FOLDER...", false, true));
  if (!MoveZipFileEdit->text().isEmpty() && MoveZipFileEdit->text() != before) MoveZipFileCheckBox->setChecked(true);
  if (MoveZipFileEdit->text().isEmpty()) MoveZipFileCheckBox->setChecked(false);
  if (HasRows() && BatchListView->isEnabled()) BatchListView->setFocus();
}

void TBatchPage::BatchUnzipButtonClick() {
  if (Busy() || !HasRows()) return;
  TRunState& rs = Host.RunState();
  rs.OverwriteNoToAll = true;
  rs.OverwriteYesToAll = false;
  rs.OverwriteCurrent = false;

  TBatchDestinationForm where(this);
  ExecModal(where, "TBatchDestinationForm");
  std::string destination;
  if (where.ChooseFolder()) {
    destination = Host.BrowseforFolder("CHOOSE FOLDER FOR THE UNZIPPED FILES...", false, true);
    if (destination.empty()) return;
    destination = NormalPath(destination);
  }
  const int64_t unzipped = Number(BatchTotalSizeEdit), zipSize = Number(ZipSizeEdit);
  const bool moving = MoveZipFileCheckBox->isChecked() && !MoveZipFileEdit->text().isEmpty();
  const std::string moveFolder = NormalPath(MoveZipFileEdit->text().toStdString());
  if (!destination.empty()) {
    const int64_t free = FreeOnDisk(destination);
    // Archives moved to another file system leave their room behind.
    const bool enough = moving && !SameFileSystem(moveFolder, destination) && free > unzipped - zipSize;
    if (!enough) {
      if (unzipped >= free) {
        ShowError(kNoRoomToUnzip);
        return;
      }
      const int64_t systemFree = FreeOnDisk("/");
      if (SameFileSystem(destination, "/") && systemFree < kSystemDiskReserve &&
          Prompt().ShowMessage("Tandor File", SystemDiskWarning(systemFree), TPromptIcon::Warning,
                               TPromptButtons::YesCancel) != TPromptAnswer::Yes)
        return;
    }
  }
  std::string moveTo;
  bool recreate = true;
  if (moving) {
    if (FreeOnDisk(moveFolder) < zipSize) {
      ShowError(kNoRoomToMove);
      MoveZipFileCheckBox->setChecked(false);
      MoveZipFileEdit->clear();
      return;
    }
    moveTo = moveFolder;
    TMoveZipFolderCreateOptionsForm how(this);
    if (ExecModal(how, "TMoveZipFolderCreateOptionsForm") == TMoveZipFolderCreateOptionsForm::kCancelled) return;
    recreate = how.Recreate();
  }

  TBatchUnzipParams p;
  runningSizes_.clear();
  int64_t sum = 0;
  for (int i : BatchListView->SelectedRows()) {
    const TListRow& r = BatchListView->Model()->Row(i);
    TBatchArchive a;
    a.Path = RowArchive(i);
    a.Unpacked = static_cast<uint64_t>(std::max<int64_t>(Number(r.Extra), 0));
    a.Entries = r.Data;
    a.Size = static_cast<uint64_t>(r.SizeValue);
    p.Archives.push_back(a);
    sum += r.SizeValue;
    runningSizes_.push_back(sum);
  }
  if (p.Archives.empty()) {
    ShowError(kNoHighlight);
    return;
  }
  p.Destination = destination;
  p.MoveFolder = moveTo;
  p.RecreateFolders = recreate;
  p.AllTypes = AllTypes();
  destination_ = destination;
  moveFolder_ = moveTo;
  recreate_ = recreate;
  rs.BatchRecreateFolders = recreate;
  runArchives_ = p.Archives;
  notMoved_.clear();
  notUnzipped_.clear();
  neverMoved_.clear();

  Host.DisableAll();
  rs.BatchStop = false;
  rs.BatchScanning = false;
  rs.JobKind = 2;
  BatchProgressBar->setRange(0, static_cast<int>(p.Archives.size()));
  BatchProgressBar->setValue(0);
  BatchFileProgressBar->setValue(0);
  rs.BatchBusy = true;
  running_ = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  auto job = std::make_unique<TBatchUnzipJob>(std::move(p));
  if (!questions_) questions_ = std::make_unique<TBatchQuestions>(this);
  job->Questions = questions_.get();
  unzipJob_ = job.get();
  runner_->Start(std::move(job), {}, {}, [this](const TJobResult& r) { RunFinished(r); });
  BatchThreadStopButton->setEnabled(true);
  BatchUnzipTimer.start(kRunInterval);
}

void TBatchPage::RunFinished(const TJobResult&) {
  BatchUnzipTimer.stop();
  BatchThreadStopButton->setEnabled(false);
  const std::vector<TBatchItem> items = unzipJob_ ? unzipJob_->Items() : std::vector<TBatchItem>();
  unzipJob_ = nullptr;
  running_ = false;
  Host.RunState().BatchBusy = false;
  Host.EnableAll();
  BatchProgressBar->setValue(0);
  BatchFileProgressBar->setValue(0);
  for (QLineEdit* e : {BatchFileNumEdit, BatchFileSizeEdit, BatchCompleteEdit, BatchTotalDoneEdit}) e->setText("0");
  BatchListView->setEnabled(true);

  // DeleteDunListItem and ChangeErrorIconItem.
  std::unordered_map<std::string, int> rowOf;
  for (int i = 0; i < BatchListView->Count(); ++i) rowOf.emplace(RowArchive(i), i);
  std::vector<int> done;
  for (const TBatchItem& it : items) {
    const auto row = rowOf.find(it.Archive);
    if (it.Unzipped()) {
      if (row != rowOf.end()) done.push_back(row->second);
    } else {
      notUnzipped_.emplace_back(it.Archive, it.Status.Text());
      if (row != rowOf.end()) {
        BatchListView->Model()->MutableRow(row->second).Icon = kErrorIcon;
        BatchListView->Model()->RowChanged(row->second);
      }
    }
    if (it.Move == TBatchMove::Failed) notMoved_.emplace_back(it.Archive, it.MoveStatus.Text());
    if (it.Move == TBatchMove::Never) neverMoved_.push_back(it.Archive);
  }
  BatchListView->Model()->RemoveRows(done);
  RecountHighlighted();
  ShowList();
  if (!HasRows()) EnableListButtons(false);
  QApplication::restoreOverrideCursor();
  ShowInfo(CompletionMessage());
  Host.EnableAll();
  BatchPathStatusBar->clearMessage();
  runArchives_.clear();
  emit RunEnded();
}

std::string TBatchPage::CompletionMessage() const {
  std::string text = "THE BATCH UNZIP PROCESS IS COMPLETE.\n\nTHE ZIP FILES HAVE BEEN UNZIPPED ";
  text += destination_.empty() ? "INTO THE SAME FOLDER IN WHICH THE ZIP FILE WAS LOCATED. \n\n"
                               : "INTO THE FOLDER " + destination_ + ". \n\n";
  text += moveFolder_.empty() ? "THE ZIP FILES WERE NOT MOVED. \n\n" : "THE ZIP FILES WERE MOVED TO THE FOLDER " + moveFolder_ + ". \n\n";
  if (!moveFolder_.empty())
    text += std::string("THE DIRECTORY STRUCTURE WHERE THE ZIP FILES WERE FOUND ") +
            (recreate_ ? "WAS RECREATED." : "WAS NOT RECREATED.");
  // Each list after one blank line.
  const auto section = [&text](const char* heading, const std::vector<std::pair<std::string, std::string>>& items) {
    if (items.empty()) return;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    text += std::string("\n\n") + heading + ListOf(items);
  };
  section("THESE ZIP FILES COULD NOT BE UNZIPPED:", notUnzipped_);
  section("THESE ZIP FILES COULD NOT BE MOVED AND ARE STILL WHERE THEY WERE:", notMoved_);
  std::vector<std::pair<std::string, std::string>> never;
  for (const std::string& a : neverMoved_) never.emplace_back(a, std::string());
  section("THESE ZIP FILES ARE NEVER MOVED (A SYSTEM FOLDER OR A JAVA NAME):", never);
  return text;
}
