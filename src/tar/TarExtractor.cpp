#include "tar/TarExtractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>

#include "codec/SparseFile.h"
#include "core/TextUtil.h"
#include "tar/Gzip.h"
#include "tar/GzipStream.h"

namespace {

std::vector<std::string> SplitPath(const std::string& p) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    parts.push_back(p.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

struct timespec TimeOf(double dateTime) {
  double secs = (dateTime - 25569.0) * 86400.0;
  double whole = std::floor(secs + 1e-4);
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(whole);
  double frac = secs - whole;
  ts.tv_nsec = frac > 1e-4 ? static_cast<long>(std::min(frac * 1e9, 999999999.0)) : 0;
  return ts;
}

// Writes straight to a new file's descriptor, leaving blocks of zeros as holes.
class TFdOutput : public TTarOutput {
 public:
  TFdOutput(int fd, const std::string& name, const std::atomic<bool>& cancel) : holes_(fd), name_(name), cancel_(cancel) {}
  void Write(const void* data, size_t n) override {
    if (cancel_) throw ETarError("cancelled");
    if (!holes_.Write(data, n)) throw ETarError("Can't write " + name_ + ": " + SystemErrorText(errno));
  }
  void Close() override {
    if (!holes_.Finish()) throw ETarError("Can't write " + name_ + ": " + SystemErrorText(errno));
  }

 private:
  codec::THoleWriter holes_;
  std::string name_;
  const std::atomic<bool>& cancel_;
};

class TCancelled : public std::exception {};

}  // namespace

std::string SafeRelativePath(const std::string& name) {
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  std::string out;
  bool first = true;
  for (const auto& part : SplitPath(n)) {
    if (part.empty() || part == "." || part == "..") continue;
    if (first && part.size() == 2 && part[1] == ':' && std::isalpha(static_cast<unsigned char>(part[0]))) {
      first = false;
      continue;
    }
    first = false;
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

bool SymlinkTargetInside(const std::string& linkPath, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  size_t depth = SplitPath(linkPath).size() - 1;  // folders above the link inside the destination
  size_t ups = 0;
  bool named = false;
  for (const auto& part : SplitPath(target)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (named) return false;  // ".." after a name may climb through a link: refused
      ++ups;
    } else {
      named = true;
    }
  }
  return ups <= depth;
}

std::string GzOutputName(const std::string& storedName, const std::string& gzFile) {
  std::string n = ExtractFileName(storedName);
  if (!n.empty() && n != "." && n != "..") return n;
  std::string own = ExtractFileName(gzFile);
  std::string lower = LowerCase(own);
  if (EndsWith(lower, ".tgz")) return own.substr(0, own.size() - 4) + ".tar";
  if (EndsWith(lower, ".gz") && own.size() > 3) return own.substr(0, own.size() - 3);
  return own + ".out";
}

bool IsGzipFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char m[2] = {};
  bool yes = ::read(fd, m, 2) == 2 && m[0] == 0x1f && m[1] == 0x8b;
  ::close(fd);
  return yes;
}

bool IsaGzippedTarBall(const std::string& path) {
  TGzip g;
  g.WindowOnError = false;
  g.FileSource = path;
  if (g.ReadHeader() != 0) return false;
  size_t dot = g.HeaderFileName.rfind('.');
  return dot != std::string::npos && g.HeaderFileName.substr(dot) == ".tar";
}

bool IsTarGzContent(const std::string& path) {
  if (!IsGzipFile(path)) return false;
  try {
    TGzReader in(path);
    char block[512];
    size_t got = 0;
    while (got < sizeof block) {
      size_t n = in.Read(block + got, sizeof block - got);
      if (n == 0) return false;
      got += n;
    }
    int64_t stored = tarheader::GetNumber(block + 148, 8);
    return block[0] != 0 && stored == static_cast<int64_t>(tarheader::ChecksumOf(block));
  } catch (const ETarError&) {
    return false;
  }
}

std::unique_ptr<TTarArchive> OpenTarStream(const std::string& path) {
  if (IsGzipFile(path)) return std::make_unique<TTarArchive>(new TGzReader(path), true);
  return std::make_unique<TTarArchive>(path);
}

// ---------------------------------------------------------------------------------------------------

struct TTarExtractor::TRun {
  TTarExtractor& owner;
  TTarExtractResult result;
  int root = -1;
  std::string cachedParent = "\x01";
  int cachedFd = -1;
  bool yesToAll = false, noToAll = false;
  struct TDir {
    std::string rel;
    unsigned mode;
    double time;
  };
  std::vector<TDir> dirs;

