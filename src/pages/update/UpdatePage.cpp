#include "pages/update/UpdatePage.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <sys/stat.h>

#include <thread>
#include <unordered_map>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/JobRunner.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreateList.h"
#include "pages/create/DatePickForm.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/ZipListing.h"
#include "zip/ZipKit.h"

using updatelist::TFoundFile;

namespace {

const char* const kNoFiles = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";
const char* const kClearQuestion = "CLEAR THE ENTRIES AND LOAD A NEW ZIP FILE?";
const char* const kDeleteQuestion =
    "THE DELETE OPERATION WILL PERMANENTLY ERASE THE SELECTED FILES FROM THE ZIP FILE.\n\nERASE THE SELECTED FILES?";
const char* const kChanged =
    "THE ZIP FILE WAS CHANGED ON DISK AFTER IT WAS LISTED, SO NOTHING WAS WRITTEN TO IT.\n"
    "THE LIST NOW SHOWS WHAT THE ZIP FILE HOLDS.";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string(1, '/') : path.substr(0, slash);
}

// Runs `work` on a thread of its own while this thread's events go on; `tick` every 100 ms.
void RunOnWorker(const std::function<void()>& work, const std::function<void()>& tick = {}) {
  QEventLoop loop;
  QTimer timer;
  if (tick) {
    QObject::connect(&timer, &QTimer::timeout, &loop, tick);
    timer.start(100);
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      // A failing worker ends with what it has.
    }
    done = true;
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  if (!done.load()) loop.exec();
  worker.join();
}

}  // namespace

