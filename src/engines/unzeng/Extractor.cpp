#include "Extractor.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_set>

#include "Decoders.h"
#include "Decryptor.h"
#include "RingWriter.h"
#include "Wildcard.h"
#include "ZipAttributes.h"
#include "ZipCrypto.h"
#include "formats/ZipDirectory.h"
#include "formats/ZipFormat.h"
#include "formats/ZipNames.h"
#include "ZipTime.h"
#include "safeout/Destination.h"
#include "safeout/Names.h"

namespace unzeng {

namespace {

using safeout::EscapeControls;
using safeout::TCleanName;
using safeout::TFolder;
using safeout::TOutputFile;
using safeout::TResult;
using zipfmt::CentralEntry;
using zipfmt::LocalInfo;

constexpr size_t kStreamChunk = size_t(4) << 20;
constexpr uint64_t kSymlinkMaxSize = 4096;
constexpr uint64_t kMapOutputSize = uint64_t(16) << 20;

// Bytes of entry data held in memory at once: entries whose compressed and decoded data fit are
// decoded whole, larger ones stream through a ring of buffers, so that the process stays small
// whatever the entries' sizes. TANDOR_UNZENG_MEMORY lowers it (tests use it to exercise the
// streaming decoders).
uint64_t MemoryBudget() {
  if (const char* env = getenv("TANDOR_UNZENG_MEMORY"); env && *env) return std::strtoull(env, nullptr, 10);
  return uint64_t(40) << 20;
}
// The largest entry (compressed and decoded bytes together) decoded whole.
constexpr uint64_t kWholeBytes = uint64_t(16) << 20;
// Extractions up to these many files and bytes run on the calling thread alone.
constexpr uint64_t kInlineFiles = 64;
constexpr uint64_t kInlineBytes = uint64_t(2) << 20;

// ZipCrypto as a decryption layer; the 12-byte header was consumed by the password check.
class TZipCryptoDecryptor final : public TDecryptor {
 public:
  explicit TZipCryptoDecryptor(const zipfmt::ZipCrypto& keys) : keys_(keys) {}
  void Decrypt(uint8_t* data, size_t n) override { keys_.Decrypt(data, n); }
  size_t HeaderSize() const override { return zipfmt::kCryptHeaderSize; }

 private:
  zipfmt::ZipCrypto keys_;
};

// A reusable buffer of a worker thread. Large ones are mapped with huge pages where the system
// allows it, which keeps page faults down for big entries; small ones take ordinary pages, since a
// huge page is cleared whole on first touch (2 MiB cleared for a 4 KiB entry).
class TBuffer {
 public:
  ~TBuffer() { Free(); }
  uint8_t* Get(size_t n) {
    if (n > cap_) {
      Free();
      const size_t want = std::max(n, cap_ + cap_ / 2);
      const bool huge = want >= kHuge;
      const size_t unit = huge ? kHuge : kPage;
      const size_t cap = (want + unit - 1) / unit * unit;
      void* p = ::mmap(nullptr, cap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      if (huge) ::madvise(p, cap, MADV_HUGEPAGE);
      data_ = static_cast<uint8_t*>(p);
      cap_ = cap;
    }
    return data_;
  }
  // Gives very large buffers back after use.
  void Trim() {
    if (cap_ > kKeep) Free();
  }

 private:
  static constexpr size_t kHuge = size_t(2) << 20;
  static constexpr size_t kPage = size_t(64) << 10;
  static constexpr size_t kKeep = size_t(8) << 20;
  void Free() {
    if (data_) ::munmap(data_, cap_);
    data_ = nullptr;
    cap_ = 0;
  }
  uint8_t* data_ = nullptr;
  size_t cap_ = 0;
};

TBuffer& ThreadBuffer(int which) {
  thread_local TBuffer buffers[2];
  return buffers[which];
}

enum class TJobStatus { Ok, Decode, Read, Write, Auth, Aborted, NoMemory };

// One file (or test) handed to a worker.
struct TJob {
  size_t index = 0;
  std::string name;  // entry name as shown in callbacks
  uint64_t size = 0;
  uint16_t method = 0;
  bool lzmaEndMarker = false;
  bool checkCrc = true;
  uint32_t expectedCrc = 0;
  std::unique_ptr<TDecryptor> decryptor;
  uint64_t payloadStart = 0, payloadLen = 0, trailerLen = 0;
  bool whole = false;
  uint64_t memBytes = 0;
  bool test = false;
  safeout::TDestination* dest = nullptr;
  std::shared_ptr<TFolder> dir;
  std::string leaf, outName;
  bool replace = false;       // a file or link at the name is replaced when this one is complete
  int mode = -1;              // permissions to set after writing; -1 = as created
  unsigned createMode = 0666;
  timespec mtime{};
  // Written but not named yet: a file whose CRC did not match waits for the caller's word.
  std::unique_ptr<TOutputFile> out;

