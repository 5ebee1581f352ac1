// The unzip page's two filters. Both scan the full list in slices so that the window keeps handling
// its events while a million rows are looked at, and show their result in the filtered list, whose
// rows are copies that remember their source row.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <algorithm>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveTree.h"
#include "pages/unzip/EntryFilters.h"
#include "pages/unzip/FilterForms.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Desktop.h"

namespace {
const char* const kNoTypeMatch = "NO ITEMS WERE FOUND THAT MATCHED THE PARAMETERS YOU SPECIFIED.";
const char* const kNoFolders = "THERE ARE NO FOLDERS TO DISPLAY IN THIS FILE.";
const char* const kNoFolderMatch = "THERE WERE NO FILES THAT MATCHED THE FOLDER CONFIGURATON YOU SELECTED.";
constexpr qint64 kSliceMs = 20;
}  // namespace

void TUnzipPage::InSlices(int64_t count, const std::function<void(int64_t)>& f) {
  QElapsedTimer clock;
  clock.start();
  for (int64_t i = 0; i < count; ++i) {
    f(i);
    if ((i & 1023) == 1023 && clock.elapsed() >= kSliceMs) {
      UnzipProgressBar->setValue(static_cast<int>(std::min<int64_t>(UnzipProgressBar->maximum(), UnzipProgressBar->value() + 1)));
      QCoreApplication::processEvents();
      clock.restart();
    }
  }
}

void TUnzipPage::ScanRows(const std::function<void(int64_t)>& f) {
  Host.DisableAll();
  filtering_ = true;
  InSlices(UnzipListView->Count(), f);
  filtering_ = false;
  Host.EnableAll();
  UnzipProgressBar->setValue(0);
}

std::vector<TListRow> TUnzipPage::FilterRows(const std::function<void(int, const TListRow&)>& scan,
                                             const std::function<std::vector<int>()>& kept) {
  const std::vector<TListRow>& all = UnzipListView->Model()->Rows();
  std::vector<TListRow> rows;
  Host.DisableAll();
  filtering_ = true;
  InSlices(static_cast<int64_t>(all.size()), [&](int64_t i) { scan(static_cast<int>(i), all[static_cast<size_t>(i)]); });
  const std::vector<int> chosen = kept();
  rows.reserve(chosen.size());
  InSlices(static_cast<int64_t>(chosen.size()), [&](int64_t k) {
    const int i = chosen[static_cast<size_t>(k)];
    rows.push_back(all[static_cast<size_t>(i)]);
    rows.back().Data = i;
  });
  filtering_ = false;
  QCoreApplication::processEvents();
  Host.EnableAll();
  UnzipProgressBar->setValue(0);
  // The window repaints its controls before the result is shown.
  QCoreApplication::processEvents();
  return rows;
}

void TUnzipPage::ShowFilteredRows(std::vector<TListRow>&& rows) {
  UnzipFilteredListView->Model()->SetRows(std::move(rows));
  const bool selectAll = Host.Settings().SelectAllOnLoad;
  if (selectAll) UnzipFilteredListView->SelectAllRows();
  SetSelectionButtons(selectAll);
  if (!FilteredShown()) {
    UnzipListView->setEnabled(false);
    ShowFilteredList();
  }
  UnzipFilteredListView->setFocus();
}

