// The update page's tag: EDIT TAG writes the tag box as the archive's zip comment.
#include <QLineEdit>

#include "core/Prompt.h"
#include "ops/CommentJob.h"
#include "pages/common/FileList.h"
#include "pages/common/JobRunner.h"
#include "pages/update/UpdatePage.h"

void TUpdatePage::UpdateTagButtonClick() {
  if (busy_ || !HasRows() || Host.CurrentArchiveFile().empty()) return;
  TCommentParams p;
  p.Archive = Host.CurrentArchiveFile();
  p.Comment = UpdateTagEdit->text().toStdString();
  p.Expected = stamp_;
  for (QWidget* w : WorkControls()) w->setEnabled(false);
  SetWaitCursor(true);
  busy_ = true;
  runner_->Start(std::make_unique<TSetCommentJob>(std::move(p)));
  const TJobResult r = runner_->Wait();
  busy_ = false;
  const auto* job = static_cast<const TRewriteJob*>(runner_->Job());
  SetWaitCursor(false);
  // A failure lists the archive again, tag box included, as it stands on disk.
  if (r.Status.Failed()) ReportFailure(r, job->ArchiveChanged());
  else stamp_ = job->Stamp();
  EnableWorkControls();
  EnableCommonControls();
  SetStepTwo(HasRows());
  UpdateListView->setEnabled(true);
  UpdateListView->setFocus();
}
