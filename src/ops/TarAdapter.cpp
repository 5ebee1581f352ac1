// The tar and tar.gz adapter (TTarArchive, TTarExtractor, TArchiveCreator) and the gzip adapter
// (TGzip, TGzReader, the same extractor and creator).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <unordered_set>
#include <vector>

#include "core/TextUtil.h"
#include "ops/AdapterCommon.h"
#include "platform/FileSystem.h"
#include "tar/ArchiveCreator.h"
#include "tar/Gzip.h"
#include "tar/GzipStream.h"
#include "tar/TarExtractor.h"
#include "tar/TarLib.h"

namespace fs = std::filesystem;

namespace {

TEntryKind KindOf(TTarEntryKind k) {
  switch (k) {
    case TTarEntryKind::Regular:
    case TTarEntryKind::Contiguous: return TEntryKind::File;
    case TTarEntryKind::Directory: return TEntryKind::Folder;
    case TTarEntryKind::SymbolicLink: return TEntryKind::SymLink;
    case TTarEntryKind::Link: return TEntryKind::HardLink;
    case TTarEntryKind::CharFile: return TEntryKind::CharDevice;
    case TTarEntryKind::BlockFile: return TEntryKind::BlockDevice;
    case TTarEntryKind::FifoFile: return TEntryKind::Fifo;
    case TTarEntryKind::VolumeHeader: return TEntryKind::Label;
    default: return TEntryKind::Other;
  }
}

// A failure text of the tar and gzip classes, with the code it calls for.
TStatus TarFailure(const std::string& text, TStatusCode fallback = TStatusCode::Damaged) {
  if (text.find("No space left") != std::string::npos || text.find("Disk quota") != std::string::npos)
    return {TStatusCode::NoSpace, text};
  if (text.rfind("Can't create", 0) == 0 || text.rfind("Can't write", 0) == 0 || text.rfind("Can't open folder", 0) == 0 ||
      text.rfind("Can't rename", 0) == 0)
    return {TStatusCode::WriteFailed, text};
  if (text.rfind("Can't open", 0) == 0 || text.rfind("Can't read", 0) == 0) return {TStatusCode::Unreadable, text};
  return {fallback, text};
}

// Selection by identity (header offset) and by name (the tar extractor's rule: the name itself or
// what lies below it; no wildcards).
class TTarSelector {
 public:
  explicit TTarSelector(const TSelection& s) : ids_(s.Ids.begin(), s.Ids.end()), patterns_(s.Patterns), all_(s.All()) {
    for (std::string& p : patterns_)
      while (!p.empty() && p.back() == '/') p.pop_back();
  }
  bool operator()(const TTarDirRec& rec) const {
    if (all_ || ids_.count(static_cast<TEntryId>(rec.HeaderPos))) return true;
    std::string n = rec.Name;
    while (!n.empty() && n.back() == '/') n.pop_back();
    for (const std::string& w : patterns_)
      if (n == w || (n.size() > w.size() && n.compare(0, w.size(), w) == 0 && n[w.size()] == '/')) return true;
    return false;
  }