  explicit TRun(TTarExtractor& o) : owner(o) {}
  ~TRun() {
    if (cachedFd >= 0 && cachedFd != root) ::close(cachedFd);
    if (root >= 0) ::close(root);
  }

  void Warn(const std::string& text) {
    result.Warnings.push_back(text);
  }

  // Creates the destination and opens it as `root`; returns its path without trailing slashes. On
  // failure `root` stays -1 and the result says why.
  std::string OpenDestination(const std::string& destination) {
    std::string dest = destination;
    while (dest.size() > 1 && dest.back() == '/') dest.pop_back();
    std::error_code ec;
    std::filesystem::create_directories(dest, ec);
    root = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
      result.Ok = false;
      result.Error = "Can't open folder " + dest + ": " + SystemErrorText(errno);
    }
    return dest;
  }

  // Opens the folder `rel` below the destination, creating missing levels, never following links.
  // Returns -1 (and sets `why`) when a level is a link or not a folder.
  int OpenDir(const std::string& rel, bool create, std::string& why) {
    if (rel.empty()) return root;
    if (rel == cachedParent) return cachedFd;
    int cur = root;
    for (const auto& part : SplitPath(rel)) {
      int next = ::openat(cur, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0 && errno == ENOENT && create) {
        if (::mkdirat(cur, part.c_str(), 0755) != 0 && errno != EEXIST) {
          why = "can't create folder: " + SystemErrorText(errno);
          if (cur != root) ::close(cur);
          return -1;
        }
        next = ::openat(cur, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      int err = errno;
      if (cur != root) ::close(cur);
      if (next < 0) {
        why = (err == ELOOP || err == ENOTDIR) ? "path runs through a symbolic link or a file" : SystemErrorText(err);
        return -1;
      }
      cur = next;
    }
    if (cachedFd >= 0 && cachedFd != root) ::close(cachedFd);
    cachedParent = rel;
    cachedFd = cur;
    return cur;
  }

  static std::string ParentOf(const std::string& rel) {
    size_t s = rel.rfind('/');
    return s == std::string::npos ? std::string() : rel.substr(0, s);
  }
  static std::string LeafOf(const std::string& rel) {
    size_t s = rel.rfind('/');
    return s == std::string::npos ? rel : rel.substr(s + 1);
  }

  // Decides about an existing non-folder at `leaf`; true = remove it and write.
  bool MayReplace(int dirFd, const std::string& leaf, const TTarDirRec& rec, const std::string& diskPath) {
    struct stat st {};
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
      Warn(rec.Name + ": a folder of that name exists; skipped");
      return false;
    }
    bool take = true;
    if (noToAll) take = false;
    else if (!yesToAll && owner.OnOverwrite) {
      switch (owner.OnOverwrite(rec, diskPath)) {
        case TOverwriteAnswer::No: take = false; break;
        case TOverwriteAnswer::NoToAll: noToAll = true; take = false; break;
        case TOverwriteAnswer::YesToAll: yesToAll = true; break;
        case TOverwriteAnswer::Cancel: throw TCancelled();
        default: break;
      }
    }
    if (!take) return false;
    // Remove first: writing into the old file would change every hard link to it.
    if (::unlinkat(dirFd, leaf.c_str(), 0) != 0 && errno != ENOENT) {
      Warn(rec.Name + ": can't replace: " + SystemErrorText(errno));
      return false;
    }
    return true;
  }

  void SetTimes(int dirFd, const std::string& leaf, double time, int flags) {
    if (!owner.RestoreTimes) return;
    struct timespec ts[2] = {{0, UTIME_OMIT}, TimeOf(time)};
    ::utimensat(dirFd, leaf.c_str(), ts, flags);
  }

  unsigned SafeMode(const TTarDirRec& rec, bool folder) const {
    unsigned m = rec.Mode() & (folder ? 01777u : 0777u);  // set-UID and set-GID are never restored
    return m;
  }

  bool Selected(const TTarDirRec& rec) const {
    if (owner.Select) return owner.Select(rec);
    if (owner.Only.empty()) return true;
    std::string n = rec.Name;
    while (!n.empty() && n.back() == '/') n.pop_back();
    for (const auto& o : owner.Only) {
      std::string w = o;
      while (!w.empty() && w.back() == '/') w.pop_back();
      if (n == w || (n.size() > w.size() && n.compare(0, w.size(), w) == 0 && n[w.size()] == '/')) return true;
    }
    return false;
  }

  void Entry(TTarArchive& ar, const TTarDirRec& rec, const std::string& destination) {
    std::string rel = SafeRelativePath(rec.Name);
    if (rel.empty()) {
      if (!rec.Name.empty() && rec.Name != "./" && rec.Name != "." && rec.Name != "/") Warn(rec.Name + ": unsafe name; skipped");
      ++result.Skipped;
      return;
    }
    std::string plain = rec.Name;
    while (!plain.empty() && plain.back() == '/') plain.pop_back();
    while (plain.rfind("./", 0) == 0) plain = plain.substr(2);
    if (rel != plain) Warn(rec.Name + ": stored as " + rel);
    std::string why;
    switch (rec.EntryKind) {
      case TTarEntryKind::Directory: {
        int fd = OpenDir(rel, true, why);
        if (fd < 0) {
          Warn(rec.Name + ": " + why + "; skipped");
          ++result.Skipped;
          return;
        }
        dirs.push_back({rel, SafeMode(rec, true), rec.ModTime});
        ++result.Folders;
        return;
      }
      case TTarEntryKind::Regular:
      case TTarEntryKind::Contiguous:
        WriteFile(ar, rec, rel, destination);
        return;
      case TTarEntryKind::SymbolicLink:
      case TTarEntryKind::Link:
        MakeLink(rec, rel, destination);
        return;
      case TTarEntryKind::CharFile:
      case TTarEntryKind::BlockFile:
      case TTarEntryKind::FifoFile:
        Warn(rec.Name + ": device files and FIFOs are not created");
        ++result.Skipped;
        return;
      default:
        ++result.Skipped;
        return;
    }
  }

  void WriteFile(TTarArchive& ar, const TTarDirRec& rec, const std::string& rel, const std::string& destination) {
    std::string why;
    int dirFd = OpenDir(ParentOf(rel), true, why);
    if (dirFd < 0) {
      Warn(rec.Name + ": " + why + "; skipped");
      ++result.Skipped;
      return;
    }
    std::string leaf = LeafOf(rel);
    std::string diskPath = destination + "/" + rel;
    int fd = ::openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      if (!MayReplace(dirFd, leaf, rec, diskPath)) {
        ++result.Skipped;
        return;
      }
      fd = ::openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
      result.Ok = false;
      result.Error = "Can't create " + diskPath + ": " + SystemErrorText(errno);
      throw ETarError(result.Error);
    }
    try {
      if (rec.Sparse) {
        WriteSparse(ar, rec, fd, diskPath);
      } else {
        TFdOutput out(fd, diskPath, owner.Cancel);
        ar.ExtractToStream(out);
        out.Close();
      }
    } catch (...) {
      ::close(fd);
      ::unlinkat(dirFd, leaf.c_str(), 0);  // no partial file is left behind
      if (owner.Cancel) throw TCancelled();
      throw;
    }
    if (owner.RestorePermissions) ::fchmod(fd, SafeMode(rec, false));
    if (owner.RestoreTimes) {
      struct timespec ts[2] = {{0, UTIME_OMIT}, TimeOf(rec.ModTime)};
      ::futimens(fd, ts);
    }
    if (::close(fd) != 0) {
      result.Error = "Can't write " + diskPath + ": " + SystemErrorText(errno);
      throw ETarError(result.Error);
    }
    ++result.Files;
  }

