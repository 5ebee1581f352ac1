#include "ops/Job.h"

#include <new>

void TJobResult::AddUp(const TJobResult& other) {
  Status.Merge(other.Status);
  Counts.Entries += other.Counts.Entries;
  Counts.Files += other.Counts.Files;
  Counts.Folders += other.Counts.Folders;
  Counts.Links += other.Counts.Links;
  Counts.Skipped += other.Counts.Skipped;
  Counts.Bytes += other.Counts.Bytes;
  Refused.insert(Refused.end(), other.Refused.begin(), other.Refused.end());
  Warnings.insert(Warnings.end(), other.Warnings.begin(), other.Warnings.end());
}

TJob::TJob() = default;
TJob::~TJob() = default;

void TJob::Cancel() {
  std::lock_guard lock(mutex_);
  cancelRequested_ = true;
  if (ctx_) ctx_->RequestCancel();
}

bool TJob::CancelRequested() const {
  std::lock_guard lock(mutex_);
  return cancelRequested_ || (ctx_ && ctx_->Cancelled());
}

TJobResult TJob::Run() {
  TJobContext* ctx;
  {
    std::lock_guard lock(mutex_);
    ctx_ = std::make_unique<TJobContext>(Questions ? *Questions : defaultQuestions_);
    ctx = ctx_.get();
    if (cancelRequested_) ctx->RequestCancel();
  }
  ctx->OnProgress = OnProgress;
  ctx->OnMessage = OnMessage;
  TStatus status;
  try {
    status = Execute(*ctx);
  } catch (const std::bad_alloc&) {
    status = TStatus(TStatusCode::Failed, "Not enough memory");
  } catch (const std::exception& e) {
    status = TStatus(TStatusCode::Failed, e.what());
  }
  ctx->SetCancelHook({});
  // The operation's own verdict first; the messages seen on the way where it has none as serious.
  result_.Status = status;
  result_.Status.Merge(ctx->Status);
  if (result_.Status.Succeeded() && ctx->Cancelled()) result_.Status = TStatus::Cancelled();
  result_.Counts = ctx->Counts;
  result_.Refused = std::move(ctx->Refused);
  result_.Warnings = std::move(ctx->Warnings);
  return result_;
}