TUpdatePage::TUpdatePage(IPageHost& host) : TPage(host), runner_(std::make_unique<TJobRunner>(this)) {
  OpenUpdateButton = MakeButton("OPEN", "CHOOSE A ZIP FILE TO UPDATE");
  OpenUpdateButton->setDefault(true);
  OpenFilesUpdateButton = MakeButton("ADD FILES");
  AddfolderUpdatebutton = MakeButton("ADD FOLDER");
  UpdateDeleteButton = MakeButton("DELETE");
  UpdateResetButton = MakeButton("RESET");
  Button1 = MakeButton("Properties");
  UpdateTagButton = MakeButton("EDIT TAG", "EDIT TAG");
  UpdateTagEdit = new QLineEdit(this);
  UpdateTagEdit->setToolTip("EDIT TAG");
  UpdateTagEdit->setMaxLength(1 << 20);
  UpdateTagEdit->setPlaceholderText("Tag");
  UpdateHelpButton = MakeButton("HELP");
  UpdateExitbutton = MakeButton("EXIT");
  UpdateListView = new TFileListView({"File ", "Size", "Date", "Path"}, {150, 120, 128, 600}, this);
  UpDateNumFilesEdit = MakeCounter();
  UpdatetotalFileSizeEdit = MakeCounter();
  UpdateStatusBar = new QStatusBar(this);
  UpdateStatusBar->setSizeGripEnabled(false);
  UpdateProgressBar = new QProgressBar(this);
  UpdateProgressBar->setRange(0, 100);
  UpdateProgressBar->setValue(0);
  SetStepTwo(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1..."));
  step1->addWidget(OpenUpdateButton);
  step1->addStretch(1);
  step1->addWidget(UpdateHelpButton);
  step1->addWidget(UpdateExitbutton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2 ..."));
  for (QWidget* w : {OpenFilesUpdateButton, AddfolderUpdatebutton, UpdateDeleteButton, UpdateResetButton, Button1})
    step2->addWidget(w);
  step2->addSpacing(12);
  step2->addWidget(UpdateTagButton);
  step2->addWidget(UpdateTagEdit, 1);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(UpDateNumFilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(UpdatetotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(UpdateListView, 1);
  layout->addLayout(counters);
  layout->addWidget(UpdateProgressBar);
  layout->addWidget(UpdateStatusBar);
  ConnectExitButton(UpdateExitbutton, false);
  ConnectHelpButton(UpdateHelpButton, "update.html");
  UseSharedIcons(UpdateListView, true);
  connect(OpenUpdateButton, &QPushButton::clicked, this, [this] { OpenUpdateButtonClick(); });
  connect(OpenFilesUpdateButton, &QPushButton::clicked, this, [this] { OpenFilesUpdateButtonClick(); });
  connect(UpdateTagButton, &QPushButton::clicked, this, [this] { UpdateTagButtonClick(); });
  connect(AddfolderUpdatebutton, &QPushButton::clicked, this, [this] { AddfolderUpdatebuttonClick(); });
  connect(UpdateDeleteButton, &QPushButton::clicked, this, [this] { UpdateDeleteButtonClick(); });
  connect(UpdateResetButton, &QPushButton::clicked, this, [this] { UpdateResetButtonClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

TUpdatePage::~TUpdatePage() {
  if (listingCancel_) *listingCancel_ = true;
  runner_.reset();  // stops a running job and waits for it
}

std::vector<QWidget*> TUpdatePage::WorkControls() const {
  return {OpenFilesUpdateButton, UpdateTagButton,   AddfolderUpdatebutton, Button1,         UpdateDeleteButton,
          UpdateResetButton,     UpdateHelpButton, UpdateExitbutton,      OpenUpdateButton, UpdateListView};
}

std::vector<QWidget*> TUpdatePage::CommonControls() const {
  return {OpenUpdateButton, UpdateHelpButton, UpdateExitbutton, Button1};
}

void TUpdatePage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{Button1, UpdateHelpButton, UpdateExitbutton, OpenUpdateButton,
                                                    UpdateListView})
    w->setEnabled(true);
  SetStepTwo(false);
}

TFileListView* TUpdatePage::DropList() const { return UpdateResetButton->isEnabled() ? UpdateListView : nullptr; }

void TUpdatePage::SetStepTwo(bool enabled) {
  for (QPushButton* b : {OpenFilesUpdateButton, UpdateTagButton, AddfolderUpdatebutton, UpdateDeleteButton,
                         UpdateResetButton})
    b->setEnabled(enabled);
}

void TUpdatePage::ShowCounts() {
  UpDateNumFilesEdit->setText(GroupedNumber(UpdateListView->Count()));
  UpdatetotalFileSizeEdit->setText(GroupedNumber(totalBytes_));
}

void TUpdatePage::SetWaitCursor(bool on) {
  if (on == waitCursor_) return;
  waitCursor_ = on;
  if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------------------------
// Opening and listing

void TUpdatePage::OpenUpdateButtonClick() {
  if (busy_) return;
  TSettings& s = Host.Settings();
  s.UpdateRecurseFolders = true;
  s.UpdateSaveFolders = true;
  if (HasRows()) {
    if (Prompt().ShowMessage("Tandor File", kClearQuestion, TPromptIcon::Question, TPromptButtons::YesNoCancel) !=
        TPromptAnswer::Yes) {
      UpdateListView->setEnabled(true);
      UpdateListView->setFocus();
      return;
    }
    ClearUpdateWindow();
    Host.ClearTempFolders();
  }
  const std::string archive = Prompt().OpenFileName("Open", s.ArchiveOpenFolder, "ZIP files (*.zip)");
  if (archive.empty()) return;
  s.UpdateCutoffDate = 0;
  s.ArchiveOpenFolder = FolderOf(archive);
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  UpDateUpdateWindow(archive);
}

void TUpdatePage::TakeArchive(const std::string& archive) {
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  UpDateUpdateWindow(archive);
}

void TUpdatePage::UpDateUpdateWindow(const std::string& archive) {
  if (busy_) return;
  busy_ = true;
  Host.SetCurrentArchiveFile(archive);
  for (QWidget* w : WorkControls()) w->setEnabled(false);
  SetWaitCursor(true);
  UpdateListView->Model()->Clear();
  extensionIcons_.clear();
  totalBytes_ = 0;
  UpdateTagEdit->clear();
  // The stamp comes first: a change during the listing makes the next write list again.
  stamp_ = FileStampOf(archive);
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  listingCancel_ = cancel;
  int64_t count = 0, total = 0, scale = 1;
  std::string comment;
  QEventLoop loop;
  const auto post = [this](std::function<void()> f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
  };
  std::thread worker([&, post, cancel] {
    TRowSink sink(
        post,
        [this](std::shared_ptr<TRowBatch> b) {
          for (const std::string& ext : b->NewExtensions)
            extensionIcons_.push_back(Host.Icons().FindFilesIcon("x" + ext));
          for (TListRow& r : b->Rows)
            r.Icon = r.Icon < 0 || r.Icon >= static_cast<int>(extensionIcons_.size()) ? 1 : extensionIcons_[r.Icon];
          UpdateListView->Model()->Append(std::move(b->Rows));
        },
        [this, &scale](int64_t n) {
          UpdateListView->Model()->Reserve(static_cast<size_t>(std::max<int64_t>(n, 0)));
          scale = n > 1000000000 ? n / 1000000000 + 1 : 1;
          UpdateProgressBar->setMaximum(static_cast<int>(std::max<int64_t>(n / scale, 1)));
        },
        [this, &scale](int64_t done) {
          UpdateStatusBar->showMessage(QString::number(done));
          UpdateProgressBar->setValue(
              static_cast<int>(std::clamp<int64_t>(done / scale, 1, UpdateProgressBar->maximum())));
        },
        cancel);
    try {
      TListParams p;
      p.Archive = archive;
      p.Format = TArchiveFormat::Zip;
      TListJob job(p);
      TRowMaker rows(true);
      job.OnCount = [&](int64_t n) {
        if (n > 0) sink.SetTotal(n);
      };
      job.OnEntry = [&](const TArchiveEntry& e) {
        if ((e.Id & 4095) == 0 && sink.Cancelled()) job.Cancel();
        TListRow row;
        rows.Make(e, row);  // a folder entry keeps its row (an empty File)
        total += static_cast<int64_t>(e.Size);
        ++count;
        sink.Add(std::move(row));
      };
      job.Run();
      comment = job.Comment();
    } catch (...) {
      // A reader that throws ends the listing with the rows it delivered.
    }
    sink.Flush();
    sink.Post([&loop] { loop.quit(); });
  });
  // At least 1 while it lists: a page whose bar is not at 0 is not left.
  UpdateProgressBar->setValue(1);
  loop.exec();
  worker.join();
  listingCancel_.reset();
  UpdateProgressBar->setMaximum(100);
  UpdateProgressBar->setValue(0);
  UpdateStatusBar->clearMessage();
  busy_ = false;
  totalBytes_ = total;
  UpdateTagEdit->setText(QString::fromStdString(comment));
  SetWaitCursor(false);
  if (count == 0) {
    UpdateListView->Model()->Clear();
    ShowCounts();
    ShowError(kNoFiles);
    EnableWorkControls();
    EnableCommonControls();
    SetStepTwo(false);
    return;
  }
  ShowCounts();
  EnableWorkControls();
  EnableCommonControls();
  SetStepTwo(true);
  UpdateListView->setEnabled(true);
  UpdateListView->setFocus();
  Host.SetDropTarget(UpdateListView);
}

void TUpdatePage::TakeListedArchive(const std::string& archive, std::vector<TListRow> rows) {
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  UpdateListView->Model()->Clear();
  UpdateTagEdit->clear();
  stamp_ = FileStampOf(archive);
  totalBytes_ = 0;
  for (TListRow& r : rows) {
    totalBytes_ += r.SizeValue;
    r.Size = GroupedNumber(r.SizeValue);
    r.Data = -1;
  }
  UpdateListView->Model()->SetRows(std::move(rows));
  ShowCounts();
  EnableWorkControls();
  EnableCommonControls();
  Host.SetDropTarget(UpdateListView);
  Host.Settings().UpdateCutoffDate = 0;
  CheckMovedArchive();
}

void TUpdatePage::CheckMovedArchive() {
  // The tag, and the archive's entries against the rows (names and sizes, in order), read on a
  // worker; the step-2 buttons wait for it. Rows that no longer match are listed again from disk.
  SetStepTwo(false);
  const std::string archive = Host.CurrentArchiveFile();
  auto keys = std::make_shared<std::vector<std::pair<QString, qint64>>>();
  keys->reserve(static_cast<size_t>(UpdateListView->Count()));
  for (const TListRow& r : UpdateListView->Model()->Rows()) keys->emplace_back(r.Key(), r.SizeValue);
  auto same = std::make_shared<bool>(true);
  TListParams p;
  p.Archive = archive;
  p.Format = TArchiveFormat::Zip;
  auto job = std::make_unique<TListJob>(p);
  TListJob* raw = job.get();
  auto maker = std::make_shared<TRowMaker>(true);
  size_t next = 0;
  job->OnEntry = [keys, same, maker, next](const TArchiveEntry& e) mutable {
    TListRow row;
    maker->Make(e, row);
    if (next >= keys->size() || (*keys)[next].first != row.Key() || (*keys)[next].second != row.SizeValue)
      *same = false;
    ++next;
  };
  busy_ = true;
  UpdateProgressBar->setValue(1);
  runner_->Start(std::move(job), {}, {}, [this, raw, keys, same, archive](const TJobResult& r) {
    busy_ = false;
    UpdateProgressBar->setValue(0);
    if (Host.CurrentArchiveFile() != archive || !UpdateListView->HasRows()) return;  // let go meanwhile
    if (r.Status.Failed() || !*same || r.Counts.Entries != static_cast<int64_t>(keys->size())) {
      UpDateUpdateWindow(archive);
      return;
    }
    UpdateTagEdit->setText(QString::fromStdString(raw->Comment()));
    SetStepTwo(true);
    Host.SetDropTarget(UpdateListView);
  });
}

void TUpdatePage::GiveIcons(std::vector<TListRow>& rows) {
  // One look-up per extension.
  std::unordered_map<std::string, int> icons;
  for (TListRow& r : rows) {
    const std::string ext = LastExtension(r.File.toStdString());
    if (ext.empty()) {
      r.Icon = 1;
      continue;
    }
    auto [it, added] = icons.try_emplace(ext, 1);
    if (added) it->second = Host.Icons().FindFilesIcon("x" + ext);
    r.Icon = it->second;
  }
}

void TUpdatePage::SetRows(std::vector<TListRow>&& rows) {
  GiveIcons(rows);
  UpdateListView->Model()->SetRows(std::move(rows));
}

void TUpdatePage::AppendRows(std::vector<TListRow>&& rows) {
  GiveIcons(rows);
  UpdateListView->Model()->Append(std::move(rows));
}

// ---------------------------------------------------------------------------------------------
// Adding

void TUpdatePage::DateQuestion() {
  TSettings& s = Host.Settings();
  if (!s.OnlyNewerThanDate || s.UpdateCutoffDate != 0) return;
  Host.SetModalDialogOpen(true);
  s.UpdateCutoffDate = AskCutoffDate(this);
  Host.SetModalDialogOpen(false);
  if (s.UpdateCutoffDate == -1) {
    s.OnlyNewerThanDate = false;
    s.UpdateCutoffDate = 0;
  }
}

int64_t TUpdatePage::NotBefore() const {
  const TSettings& s = Host.Settings();
  return s.OnlyNewerThanDate && s.UpdateCutoffDate > 0 ? createlist::StartOfDay(s.UpdateCutoffDate) : 0;
}

updatelist::TPathRule TUpdatePage::PathRule() const {
  const TSettings& s = Host.Settings();
  return {s.SaveZipFolders, s.RelativePaths};
}

void TUpdatePage::BeginAdding() {
  plan_ = std::make_unique<updatelist::TUpdatePlan>(UpdateListView->Model()->Rows(), NotBefore());
  Host.RunState().JobTotalBytes = 0;
  for (QWidget* w : WorkControls()) w->setEnabled(false);
  SetWaitCursor(true);
}

void TUpdatePage::DropFileToUpdate(const TFoundFile& file) {
  if (!plan_) BeginAdding();
  RelativeRowPath = file.StoredFolder;
  plan_->Offer(file);
}

void TUpdatePage::OpenFilesUpdateButtonClick() {
  if (busy_ || !HasRows()) return;
  DateQuestion();
  TSettings& s = Host.Settings();
  const std::vector<std::string> files =
      Prompt().OpenFileNames("Select files to include in the Zip File", s.AddFilesFolder, "All files (*)");
  if (files.empty()) {
    UpdateListView->setEnabled(true);
    UpdateListView->setFocus();
    return;
  }
  s.AddFilesFolder = FolderOf(files.front());
  BeginAdding();
  const updatelist::TPathRule rule = PathRule();
  for (size_t i = 0; i < files.size(); ++i) {
    if (files.size() > 1) UpdateStatusBar->showMessage(QString::number(i + 1));
    TFoundFile f;
    if (!updatelist::FindRegularFile(files[i], f)) continue;  // gone, or not a file
    RelativeRoot.clear();
    f.StoredFolder = updatelist::StoredFolder(FolderOf(files[i]), {}, rule);
    DropFileToUpdate(f);
  }
  UpdatingAZipFile();
  FinishAdding();
}

void TUpdatePage::AddfolderUpdatebuttonClick() {
  if (busy_ || !HasRows()) return;
  DateQuestion();
  const std::string folder = Host.BrowseforFolder("SELECT FOLDER TO INCLUDE IN ZIP FILE...", false, false);
  if (folder.empty()) {
    UpdateListView->setEnabled(true);
    UpdateListView->setFocus();
    return;
  }
  BeginAdding();
  AddFolder(folder);
  UpdatingAZipFile();
  FinishAdding();
}

void TUpdatePage::AddFolder(const std::string& folder) {
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  RelativeRoot = root == "/" ? root : root + "/";
  UpdateStatusBar->showMessage("0");
  std::vector<TFoundFile> found;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> count{0};
  const bool recurse = Host.Settings().UpdateRecurseFolders;
  const updatelist::TPathRule rule = PathRule();
  busy_ = true;
  UpdateProgressBar->setValue(1);
  RunOnWorker([&] { updatelist::ScanFolder(root, recurse, rule, found, stop, count); },
              [&] { UpdateStatusBar->showMessage(QString::number(count.load())); });
  UpdateProgressBar->setValue(0);
  busy_ = false;
  for (const TFoundFile& f : found) DropFileToUpdate(f);
  UpdateStatusBar->clearMessage();
}

void TUpdatePage::UpdateDropUpdateWindow(const std::vector<std::string>& paths) {
  if (busy_ || !HasRows()) {
    EnableWorkControls();
    EnableCommonControls();
    return;
  }
  BeginAdding();
  UpdateStatusBar->showMessage("0");
  const updatelist::TPathRule rule = PathRule();
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string path = paths[i];
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      AddFolder(path);
      continue;
    }
    TFoundFile f;
    if (!updatelist::FindRegularFile(path, f)) continue;
    RelativeRoot.clear();
    f.StoredFolder = updatelist::StoredFolder(FolderOf(path), {}, rule);
    DropFileToUpdate(f);
    UpdateStatusBar->showMessage(QString::number(i + 1));
  }
  UpdatingAZipFile();
  FinishAdding();
}

void TUpdatePage::UpdatingAZipFile() {
  if (!plan_ || plan_->Empty()) return;  // nothing new and nothing newer: the archive stays as it is
  const std::string archive = Host.CurrentArchiveFile();
  if (!HasExtension(archive, ".zip")) return;
  // The rows of the action first, as the list will show them.
  TFileListModel* model = UpdateListView->Model();
  const TDateText dates;
  for (const auto& [row, file] : plan_->ReplacedRows()) {
    TListRow& r = model->MutableRow(row);
    totalBytes_ += file.Size - r.SizeValue;
    const TListRow fresh = updatelist::RowFor(file, dates);
    r.Size = GroupedNumber(file.Size);
    r.SizeValue = file.Size;
    r.Date = fresh.Date;
    r.DateValue = fresh.DateValue;
    model->RowChanged(row);
  }
  std::vector<TListRow> added = plan_->NewRows();
  for (const TListRow& r : added) totalBytes_ += r.SizeValue;
  AppendRows(std::move(added));
  Host.RunState().JobTotalBytes = plan_->Bytes();
  ShowCounts();

  const TSettings& s = Host.Settings();
  TUpdateParams p;
  p.Archive = archive;
  p.Format = TArchiveFormat::Zip;
  p.Items = plan_->Items();
  p.Level = Host.ZipKit().AddCompLevel;
  p.Zip.StorePaths = s.SaveZipFolders;
  p.Zip.ForceDos = !s.LongFileNames;
  p.Zip.ArchiveTime = s.SetArchiveTime;
  p.AllOrNothing = true;
  p.Expected = stamp_;
  std::vector<TListRow> listed;
  const TJobResult r = RunJob(std::make_unique<TUpdateJob>(std::move(p)), listed, "Adding ");
  const auto* job = static_cast<const TRewriteJob*>(runner_->Job());
  if (r.Status.Failed()) {
    ReportFailure(r, job->ArchiveChanged());
    return;
  }
  stamp_ = job->Stamp();
  totalBytes_ = 0;
  for (const TListRow& row : listed) totalBytes_ += row.SizeValue;
  SetRows(std::move(listed));
  ShowCounts();
}

void TUpdatePage::FinishAdding() {
  plan_.reset();
  Host.RunState().JobTotalBytes = 0;
  ShowCounts();
  UpdateStatusBar->clearMessage();
  SetWaitCursor(false);
  EnableWorkControls();
  EnableCommonControls();
  SetStepTwo(HasRows());
  UpdateListView->setEnabled(true);
  UpdateListView->setFocus();
}

TJobResult TUpdatePage::RunJob(std::unique_ptr<TRewriteJob> job, std::vector<TListRow>& listed, const QString& status) {
  busy_ = true;
  Host.RunState().JobKind = 3;
  UpdateStatusBar->showMessage(status);
  UpdateProgressBar->setMaximum(100);
  UpdateProgressBar->setValue(1);
  // The archive as it stands after the rewrite, in rows made on the worker.
  listed.reserve(static_cast<size_t>(UpdateListView->Count()) + 1024);
  auto maker = std::make_shared<TRowMaker>(true);
  job->OnEntry = [&listed, maker](const TArchiveEntry& e) {
    TListRow row;
    maker->Make(e, row);
    listed.push_back(std::move(row));
  };
  runner_->Start(
      std::move(job),
      [this, status](const TJobProgress& pr) {
        const int percent = pr.Total > 0 ? static_cast<int>(std::min<uint64_t>(pr.Done * 100 / pr.Total, 100)) : 0;
        UpdateProgressBar->setValue(std::max(percent, 1));
        if (!pr.Name.empty()) UpdateStatusBar->showMessage(status + QString::fromStdString(ExtractFileName(pr.Name)));
      },
      {}, {});
  const TJobResult r = runner_->Wait();
  UpdateProgressBar->setValue(0);
  UpdateStatusBar->clearMessage();
  busy_ = false;
  return r;
}

void TUpdatePage::ReportFailure(const TJobResult& result, bool changed) {
  if (changed) {
    ShowWarning(kChanged);
  } else if (result.Status.Code() == TStatusCode::Unsupported) {
    // What the component cannot do with this archive (a multi-disk set, not a zip archive).
    ShowError("FATAL DLL ERROR\n\n" + result.Status.Message());
  } else if (!result.Status.IsCancelled()) {
    ShowError("ERROR : " + result.Status.Text());
  }
  ReloadUpdateListviewOnZipError(Host.CurrentArchiveFile());
}

void TUpdatePage::ReloadUpdateListviewOnZipError(const std::string& archive) {
  Host.SetCurrentArchiveFile(archive);
  UpdateListView->Model()->Clear();
  UpDateUpdateWindow(archive);
  UpdateListView->setEnabled(true);
  UpdateListView->setFocus();
}

// ---------------------------------------------------------------------------------------------
// DELETE, RESET, Properties

void TUpdatePage::UpdateDeleteButtonClick() {
  if (busy_ || !HasRows()) return;
  if (Prompt().ShowMessage("Tandor File", kDeleteQuestion, TPromptIcon::Question, TPromptButtons::YesNoCancel) !=
      TPromptAnswer::Yes) {
    UpdateListView->setEnabled(true);
    UpdateListView->setFocus();
    return;
  }
  TDeleteParams p;
  p.Archive = Host.CurrentArchiveFile();
  p.Format = TArchiveFormat::Zip;
  p.Expected = stamp_;
  const TFileListModel* model = UpdateListView->Model();
  for (int row : UpdateListView->SelectedRows())
    if (model->Row(row).Id >= 0) p.Selection.Ids.push_back(static_cast<TEntryId>(model->Row(row).Id));
  if (p.Selection.Ids.empty()) {
    // Nothing highlighted: every row stays, and the archive is not touched.
    UpdateListView->setEnabled(true);
    UpdateListView->setFocus();
    return;
  }
  for (QWidget* w : WorkControls()) w->setEnabled(false);
  SetWaitCursor(true);
  std::vector<TListRow> listed;
  const TJobResult r = RunJob(std::make_unique<TDeleteJob>(std::move(p)), listed, "Deleting...");
  const auto* job = static_cast<const TRewriteJob*>(runner_->Job());
  SetWaitCursor(false);
  if (r.Status.Failed()) {
    ReportFailure(r, job->ArchiveChanged());
  } else {
    stamp_ = job->Stamp();
    totalBytes_ = 0;
    for (const TListRow& row : listed) totalBytes_ += row.SizeValue;
    SetRows(std::move(listed));
  }
  ShowCounts();
  EnableWorkControls();
  EnableCommonControls();
  SetStepTwo(HasRows());
  if (!HasRows()) Host.SetDropTarget(nullptr);
  UpdateListView->setEnabled(true);
  UpdateListView->setFocus();
}

void TUpdatePage::UpdateResetButtonClick() {
  if (busy_ || !HasRows()) return;
  for (QWidget* w : WorkControls()) w->setEnabled(false);
  SetIdleButtons();
  ClearUpdateWindow();
  Host.ClearTempFolders();
  Host.SetDropTarget(nullptr);
  UpdateStatusBar->clearMessage();
}

void TUpdatePage::ClearUpdateWindow() {
  if (listingCancel_) *listingCancel_ = true;
  UpdateListView->Model()->Clear();
  Host.Icons().ClearCache();
  extensionIcons_.clear();
  totalBytes_ = 0;
  stamp_ = {};
  UpDateNumFilesEdit->setText("0");
  UpdatetotalFileSizeEdit->setText("0");
  UpdateTagEdit->clear();
  SetStepTwo(false);
  Host.SetCurrentArchiveFile({});
  Host.SetCaption({});
}

void TUpdatePage::Button1Click() {
  Host.SetModalDialogOpen(true);
  if (ShowProperties) ShowProperties("ADD Files");
  Host.SetModalDialogOpen(false);
  if (UpdateListView->isVisible()) {
    UpdateListView->setEnabled(true);
    UpdateListView->setFocus();
  }
}

// ---------------------------------------------------------------------------------------------
// Path helpers

std::string TUpdatePage::GetLastfolder(const std::string& path) {
  RelativeRoot.clear();
  if (path.empty() || path.back() == '/') return {};
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  return path.substr(slash + 1);
}

std::string TUpdatePage::GetrelRootFolder(const std::string& path) {
  RelativeRowPath.clear();
  if (RelativeRoot.empty() || path.size() <= RelativeRoot.size()) return {};
  return path.substr(RelativeRoot.size());
}