  std::atomic<uint64_t> done{0};
  bool finished = false;  // guarded by the pool mutex
  TJobStatus status = TJobStatus::Ok;
  TDecodeStatus decodeStatus = TDecodeStatus::Ok;
  std::string error;
  uint32_t crc = 0;
};

class TPipeline {
 public:
  // `parallel` false: every job runs on the submitting thread as it is submitted. Small archives take
  // that way: starting workers and handing each file over costs more than their decoding.
  TPipeline(const TArchiveFile& file, std::atomic<bool>& cancel, bool parallel) : file_(file), cancel_(cancel) {
    const unsigned n = parallel ? std::clamp(std::thread::hardware_concurrency(), 1u, 4u) : 0u;
    for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { WorkerLoop(); });
  }
  ~TPipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workCv_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void Submit(TJob* job) {
    if (threads_.empty()) {
      Execute(*job);
      job->finished = true;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(job);
    }
    workCv_.notify_one();
  }

  // Waits for `job`; `poll` runs every 50 ms while it is not finished.
  template <class Poll>
  void Wait(TJob* job, Poll poll) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!job->finished) {
      if (doneCv_.wait_for(lock, std::chrono::milliseconds(50)) == std::cv_status::timeout && !job->finished) {
        lock.unlock();
        poll();
        lock.lock();
      }
    }
  }

 private:
  void WorkerLoop() {
    for (;;) {
      TJob* job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workCv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = queue_.front();
        queue_.pop_front();
      }
      Execute(*job);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        job->finished = true;
      }
      doneCv_.notify_all();
    }
  }

  void Execute(TJob& job);
  bool RunWhole(TJob& job, TOutputFile* out);
  bool RunStream(TJob& job, TOutputFile* out);

  const TArchiveFile& file_;
  std::atomic<bool>& cancel_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable workCv_, doneCv_;
  std::deque<TJob*> queue_;
  bool stop_ = false;
};

void TPipeline::Execute(TJob& job) {
  if (cancel_) {
    job.status = TJobStatus::Aborted;
    return;
  }
  if (!job.test) {
    TResult why;
    job.out = job.dest->NewFile(job.dir, job.leaf, job.createMode, why);
    if (!job.out) {
      job.status = TJobStatus::Write;
      job.error = why.text;
      return;
    }
  }
  bool ok;
  try {
    ok = job.whole ? RunWhole(job, job.out.get()) : RunStream(job, job.out.get());
  } catch (const std::exception&) {
    job.status = TJobStatus::NoMemory;
    ok = false;
  }
  if (!ok) {
    job.out.reset();
    return;
  }
  // Named only when complete and its CRC checked out.
  if (job.test || (job.checkCrc && job.crc != job.expectedCrc)) return;
  if (TResult r = job.out->Commit(job.mode, &job.mtime, job.replace); !r) {
    job.status = TJobStatus::Write;
    job.error = r.text;
  }
  job.out.reset();
}

bool TPipeline::RunWhole(TJob& job, TOutputFile* out) {
  struct TTrim {
    ~TTrim() {
      ThreadBuffer(0).Trim();
      ThreadBuffer(1).Trim();
    }
  } trim;
  struct TInput {
    uint8_t* p;
    uint8_t* get() const { return p; }
  } in{ThreadBuffer(0).Get(job.payloadLen + job.trailerLen + 1)};
  if (!file_.ReadExact(job.payloadStart, in.get(), job.payloadLen + job.trailerLen)) {
    job.status = TJobStatus::Read;
    return false;
  }
  if (job.decryptor) {
    job.decryptor->Decrypt(in.get(), job.payloadLen);
    if (!job.decryptor->Authenticate(in.get() + job.payloadLen, job.trailerLen)) {
      job.status = TJobStatus::Auth;
      return false;
    }
  }
  const uint8_t* data = in.get();
  if (job.method == MethodStored || (job.size == 0 && job.payloadLen == 0)) {
    if (job.payloadLen != job.size) {
      job.decodeStatus = job.payloadLen > job.size ? TDecodeStatus::TooLong : TDecodeStatus::TooShort;
      job.status = TJobStatus::Decode;
      return false;
    }
  } else {
    // Large files are decoded straight into the mapped output: no copy, no extra memory.
    uint8_t* mapped = out && job.size >= kMapOutputSize ? out->Map(job.size) : nullptr;
    uint8_t* decoded = mapped ? mapped : ThreadBuffer(1).Get(job.size + 1);
    job.decodeStatus = DecodeWhole(job.method, in.get(), job.payloadLen, decoded, job.size, job.lzmaEndMarker);
    if (job.decodeStatus != TDecodeStatus::Ok) {
      job.status = job.decodeStatus == TDecodeStatus::NoMemory ? TJobStatus::NoMemory : TJobStatus::Decode;
      return false;
    }
    if (mapped) {
      job.crc = libdeflate_crc32(0, mapped, job.size);
      out->Unmap();
      job.done = job.size;
      return true;
    }
    data = decoded;
  }
  job.crc = libdeflate_crc32(0, data, job.size);
  if (out) {
    if (TResult r = out->Write(data, job.size); !r) {
      job.error = r.text;
      job.status = TJobStatus::Write;
      return false;
    }
  }
  job.done = job.size;
  return true;
}