  // Writes the data regions of a sparse member where they belong; the holes between them stay holes
  // on file systems that have them (1 GiB with 4 KiB of data writes 4 KiB).
  void WriteSparse(TTarArchive& ar, const TTarDirRec& rec, int fd, const std::string& diskPath) {
    std::vector<char> buf(1 << 20);
    int64_t at = 0;
    while (const size_t n = ar.ReadRegion(buf.data(), buf.size(), at)) {
      if (owner.Cancel) throw ETarError("cancelled");
      if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0)
        throw ETarError("Can't write " + diskPath + ": " + SystemErrorText(errno));
      WriteAllTo(fd, buf.data(), n, diskPath);
    }
    if (::ftruncate(fd, static_cast<off_t>(rec.Size)) != 0)
      throw ETarError("Can't write " + diskPath + ": " + SystemErrorText(errno));
  }

  void MakeLink(const TTarDirRec& rec, const std::string& rel, const std::string& destination) {
    bool symbolic = rec.EntryKind == TTarEntryKind::SymbolicLink;
    std::string target = symbolic ? rec.LinkName : SafeRelativePath(rec.LinkName);
    if (symbolic ? !SymlinkTargetInside(rel, target) : target.empty()) {
      Warn(rec.Name + ": link to " + rec.LinkName + " points outside the destination; skipped");
      ++result.Skipped;
      return;
    }
    std::string why;
    int dirFd = OpenDir(ParentOf(rel), true, why);
    if (dirFd < 0) {
      Warn(rec.Name + ": " + why + "; skipped");
      ++result.Skipped;
      return;
    }
    std::string leaf = LeafOf(rel);
    std::string diskPath = destination + "/" + rel;
    struct stat st {};
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !MayReplace(dirFd, leaf, rec, diskPath)) {
      ++result.Skipped;
      return;
    }
    int r;
    if (symbolic) {
      r = ::symlinkat(target.c_str(), dirFd, leaf.c_str());
      if (r == 0) SetTimes(dirFd, leaf, rec.ModTime, AT_SYMLINK_NOFOLLOW);
    } else {
      // The target is looked up inside the destination, without following links on the way.
      int targetDir = ::dup(dirFd);  // OpenDir may close dirFd through its cache
      std::string tdWhy;
      int tFd = OpenDir(ParentOf(target), false, tdWhy);
      struct stat ts {};
      if (tFd < 0 || ::fstatat(tFd, LeafOf(target).c_str(), &ts, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(ts.st_mode)) {
        ::close(targetDir);
        Warn(rec.Name + ": link target " + rec.LinkName + " is not in the destination; skipped");
        ++result.Skipped;
        return;
      }
      r = ::linkat(tFd, LeafOf(target).c_str(), targetDir, leaf.c_str(), 0);
      ::close(targetDir);
    }
    if (r != 0) {
      Warn(rec.Name + ": can't create link: " + SystemErrorText(errno));
      ++result.Skipped;
      return;
    }
    ++result.Links;
  }

  void FinishDirs() {
    // Deepest first, so that setting a folder's time is not undone by its children.
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
      std::string why;
      int fd = OpenDir(it->rel, false, why);
      if (fd < 0) continue;
      if (owner.RestorePermissions) ::fchmod(fd, it->mode | 0700);
      if (owner.RestoreTimes) {
        struct timespec ts[2] = {{0, UTIME_OMIT}, TimeOf(it->time)};
        ::futimens(fd, ts);
      }
    }
    // Folders without owner write permission get it removed only now that their children are in.
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
      if (!owner.RestorePermissions || (it->mode & 0700) == 0700) continue;
      std::string why;
      int fd = OpenDir(it->rel, false, why);
      if (fd >= 0) ::fchmod(fd, it->mode);
    }
  }
};