void TUnzipPage::SelectButtonClick() {
  if (Busy() || !UnzipListView->HasRows()) return;
  SetWaitCursor(true);
  const std::vector<TListRow>& all = UnzipListView->Model()->Rows();
  // Types the icon list knows nothing of: rows with the plain file icon and an extension.
  QStringList unknown;
  QSet<QString> seen;
  ScanRows([&](int64_t i) {
    const TListRow& r = all[static_cast<size_t>(i)];
    if (r.Icon != 1) return;
    const QString ext = RowExtension(r.File);
    if (!ext.isEmpty() && !seen.contains(ext)) {
      seen.insert(ext);
      unknown << ext;
    }
  });
  TUnzipFileTypeform form([this] { Host.OpenHelpPage("filter.html"); }, this);
  TIconLists& icons = Host.Icons();
  for (size_t i = 0; i < icons.IconExtensionCache.size(); ++i) {
    const std::string& ext = icons.IconExtensionCache[i];
    if (ext == "*") continue;
    const std::string description = MimeDescriptionForExtension(ext);
    const QString e = QString::fromStdString(ext);
    form.AddType(description.empty() ? e + " " + e.mid(1).toUpper() + "File" : e + "   " + QString::fromStdString(description),
                 icons.Icon(static_cast<int>(i) + 4));
  }
  for (const QString& ext : unknown) form.AddType(ext + " " + ext.mid(1).toUpper() + "File", icons.Icon(1));
  SetWaitCursor(false);
  const int result = ExecModal(form, "TUnzipFileTypeform");
  if (result == TUnzipFileTypeform::kOk) {
    UnzipFilteredListviewClear();
    const TFileTypeFilter filter = form.Inputs();
    std::vector<int> kept;
    std::vector<TListRow> rows = FilterRows(
        [&](int i, const TListRow& r) {
          if (filter.Matches(r)) kept.push_back(i);
        },
        [&] { return std::move(kept); });
    if (!rows.empty()) {
      ShowFilteredRows(std::move(rows));
    } else {
      ShowError(kNoTypeMatch);
      SetSelectionButtons(VisibleList()->selectionModel()->hasSelection());
    }
  } else if (result == TUnzipFileTypeform::kDisplayAll && FilteredShown()) {
    SetFilteredSelect();
    UnzipFilteredListviewClear();
    ShowUnzipListView();
    UnzipListView->setFocus();
    SetSelectionButtons(UnzipListView->selectionModel()->hasSelection());
  }
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}

void TUnzipPage::FolderFilterButtonClick() {
  if (Busy() || !UnzipListView->HasRows()) return;
  const std::vector<TListRow>& all = UnzipListView->Model()->Rows();
  SetWaitCursor(true);
  UnzipProgressBar->setMaximum(100);
  UnzipProgressBar->setValue(0);
  // The folders of the rows as a tree, and the types of their names.
  TArchiveTree tree;
  tree.Begin(QString::fromStdString(ExtractFileName(Host.CurrentArchiveFile())));
  QSet<QString> types;
  ScanRows([&](int64_t i) {
    const TListRow& r = all[static_cast<size_t>(i)];
    if (!r.File.isEmpty()) {
      const QString ext = RowExtension(r.File);
      types.insert(ext.isEmpty() ? kUnknownType : ext);
    }
    if (!r.Path.isEmpty()) tree.AddFolder(r.Path);
  });
  tree.Finish();
  if (!tree.HasFolders()) {
    SetWaitCursor(false);
    ShowError(kNoFolders);
    VisibleList()->setEnabled(true);
    VisibleList()->setFocus();
    return;
  }
  TFolderFilterForm form(tree, [this](int i) { return Host.Icons().Icon(i); }, [this] { Host.OpenHelpPage("filter.html"); },
                         this);
  QStringList sortedTypes(types.begin(), types.end());
  sortedTypes.sort();
  for (const QString& t : sortedTypes) form.AddFileType(t);
  SetWaitCursor(false);
  const int result = ExecModal(form, "TFolderFilterForm");
  if (result == TFolderFilterForm::kDisplayAll) {
    UnzipFilteredListviewClear();
    ShowUnzipListView();
  } else if (result == TFolderFilterForm::kOk && form.FolderList->count() > 0) {
    const std::vector<TFolderChoice> chosen = form.Folders();
    const QString type = form.FileTypeChoice();
    UnzipFilteredListviewClear();
    TFolderFilterScan scan(chosen, type);
    std::vector<TListRow> rows =
        FilterRows([&](int i, const TListRow& r) { scan.Add(r, i); }, [&] { return scan.Kept(); });
    if (!rows.empty()) {
      ShowFilteredRows(std::move(rows));
    } else {
      ShowError(kNoFolderMatch);
      UnzipFilteredListView->setEnabled(false);
      ShowUnzipListView();
    }
  }
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}