// A large entry: inflated here in pieces into the ring of a writer thread that checks and writes them.
bool TPipeline::RunStream(TJob& job, TOutputFile* out) {
  auto dec = MakeStreamDecoder(job.method, job.size, job.lzmaEndMarker);
  std::vector<uint8_t> inBuf(kStreamChunk);
  uint64_t pos = job.payloadStart, left = job.payloadLen, total = 0;
  size_t inOff = 0, inHave = 0;
  bool finished = false;
  TRingWriter ring(out);
  auto fail = [&](TJobStatus s, TDecodeStatus d = TDecodeStatus::Ok) {
    job.status = s;
    job.decodeStatus = d;
    return false;
  };
  auto writeFailed = [&] {
    ring.Finish(job.error);
    return fail(TJobStatus::Write);
  };
  uint8_t* slot = nullptr;
  size_t slotLen = 0;
  while (!finished) {
    if (cancel_) return fail(TJobStatus::Aborted);
    if (inOff == inHave && left > 0) {
      size_t n = size_t(std::min<uint64_t>(kStreamChunk, left));
      if (!file_.ReadExact(pos, inBuf.data(), n)) return fail(TJobStatus::Read);
      if (job.decryptor) job.decryptor->Decrypt(inBuf.data(), n);
      pos += n;
      left -= n;
      inOff = 0;
      inHave = n;
    }
    if (!slot) {
      slot = ring.Acquire();
      slotLen = 0;
      if (!slot) return writeFailed();
    }
    bool inputEnd = left == 0;
    size_t c = 0, p = 0;
    TDecodeStatus st = dec->Step(inBuf.data() + inOff, inHave - inOff, c, slot + slotLen,
                                 TRingWriter::kSlotSize - slotLen, p, inputEnd, finished);
    if (st != TDecodeStatus::Ok) return fail(st == TDecodeStatus::NoMemory ? TJobStatus::NoMemory : TJobStatus::Decode, st);
    inOff += c;
    if (p > job.size - total) return fail(TJobStatus::Decode, TDecodeStatus::TooLong);
    slotLen += p;
    total += p;
    job.done = total;
    if (slotLen == TRingWriter::kSlotSize || (finished && slotLen > 0)) {
      ring.Publish(slotLen);
      slot = nullptr;
    }
    // No progress although input is at hand, or the input is over: the stream is damaged or cut.
    if (!finished && c == 0 && p == 0 && (inputEnd || inOff < inHave))
      return fail(TJobStatus::Decode, TDecodeStatus::BadData);
  }
  if (total != job.size) return fail(TJobStatus::Decode, TDecodeStatus::TooShort);
  if (job.decryptor) {
    // Bytes of the payload left after the stream end still count for the authentication code.
    while (left > 0) {
      size_t n = size_t(std::min<uint64_t>(kStreamChunk, left));
      if (!file_.ReadExact(pos, inBuf.data(), n)) return fail(TJobStatus::Read);
      job.decryptor->Decrypt(inBuf.data(), n);
      pos += n;
      left -= n;
    }
    uint8_t trailer[32];
    if (job.trailerLen > sizeof trailer || !file_.ReadExact(pos, trailer, job.trailerLen)) return fail(TJobStatus::Read);
    if (!job.decryptor->Authenticate(trailer, job.trailerLen)) return fail(TJobStatus::Auth);
  }
  if (!ring.Finish(job.error)) return fail(TJobStatus::Write);
  job.crc = ring.Crc();
  return true;
}

class TExtraction {
 public:
  TExtraction(const TExtractOptions& o, TEngineEvents& e) : opt_(o), ev_(e) {}
  int Run();

 private:
  enum class TPrep { Job, Skip, Stop };

  // Reports now, or, while earlier files are still being written, after their reports.
  bool Emit(std::function<bool()> call) {
    if (collecting_ || inFlight_.empty()) return Check(call());
    TItem note;
    note.note = std::move(call);
    inFlight_.push_back(std::move(note));
    return true;
  }
  bool Msg(int code, const std::string& text) {
    return Emit([this, code, text] { return ev_.Message(code, text); });
  }
  // Renamed entries are named one by one up to a limit, then counted.
  bool WarnAltered(const std::string& text) {
    if (++altered_ <= kMaxAlteredWarnings) return Msg(ErrWarning, text);
    return true;
  }
  bool Skip(const std::string& name, int type) {
    return Emit([this, name, type] { return ev_.Skipped(name, type, 0); });
  }
  bool Check(bool goOn) {
    if (!goOn) cancel_ = true;
    return goOn;
  }
  void SelectEntries(std::vector<size_t>& selected);
  void MarkUnsafeRanges();
  TPrep Prepare(size_t index, std::unique_ptr<TJob>& job);
  TPrep PrepareTarget(size_t index, const TCleanName& name, std::shared_ptr<TFolder>& dir, time_t mtime, bool& replace);
  TPrep ObtainDecryptor(size_t index, std::unique_ptr<TDecryptor>& dec);
  bool TryPassword(size_t index, const std::string& pw, std::unique_ptr<TDecryptor>& dec);
  void ExtractSymlink(size_t index, TJob& job, const TCleanName& name);
  void Collect(std::unique_ptr<TJob> job);
  void CollectFront();
  void Drain();
  time_t EntryTime(const CentralEntry& e) const;

