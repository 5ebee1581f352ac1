#include "ops/CommentJob.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/TextUtil.h"
#include "zip/ZipComment.h"

namespace fs = std::filesystem;

const char* const kGzipTagCharset = "a gzip header comment holds only ISO-8859-1 (Latin-1) characters";

TStatus TSetCommentJob::Execute(TJobContext& ctx) {
  const std::string raw = EncodeZipComment(params_.Comment);
  if (raw.size() > kMaxZipCommentBytes)
    return {TStatusCode::Failed, "the tag takes " + FormatWithCommas(static_cast<int64_t>(raw.size())) +
                                     " bytes; a zip comment holds at most 65,535"};
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, TArchiveFormat::Zip, ctx, a);
  if (!a || s.Failed()) return s;
  s = CheckBeforeRewrite(params_.Archive, params_.Expected, raw.size());
  if (s.Failed()) return Finish(ctx, *a, params_.Archive, s);
  std::error_code ec;
  fs::path real = fs::canonical(params_.Archive, ec);
  if (ec) real = fs::absolute(params_.Archive, ec);
  const std::string temp = TempNameBeside(real.string());
  s = CopyZipWithComment(real.string(), temp, raw);
  if (s.Succeeded() && ctx.Cancelled()) s = TStatus::Cancelled();
  if (s.Succeeded() && ::rename(temp.c_str(), real.c_str()) != 0)
    s = TStatus::FromErrno(errno, "Can't save " + params_.Archive, TStatusCode::WriteFailed);
  if (s.Failed()) ::unlink(temp.c_str());
  return Finish(ctx, *a, params_.Archive, s);
}
