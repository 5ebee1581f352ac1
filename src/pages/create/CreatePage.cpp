#include "pages/create/CreatePage.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <sys/stat.h>

#include <unordered_map>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/JobRunner.h"
#include "pages/common/PromptService.h"
#include "pages/batchcreate/BatchCreateQueue.h"
#include "pages/create/AddFolderForm.h"
#include "pages/create/DatePickForm.h"
#include "platform/Paths.h"
#include "tar/TarLib.h"

using namespace createlist;

namespace {

// The hourglass for the length of a scope.
struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

std::string S(const QString& q) { return q.toStdString(); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

TCreatePage::TCreatePage(IPageHost& host) : TPage(host) {
  OpenFilesZipButton = MakeButton("ADD FILES");
  OpenFolderzipButton = MakeButton("ADD FOLDER");
  ZipButton = MakeButton("ZIP", "CREATE THE ARCHIVE");
  ZipStopButton = MakeButton("STOP");
  ZipUndoButton = MakeButton("UNDO");
  BatchButton = MakeButton("BATCH", "QUEUE THIS LIST AS A BATCH JOB");
  CreateTagButton = MakeButton("EDIT TAG ", "WRITE THE TAG INTO THE ZIP FILE JUST MADE");
  ZipResetButton = MakeButton("RESET");
  ZipPropertiesButton = MakeButton("Options", "SET PROPERTY OPTIONS");
  ZipHelpButton = MakeButton("HELP");
  ZipExitButton = MakeButton("EXIT");
  ZipListView = new TFileListView({"File ", "Size", "Date", "Path", "Source"}, {150, 120, 128, 300, 300}, this);
  ZipListView->Model()->SetPathIcon(0);
  SelectAll2 = new QAction("Select All", this);
  Remove1 = new QAction("Remove", this);
  Remove1->setShortcut(QKeySequence::Delete);  // shown in the menu; the list's filter below acts on it
  ZipListView->addAction(SelectAll2);
  ZipListView->addAction(Remove1);
  ZipListView->setContextMenuPolicy(Qt::ActionsContextMenu);
  ZipListView->installEventFilter(this);
  Remove1->setEnabled(false);
  NumfilesEdit = MakeCounter();
  TotalFileSizeEdit = MakeCounter();
  CreateTagEdit = new QLineEdit(this);
  CreateTagEdit->setPlaceholderText("tag of the new archive");
  CreateTagEdit->setMaxLength(1 << 20);  // a tag too long for a zip comment is refused by the run, never cut
  ZipProgressBar = new QProgressBar(this);
  ZipProgressBar->setRange(0, 100);
  ZipProgressBar->setValue(0);
  ZipStatusBar = new QStatusBar(this);
  ZipStatusBar->setSizeGripEnabled(false);
  for (QPushButton* b : {ZipButton, ZipStopButton, ZipUndoButton, BatchButton, CreateTagButton, ZipResetButton})
    b->setEnabled(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1 ..."));
  step1->addWidget(OpenFilesZipButton);
  step1->addWidget(OpenFolderzipButton);
  step1->addWidget(ZipUndoButton);
  step1->addWidget(ZipResetButton);
  step1->addStretch(1);
  step1->addWidget(ZipPropertiesButton);
  step1->addWidget(ZipHelpButton);
  step1->addWidget(ZipExitButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  step2->addWidget(ZipButton);
  step2->addWidget(ZipStopButton);
  step2->addSpacing(12);
  step2->addWidget(BatchButton);
  step2->addWidget(CreateTagButton);
  step2->addWidget(CreateTagEdit, 1);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(NumfilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(TotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(ZipListView, 1);
  layout->addLayout(counters);
  layout->addWidget(ZipProgressBar);
  layout->addWidget(ZipStatusBar);

  connect(OpenFilesZipButton, &QPushButton::clicked, this, &TCreatePage::OpenFilesZipButtonClick);
  connect(OpenFolderzipButton, &QPushButton::clicked, this, &TCreatePage::OpenFolderzipButtonClick);
  connect(ZipUndoButton, &QPushButton::clicked, this, &TCreatePage::ZipUndoButtonClick);
  connect(ZipResetButton, &QPushButton::clicked, this, &TCreatePage::ZipResetButtonClick);
  connect(ZipButton, &QPushButton::clicked, this, &TCreatePage::ZipButtonClick);
  connect(ZipStopButton, &QPushButton::clicked, this, &TCreatePage::ZipStopButtonClick);
  connect(ZipPropertiesButton, &QPushButton::clicked, this, &TCreatePage::ZipPropertiesButtonClick);
  connect(CreateTagButton, &QPushButton::clicked, this, &TCreatePage::CreateTagButtonClick);
  connect(SelectAll2, &QAction::triggered, this, &TCreatePage::SelectAll2Click);
  connect(Remove1, &QAction::triggered, this, &TCreatePage::Delete2Click);
  connect(ZipListView, &TFileListView::FilesDropped, this, [this](const QStringList& paths) {
    Host.DisableAll();
    UpdateZipWindow(paths);
  });
  connect(ZipListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TCreatePage::ZipListViewSelectItem);
  BatchQueue = new TBatchCreateQueue(Host, *this);
  connect(BatchButton, &QPushButton::clicked, BatchQueue, &TBatchCreateQueue::BatchButtonClick);
  ConnectExitButton(ZipExitButton, true);
  ConnectHelpButton(ZipHelpButton, "create.html");
  UseSharedIcons(ZipListView, false);
}

TCreatePage::~TCreatePage() {
  // A running job is stopped and waited for while the widgets still exist.
  runner_.reset();
}

bool TCreatePage::Busy() const { return BatchQueue && BatchQueue->Running(); }

std::vector<QWidget*> TCreatePage::WorkControls() const {
  return {ZipExitButton, OpenFilesZipButton, OpenFolderzipButton, ZipButton,     ZipUndoButton,
          BatchButton,   CreateTagButton,    ZipResetButton,      ZipHelpButton, ZipListView};
}

std::vector<QWidget*> TCreatePage::CommonControls() const {
  return {OpenFilesZipButton, OpenFolderzipButton, ZipHelpButton, ZipExitButton, ZipPropertiesButton};
}

void TCreatePage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{ZipExitButton, OpenFilesZipButton, OpenFolderzipButton,
                                                    ZipHelpButton, ZipListView})
    w->setEnabled(true);
  for (QWidget* w :
       std::initializer_list<QWidget*>{ZipButton, ZipUndoButton, BatchButton, CreateTagButton, ZipResetButton})
    w->setEnabled(false);
}

void TCreatePage::ClearCreateList() {
  UndoStack.clear();
  RemovedRows.clear();
  ZipListView->Model()->Clear();
  Host.Icons().ClearCache();
  Host.Settings().CreateOptionsEditable = true;
  Remove1->setEnabled(false);
  NumfilesEdit->setText("0");
  TotalFileSizeEdit->setText("0");
  ZipRunStarted = false;
}

void TCreatePage::EnableTimerTimer() {
  Host.EnableAll();
  SetFiveButtons(true);
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  ZipListView->setEnabled(true);
  ZipListView->setFocus();
  ZipStopButton->setEnabled(false);
  ZipProgressBar->setValue(0);
  ZipStatusBar->clearMessage();
}

// ---------------------------------------------------------------------------------------------
// Adding files

void TCreatePage::DateQuestion(bool modalFlag) {
  TSettings& s = Host.Settings();
  if (!s.OnlyNewerThanDate || s.CreateCutoffDate != 0) return;
  if (modalFlag) Host.SetModalDialogOpen(true);
  s.CreateCutoffDate = AskCutoffDate(this);
  if (modalFlag) Host.SetModalDialogOpen(false);
  if (s.CreateCutoffDate == -1) {
    s.OnlyNewerThanDate = false;
    s.CreateCutoffDate = 0;
  }
}

int64_t TCreatePage::NotBefore() const {
  const TSettings& s = Host.Settings();
  return s.OnlyNewerThanDate && s.CreateCutoffDate > 0 ? StartOfDay(s.CreateCutoffDate) : 0;
}

void TCreatePage::BeginAdding() {
  if (!ZipListView->HasRows()) {
    Host.Settings().CreateOptionsEditable = false;
    TotalBytes = 0;  // the list may have been emptied by the main window
  }
  UndoStack.PushUndoList();
  added_ = 0;
  sources_.clear();
  sources_.reserve(static_cast<size_t>(ZipListView->Count()) + 16);
  for (const TListRow& r : ZipListView->Model()->Rows()) sources_.insert(S(r.Extra));
}

void TCreatePage::FinishAdding() {
  if (added_ > 0) SetFiveButtons(true);
  if (!UndoStack.TopHasEntries()) UndoStack.PopUndoList();  // an action that added nothing
  sources_.clear();
  UpdateCounts();
  ZipStatusBar->clearMessage();
  ZipListView->setEnabled(true);
  ZipListView->setFocus();
}

void TCreatePage::SetFiveButtons(bool on) {
  for (QPushButton* b : {ZipUndoButton, BatchButton, CreateTagButton, ZipResetButton, ZipButton}) b->setEnabled(on);
}

void TCreatePage::UpdateCounts() {
  NumfilesEdit->setText(GroupedNumber(ZipListView->Count()));
  TotalFileSizeEdit->setText(GroupedNumber(TotalBytes));
}

bool TCreatePage::CheckForDupeZipFileDrop(const std::string& path) {
  if (const int64_t notBefore = NotBefore(); notBefore != 0) {
    TFoundFile found;
    if (FindRegularFile(path, found) && found.MTime < notBefore) return true;
  }
  if (!sources_.empty() || BatchCreateMode) return sources_.count(path) != 0;
  for (const TListRow& r : ZipListView->Model()->Rows())
    if (S(r.Extra) == path) return true;
  return false;
}

void TCreatePage::DropFileToZip(const std::string& path, const TFoundFile& found, int n) {
  const std::string name = ExtractFileName(path);
  const std::string stored =
      StoredPathOf(FolderOf(path), n, Host.Settings().SaveZipFolders, Host.Settings().RelativePaths);
  TListRow row = MakeRow(name, found, stored, path);
  if (!BatchCreateMode) {
    UndoStack.AddUndoEntry(UndoEntryRec{name, stored, found.Size});
    row.Icon = Host.Icons().FindFilesIcon(name);
  }
  TotalBytes += found.Size;
  ZipListView->Model()->Append(row);
  sources_.insert(path);
  ++added_;
}

void TCreatePage::OpenFilesZipButtonClick() {
  DateQuestion(false);
  TSettings& s = Host.Settings();
  const std::vector<std::string> files =
      Prompt().OpenFileNames("Select files to include in the Zip File", s.AddFilesFolder, "All files|*");
  if (files.empty()) {
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  s.AddFilesFolder = FolderOf(files.front());
  TWaitCursor wait;
  BeginAdding();
  const bool several = files.size() > 1;
  if (several) Host.DisableAll();
  int number = 0;
  for (const std::string& file : files) {
    ++number;
    if (several) ZipStatusBar->showMessage(QString::number(number));
    TFoundFile found;
    if (CheckForDupeZipFileDrop(file) || !FindRegularFile(file, found)) continue;
    DropFileToZip(file, found, FindEndingSlash(FolderOf(file)));
  }
  if (several) Host.EnableAll();
  FinishAdding();
}

void TCreatePage::OpenFolderzipButtonClick() {
  DateQuestion(true);
  std::string folder = Host.BrowseforFolder("SELECT FOLDER TO INCLUDE IN ZIP FILE...", false, false);
  if (folder.empty()) {
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  BeginAdding();
  Host.DisableAll();
  {
    TWaitCursor wait;
    ZipStatusBar->showMessage("0");
    AddFolderToList(folder);
  }
  Host.EnableAll();
  FinishAdding();
}

void TCreatePage::AddFolderToList(const std::string& chosen) {
  std::string folder = chosen;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  TScanSpec spec;
  spec.Folder = folder;
  spec.PrefixLength = FindEndingSlash(folder);
  spec.Recurse = Host.Settings().RecurseFolders;
  spec.SaveFolders = Host.Settings().SaveZipFolders;
  spec.Relative = Host.Settings().RelativePaths;
  spec.NotBefore = NotBefore();
  spec.MakeUndo = !BatchCreateMode;
  TAddFolderForm window(spec, this);
  Host.SetModalDialogOpen(true);
  ExecModal(window, "TAddFolderForm");
  Host.SetModalDialogOpen(false);
  ZipListViewdisplay(std::move(window.Rows), std::move(window.Undo), window.Total());
}

void TCreatePage::ZipListViewdisplay(std::vector<TListRow>&& rows, std::vector<UndoEntryRec>&& undo, int64_t total) {
  TotalBytes += total;
  if (!BatchCreateMode) {
    for (TListRow& r : rows) r.Icon = Host.Icons().FindFilesIcon(S(r.File));
    for (UndoEntryRec& e : undo) UndoStack.AddUndoEntry(std::move(e));
  }
  for (const TListRow& r : rows) sources_.insert(S(r.Extra));
  added_ += static_cast<int>(rows.size());
  ZipStatusBar->showMessage(GroupedNumber(static_cast<int64_t>(rows.size())));
  ZipListView->Model()->Append(std::move(rows));
}

void TCreatePage::UpdateZipWindow(const QStringList& paths) {
  DateQuestion(true);
  {
    TWaitCursor wait;
    ZipStatusBar->showMessage("0");
    BeginAdding();
    int number = 0;
    for (const QString& p : paths) {
      std::string path = S(p);
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        AddFolderToList(path);
        continue;
      }
      ZipStatusBar->showMessage(QString::number(++number));
      TFoundFile found;
      if (CheckForDupeZipFileDrop(path) || !FindRegularFile(path, found)) continue;
      DropFileToZip(path, found, FindEndingSlash(FolderOf(path)));
    }
  }
  Host.EnableAll();
  FinishAdding();
}

// ---------------------------------------------------------------------------------------------
// Undo, remove, reset

void TCreatePage::ZipUndoButtonClick() {
  if (Host.RunState().BatchBusy) return;
  TUndoStack& undo = UndoStack;
  if (undo.Empty()) {
    if (!ZipListView->HasRows()) Host.Settings().CreateOptionsEditable = true;
    BatchButton->setEnabled(true);
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  if (const int64_t removal = undo.TopRemoval(); removal >= 0) {
    // A removal: its rows go back to their places.
    std::vector<TListRow> rows = ZipListView->Model()->Rows();
    for (auto& [at, row] : RemovedRows[removal]) {
      TotalBytes += row.SizeValue;
      rows.insert(rows.begin() + std::min<ptrdiff_t>(at, static_cast<ptrdiff_t>(rows.size())), std::move(row));
    }
    RemovedRows.erase(removal);
    ZipListView->Model()->SetRows(std::move(rows));
    undo.PopUndoList();
    SetFiveButtons(true);
    UpdateCounts();
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  Host.DisableAll();
  {
    TWaitCursor wait;
    // Rows by caption and Path cell, in list order; each entry takes the first row still unclaimed.
    const std::vector<TListRow>& rows = ZipListView->Model()->Rows();
    std::unordered_map<std::string, std::vector<int>> byKey;
    byKey.reserve(rows.size());
    for (int i = static_cast<int>(rows.size()) - 1; i >= 0; --i)
      byKey[S(rows[i].File) + '\0' + S(rows[i].Path)].push_back(i);
    std::vector<int> doomed;
    int64_t count = 0;
    for (const UndoEntryRec& e : undo.Top()) {
      if ((++count & 1023) == 0) ZipStatusBar->showMessage(QString::number(count));
      auto it = byKey.find(e.FileName + '\0' + e.StoredPath);
      if (it == byKey.end() || it->second.empty()) continue;
      const int row = it->second.back();
      it->second.pop_back();
      TotalBytes -= rows[static_cast<size_t>(row)].SizeValue;
      doomed.push_back(row);
    }
    ZipListView->Model()->RemoveRows(std::move(doomed));
  }
  Host.EnableAll();
  undo.PopUndoList();
  if (undo.Empty()) SetFiveButtons(false);
  ZipStatusBar->clearMessage();
  UpdateCounts();
  ZipListView->setEnabled(true);
  ZipListView->setFocus();
  BatchButton->setEnabled(true);
  if (!ZipListView->HasRows()) {
    Host.Settings().CreateOptionsEditable = true;
    TotalBytes = 0;
    UpdateCounts();
  }
}

void TCreatePage::SelectAll2Click() {
  if (!ZipListView->HasRows()) return;
  ZipListView->SelectAllRows();
  Remove1->setEnabled(true);
}

void TCreatePage::Delete2Click() {
  if (!ZipListView->HasRows()) return;
  std::vector<int> selected = ZipListView->SelectedRows();
  if (selected.empty()) return;
  std::sort(selected.begin(), selected.end());
  // Kept for UNDO, which puts them back where they were.
  static int64_t nextRemoval = 0;
  const int64_t removal = nextRemoval++;
  auto& kept = RemovedRows[removal];
  for (int r : selected) {
    TotalBytes -= GroupedValue(ZipListView->Model()->Row(r).Size);
    kept.emplace_back(r, ZipListView->Model()->Row(r));
  }
  if (!BatchCreateMode) UndoStack.PushRemoval(removal);
  else RemovedRows.erase(removal);
  ZipListView->Model()->RemoveRows(std::move(selected));
  UpdateCounts();
  Remove1->setEnabled(false);
}

bool TCreatePage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ZipListView && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && ZipListView->isEnabled()) {
    Delete2Click();
    return true;
  }
  return TPage::eventFilter(watched, event);
}

void TCreatePage::ZipListViewSelectItem() { Remove1->setEnabled(!ZipListView->SelectedRows().empty()); }

void TCreatePage::ZipResetButtonClick() {
  Host.DisableAll();
  TWaitCursor wait;
  ZipStatusBar->clearMessage();
  UndoStack.DisposeUndoList();
  RemovedRows.clear();
  SetFiveButtons(false);
  ZipListView->Model()->Clear();
  Host.ClearTempFolders();
  Host.Icons().ClearCache();
  TotalBytes = 0;
  CreateTagEdit->clear();
  Host.Settings().CreateOptionsEditable = true;
  Host.EnableAll();
  SetFiveButtons(false);
  Host.SetCurrentArchiveFile({});
  ZipRunStarted = false;
  BatchButton->setEnabled(true);
  Remove1->setEnabled(false);
  NumfilesEdit->setText("0");
  TotalFileSizeEdit->setText("0");
}

void TCreatePage::ResetCreatePage() {
  ZipStatusBar->clearMessage();
  UndoStack.DisposeUndoList();
  RemovedRows.clear();
  ZipListView->Model()->Clear();
  sources_.clear();
  Host.ClearTempFolders();
  Host.Icons().ClearCache();
  TotalBytes = 0;
  Host.Settings().CreateOptionsEditable = true;
  Host.SetCurrentArchiveFile({});
  ZipRunStarted = false;
  NumfilesEdit->setText("0");
  TotalFileSizeEdit->setText("0");
  CreateTagEdit->clear();
}

bool TCreatePage::BatchAddFile(const std::string& path) {
  TFoundFile found;
  if (!FindRegularFile(path, found)) return false;
  if (!CheckForDupeZipFileDrop(path)) DropFileToZip(path, found, FindEndingSlash(FolderOf(path)));
  UpdateCounts();
  return true;
}

bool TCreatePage::BatchAddFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  AddFolderToList(folder);
  UpdateCounts();
  return true;
}

std::vector<TCreatePage::TRunRow> TCreatePage::SnapshotRows() const {
  std::vector<TRunRow> out;
  out.reserve(static_cast<size_t>(ZipListView->Count()));
  for (const TListRow& r : ZipListView->Model()->Rows()) out.push_back({S(r.Extra), S(r.Path), S(r.File)});
  return out;
}

void TCreatePage::Report(const std::string& text) {
  if (!BatchCreateMode) ShowError(text);
}