  const TExtractOptions& opt_;
  TEngineEvents& ev_;
  TArchiveFile file_;
  zipfmt::CentralDirectory dir_;
  std::vector<LocalInfo> local_;
  std::vector<std::string> rangeError_;  // non-empty: the entry is refused
  safeout::TDestination dest_;
  std::atomic<bool> cancel_{false};
  std::unique_ptr<TPipeline> pipeline_;
  struct TItem {
    std::unique_ptr<TJob> job;
    std::function<bool()> note;
  };
  std::deque<TItem> inFlight_;
  bool collecting_ = false;
  uint64_t inFlightBytes_ = 0;
  uint64_t budget_ = MemoryBudget();
  unsigned umask_ = safeout::Umask();
  std::unordered_set<std::string> written_;
  std::vector<std::string> passwords_;
  bool passwordCancelAll_ = false;
  int count_ = 0;
  static constexpr int kMaxAlteredWarnings = 20;
  int altered_ = 0;
};

time_t TExtraction::EntryTime(const CentralEntry& e) const {
  time_t t;
  if (auto ut = zipfmt::FindExtra(e.extra, zipfmt::kExtraExtTime); ut && zipfmt::ReadExtTimeMtime(*ut, t)) return t;
  return zipfmt::DosToUnix(e.dosDate, e.dosTime);
}

void TExtraction::SelectEntries(std::vector<size_t>& selected) {
  std::vector<std::string> specs;
  for (const auto& s : opt_.specs) {
    std::string n = zipfmt::NormalizeEntryName(s);
    if (!n.empty()) specs.push_back(n == "*.*" ? std::string("*") : n);
  }
  std::vector<bool> used(specs.size(), false);
  for (size_t i = 0; i < dir_.entries.size(); ++i) {
    if (specs.empty()) {
      selected.push_back(i);
      continue;
    }
    std::string name = zipfmt::NormalizeEntryName(dir_.entries[i].name);
    bool hit = false;
    for (size_t k = 0; k < specs.size(); ++k) {
      const std::string& s = specs[k];
      bool m = zipfmt::WildcardMatch(s, name) ||
               (s.back() == '/' && !zipfmt::HasWildcards(s) && name.compare(0, s.size(), s) == 0);
      if (m) {
        used[k] = true;
        hit = true;
      }
    }
    if (hit) selected.push_back(i);
  }
  for (size_t k = 0; k < specs.size() && !cancel_; ++k)
    if (!used[k]) Msg(ErrNoMatch, "caution: " + specs[k] + " not found in the archive");
}

// Entries whose local record cannot be read, lies outside the data area, or shares bytes with
// another entry are refused.
void TExtraction::MarkUnsafeRanges() {
  size_t n = dir_.entries.size();
  local_.assign(n, LocalInfo{});
  rangeError_.assign(n, std::string());
  std::vector<size_t> good;
  for (size_t i = 0; i < n; ++i) {
    std::string err;
    if (!zipfmt::LocateEntryData(file_, dir_, dir_.entries[i], local_[i], err))
      rangeError_[i] = err;
    else
      good.push_back(i);
  }
  std::sort(good.begin(), good.end(), [&](size_t a, size_t b) { return local_[a].headerStart < local_[b].headerStart; });
  uint64_t reach = 0;
  size_t reachOwner = 0;
  for (size_t k = 0; k < good.size(); ++k) {
    size_t i = good[k];
    if (k > 0 && local_[i].headerStart < reach) {
      std::string text = "its data overlaps the data of " + dir_.entries[reachOwner].name;
      rangeError_[i] = text;
      if (rangeError_[reachOwner].empty()) rangeError_[reachOwner] = "its data overlaps the data of " + dir_.entries[i].name;
    }
    if (k == 0 || local_[i].recordEnd > reach) {
      reach = local_[i].recordEnd;
      reachOwner = i;
    }
  }
}

