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
#include "safeout/Destination.h"
#include "safeout/Names.h"

namespace {

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
  safeout::TDestination dest;
  bool yesToAll = false, noToAll = false;
  const unsigned umask = safeout::Umask();

  explicit TRun(TTarExtractor& o) : owner(o) {}

  void Warn(const std::string& text) { result.Warnings.push_back(text); }
  void Skip(const std::string& text) {
    Warn(text);
    ++result.Skipped;
  }

  // Opens (creating it when missing) the destination; returns its path without trailing slashes. On
  // failure the result says why.
  std::string OpenDestination(const std::string& destination) {
    std::string path = destination;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (safeout::TResult r = dest.Open(path); !r) {
      result.Ok = false;
      result.Error = "Can't open folder " + path + ": " + SystemErrorText(r.err);
    }
    return path;
  }

  // Decides about what is at `leaf` now: true = write, replacing it when `replace` comes back set.
  bool MayWrite(const safeout::TFolder& folder, const std::string& leaf, const TTarDirRec& rec,
                const std::string& diskPath, bool& replace) {
    replace = false;
    const safeout::TExisting existing = safeout::TDestination::Look(folder, leaf);
    if (existing.kind == safeout::TKind::None) return true;
    if (existing.kind == safeout::TKind::Folder) {
      Warn(safeout::EscapeControls(rec.Name) + ": a folder of that name exists; skipped");
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
    // What is there is replaced once the new one is complete; never written through.
    replace = take;
    return take;
  }

  const timespec* Time(const TTarDirRec& rec, timespec& ts) const {
    if (!owner.RestoreTimes) return nullptr;
    ts = TimeOf(rec.ModTime);
    return &ts;
  }

  // Permission bits to set (the user's umask applies; set-UID and set-GID never), -1 = as created.
  int Mode(const TTarDirRec& rec, bool folder) const {
    if (!owner.RestorePermissions) return -1;
    return static_cast<int>(rec.Mode() & (folder ? 01777u : 0777u) & ~umask);
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
    const std::string shown = safeout::EscapeControls(rec.Name);
    safeout::TCleanName name;
    if (!safeout::CleanName(rec.Name, name)) {
      if (rec.Name.find('\0') != std::string::npos) Warn(shown + ": refused, the name holds a zero byte");
      else if (rec.Name.empty()) Warn("(no name) at offset " + std::to_string(rec.HeaderPos) + ": an entry without a name; skipped");
      else if (!rec.Name.empty() && rec.Name != "./" && rec.Name != "." && rec.Name != "/") Warn(shown + ": unsafe name; skipped");
      ++result.Skipped;
      return;
    }
    if (rec.EntryKind == TTarEntryKind::Directory) name.MakeFolder();
    if (name.altered) Warn(shown + ": unsafe path elements removed, written as " + name.Text());
    else if (name.controls) Warn(shown + ": control characters replaced, written as " + name.Text());
    const std::string diskPath = destination + "/" + name.Text();
    timespec ts{};
    switch (rec.EntryKind) {
      case TTarEntryKind::Directory:
        if (safeout::TResult r = dest.MakeFolder(name.dirs, Mode(rec, true), Time(rec, ts)); !r)
          return Skip(shown + ": " + r.text + "; skipped");
        ++result.Folders;
        return;
      case TTarEntryKind::Regular:
      case TTarEntryKind::Contiguous: WriteFile(ar, rec, name, diskPath); return;
      case TTarEntryKind::SymbolicLink:
      case TTarEntryKind::Link: MakeLink(rec, name, diskPath); return;
      case TTarEntryKind::CharFile:
      case TTarEntryKind::BlockFile:
      case TTarEntryKind::FifoFile: Skip(shown + ": device files and FIFOs are not created"); return;
      default: ++result.Skipped; return;
    }
  }

  void WriteFile(TTarArchive& ar, const TTarDirRec& rec, const safeout::TCleanName& name, const std::string& diskPath) {
    const std::string shown = safeout::EscapeControls(rec.Name);
    safeout::TResult why;
    auto folder = dest.Folder(name.dirs, true, why);
    if (!folder) return Skip(shown + ": " + why.text + "; skipped");
    // Made with its permissions (the umask is already in them), so that committing it changes none.
    // A small file that got its name at once had it free: nothing to decide about what is there.
    const int mode = Mode(rec, false);
    auto out = dest.NewFile(folder, name.leaf, mode >= 0 ? static_cast<unsigned>(mode) : 0666u, why,
                            rec.Sparse ? safeout::TDestination::kUnknownSize : static_cast<uint64_t>(rec.Size));
    if (!out) {
      result.Ok = false;
      result.Error = "Can't create " + diskPath + ": " + why.text;
      throw ETarError(result.Error);
    }
    bool replace = false;
    if (!out->Named() && !MayWrite(*folder, name.leaf, rec, diskPath, replace)) {
      ++result.Skipped;
      return;  // the unnamed file goes with `out`
    }
    try {
      if (rec.Sparse) {
        WriteSparse(ar, rec, *out, diskPath);
      } else {
        TFdOutput sink(out->Fd(), diskPath, owner.Cancel);
        ar.ExtractToStream(sink);
        sink.Close();
      }
    } catch (...) {
      out.reset();  // no partial file is left behind
      if (owner.Cancel) throw TCancelled();
      throw;
    }
    timespec ts{};
    const safeout::TResult r = out->Commit(-1, Time(rec, ts), replace);  // the mode was given at creation
    if (r.fault == safeout::TFault::Exists || r.fault == safeout::TFault::FolderInTheWay)
      return Skip(shown + ": " + r.text + "; skipped");
    if (!r) {
      result.Error = "Can't write " + diskPath + ": " + r.text;
      throw ETarError(result.Error);
    }
    ++result.Files;
  }

  // Writes the data regions of a sparse member where they belong; the holes between them stay holes
  // on file systems that have them (1 GiB with 4 KiB of data writes 4 KiB).
  void WriteSparse(TTarArchive& ar, const TTarDirRec& rec, safeout::TOutputFile& out, const std::string& diskPath) {
    std::vector<char> buf(1 << 20);
    int64_t at = 0;
    while (const size_t n = ar.ReadRegion(buf.data(), buf.size(), at)) {
      if (owner.Cancel) throw ETarError("cancelled");
      if (safeout::TResult r = out.WriteAt(static_cast<uint64_t>(at), buf.data(), n); !r)
        throw ETarError("Can't write " + diskPath + ": " + r.text);
    }
    if (safeout::TResult r = out.SetSize(static_cast<uint64_t>(rec.Size)); !r)
      throw ETarError("Can't write " + diskPath + ": " + r.text);
  }

  void MakeLink(const TTarDirRec& rec, const safeout::TCleanName& name, const std::string& diskPath) {
    const std::string shown = safeout::EscapeControls(rec.Name);
    const std::string target = safeout::EscapeControls(rec.LinkName);
    const bool symbolic = rec.EntryKind == TTarEntryKind::SymbolicLink;
    safeout::TResult why;
    auto folder = dest.Folder(name.dirs, true, why);
    if (!folder) return Skip(shown + ": " + why.text + "; skipped");
    safeout::TCleanName source;
    if (symbolic) {
      // Refused before any question about what is at the name.
      if (safeout::TResult r = dest.CheckLink(*folder, rec.LinkName); !r)
        return Skip(shown + ": refused, symbolic link to " + target + ": " + r.text);
    } else if (!safeout::CleanName(rec.LinkName, source)) {
      return Skip(shown + ": refused, link target " + target + " is not in the destination");
    }
    bool replace = false;
    if (!MayWrite(*folder, name.leaf, rec, diskPath, replace)) {
      ++result.Skipped;
      return;
    }
    timespec ts{};
    const safeout::TResult r = symbolic ? dest.Symlink(name, rec.LinkName, replace, Time(rec, ts))
                                        : dest.HardLink(name, source, replace);
    if (!r) {
      if (r.fault == safeout::TFault::Refused)
        return Skip(shown + ": refused, " + (symbolic ? "symbolic" : "hard") + " link to " + target + ": " + r.text);
      return Skip(shown + ": can't create link: " + r.text);
    }
    ++result.Links;
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
  if (!run.dest.IsOpen()) return res;
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
    if (res.Ok) {
      ar.ReadToEnd();
      if (auto* gz = dynamic_cast<TGzReader*>(&ar.Input())) {
        if (std::string g = gz->TrailingGarbage(); !g.empty()) res.Notes.push_back(g);
      }
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
  run.dest.FinishFolders();
  return res;
}

TTarExtractResult TTarExtractor::ExtractGz(const std::string& gzFile, const std::string& destination,
                                           std::string* writtenPath) {
  TRun run(*this);
  auto& res = run.result;
  const std::string dest = run.OpenDestination(destination);
  if (!run.dest.IsOpen()) return res;
  TGzip header;
  header.WindowOnError = false;
  header.FileSource = gzFile;
  header.ReadHeader();
  // The last element of the stored name, cleaned like any entry name.
  safeout::TCleanName stored, name;
  const bool haveStored = safeout::CleanName(header.HeaderFileName, stored);
  safeout::CleanName(GzOutputName(header.HeaderFileName, gzFile), name);
  name.StripFolders();
  const std::string leaf = name.leaf;
  const std::string shown = safeout::EscapeControls(header.HeaderFileName);
  if (!header.HeaderFileName.empty()) {
    if (!haveStored || stored.altered) res.Warnings.push_back(shown + ": unsafe path elements removed, written as " + leaf);
    else if (stored.controls) res.Warnings.push_back(shown + ": control characters replaced, written as " + leaf);
    else if (leaf != header.HeaderFileName) res.Warnings.push_back(shown + ": stored as " + leaf);
  }
  std::string diskPath = dest + "/" + leaf;
  if (writtenPath) *writtenPath = diskPath;
  TTarDirRec rec;
  rec.Name = leaf;
  rec.ModTime = UnixToDateTime(header.HeaderTime);
  try {
    if (leaf.empty()) throw ETarError("Can't create a file without a name in " + dest);
    TGzReader in(gzFile);
    in.CrcOnReader = true;  // this thread only writes: it takes the CRCs off the inflating one
    bool replace = false;
    if (!run.MayWrite(*run.dest.Root(), leaf, rec, diskPath, replace)) {
      ++res.Skipped;
      return res;
    }
    safeout::TResult why;
    auto out = run.dest.NewFile(run.dest.Root(), leaf, 0666, why);
    if (!out) throw ETarError("Can't create " + diskPath + ": " + why.text);
    TFdOutput sink(out->Fd(), diskPath, Cancel);
    for (;;) {
      if (Cancel) throw TCancelled();
      const char* data = nullptr;
      size_t n = in.Next(data, SIZE_MAX);  // inflated by the reader's thread meanwhile
      if (n == 0) {
        sink.Close();
        break;
      }
      sink.Write(data, n);
      if (OnProgress) OnProgress(in.SourcePosition(), in.SourceSize(), leaf);
    }
    if (std::string g = in.TrailingGarbage(); !g.empty()) res.Notes.push_back(g);
    const timespec ts{static_cast<time_t>(header.HeaderTime), 0};
    if (safeout::TResult r = out->Commit(-1, header.HeaderTime != 0 && RestoreTimes ? &ts : nullptr, replace); !r)
      throw ETarError("Can't write " + diskPath + ": " + r.text);
    ++res.Files;
  } catch (const TCancelled&) {
    res.Ok = false;
    res.Cancelled = true;
    res.Error = "Cancelled";
  } catch (const ETarError& e) {
    res.Ok = false;
    res.Error = e.what();
  }
  return res;
}
