#include "ops/Jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>
#include <unordered_set>

#include "core/TextUtil.h"
#include "ops/AdapterCommon.h"
#include "ops/CommentJob.h"
#include "platform/FileSystem.h"
#include "zip/ZipComment.h"

namespace fs = std::filesystem;

std::string TempNameBeside(const std::string& target) {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed =
      std::random_device{}() ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937_64 rng(seed + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(::getpid()));
  char tag[20];
  std::snprintf(tag, sizeof tag, "%08llx", static_cast<unsigned long long>(rng() & 0xffffffffULL));
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return folder + ".~" + tag + "-" + ExtractFileName(target);
}

TStatus OpenArchiveAdapter(const std::string& archive, TArchiveFormat format, TJobContext& ctx,
                           std::unique_ptr<IArchiveAdapter>& adapter) {
  struct stat st {};
  if (::stat(archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return {TStatusCode::NotFound, "cannot open " + archive + ": no such file"};
  if (format == TArchiveFormat::Unknown) {
    const TFormatMatch m = DetectArchiveFormat(archive);
    if (m.Status.Failed()) return m.Status;
    format = m.Format;
    if (format == TArchiveFormat::Unknown) return {TStatusCode::Unsupported, archive + ": not an archive of a known kind"};
  }
  adapter = MakeArchiveAdapter(format);
  return adapter->Open(archive, ctx);
}

// ---------------------------------------------------------------------------------------------------

TStatus TListJob::Execute(TJobContext& ctx) {
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, params_.Format, ctx, a);
  if (!a || s.Failed()) return s;
  format_ = a->Format();
  a->Comment(comment_);
  ctx.SetGivenPassword(params_.Password);
  if (OnCount && a->EntryCountHint() >= 0) OnCount(a->EntryCountHint());
  s = a->List(ctx, [&](const TArchiveEntry& e) {
    ++ctx.Counts.Entries;
    totalSize_ += e.Size;
    if (OnEntry) OnEntry(e);
  });
  // RAR reads its comment while listing.
  if (comment_.empty()) a->Comment(comment_);
  return s;
}

TStatus TTestJob::Execute(TJobContext& ctx) {
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, params_.Format, ctx, a);
  if (!a || s.Failed()) return s;
  format_ = a->Format();
  if (!params_.Selection.All() && !a->Can(capSelect)) return {TStatusCode::Unsupported, "only the whole file can be tested"};
  return a->Test(ctx, params_);
}

TStatus TExtractJob::Execute(TJobContext& ctx) {
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, params_.Format, ctx, a);
  if (!a || s.Failed()) return s;
  format_ = a->Format();
  ctx.OverwriteMode = params_.Overwrite;
  TExtractParams params = params_;
  if (params.AskAboutUnsafeNames && params.Selection.Patterns.empty()) {
    // Names that cleaning changes, among the chosen entries: asked about before anything is written.
    const std::unordered_set<TEntryId> chosen(params.Selection.Ids.begin(), params.Selection.Ids.end());
    std::vector<TUnsafeName> unsafe;
    std::vector<TEntryId> kept;
    s = a->List(ctx, [&](const TArchiveEntry& e) {
      if (!params.Selection.All() && !chosen.count(e.Id)) return;
      if (CleaningChangesName(e.Name)) unsafe.push_back({e.Name, CleanedEntryName(e.Name)});
      else kept.push_back(e.Id);
    });
    if (s.Failed()) return s;
    if (!unsafe.empty()) {
      switch (ctx.Questions().AskSecurity(unsafe)) {
        case TSecurityChoice::Halt: return TStatus::Cancelled("Halted: nothing was extracted");
        case TSecurityChoice::SkipUnsafe:
          for (const TUnsafeName& u : unsafe) ctx.Refused.push_back(u.EntryName);
          ctx.Counts.Skipped += static_cast<int64_t>(unsafe.size());
          if (kept.empty()) return TStatus::Warning("No entries were left to extract");
          params.Selection.Ids = std::move(kept);
          break;
        case TSecurityChoice::Ignore: break;
      }
    }
  }
  return a->Extract(ctx, params);
}