bool TExtraction::TryPassword(size_t index, const std::string& pw, std::unique_ptr<TDecryptor>& dec) {
  const CentralEntry& e = dir_.entries[index];
  const LocalInfo& li = local_[index];
  if (e.method == MethodAes) {
    TAesInfo aes;
    FindAesExtra(reinterpret_cast<const uint8_t*>(e.extra.data()), e.extra.size(), aes);
    uint8_t header[18];
    size_t n = AesSaltSize(aes.strength) + 2;
    if (!file_.ReadExact(li.dataStart, header, n)) return false;
    dec = MakeAesDecryptor(pw, aes.strength, header);
    return dec != nullptr;
  }
  uint8_t header[zipfmt::kCryptHeaderSize];
  if (!file_.ReadExact(li.dataStart, header, sizeof header)) return false;
  zipfmt::ZipCrypto keys(pw);
  uint8_t check = keys.ReadHeader(header);
  bool match = check == uint8_t(e.crc32 >> 24);
  if (!match && (e.flags & zipfmt::kFlagDataDescriptor)) match = check == uint8_t(e.dosTime >> 8);
  if (!match) return false;
  dec = std::make_unique<TZipCryptoDecryptor>(keys);
  return true;
}

TExtraction::TPrep TExtraction::ObtainDecryptor(size_t index, std::unique_ptr<TDecryptor>& dec) {
  const std::string& name = dir_.entries[index].name;
  if (!opt_.password.empty() && TryPassword(index, opt_.password, dec)) return TPrep::Job;
  for (const auto& pw : passwords_)
    if (TryPassword(index, pw, dec)) return TPrep::Job;
  uint32_t repeat = opt_.passwordReqCount;
  while (repeat > 0 && !passwordCancelAll_) {
    --repeat;
    std::string pw;
    bool cancelAll = false;
    if (!Check(ev_.AskPassword(name, repeat, pw, cancelAll))) return TPrep::Stop;
    if (cancelAll) passwordCancelAll_ = true;
    if (pw.empty()) break;
    if (TryPassword(index, pw, dec)) {
      passwords_.insert(passwords_.begin(), pw);
      return TPrep::Job;
    }
  }
  Msg(ErrPassword, "skipping: " + EscapeControls(name) + "  incorrect password");
  return TPrep::Skip;
}

// Opens the folder of the output, and decides about a file that is already there. A file or link
// that is to be replaced stays until the new one is complete (`replace`).
TExtraction::TPrep TExtraction::PrepareTarget(size_t index, const TCleanName& name, std::shared_ptr<TFolder>& dir,
                                              time_t mtime, bool& replace) {
  const std::string entryName = EscapeControls(dir_.entries[index].name);
  replace = false;
  TResult why;
  dir = dest_.Folder(name.dirs, true, why);
  if (!dir) return Msg(ErrWrite, entryName + ": " + why.text) ? TPrep::Skip : TPrep::Stop;
  std::string key = name.Text();
  bool seen = written_.count(key) > 0;
  if (seen) Drain();  // an earlier entry of the same name may still be writing
  safeout::TExisting existing;
  if (seen || !dir->CreatedByUs()) existing = safeout::TDestination::Look(*dir, name.leaf);
  if (existing.kind == safeout::TKind::None) {
    if (opt_.freshen && !opt_.update) return Skip(dir_.entries[index].name, SkipNotOnDisk) ? TPrep::Skip : TPrep::Stop;
    written_.insert(key);
    return TPrep::Job;
  }
  if (existing.kind == safeout::TKind::Folder)
    return Msg(ErrWrite, entryName + ": a folder of that name is in the way") ? TPrep::Skip : TPrep::Stop;
  bool newer = mtime > existing.st.st_mtime + 1;
  bool older = mtime < existing.st.st_mtime;
  if ((opt_.freshen || opt_.update) && !newer)
    return Skip(dir_.entries[index].name, SkipNotNewer) ? TPrep::Skip : TPrep::Stop;
  bool overwrite = opt_.overwrite || opt_.freshen || opt_.update;
  if (!Check(ev_.Overwrite(dir_.entries[index].name, older, int(index), overwrite))) return TPrep::Stop;
  if (!overwrite) return Skip(dir_.entries[index].name, SkipExists) ? TPrep::Skip : TPrep::Stop;
  replace = true;
  written_.insert(key);
  return TPrep::Job;
}

