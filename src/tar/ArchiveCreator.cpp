#include "tar/ArchiveCreator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "core/TextUtil.h"
#include "safeout/Destination.h"

namespace {

class TCancelled : public std::exception {};

// The bytes of the files to store, summed on a thread of its own while the archive is being written
// (it only serves progress): the writing side keeps one status call per file.
struct TSizeTotal {
  std::atomic<uint64_t> bytes{0};
  std::atomic<bool> ready{false};
  std::thread thread;

  void Start(const std::vector<TArchiveItem>& items, const std::atomic<bool>& cancel) {
    thread = std::thread([this, &items, &cancel] {
      uint64_t sum = 0;
      TFolderCache folders;
      std::string leaf;
      for (const auto& it : items) {
        if (cancel) break;
        struct stat st {};
        int dir = folders.Parent(it.Source, leaf);
        if (::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
          sum += static_cast<uint64_t>(st.st_size);
          bytes.store(sum, std::memory_order_relaxed);
        }
      }
      bytes = sum;
      ready = true;
    });
  }
  ~TSizeTotal() {
    if (thread.joinable()) thread.join();
  }
};

// Counts the bytes passing to the archive, reports progress and notices Cancel.
class TProgressOutput : public TTarOutput {
 public:
  TProgressOutput(TTarOutput* inner, TArchiveCreator& owner, const TSizeTotal& total)
      : inner_(inner), owner_(owner), total_(total) {}
  ~TProgressOutput() override { delete inner_; }
  void Write(const void* data, size_t n) override {
    Check();
    inner_->Write(data, n);
    Count(n);
  }
  uint64_t CopyFromFd(int fd, uint64_t n) override {
    Check();
    uint64_t done = 0;
    // In pieces, so that progress moves and Cancel is seen inside big files.
    while (done < n) {
      uint64_t piece = std::min<uint64_t>(n - done, 64u << 20);
      uint64_t got = inner_->CopyFromFd(fd, piece);
      done += got;
      Count(got);
      if (got < piece) break;
      Check();
    }
    return done;
  }
  char* Reserve(size_t n) override {
    Check();
    return inner_->Reserve(n);
  }
  void Commit(size_t k) override {
    inner_->Commit(k);
    Count(k);
  }
  void Close() override { inner_->Close(); }
  void SetName(const std::string& n) { name_ = n; }
  void Check() {
    if (owner_.Cancel) throw TCancelled();
  }

 private:
  void Count(uint64_t n) {
    passed_ += n;
    // Reported even while the sum is still running (a busy machine may not have run its thread yet):
    // until then the total is the larger of the sum so far and what has passed.
    if (owner_.OnProgress && passed_ - reported_ >= (4u << 20)) {
      reported_ = passed_;
      const uint64_t total = total_.ready ? total_.bytes.load() : std::max(total_.bytes.load(), passed_);
      owner_.OnProgress(std::min(passed_, total), total, name_);
    }
  }
  TTarOutput* inner_;
  TArchiveCreator& owner_;
  const TSizeTotal& total_;
  uint64_t passed_ = 0, reported_ = 0;
  std::string name_;
};

std::string GzInnerName(const std::string& target) {
  std::string leaf = ExtractFileName(target);
  std::string lower = LowerCase(leaf);
  if (EndsWith(lower, ".tgz")) return leaf.substr(0, leaf.size() - 4) + ".tar";
  if (EndsWith(lower, ".gz")) return leaf.substr(0, leaf.size() - 3);
  return leaf;
}

}  // namespace

bool TArchiveCreator::KindForName(const std::string& target, TArchiveKind& kind) {
  std::string n = LowerCase(target);
  if (EndsWith(n, ".tar.gz") || EndsWith(n, ".tgz")) kind = TArchiveKind::TarGz;
  else if (EndsWith(n, ".tar")) kind = TArchiveKind::Tar;
  else if (EndsWith(n, ".gz")) kind = TArchiveKind::Gz;
  else return false;
  return true;
}