TStatus TCreateJob::Execute(TJobContext& ctx) {
  format_ = params_.Format != TArchiveFormat::Unknown ? params_.Format : FormatForNewArchive(params_.Target);
  if (format_ == TArchiveFormat::Unknown)
    return {TStatusCode::Unsupported, params_.Target + ": the name must end in .zip, .run, .tar, .tar.gz, .tgz or .gz"};
  if (params_.Items.empty()) return {TStatusCode::Failed, "nothing to add"};
  // The tag is checked before anything is written: a zip comment holds 65,535 bytes, a gzip header
  // comment ISO-8859-1 text.
  if (format_ == TArchiveFormat::Zip) {
    if (const size_t n = EncodeZipComment(params_.Comment).size(); n > kMaxZipCommentBytes)
      return {TStatusCode::Failed, "the tag takes " + FormatWithCommas(static_cast<int64_t>(n)) +
                                       " bytes; a zip comment holds at most 65,535"};
  } else if (params_.StoreComment) {
    std::string latin1;
    if (!Utf8ToLatin1(params_.Comment, latin1)) return {TStatusCode::Failed, kGzipTagCharset};
    params_.Comment = std::move(latin1);
  }
  if (params_.CheckSourcesFirst) {
    for (const TSourceItem& it : params_.Items) {
      if (it.Source.find_first_of("*?") != std::string::npos) continue;
      struct stat st {};
      if (::stat(it.Source.c_str(), &st) != 0)
        return TStatus::FromErrno(errno, it.Source, TStatusCode::Unreadable);
      if (S_ISDIR(st.st_mode)) continue;
      if (!S_ISREG(st.st_mode)) return {TStatusCode::Unreadable, it.Source + ": not a regular file"};
      if (::access(it.Source.c_str(), R_OK) != 0) return TStatus::FromErrno(errno, it.Source, TStatusCode::Unreadable);
    }
  }
  if (params_.KeepFree > 0 && format_ != TArchiveFormat::Zip) {
    const int64_t free = FreeOnDisk(params_.Target);
    if (free >= 0 && free < params_.KeepFree) return {TStatusCode::NoSpace, "No space left on the drive of " + params_.Target};
  }
  std::unique_ptr<IArchiveAdapter> a = MakeArchiveAdapter(format_);
  if (!a->Can(capCreate)) return {TStatusCode::Unsupported, std::string(ArchiveFormatName(format_)) + " archives cannot be created"};
  const bool spanned = format_ == TArchiveFormat::Zip && (params_.Zip.Span || params_.Zip.SpanErase);
  // A multi-disk set is written part by part by the component itself.
  const std::string part = spanned ? params_.Target : TempNameBeside(params_.Target);
  TStatus s = a->Create(ctx, part, params_);
  if (ctx.Cancelled() && s.Succeeded()) s = TStatus::Cancelled();
  if (spanned) {
    if (s.Succeeded()) archivePath_ = a->CreatedPath().empty() ? params_.Target : a->CreatedPath();
    return s;
  }
  if (s.Failed() || ctx.Status.Failed()) {
    ::unlink(part.c_str());
    return s.Failed() ? s : ctx.Status;
  }
  if (::rename(part.c_str(), params_.Target.c_str()) != 0) {
    const int err = errno;
    ::unlink(part.c_str());
    return TStatus::FromErrno(err, "Can't save " + params_.Target, TStatusCode::WriteFailed);
  }
  archivePath_ = params_.Target;
  return s;
}

TFileStamp FileStampOf(const std::string& path) {
  TFileStamp t;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return t;
  t.Size = st.st_size;
  t.MTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  t.Inode = st.st_ino;
  t.Device = st.st_dev;
  return t;
}