TExtraction::TPrep TExtraction::Prepare(size_t index, std::unique_ptr<TJob>& job) {
  const CentralEntry& e = dir_.entries[index];
  const LocalInfo& li = local_[index];
  const std::string name = EscapeControls(e.name);
  if (!rangeError_[index].empty())
    return Msg(ErrStructure, name + ": refused, invalid archive structure: " + rangeError_[index]) ? TPrep::Skip
                                                                                                    : TPrep::Stop;
  mode_t mode = zipfmt::UnixModeFromEntry(e.versionMadeBy, e.externalAttr, e.IsDirectory());
  time_t mtime = EntryTime(e);
  TCleanName out;
  bool named = safeout::CleanName(e.name, out);
  // A folder mode on an entry that carries data makes a file, as Info-ZIP's unzip writes it.
  bool isDir = e.IsDirectory() || (S_ISDIR(mode) && e.uncompressedSize == 0);
  if (isDir) {
    if (opt_.test || !opt_.dirNames || !named) return TPrep::Skip;
    out.MakeFolder();
    if ((out.altered || out.controls) &&
        !WarnAltered(name + (out.altered ? ": unsafe path elements removed" : ": control characters replaced") +
                     ", created as " + out.Text() + "/"))
      return TPrep::Stop;
    const timespec when{mtime, 0};
    if (TResult r = dest_.MakeFolder(out.dirs, (e.versionMadeBy >> 8) == zipfmt::kHostUnix ? int(mode & 07777) : -1,
                                     &when);
        !r)
      return Msg(ErrWrite, name + ": " + r.text) ? TPrep::Skip : TPrep::Stop;
    return TPrep::Skip;
  }
  // A device or FIFO is never made; one that carries data (7-Zip reading a pipe) is a file.
  if ((S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode)) && e.uncompressedSize == 0) {
    if (opt_.test) return TPrep::Skip;
    return Msg(ErrWarning, name + ": device files and FIFOs are not created") ? TPrep::Skip : TPrep::Stop;
  }
  if (named && !opt_.dirNames) out.StripFolders();
  if (!named)
    return Msg(ErrStructure, name + (e.name.find('\0') != std::string::npos ? ": refused, the name holds a zero byte"
                                                                            : ": refused, the name leaves nothing to write"))
               ? TPrep::Skip
               : TPrep::Stop;
  if ((out.altered || out.controls) && !opt_.test &&
      !WarnAltered(name + (out.altered ? ": unsafe path elements removed" : ": control characters replaced") +
                   ", written as " + out.Text()))
    return TPrep::Stop;

  // No file holds more than 2^63 - 1 bytes: a larger declared size is damage, refused before writing.
  if (e.uncompressedSize > uint64_t(INT64_MAX) || e.compressedSize > uint64_t(INT64_MAX))
    return Msg(ErrStructure, name + ": refused, its declared size " + std::to_string(e.uncompressedSize) +
                                 " is beyond what a file can hold")
               ? TPrep::Skip
               : TPrep::Stop;

  job = std::make_unique<TJob>();
  job->index = index;
  job->name = e.name;
  job->size = e.uncompressedSize;
  job->method = e.method;
  job->expectedCrc = e.crc32;
  job->lzmaEndMarker = e.flags & 2;
  job->test = opt_.test;
  job->dest = &dest_;
  job->mtime = timespec{mtime, 0};
  job->mode = (e.versionMadeBy >> 8) == zipfmt::kHostUnix && (e.externalAttr >> 16) ? int(mode & 0777) : -1;
  if (job->mode >= 0 && (unsigned(job->mode) & umask_) == 0) {
    job->createMode = unsigned(job->mode);  // the umask leaves it as it is: no chmod needed
    job->mode = -1;
  }
  job->payloadStart = li.dataStart;
  job->payloadLen = e.compressedSize;

  if (e.flags & zipfmt::kFlagStrongEncryption)
    return Msg(ErrUnsupported, "skipping: " + name + "  strong encryption is not supported") ? TPrep::Skip : TPrep::Stop;
  bool encrypted = e.IsEncrypted();
  if (e.method == MethodAes) {
    TAesInfo aes;
    if (!FindAesExtra(reinterpret_cast<const uint8_t*>(e.extra.data()), e.extra.size(), aes) || !encrypted)
      return Msg(ErrStructure, name + ": refused, damaged WinZip AES information") ? TPrep::Skip : TPrep::Stop;
    job->method = aes.method;
    job->checkCrc = aes.vendorVersion != 2;
  }
  if (!MethodSupported(job->method))
    return Msg(ErrUnsupported, "skipping: " + name + "  unsupported compression method " +
                                   std::to_string(job->method) + " (" + MethodName(job->method) + ")")
               ? TPrep::Skip
               : TPrep::Stop;
  if (encrypted) {
    size_t header = e.method == MethodAes ? 0 : zipfmt::kCryptHeaderSize;
    size_t trailer = 0;
    if (e.method == MethodAes) {
      TAesInfo aes;
      FindAesExtra(reinterpret_cast<const uint8_t*>(e.extra.data()), e.extra.size(), aes);
      header = AesSaltSize(aes.strength) + 2;
      trailer = 10;
    }
    if (e.compressedSize < header + trailer)
      return Msg(ErrStructure, name + ": refused, encrypted data is too short") ? TPrep::Skip : TPrep::Stop;
    TPrep p = ObtainDecryptor(index, job->decryptor);
    if (p != TPrep::Job) return p;
    job->payloadStart += header;
    job->payloadLen -= header + trailer;
    job->trailerLen = trailer;
  }

  bool symlink = (e.versionMadeBy >> 8) == zipfmt::kHostUnix && S_ISLNK(mode);
  if (symlink) {
    ExtractSymlink(index, *job, out);
    job.reset();
    return TPrep::Skip;
  }
  // Both sizes are below 2^63 (checked above): the sum does not wrap.
  uint64_t wholeBytes = job->payloadLen + job->trailerLen + (job->method == MethodStored ? 0 : job->size);
  job->whole = wholeBytes <= std::min(budget_, kWholeBytes);
  job->memBytes = job->whole ? wholeBytes : kStreamChunk + TRingWriter::kSlots * TRingWriter::kSlotSize;
  if (!opt_.test) {
    TPrep p = PrepareTarget(index, out, job->dir, mtime, job->replace);
    if (p != TPrep::Job) return p;
    job->leaf = out.leaf;
    job->outName = out.Text();
  }
  return TPrep::Job;
}

