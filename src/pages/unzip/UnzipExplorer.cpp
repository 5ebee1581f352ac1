// The unzip page's explorer window: built from the full list's rows, it answers with the whole archive,
// one folder with its subfolders or one file, which is then highlighted and extracted; files opened in
// it are launched from the page.
#include <QPushButton>

#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveTree.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/ExplorerForm.h"
#include "pages/unzip/UnzipPage.h"

void TUnzipPage::TreeButtonClick() {
  if (Busy() || UnzipListView->Count() < 1) return;
  SetWaitCursor(true);
  // The tree is built on a worker (half a second for a million entries) while the window keeps
  // handling its events; the page is busy meanwhile, so the rows stay as they are.
  TArchiveTree tree;
  const QString name = QString::fromStdString(ExtractFileName(Host.CurrentArchiveFile()));
  const std::vector<TListRow>& listed = UnzipListView->Model()->Rows();
  Host.DisableAll();
  filtering_ = true;
  RunOnWorker([&] { tree.Build(name, listed, true); });
  filtering_ = false;
  Host.EnableAll();
  TUnzipTreeviewForm::THooks hooks;
  hooks.Icon = [this](int i) { return Host.Icons().Icon(i); };
  hooks.Open = [this](int row, TLaunchProgram program) { UnzipLaunchfileFromTreeview(row, program); };
  hooks.IsPicture = [this](const QString& name) {
    const std::string n = name.toStdString();
    return launcher_->IsPicture ? launcher_->IsPicture(n) : TEntryLauncher::DesktopSaysPicture(n);
  };
  hooks.Help = [this] { Host.OpenHelpPage("tree.html"); };
  hooks.WordPadAvailable = Host.Settings().WordPadAvailable;
  hooks.QuickViewConfigured = !Host.Settings().QuickViewProgram.empty();
  TUnzipTreeviewForm form(tree, std::move(hooks), this);
  SetWaitCursor(false);
  const int result = ExecModal(form, "TUnzipTreeviewForm");
  const int answer = form.Answer();
  if (answer < 0 || result == TUnzipTreeviewForm::kClosed) return;
  if (FilteredShown()) {
    UnzipFilteredListviewClear();
    ShowUnzipListView();
  }
  std::vector<int> rows;
  if (result == TUnzipTreeviewForm::kAll)
    rows = tree.RowsBelow(0);
  else if (result == TUnzipTreeviewForm::kFolder || result == TUnzipTreeviewForm::kFile)
    rows = tree.RowsBelow(answer);
  if (result == TUnzipTreeviewForm::kAll) {
    UnzipListView->SelectAllRows();  // folder entries too
  } else {
    UnzipListView->SelectRows(rows);
  }
  SetSelectionButtons(UnzipListView->selectionModel()->hasSelection());
  // A folder goes with the entries of its folders, which are no rows (empty folders are made too),
  // taken by name; not for a name that would match as a pattern of others ("*", "?", "[").
  const std::string chosen = tree.PathOf(answer).toStdString() + "/";
  if (result == TUnzipTreeviewForm::kFolder && chosen.find_first_of("*?[") == std::string::npos) folderChoice_ = {chosen};
  if (UnzipListView->selectionModel()->hasSelection()) DoUnzip(TreeButton);
  folderChoice_.clear();
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}

void TUnzipPage::UnzipLaunchfileFromTreeview(int row, TLaunchProgram program) {
  if (row < 0 || row >= UnzipListView->Count()) return;
  UnzipFilteredListView->SelectNone();
  UnzipListView->SelectRows({row});
  UnzipLaunchFile(program);
}