TTarExtractResult TTarExtractor::Extract(const std::string& archive, const std::string& destination) {
  std::unique_ptr<TTarArchive> ar;
  try {
    ar = OpenTarStream(archive);
  } catch (const ETarError& e) {
    TTarExtractResult r;
    r.Ok = false;
    r.Error = e.what();
    return r;
  }
  return Extract(*ar, destination);
}

TTarExtractResult TTarExtractor::Extract(TTarArchive& ar, const std::string& destination) {
  TRun run(*this);
  auto& res = run.result;
  const std::string dest = run.OpenDestination(destination);
  if (run.root < 0) return res;
  try {
    TTarDirRec rec;
    int64_t total = ar.Input().SourceSize();
    while (ar.FindNext(rec)) {
      if (Cancel) throw TCancelled();
      if (!rec.ChecksumOk) {
        res.Ok = false;
        res.Error = "Bad header checksum at offset " + std::to_string(rec.HeaderPos) + ": the archive is damaged";
        break;
      }
      if (OnProgress) OnProgress(ar.Input().SourcePosition(), total, rec.Name);
      if (!run.Selected(rec)) continue;
      run.Entry(ar, rec, dest);
    }
    if (res.Ok && ar.Truncated()) {
      res.Ok = false;
      res.Error = "Unexpected end of archive: the archive is truncated";
    }
    if (res.Ok && OnProgress) OnProgress(ar.Input().SourcePosition(), total, "");
  } catch (const TCancelled&) {
    res.Cancelled = true;
    res.Ok = false;
    res.Error = "Cancelled";
  } catch (const ETarError& e) {
    res.Ok = false;
    if (res.Error.empty()) res.Error = e.what();
  }
  run.FinishDirs();
  return res;
}