// A link is small: decoded here, checked and created in order.
void TExtraction::ExtractSymlink(size_t index, TJob& job, const TCleanName& name) {
  Drain();
  const std::string entryName = EscapeControls(job.name);
  if (job.size > kSymlinkMaxSize || job.payloadLen > kSymlinkMaxSize * 2) {
    Msg(ErrStructure, entryName + ": refused, symbolic link target too long");
    return;
  }
  std::vector<uint8_t> in(job.payloadLen + job.trailerLen + 1), target(job.size + 1);
  if (!file_.ReadExact(job.payloadStart, in.data(), job.payloadLen + job.trailerLen)) {
    Msg(ErrStructure, entryName + ": cannot read its data");
    return;
  }
  if (job.decryptor) {
    job.decryptor->Decrypt(in.data(), job.payloadLen);
    if (!job.decryptor->Authenticate(in.data() + job.payloadLen, job.trailerLen)) {
      Msg(ErrData, entryName + ": authentication failed (wrong password or damaged data)");
      return;
    }
  }
  TDecodeStatus st = DecodeWhole(job.method, in.data(), job.payloadLen, target.data(), job.size, job.lzmaEndMarker);
  if (st != TDecodeStatus::Ok) {
    Msg(st == TDecodeStatus::BadData ? ErrData : ErrStructure, entryName + ": " + DecodeStatusText(st));
    return;
  }
  uint32_t crc = libdeflate_crc32(0, target.data(), job.size);
  if (job.checkCrc && crc != job.expectedCrc) {
    Msg(ErrData, entryName + ": CRC error");
    return;
  }
  std::string link(reinterpret_cast<const char*>(target.data()), job.size);
  if (!Check(ev_.NewFile(job.name, job.size))) return;
  if (opt_.test) {
    if (Check(ev_.Progress(job.size))) ++count_;
    return;
  }
  TResult why;
  std::shared_ptr<TFolder> dir = dest_.Folder(name.dirs, true, why);
  if (!dir) {
    Msg(ErrWrite, entryName + ": " + why.text);
    return;
  }
  if (TResult r = dest_.CheckLink(*dir, link); !r) {
    Msg(ErrStructure, entryName + ": refused, symbolic link to " + EscapeControls(link) + ": " + r.text);
    return;
  }
  bool replace = false;
  TPrep p = PrepareTarget(index, name, dir, job.mtime.tv_sec, replace);
  if (p != TPrep::Job) return;
  if (TResult r = dest_.Symlink(name, link, replace, &job.mtime); !r) {
    Msg(r.fault == safeout::TFault::Refused ? ErrStructure : ErrWrite,
        entryName + (r.fault == safeout::TFault::Refused ? ": refused, symbolic link to " + EscapeControls(link) + ": "
                                                         : ": cannot create the link: ") +
            r.text);
    return;
  }
  if (Check(ev_.Progress(job.size))) ++count_;
}