TCreateResult TArchiveCreator::Create(const std::string& target) {
  TCreateResult res;
  if (Kind == TArchiveKind::Gz && Items.size() != 1) {
    res.Error = "A gzip file holds exactly one file";
    return res;
  }
  // The archive never holds itself: a source that is the target (an earlier run's archive) is left out.
  std::vector<TArchiveItem> items;
  struct stat targetSt {};
  const bool haveTarget = ::stat(target.c_str(), &targetSt) == 0;
  for (const auto& it : Items) {
    struct stat st {};
    if (haveTarget && ::lstat(it.Source.c_str(), &st) == 0 && st.st_dev == targetSt.st_dev && st.st_ino == targetSt.st_ino) {
      res.Warnings.push_back(it.Source + ": the archive itself is not added");
      continue;
    }
    items.push_back(it);
  }
  if (items.empty() || (Kind == TArchiveKind::Gz && items.size() != 1)) {
    res.Error = "Nothing to add: " + target + " cannot hold itself";
    return res;
  }
  // Written unnamed (or under a hidden temporary of ours, which a later run removes) and named only
  // when complete: a stopped, failed or killed run leaves nothing under the target name.
  safeout::TResult why;
  std::unique_ptr<safeout::TOutputFile> output = safeout::NewFileAt(target, 0666, why);
  if (!output) {
    res.Error = "Can't create " + target + ": " + why.text;
    return res;
  }
  TSizeTotal total;
  if (OnProgress) total.Start(items, Cancel);
  TAsyncFileOutput* file = new TAsyncFileOutput(output->Fd(), target);
  TGzWriteOptions gzOpt;
  gzOpt.Level = CompressionLevel;
  gzOpt.Header.HasComment = StoreComment;
  gzOpt.Header.Comment = Comment;
  gzOpt.Header.HasName = true;
  TTarOutput* sink = file;
  if (Kind != TArchiveKind::Tar) {
    gzOpt.Header.Name = Kind == TArchiveKind::Gz
                            ? ExtractFileName(items[0].StoredName.empty() ? items[0].Source : items[0].StoredName)
                            : GzInnerName(target);
    // A gzip file carries its source's time; a gzipped tar the time it was made.
    struct stat st {};
    if (Kind == TArchiveKind::Gz && ::stat(items[0].Source.c_str(), &st) == 0) gzOpt.Header.MTime = static_cast<uint32_t>(st.st_mtime);
    else if (Kind == TArchiveKind::TarGz) gzOpt.Header.MTime = static_cast<uint32_t>(::time(nullptr));
    sink = new TGzWriter(file, true, gzOpt);
  }
  auto* progress = new TProgressOutput(sink, *this, total);
  bool ok = false;
  try {
    if (Kind == TArchiveKind::Gz) {
      std::unique_ptr<TTarOutput> out(progress);
      TFileInput in(items[0].Source);
      progress->SetName(gzOpt.Header.Name);
      std::vector<char> buf(1 << 20);
      for (;;) {
        size_t n = in.Read(buf.data(), buf.size());
        if (n == 0) break;
        out->Write(buf.data(), n);
        res.BytesIn += n;
      }
      out->Close();
      res.Entries = 1;
      res.BytesOut = file->Written();
    } else {
      TTarWriter w(progress, true);
      w.Permissions = Permissions;
      w.UserId = UserId;
      w.GroupId = GroupId;
      w.UserName = UserName;
      w.GroupName = GroupName;
      w.Magic = Magic;
      if (!VolumeHeader.empty()) {
        w.AddVolumeHeader(VolumeHeader, UnixToDateTime(static_cast<double>(::time(nullptr))));
        ++res.Entries;
      }
      if (KeepAttributes && items.size() > 1) {
        std::vector<std::string> paths;
        paths.reserve(items.size());
        for (const auto& it : items) paths.push_back(it.Source);
        w.Prefetch(std::move(paths));
      }
      for (const auto& it : items) {
        progress->Check();
        std::string name = it.StoredName.empty() ? ExtractFileName(it.Source) : it.StoredName;
        progress->SetName(name);
        uint64_t before = w.BytesWritten();
        try {
          struct stat st {};
          if (KeepAttributes || (::stat(it.Source.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            res.BytesIn += static_cast<uint64_t>(w.AddPath(it.Source, name));
          } else {
            w.AddFile(it.Source, name);
            res.BytesIn += static_cast<uint64_t>(st.st_size);
          }
        } catch (const ETarError& e) {
          // A file that could not be opened left the archive untouched and may be skipped.
          if (!SkipUnreadable || w.BytesWritten() != before) throw;
          res.Warnings.push_back(e.what());
          continue;
        }
        ++res.Entries;
      }
      w.Finalize();
      res.BytesOut = file->Written();
    }
    ok = true;
  } catch (const TCancelled&) {
    res.Cancelled = true;
    res.Error = "Cancelled";
  } catch (const ETarError& e) {
    res.Error = e.what();
  } catch (const std::exception& e) {
    res.Error = e.what();
  }
  if (ok) {
    if (safeout::TResult r = output->Commit(-1, nullptr, true); !r) {
      ok = false;
      res.Error = "Can't rename the new archive to " + target + ": " + r.text;
    }
  }
  res.Ok = ok;
  if (ok && OnProgress) {
    total.thread.join();
    OnProgress(total.bytes, total.bytes, "");
  }
  return res;
}