 private:
  std::unordered_set<TEntryId> ids_;
  std::vector<std::string> patterns_;
  bool all_;
};

// The outcome of a tar extractor's run, into the context.
TStatus TakeResult(TJobContext& ctx, const TTarExtractResult& r) {
  ctx.Counts.Files += r.Files;
  ctx.Counts.Folders += r.Folders;
  ctx.Counts.Links += r.Links;
  ctx.Counts.Skipped += r.Skipped;
  for (const std::string& w : r.Warnings) {
    // "name: reason"
    const size_t colon = w.find(": ");
    ctx.Refused.push_back(colon == std::string::npos ? w : w.substr(0, colon));
    ctx.Message(TStatus::Warning(w));
  }
  for (const std::string& n : r.Notes) ctx.Message(TStatus::Warning(n));
  if (r.Cancelled) return TStatus::Cancelled();
  if (!r.Ok) return TarFailure(r.Error.empty() ? "extraction failed" : r.Error);
  return {};
}

// Overwrite questions of the tar extractor through the context.
void WireOverwrite(TTarExtractor& x, TJobContext& ctx, TArchiveFormat format) {
  x.OnOverwrite = [&ctx, format](const TTarDirRec& entry, const std::string& diskPath) {
    TOverwriteQuestion q;
    q.Format = format;
    q.EntryName = entry.Name;
    q.DiskPath = diskPath;
    q.EntrySize = static_cast<uint64_t>(std::max<int64_t>(entry.Size, 0));
    q.EntryTime = DateTimeToUnix(entry.ModTime);
    if (ctx.Overwrite(q)) return TOverwriteAnswer::Yes;
    return ctx.Cancelled() ? TOverwriteAnswer::Cancel : TOverwriteAnswer::No;
  };
  x.OnProgress = [&ctx](int64_t done, int64_t total, const std::string& name) {
    ctx.Progress(static_cast<uint64_t>(std::max<int64_t>(done, 0)), static_cast<uint64_t>(std::max<int64_t>(total, 0)),
                 name);
  };
  ctx.SetCancelHook([&x] { x.Cancel = true; });
}

// Streams the data of the current entry through a buffer (reading is checking).
uint64_t ReadThrough(TTarArchive& ar, std::vector<char>& buf, TJobContext& ctx) {
  uint64_t n = 0;
  for (;;) {
    const size_t got = ar.ReadData(buf.data(), buf.size());
    if (got == 0) break;
    n += got;
    if (ctx.Cancelled()) break;
  }
  return n;
}

// Makes a tar, tar.gz or gzip file through TArchiveCreator.
TStatus CreateWith(TJobContext& ctx, TArchiveKind kind, const std::string& path, const TCreateParams& p,
                   const std::vector<TArchiveItem>& items) {
  TArchiveCreator c;
  c.Kind = kind;
  c.Items = items;
  c.CompressionLevel = p.Level;
  c.Comment = p.Comment;
  c.StoreComment = p.StoreComment;
  c.KeepAttributes = p.Tar.KeepAttributes;
  c.Permissions = p.Tar.Permissions;
  c.UserId = p.Tar.UserId;
  c.GroupId = p.Tar.GroupId;
  c.UserName = p.Tar.UserName;
  c.GroupName = p.Tar.GroupName;
  c.Magic = p.Tar.Magic;
  c.VolumeHeader = kind == TArchiveKind::Gz ? std::string() : p.Tar.VolumeHeader;
  c.SkipUnreadable = p.SkipUnreadable;
  // The room left is looked at with each progress call (every few megabytes). Without a listener and
  // without a room check the creator is given no progress call and skips summing the sizes (a second
  // stat of every file).
  bool noRoom = false;
  if (ctx.OnProgress || p.KeepFree > 0)
    c.OnProgress = [&ctx, &c, &p, &path, &noRoom](uint64_t done, uint64_t total, const std::string& name) {
      if (p.KeepFree > 0 && !name.empty()) {
        const int64_t free = FreeOnDisk(path);
        if (free >= 0 && free < p.KeepFree) {
          noRoom = true;
          c.Cancel = true;
        }
      }
      ctx.Progress(done, total, name);
    };
  ctx.SetCancelHook([&c] { c.Cancel = true; });
  const TCreateResult r = c.Create(path);
  ctx.SetCancelHook({});
  if (noRoom) return {TStatusCode::NoSpace, "No space left on the drive of " + path};
  for (const std::string& w : r.Warnings) {
    ctx.Refused.push_back(w);
    ++ctx.Counts.Skipped;
    ctx.Message(TStatus::Warning(w));
  }
  if (r.Cancelled) return TStatus::Cancelled();
  if (!r.Ok) return TarFailure(r.Error.empty() ? "creation failed" : r.Error, TStatusCode::Failed);
  ctx.Counts.Files += r.Entries;
  ctx.Counts.Bytes += r.BytesIn;
  return {};
}

// The stored name of a source given without one: its path made relative ("../" and leading "/" dropped).
std::string DefaultStoredName(const fs::path& p) {
  std::string stored = p.lexically_normal().generic_string();
  while (StartsWith(stored, "../")) stored.erase(0, 3);
  while (!stored.empty() && stored[0] == '/') stored.erase(0, 1);
  return stored;
}

// The items of a tar: every source, and what lies below a folder given with Recurse (links are
// stored as links, never followed). The archive being written never adds itself.
bool ExpandItems(const TCreateParams& p, const std::string& target, std::vector<TArchiveItem>& out, TStatus& error) {
  struct stat targetSt {};
  const bool haveTarget = ::stat(target.c_str(), &targetSt) == 0;
  const auto isTarget = [&](const fs::path& path) {
    struct stat st {};
    return haveTarget && ::lstat(path.c_str(), &st) == 0 && st.st_dev == targetSt.st_dev && st.st_ino == targetSt.st_ino;
  };
  for (const TSourceItem& it : p.Items) {
    const fs::path source = it.Source;
    const std::string stored = it.StoredName.empty() ? DefaultStoredName(source) : it.StoredName;
    if (!isTarget(source)) out.push_back({it.Source, stored});
    std::error_code ec;
    if (!it.Recurse || !fs::is_directory(fs::symlink_status(source, ec))) continue;
    for (auto walk = fs::recursive_directory_iterator(source, ec); !ec && walk != fs::recursive_directory_iterator();
         walk.increment(ec)) {
      const fs::path& path = walk->path();
      if (isTarget(path)) continue;
      const std::string below = path.lexically_relative(source).generic_string();
      out.push_back({path.string(), it.StoredName.empty() ? DefaultStoredName(path) : stored + "/" + below});
    }
    if (ec) {
      error = TStatus::FromErrno(ec.value(), "Can't read folder " + it.Source, TStatusCode::Unreadable);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------

class TTarAdapter final : public IArchiveAdapter {
 public:
  explicit TTarAdapter(bool gzipped) : gzipped_(gzipped) {}
  TArchiveFormat Format() const override { return gzipped_ ? TArchiveFormat::TarGz : TArchiveFormat::Tar; }
  uint32_t Capabilities() const override { return capList | capTest | capExtract | capSelect | capCreate; }

  TStatus Open(const std::string& path, TJobContext&) override {
    path_ = path;
    try {
      OpenTarStream(path);
    } catch (const std::exception& e) {
      return TarFailure(e.what(), TStatusCode::Unreadable);
    }
    return {};
  }

  TStatus List(TJobContext& ctx, const TEntryCallback& onEntry) override {
    TArchiveEntry e;
    return Walk(ctx, [&](TTarArchive& ar, const TTarDirRec& rec) {
      Fill(rec, e);
      int64_t pos = 0, total = 0;
      ar.GetFilePos(pos, total);
      e.DataOffset = pos;
      onEntry(e);
      return TStatus();
    });
  }

  TStatus Test(TJobContext& ctx, const TTestParams& params) override {
    const TTarSelector selected(params.Selection);
    std::vector<char> buf(1 << 20);
    return Walk(ctx, [&](TTarArchive& ar, const TTarDirRec& rec) {
      if (!selected(rec)) return TStatus();
      if (rec.EntryKind == TTarEntryKind::Regular || rec.EntryKind == TTarEntryKind::Contiguous) {
        ctx.Counts.Bytes += ReadThrough(ar, buf, ctx);
        ++ctx.Counts.Files;
      }
      return TStatus();
    }, true);
  }

  TStatus Extract(TJobContext& ctx, const TExtractParams& params) override {
    TTarExtractor x;
    WireOverwrite(x, ctx, Format());
    x.RestoreTimes = params.RestoreTimes;
    x.RestorePermissions = params.RestorePermissions;
    if (!params.Selection.Ids.empty()) x.Select = TTarSelector(params.Selection);
    else x.Only = params.Selection.Patterns;
    const TTarExtractResult r = x.Extract(path_, params.Destination);
    ctx.SetCancelHook({});
    return TakeResult(ctx, r);
  }

  TStatus Create(TJobContext& ctx, const std::string& path, const TCreateParams& params) override {
    std::vector<TArchiveItem> items;
    TStatus error;
    if (!ExpandItems(params, params.Target, items, error)) return error;
    if (!gzipped_ || params.TempTar.empty()) return CreateWith(ctx, gzipped_ ? TArchiveKind::TarGz : TArchiveKind::Tar, path, params, items);
    // In two steps: the tar first (it stays where it was asked for), then its gzip file.
    TStatus s = CreateWith(ctx, TArchiveKind::Tar, params.TempTar, params, items);
    if (s.Failed()) return s;
    const int64_t entries = ctx.Counts.Files;
    const uint64_t bytes = ctx.Counts.Bytes;
    s = CreateWith(ctx, TArchiveKind::Gz, path, params, {{params.TempTar, ExtractFileName(params.TempTar)}});
    ctx.Counts.Files = entries;
    ctx.Counts.Bytes = bytes;
    return s;
  }

 private:
  using TVisit = std::function<TStatus(TTarArchive&, const TTarDirRec&)>;

  static void Fill(const TTarDirRec& rec, TArchiveEntry& e) {
    e.Id = static_cast<TEntryId>(rec.HeaderPos);
    e.Name = rec.Name;
    e.Kind = KindOf(rec.EntryKind);
    e.Size = e.PackedSize = static_cast<uint64_t>(std::max<int64_t>(rec.Size, 0));
    e.Time = DateTimeToUnix(rec.ModTime);
    e.Mode = rec.Mode();
    e.LinkTarget = rec.LinkName;
    e.UserId = rec.UserId;
    e.GroupId = rec.GroupId;
    e.UserName = rec.UserName;
    e.GroupName = rec.GroupName;
  }

  // Every entry in order; a bad header checksum or a cut-short archive is damage. With `drain`
  // the stream is read to its very end (the gzip trailer's CRC and length are checked there).
  TStatus Walk(TJobContext& ctx, const TVisit& visit, bool drain = false) {
    try {
      std::unique_ptr<TTarArchive> ar = OpenTarStream(path_);
      TTarDirRec rec;
      int64_t n = 0;
      const int64_t total = ar->Input().SourceSize();
      while (ar->FindNext(rec)) {
        if ((++n & 255) == 0 && ctx.Cancelled()) return TStatus::Cancelled();
        if (!rec.ChecksumOk)
          return {TStatusCode::Damaged,
                  "Bad header checksum at offset " + std::to_string(rec.HeaderPos) + ": the archive is damaged"};
        ctx.Progress(static_cast<uint64_t>(std::max<int64_t>(ar->Input().SourcePosition(), 0)),
                     static_cast<uint64_t>(std::max<int64_t>(total, 0)), rec.Name);
        TStatus s = visit(*ar, rec);
        if (s.Failed()) return s;
        if (ctx.Cancelled()) return TStatus::Cancelled();
      }
      if (ar->Truncated()) return {TStatusCode::Damaged, "the archive is cut short"};
      if (drain) {
        ar->ReadToEnd();
        if (auto* gz = dynamic_cast<TGzReader*>(&ar->Input())) {
          if (std::string g = gz->TrailingGarbage(); !g.empty()) ctx.Message(TStatus::Warning(g));
        }
      }
    } catch (const std::exception& e) {
      return TarFailure(e.what());
    }
    return {};
  }

  bool gzipped_;
  std::string path_;
};

// ---------------------------------------------------------------------------------------------------

class TGzipAdapter final : public IArchiveAdapter {
 public:
  TArchiveFormat Format() const override { return TArchiveFormat::Gzip; }
  uint32_t Capabilities() const override { return capList | capTest | capExtract | capCreate | capReadComment; }

  TStatus Open(const std::string& path, TJobContext&) override {
    path_ = path;
    gz_.WindowOnError = false;
    gz_.FileSource = path;
    switch (gz_.ReadHeader()) {
      case 0: return {};
      case 1: return {TStatusCode::Unreadable, "cannot open " + path};
      case 3: return {TStatusCode::Unsupported, "not a gzip file"};
      default: return {TStatusCode::Damaged, "not a gzip file"};
    }
  }

  TStatus List(TJobContext&, const TEntryCallback& onEntry) override {
    TArchiveEntry e;
    e.Id = 0;
    e.Name = GzOutputName(gz_.HeaderFileName, path_);
    e.Time = gz_.HeaderTime;
    std::error_code ec;
    e.PackedSize = static_cast<uint64_t>(fs::file_size(path_, ec));
    e.Size = TrailerSize();
    onEntry(e);
    return {};
  }

  TStatus Test(TJobContext& ctx, const TTestParams&) override {
    try {
      TGzReader in(path_);
      in.CrcOnReader = true;
      std::vector<char> buf(1 << 20);
      const std::string name = GzOutputName(gz_.HeaderFileName, path_);
      for (;;) {
        if (ctx.Cancelled()) return TStatus::Cancelled();
        const size_t n = in.Read(buf.data(), buf.size());
        if (n == 0) break;
        ctx.Counts.Bytes += n;
        ctx.Progress(static_cast<uint64_t>(in.SourcePosition()), static_cast<uint64_t>(in.SourceSize()), name);
      }
      if (in.Transparent()) return {TStatusCode::Damaged, "not a gzip file"};
      if (std::string g = in.TrailingGarbage(); !g.empty()) ctx.Message(TStatus::Warning(g));
    } catch (const std::exception& e) {
      return TarFailure(e.what());
    }
    ++ctx.Counts.Files;
    return {};
  }

  TStatus Extract(TJobContext& ctx, const TExtractParams& params) override {
    TTarExtractor x;
    WireOverwrite(x, ctx, Format());
    x.RestoreTimes = params.RestoreTimes;
    x.RestorePermissions = params.RestorePermissions;
    const TTarExtractResult r = x.ExtractGz(path_, params.Destination);
    ctx.SetCancelHook({});
    return TakeResult(ctx, r);
  }

  TStatus Create(TJobContext& ctx, const std::string& path, const TCreateParams& params) override {
    std::error_code ec;
    if (params.Items.size() != 1 || fs::is_directory(params.Items[0].Source, ec))
      return {TStatusCode::Unsupported, "a gzip file holds exactly one file"};
    const TSourceItem& it = params.Items[0];
    if (fs::equivalent(it.Source, params.Target, ec))
      return {TStatusCode::Failed, params.Target + ": a gzip file cannot hold itself"};
    return CreateWith(ctx, TArchiveKind::Gz, path, params, {{it.Source, it.StoredName}});
  }

  TStatus Comment(std::string& text) override {
    text = Latin1ToUtf8(gz_.HeaderComment);  // RFC 1952: ISO-8859-1
    return {};
  }

 private:
  // The trailer's length field of the last member (modulo 4 GiB).
  uint64_t TrailerSize() const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    unsigned char t[4] = {};
    const bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 18 && ::pread(fd, t, 4, st.st_size - 4) == 4;
    ::close(fd);
    if (!ok) return 0;
    return uint64_t(t[0]) | uint64_t(t[1]) << 8 | uint64_t(t[2]) << 16 | uint64_t(t[3]) << 24;
  }

  std::string path_;
  TGzip gz_;
};

}  // namespace

std::unique_ptr<IArchiveAdapter> MakeTarAdapter(bool gzipped) { return std::make_unique<TTarAdapter>(gzipped); }
std::unique_ptr<IArchiveAdapter> MakeGzipAdapter() { return std::make_unique<TGzipAdapter>(); }