TStatus TRewriteJob::CheckBeforeRewrite(const std::string& archive, const TFileStamp& expected, uint64_t adding) {
  const TFileStamp now = FileStampOf(archive);
  if (!now.Taken()) return TStatus::FromErrno(errno, archive, TStatusCode::NotFound);
  if (expected.Taken() && !(now == expected)) {
    changed_ = true;
    return {TStatusCode::Failed, archive + " changed on disk since it was listed; nothing was written"};
  }
  // The new archive is written beside the one it replaces (a link: beside its target).
  std::error_code ec;
  fs::path real = fs::canonical(archive, ec);
  if (ec) real = fs::absolute(archive, ec);
  const std::string folder = real.parent_path().string();
  // Read-only by its mode bits too: they say so even to a user the system lets write anyway.
  struct stat st {};
  if (::access(real.c_str(), W_OK) != 0 || (::stat(real.c_str(), &st) == 0 && (st.st_mode & 0222) == 0))
    return {TStatusCode::WriteFailed, archive + " is read-only; nothing was written"};
  if (::access(folder.c_str(), W_OK | X_OK) != 0 || (::stat(folder.c_str(), &st) == 0 && (st.st_mode & 0222) == 0))
    return {TStatusCode::WriteFailed, "the folder " + folder + " is read-only; nothing was written"};
  const uint64_t needed = static_cast<uint64_t>(now.Size) + adding + 65000;
  const int64_t free = FreeOnDisk(folder);
  if (free >= 0 && static_cast<uint64_t>(free) < needed)
    return {TStatusCode::NoSpace, "not enough free space beside " + archive + " for its new copy (" +
                                      std::to_string(needed) + " bytes needed, " + std::to_string(free) +
                                      " free); nothing was written"};
  return {};
}

TStatus TRewriteJob::Finish(TJobContext& ctx, IArchiveAdapter& adapter, const std::string& archive, TStatus status) {
  stamp_ = FileStampOf(archive);
  if (status.Succeeded() && ctx.Status.Succeeded() && !ctx.Cancelled() && OnEntry) {
    // The adapter read the new directory after writing: list that one.
    TStatus listed = adapter.List(ctx, OnEntry);
    if (listed.Failed()) status.Merge(listed);
  }
  return status;
}

TStatus TUpdateJob::Execute(TJobContext& ctx) {
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, params_.Format, ctx, a);
  if (!a || s.Failed()) return s;
  if (!a->Can(capAdd)) return {TStatusCode::Unsupported, std::string(ArchiveFormatName(a->Format())) + " archives cannot be added to"};
  if (params_.Items.empty()) return {TStatusCode::Failed, "nothing to add"};
  uint64_t adding = 0;
  for (const TSourceItem& it : params_.Items) {
    struct stat st {};
    if (it.Source.find_first_of("*?") != std::string::npos && !params_.AllOrNothing) continue;
    const bool found = ::stat(it.Source.c_str(), &st) == 0;
    if (params_.AllOrNothing && (!found || (S_ISREG(st.st_mode) && ::access(it.Source.c_str(), R_OK) != 0))) {
      const TStatus e = TStatus::FromErrno(errno, it.Source, TStatusCode::Unreadable);
      return {e.Code(), e.Message() + "; nothing was written"};
    }
    if (found && S_ISREG(st.st_mode)) adding += static_cast<uint64_t>(st.st_size) + it.Source.size() * 2 + 128;
  }
  s = CheckBeforeRewrite(params_.Archive, params_.Expected, adding);
  if (s.Failed()) {
    Finish(ctx, *a, params_.Archive, s);
    return s;
  }
  return Finish(ctx, *a, params_.Archive, a->Add(ctx, params_));
}

TStatus TDeleteJob::Execute(TJobContext& ctx) {
  std::unique_ptr<IArchiveAdapter> a;
  TStatus s = OpenArchiveAdapter(params_.Archive, params_.Format, ctx, a);
  if (!a || s.Failed()) return s;
  if (!a->Can(capDelete))
    return {TStatusCode::Unsupported, std::string(ArchiveFormatName(a->Format())) + " archives cannot have entries deleted"};
  if (params_.Selection.All()) return {TStatusCode::Failed, "nothing to delete: name the entries"};
  s = CheckBeforeRewrite(params_.Archive, params_.Expected, 0);
  if (s.Failed()) {
    Finish(ctx, *a, params_.Archive, s);
    return s;
  }
  return Finish(ctx, *a, params_.Archive, a->Delete(ctx, params_.Selection));
}