TTarExtractResult TTarExtractor::ExtractGz(const std::string& gzFile, const std::string& destination,
                                           std::string* writtenPath) {
  TRun run(*this);
  auto& res = run.result;
  const std::string dest = run.OpenDestination(destination);
  if (run.root < 0) return res;
  TGzip header;
  header.WindowOnError = false;
  header.FileSource = gzFile;
  header.ReadHeader();
  std::string leaf = GzOutputName(header.HeaderFileName, gzFile);
  if (leaf != header.HeaderFileName && !header.HeaderFileName.empty())
    res.Warnings.push_back(header.HeaderFileName + ": stored as " + leaf);
  std::string diskPath = dest + "/" + leaf;
  if (writtenPath) *writtenPath = diskPath;
  TTarDirRec rec;
  rec.Name = leaf;
  rec.ModTime = UnixToDateTime(header.HeaderTime);
  int fd = -1;
  try {
    TGzReader in(gzFile);
    fd = ::openat(run.root, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
      if (!run.MayReplace(run.root, leaf, rec, diskPath)) {
        ++res.Skipped;
        return res;
      }
      fd = ::openat(run.root, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0) throw ETarError("Can't create " + diskPath + ": " + SystemErrorText(errno));
    TFdOutput out(fd, diskPath, Cancel);
    for (;;) {
      if (Cancel) throw TCancelled();
      const char* data = nullptr;
      size_t n = in.Next(data, SIZE_MAX);  // inflated by the reader's thread meanwhile
      if (n == 0) {
        out.Close();
        break;
      }
      out.Write(data, n);
      if (OnProgress) OnProgress(in.SourcePosition(), in.SourceSize(), leaf);
    }
    if (header.HeaderTime != 0 && RestoreTimes) {
      struct timespec ts[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(header.HeaderTime), 0}};
      ::futimens(fd, ts);
    }
    int c = ::close(fd);
    fd = -1;
    if (c != 0) throw ETarError("Can't write " + diskPath + ": " + SystemErrorText(errno));
    ++res.Files;
  } catch (const TCancelled&) {
    res.Ok = false;
    res.Cancelled = true;
    res.Error = "Cancelled";
  } catch (const ETarError& e) {
    res.Ok = false;
    res.Error = e.what();
  }
  if (!res.Ok && fd >= 0) {
    ::close(fd);
    ::unlinkat(run.root, leaf.c_str(), 0);
  }
  return res;
}
