#include "pages/images/ImageBrowser.h"

#include <QApplication>
#include <QProgressBar>
#include <QStatusBar>
#include <algorithm>
#include <filesystem>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "images/PictureService.h"
#include "images/PictureTypes.h"
#include "images/Thumbnails.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/JobRunner.h"
#include "pages/common/PageHost.h"
#include "pages/common/PromptService.h"
#include "pages/images/ImageBrowserForm.h"
#include "pages/images/ImageForm.h"
#include "pages/images/ThumbProgressForm.h"
#include "pages/images/ThumbsizeForm.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/UnzipPopupMenu.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"

namespace fs = std::filesystem;

namespace {

const char* const kNoPictures = "THIS FILE CONTAINED NO RECOGNIZED GRAPHICS FILES.";
const char* const kNoThumbnails =
    "THIS FILE CONTAINED NO RECOGNIZED GRAPHICS FILES OR THE FILES CONTAINED ERRORS AND CANNOT BE DISPLAYED.";

std::string NoRoomText(const std::string& folder) {
  return "THE COMPUTER COULD NOT FIND ENOUGH ROOM FOR THE GRAPHICS FILES ON THE FILE SYSTEM OF \"" + folder + "\"";
}

}  // namespace

TImageBrowserRun::TImageBrowserRun(TUnzipPage& page, IPageHost& host) : QObject(&page), page_(page), host_(host) {
  setObjectName("TImageBrowserRun");
  Timer.setInterval(500);
  connect(&Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
}

TImageBrowserRun::~TImageBrowserRun() {
  Timer.stop();
  if (thumbs_) thumbs_->Stop();
  thumbs_.reset();
  runner_.reset();
}

TImageBrowserRun& TImageBrowserRun::Of(TUnzipPage& page, IPageHost& host) {
  if (auto* run = page.findChild<TImageBrowserRun*>("TImageBrowserRun", Qt::FindDirectChildrenOnly)) return *run;
  return *new TImageBrowserRun(page, host);
}

void TImageBrowserRun::OpenImageBrowser() {
  if (running_ || page_.Busy()) return;
  TFileListView* visible = page_.VisibleList();
  if (!visible || !visible->HasRows()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  running_ = true;

  // Room for the pictures beside the program's temporary files.
  int64_t needed = 0;
  for (const TListRow& r : visible->Model()->Rows())
    if (HasPictureExtension(r.File.toStdString())) needed += r.SizeValue;
  const TTempFolders& temp = host_.TempFolders();
  temp.EnsureFolders();
  const std::string folder = temp.ImageFolder();
  if (FreeOnDisk(folder) < needed) {
    QApplication::restoreOverrideCursor();
    ShowError(NoRoomText(temp.TempFolder()));
    running_ = false;
    return;
  }

  page_.UnzipListView->SelectNone();
  page_.UnzipFilteredListView->SelectNone();
  thumbSize_ = std::clamp(host_.Settings().ThumbSize, kMinThumbSize, kMaxThumbSize);

  // The picture rows of the list shown, highlighted.
  pictures_.clear();
  TFileListView* list = page_.FilteredShown() && page_.UnzipFilteredListView->HasRows() ? page_.UnzipFilteredListView
                                                                                        : page_.UnzipListView;
  std::vector<int> rows;
  for (int i = 0; i < list->Count(); ++i) {
    const TListRow& r = list->Model()->Row(i);
    if (!HasPictureExtension(r.File.toStdString())) continue;
    rows.push_back(i);
    pictures_.push_back(folder + "/" + (r.Path + r.File).toStdString());
  }
  list->SelectRows(rows);
  if (pictures_.empty()) {
    QApplication::restoreOverrideCursor();
    ShowInfo(kNoPictures);
    running_ = false;
    return;
  }
  DoGraphicsUnzip(folder);
}

void TImageBrowserRun::DoGraphicsUnzip(const std::string& folder) {
  // The run works on the full list: a filtered list hands over its highlight.
  if (page_.FilteredShown() && !page_.UnzipFilteredListView->SelectedRows().empty()) {
    page_.SetFilteredSelect();
    page_.UnzipFilteredListviewClear();
  }
  if (page_.FilteredShown()) page_.ShowUnzipListView();

  TExtractParams p;
  p.Archive = host_.CurrentArchiveFile();
  const TArchiveFormat format = page_.OpenedFormat();
  p.Format = format == TArchiveFormat::TarGz ? TArchiveFormat::Tar : format;
  p.Destination = folder;
  p.DirNames = true;
  p.Overwrite = TOverwriteMode::Always;  // an older copy in the folder is replaced without a question
  p.Update = p.Freshen = false;
  const TFileListModel& m = *page_.UnzipListView->Model();
  for (int r : page_.UnzipListView->SelectedRows())
    if (m.Row(r).Id >= 0) p.Selection.Ids.push_back(static_cast<TEntryId>(m.Row(r).Id));
  if (p.Selection.Ids.empty()) {
    CreateLVThumbnails();
    return;
  }
  page_.InteractiveUnzip = false;
  host_.DisableAll();
  if (!runner_) runner_ = std::make_unique<TJobRunner>(this);
  QProgressBar* bar = page_.UnzipProgressBar;
  runner_->Start(
      std::make_unique<TExtractJob>(std::move(p)),
      [bar](const TJobProgress& progress) {
        if (progress.Total > 0) bar->setValue(static_cast<int>(std::min<uint64_t>(100, progress.Done * 100 / progress.Total)));
      },
      [this](const TStatus& message) { page_.UnzipStatusBar->showMessage(QString::fromStdString(message.Text())); },
      [this, bar](const TJobResult& result) {
        bar->setValue(0);
        page_.InteractiveUnzip = true;
        host_.EnableAll();
        page_.UnzipListView->setEnabled(true);
        if (result.Status.Failed() && !result.Status.IsCancelled())
          page_.UnzipStatusBar->showMessage(QString::fromStdString("Pictures: " + result.Status.Text()));
        CreateLVThumbnails();
      });
}

void TImageBrowserRun::CreateLVThumbnails() {
  progress_ = new TThumbProgressForm(page_.window());
  progress_->setAttribute(Qt::WA_DeleteOnClose);
  progress_->ProgressBar->setRange(0, static_cast<int>(pictures_.size()));
  progress_->ProgressBar->setValue(0);
  thumbs_ = std::make_unique<TThumbThread>(pictures_, thumbSize_);
  progress_->OnStop = [this] {
    if (thumbs_) thumbs_->Stop();
  };
  progress_->show();
  thumbs_->Start();
  Timer.start();
}

void TImageBrowserRun::TimerTimer() {
  if (!thumbs_) return Timer.stop();
  if (progress_) progress_->ProgressBar->setValue(thumbs_->DoneCount());
  if (!thumbs_->Done()) return;
  Timer.stop();
  std::vector<TThumbItem> items = thumbs_->TakeResults();
  thumbs_.reset();

  // Pictures that gave no thumbnail are left out, with a note.
  std::vector<TThumbModel::Row> rows;
  std::vector<std::string> left;
  for (size_t i = 0; i < items.size(); ++i) {
    TThumbItem& item = items[i];
    const std::string name = fs::path(item.Path).filename().string();
    if (item.Status.Failed()) {
      left.push_back(name + " (" + item.Status.Text() + ")");
      continue;
    }
    rows.push_back({QString::fromStdString(name), item.Path, std::move(item.Thumb), false, static_cast<int>(i)});
  }
  if (!left.empty()) {
    std::string note = left.size() == 1 ? "1 picture left out: " : std::to_string(left.size()) + " pictures left out: ";
    for (size_t i = 0; i < left.size() && i < 3; ++i) note += (i ? ", " : "") + left[i];
    if (left.size() > 3) note += ", ...";
    page_.UnzipStatusBar->showMessage(QString::fromStdString(note));
  }
  if (progress_) {
    progress_->ProgressBar->setValue(progress_->ProgressBar->maximum());
    progress_->close();
  }
  QApplication::restoreOverrideCursor();
  if (rows.empty()) {
    ShowInfo(kNoThumbnails);
    End();
    return;
  }
  int result;
  {
    TImageBrowserForm browser(host_, thumbSize_, page_.window());
    browser.Model()->Append(std::move(rows));
    browser_ = &browser;
    result = ExecModal(browser, "TImageBrowserForm");
    browser_ = nullptr;
  }
  End();
  if (result == TImageBrowserForm::kExit) {
    host_.CloseProgram();
  } else if (result == TImageBrowserForm::kClear) {
    page_.ResetUnzipPage();
  } else if (!page_.FilteredShown()) {
    page_.UnzipListView->setEnabled(true);
    page_.UnzipListView->setFocus();
  }
}

void TImageBrowserRun::End() {
  pictures_.clear();
  pictures_.shrink_to_fit();
  running_ = false;
}

int ViewAnImage(const std::string& path, IPageHost& host) {
  TPicture picture = LoadPicture(path, TPictureUse::View);
  if (picture.Status.Failed() || picture.Info.Height <= 0 || picture.Info.Width <= 0) {
    if (!picture.ViewMessage.empty()) ShowError(picture.ViewMessage);
    return 0;
  }
  TImageForm form(picture.Image, picture.Info, host.Settings().FitPictureToScreen);
  picture.Image = QImage();
  return ExecModal(form, "TImageForm");
}

void InstallImageBrowser(TUnzipPage& page, IPageHost& host) {
  TImageBrowserRun& run = TImageBrowserRun::Of(page, host);
  page.AutoThumbTimer.setSingleShot(true);
  QObject::connect(&page.AutoThumbTimer, &QTimer::timeout, &run, [&run] { run.OpenImageBrowser(); });
  page.UnzipPopupMenu->AddEntry("Image Browser", [&run] { run.OpenImageBrowser(); }, [&page, &run] {
    const TFileListView* list = page.VisibleList();
    return list && list->HasRows() && !run.Running() && !page.Busy();
  });
  FillThumbSizeMenu(*page.UnzipPopupMenu->AddSubMenu("Thumbnail Size"), host.Settings());
  page.Launcher().IsPicture = [](const std::string& name) { return HasPictureExtension(name); };
  page.Launcher().PictureViewer = [&page, &host](const std::string& file) {
    // "Unzip" in the viewer: the ordinary extraction of the highlighted entries, once the launch has ended.
    if (ViewAnImage(file, host) == TImageForm::kUnzip)
      QTimer::singleShot(0, &page, [&page] { page.UnzipButtonClick(); });
  };
}
