// The unzip page's TAG: the comment of a zip archive (shown in "Edit Tag", written back in one
// rewrite) or the header comment of a gzip file or gzipped tar (shown read-only).
#include "core/Prompt.h"
#include "core/TextUtil.h"
#include "ops/CommentJob.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/common/JobRunner.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "tar/Gzip.h"
#include "zip/ZipComment.h"

namespace {
const char* const kNoTag = "THIS FILE CONTAINED NO TAG INFORMATION.";
}

void TUnzipPage::TAGButtonClick() {
  const std::string archive = Host.CurrentArchiveFile();
  if (archive.empty()) return;
  const std::string lower = LowerCase(archive);
  if (EndsWith(lower, ".zip")) {
    std::string raw;
    const TStatus read = ReadZipComment(archive, raw);
    if (read.Failed()) {
      ShowError("THE TAG COULD NOT BE READ.\n" + read.Message());
      return;
    }
    if (raw.empty()) {
      ShowInfo(kNoTag);
      return;
    }
    const std::string text = DecodeZipComment(raw);
    TBatchMemoTagForm window(text, false, this);
    Host.SetModalDialogOpen(true);
    const int answer = ExecModal(window, "TBatchMemoTagForm");
    Host.SetModalDialogOpen(false);
    if (answer != QDialog::Accepted || window.Text() == text) return;
    TCommentParams p;
    p.Archive = archive;
    p.Comment = window.Text();
    Host.DisableAll();
    TJobRunner runner;
    runner.Start(std::make_unique<TSetCommentJob>(std::move(p)));
    const TJobResult r = runner.Wait();
    Host.EnableAll();
    if (r.Status.Failed()) ShowError("THE TAG WAS NOT WRITTEN.\n" + r.Status.Message());
    return;
  }
  if (EndsWith(lower, ".gz") || EndsWith(lower, ".tgz")) {
    TGzip gz;
    gz.FileSource = archive;
    gz.WindowOnError = false;
    if (gz.ReadHeader() != 0) {
      ShowError("THE TAG COULD NOT BE READ.\n" + gz.ErrorText);
      return;
    }
    if (gz.HeaderComment.empty()) {
      ShowInfo(kNoTag);
      return;
    }
    TBatchMemoTagForm window(Latin1ToUtf8(gz.HeaderComment), true, this);
    Host.SetModalDialogOpen(true);
    ExecModal(window, "TBatchMemoTagForm");
    Host.SetModalDialogOpen(false);
    return;
  }
  ShowInfo("NO TAG INFO FOR THIS FILE TYPE.");
}