void TExtraction::Collect(std::unique_ptr<TJob> job) {
  inFlightBytes_ -= job->memBytes;
  bool goOn = !cancel_ && Check(ev_.NewFile(job->name, job->size));
  uint64_t reported = 0;
  pipeline_->Wait(job.get(), [&] {
    uint64_t d = job->done.load();
    if (goOn && d > reported) {
      goOn = Check(ev_.Progress(d - reported));
      reported = d;
    }
  });
  // A damaged file that was not kept is discarded with the job: it never takes its name.
  if (cancel_) {
    // Stopped: a file the pipeline had finished has its name already and counts as written.
    if (job->status == TJobStatus::Ok && !job->test && !(job->checkCrc && job->crc != job->expectedCrc)) ++count_;
    return;
  }
  const std::string name = EscapeControls(job->name);
  switch (job->status) {
    case TJobStatus::Ok: break;
    case TJobStatus::Decode:
      if (job->decodeStatus == TDecodeStatus::BadData)
        Msg(ErrData, name + ": " + DecodeStatusText(job->decodeStatus) + (job->decryptor ? " (wrong password?)" : ""));
      else if (job->decodeStatus == TDecodeStatus::NoMemory)
        Msg(ErrNoMemory, name + ": not enough memory");
      else
        Msg(ErrStructure, name + ": refused, " + DecodeStatusText(job->decodeStatus));
      return;
    case TJobStatus::Read: Msg(ErrStructure, name + ": its data cannot be read (archive truncated?)"); return;
    case TJobStatus::Write: Msg(ErrWrite, name + ": " + job->error); return;
    case TJobStatus::Auth: Msg(ErrData, name + ": authentication failed (wrong password or damaged data)"); return;
    case TJobStatus::NoMemory: Msg(ErrNoMemory, name + ": not enough memory"); return;
    case TJobStatus::Aborted: return;
  }
  if (goOn && job->size > reported) goOn = Check(ev_.Progress(job->size - reported));
  if (job->checkCrc && job->crc != job->expectedCrc) {
    bool keep = true;
    if (!Check(ev_.CrcError(job->name, job->crc, job->expectedCrc, keep))) return;
    char text[64];
    snprintf(text, sizeof text, ": CRC error (found %08x, expected %08x)", job->crc, job->expectedCrc);
    Msg(ErrData, name + text + (job->decryptor ? " (wrong password?)" : "") + (keep && !job->test ? ", file kept" : ""));
    if (keep && job->out) {
      if (TResult r = job->out->Commit(job->mode, &job->mtime, job->replace); !r) Msg(ErrWrite, name + ": " + r.text);
    }
    return;
  }
  ++count_;
}

void TExtraction::CollectFront() {
  TItem item = std::move(inFlight_.front());
  inFlight_.pop_front();
  collecting_ = true;
  if (item.job)
    Collect(std::move(item.job));
  else if (!cancel_)
    Check(item.note());
  collecting_ = false;
}

void TExtraction::Drain() {
  while (!inFlight_.empty()) CollectFront();
}

int TExtraction::Run() {
  std::string err;
  if (!file_.Open(opt_.archivePath, err)) {
    Msg(ErrNotFound, "cannot open the archive " + opt_.archivePath + ": " + err);
    return 0;
  }
  if (!zipfmt::ReadCentralDirectory(file_, dir_, err)) {
    Msg(ErrStructure, "invalid archive structure in " + opt_.archivePath + ": " + err);
    return 0;
  }
  MarkUnsafeRanges();
  std::vector<size_t> selected;
  SelectEntries(selected);
  uint64_t files = 0, bytes = 0;
  for (size_t i : selected)
    if (!dir_.entries[i].IsDirectory()) {
      ++files;
      // Sizes no file can hold are refused entry by entry, not counted; the sum never wraps.
      const uint64_t size = dir_.entries[i].uncompressedSize;
      if (size <= uint64_t(INT64_MAX)) bytes += std::min(size, UINT64_MAX - bytes);
    }
  if (!cancel_) Check(ev_.TotalFiles(files));
  if (!cancel_) Check(ev_.TotalSize(bytes));
  if (!opt_.test && !cancel_) {
    if (TResult r = dest_.Open(opt_.baseDir); !r) {
      Msg(ErrWrite, r.text);
      cancel_ = true;
    }
  }
  // The declared sizes bound what is written: refuse at once what cannot fit.
  if (!opt_.test && !cancel_) {
    int64_t free = dest_.FreeBytes();
    if (free >= 0 && bytes > uint64_t(free)) {
      Msg(ErrWrite, "not enough free space in " + (opt_.baseDir.empty() ? std::string(".") : opt_.baseDir) + ": the entries need " +
                        std::to_string(bytes) + " bytes, " + std::to_string(free) + " are free; nothing extracted");
      cancel_ = true;
    }
  }
  if (!cancel_) {
    pipeline_ = std::make_unique<TPipeline>(file_, cancel_, files > kInlineFiles || bytes > kInlineBytes);
    for (size_t i : selected) {
      if (cancel_) break;
      std::unique_ptr<TJob> job;
      TPrep p = Prepare(i, job);
      if (p == TPrep::Stop) break;
      if (p != TPrep::Job) continue;
      while (!inFlight_.empty() && (inFlight_.size() >= 64 || inFlightBytes_ + job->memBytes > budget_))
        CollectFront();
      inFlightBytes_ += job->memBytes;
      pipeline_->Submit(job.get());
      TItem item;
      item.job = std::move(job);
      inFlight_.push_back(std::move(item));
    }
    Drain();
    pipeline_.reset();
    if (altered_ > kMaxAlteredWarnings && !cancel_)
      Msg(ErrWarning, std::to_string(altered_ - kMaxAlteredWarnings) +
                          " more entries had unsafe path elements removed from their names");
    if (!opt_.test) dest_.FinishFolders();
  }
  ev_.End();
  return count_;
}

}  // namespace

int RunExtraction(const TExtractOptions& options, TEngineEvents& events) {
  TExtraction run(options, events);
  return run.Run();
}

}  // namespace unzeng
