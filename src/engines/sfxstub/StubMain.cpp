// The self-extractor stub: the program at the front of every self-extracting ".run" file. It reads
// the settings header and the zip archive appended to itself, asks what its settings ask (on the
// terminal, through zenity or kdialog, or not at all), and extracts through the safe-output library:
// nothing is written outside the chosen folder, and the only thing it ever runs is an entry it has
// just extracted.
//
// Exit status: 0 done; 1 some entries were refused, damaged or not written; 2 the program's archive
// cannot be read, or there is no room; 3 cancelled; 64 a wrong command line. An auto-run entry
// replaces the extractor, and its own status is the program's.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "SfxFormat.h"
#include "StubAsk.h"
#include "ZipAttributes.h"
#include "ZipCrypto.h"
#include "ZipTime.h"
#include "formats/ZipDirectory.h"
#include "safeout/Destination.h"

namespace sfxstub {
namespace {

using safeout::EscapeControls;
using safeout::TCleanName;
using safeout::TResult;
using zipfmt::CentralEntry;

constexpr int kExitOk = 0, kExitEntries = 1, kExitArchive = 2, kExitCancelled = 3, kExitUsage = 64;
constexpr uint64_t kWholeLimit = 256ull << 20;  // entries up to this size are decoded in one piece
constexpr size_t kChunk = 1 << 20;
constexpr uint64_t kMaxLinkTarget = 4096;

const char kHelp[] =
    "A self-extracting archive.\n"
    "\n"
    "Usage: %s [options] [folder]\n"
    "\n"
    "Without options it extracts its files as it was made to: it may show a message, ask for\n"
    "the folder, the files and about replacing files, and start one of the extracted files.\n"
    "Questions come on the terminal; without one, in a zenity or kdialog window on a desktop;\n"
    "otherwise every question takes its default answer and standard error tells what was done\n"
    "(a password for encrypted files is then read from standard input).\n"
    "\n"
    "  folder, -d folder  extract into this folder (created when missing), without asking\n"
    "  -l, --list         list the files and stop\n"
    "  -t, --test         check every file's data and stop\n"
    "  -y, --yes          ask nothing: take every default answer\n"
    "  -h, --help         show this text\n"
    "\n"
    "Exit status: 0 done, 1 some files were refused, damaged or not written, 2 the archive\n"
    "cannot be read or there is no room, 3 cancelled, 64 a wrong command line.\n";

struct TArgs {
  bool list = false, test = false, yes = false, help = false;
  std::string folder;
};

bool ParseArgs(int argc, char** argv, TArgs& a, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    if (s == "-l" || s == "--list") a.list = true;
    else if (s == "-t" || s == "--test") a.test = true;
    else if (s == "-y" || s == "--yes") a.yes = true;
    else if (s == "-h" || s == "--help") a.help = true;
    else if (s == "-d" || s == "--dest") {
      if (++i >= argc) {
        error = s + " needs a folder";
        return false;
      }
      a.folder = argv[i];
    } else if (s.rfind("--dest=", 0) == 0) a.folder = s.substr(7);
    else if (s == "--") {
      if (i + 1 < argc) a.folder = argv[++i];
    } else if (!s.empty() && s[0] == '-') {
      error = "unknown option " + s;
      return false;
    } else if (a.folder.empty()) a.folder = s;
    else {
      error = "more than one folder given";
      return false;
    }
  }
  return true;
}

std::string SelfPath(const char* argv0) {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return std::string(buf, size_t(n));
  return argv0 ? argv0 : "";
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return t && t[0] == '/' ? t : "/tmp";
}

// The folder the settings name: empty = the current folder, "><" = the user's temporary folder.
std::string DefaultFolder(const std::string& stored) {
  if (stored.rfind("><", 0) == 0) {
    std::string rest = stored.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    return rest.empty() ? TempFolder() : TempFolder() + "/" + rest;
  }
  if (stored.empty()) {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? buf : ".";
  }
  std::string s = stored;
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

std::string Thousands(uint64_t v) {
  std::string s = std::to_string(v);
  for (int i = int(s.size()) - 3; i > 0; i -= 3) s.insert(size_t(i), ",");
  return s;
}

class TStub {
 public:
  TStub(const TArgs& args, const std::string& self) : args_(args), self_(self) {}
  ~TStub() {
    if (map_) ::munmap(const_cast<uint8_t*>(map_), file_.Size());
    if (decompressor_) libdeflate_free_decompressor(decompressor_);
  }
  int Run();

 private:
  bool Open();
  int List();
  bool Read(uint64_t at, uint8_t* dst, size_t n) {
    if (map_) {
      std::memcpy(dst, map_ + at, n);
      return true;
    }
    return file_.ReadExact(at, dst, n);
  }
  time_t EntryTime(const CentralEntry& e) const {
    time_t t;
    if (auto ut = zipfmt::FindExtra(e.extra, zipfmt::kExtraExtTime); ut && zipfmt::ReadExtTimeMtime(*ut, t)) return t;
    return zipfmt::DosToUnix(e.dosDate, e.dosTime);
  }
  void Refuse(const std::string& text) {
    ++failures_;
    ask_->Error(text);
  }
  bool Decryptor(size_t i, std::unique_ptr<zipfmt::ZipCrypto>& keys);
  bool TryPassword(size_t i, const std::string& password, std::unique_ptr<zipfmt::ZipCrypto>& keys);
  // Decodes entry i; `sink` takes the data in pieces. False with `why` on damage.
  bool Decode(size_t i, zipfmt::ZipCrypto* keys, uint64_t limit,
              const std::function<bool(const uint8_t*, size_t)>& sink, std::string& why);
  void Extract(size_t i);
  int AutoRun();

  TArgs args_;
  std::string self_;
  TArchiveFile file_;
  zipfmt::CentralDirectory dir_;
  std::vector<zipfmt::LocalInfo> local_;
  std::vector<std::string> damage_;
  const uint8_t* map_ = nullptr;
  zipfmt::SfxSettings settings_;
  bool haveSettings_ = false;
  std::unique_ptr<IAsk> ask_;
  safeout::TDestination dest_;
  TMode mode_ = TMode::Confirm;
  bool replaceAll_ = false, keepAll_ = false;
  std::vector<std::string> passwords_;
  bool noMorePasswords_ = false;
  libdeflate_decompressor* decompressor_ = nullptr;
  std::vector<uint8_t> in_, out_;
  std::unordered_set<std::string> written_;
  unsigned umask_ = safeout::Umask();
  int failures_ = 0, files_ = 0, kept_ = 0;
};

bool TStub::Open() {
  std::string err;
  if (!file_.Open(self_, err) || !zipfmt::ReadCentralDirectory(file_, dir_, err)) {
    std::fprintf(stderr, "%s: this self-extracting archive is damaged: %s\n", self_.c_str(), err.c_str());
    return false;
  }
  void* m = ::mmap(nullptr, file_.Size(), PROT_READ, MAP_PRIVATE, file_.Fd(), 0);
  if (m != MAP_FAILED) {
    map_ = static_cast<const uint8_t*>(m);
    ::madvise(m, file_.Size(), MADV_SEQUENTIAL);
  }
  const size_t n = dir_.entries.size();
  local_.assign(n, {});
  damage_.assign(n, {});
  uint64_t start = dir_.cdStart;
  std::vector<size_t> good;
  for (size_t i = 0; i < n; ++i) {
    if (!zipfmt::LocateEntryData(file_, dir_, dir_.entries[i], local_[i], damage_[i])) continue;
    good.push_back(i);
    start = std::min(start, local_[i].headerStart);
  }
  // Entries sharing bytes are refused (a zip-bomb technique).
  std::sort(good.begin(), good.end(), [&](size_t a, size_t b) { return local_[a].headerStart < local_[b].headerStart; });
  for (size_t k = 1; k < good.size(); ++k) {
    const size_t prev = good[k - 1], cur = good[k];
    if (local_[cur].headerStart < local_[prev].recordEnd) {
      damage_[cur] = "its data overlaps the data of " + dir_.entries[prev].name;
      if (damage_[prev].empty()) damage_[prev] = "its data overlaps the data of " + dir_.entries[cur].name;
    }
  }
  // The settings header ends where the zip data begins.
  const size_t window = size_t(std::min<uint64_t>(start, zipfmt::kSfxMaxHeaderSize));
  std::string bytes(window, '\0');
  size_t at = 0, length = 0;
  if (window && file_.ReadExact(start - window, bytes.data(), window))
    haveSettings_ = zipfmt::FindSfxHeader(bytes, true, settings_, at, length);
  return true;
}

int TStub::List() {
  std::printf("   Length        Date  Time   Name\n---------  ---------- -----   ----\n");
  uint64_t total = 0;
  size_t count = 0;
  for (const CentralEntry& e : dir_.entries) {
    const time_t t = EntryTime(e);
    struct tm tm {};
    localtime_r(&t, &tm);
    std::printf("%9llu  %04d-%02d-%02d %02d:%02d   %s\n", static_cast<unsigned long long>(e.uncompressedSize),
                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, EscapeControls(e.name).c_str());
    total += e.uncompressedSize;
    ++count;
  }
  std::printf("---------                     -------\n%9llu                     %zu file%s\n",
              static_cast<unsigned long long>(total), count, count == 1 ? "" : "s");
  return kExitOk;
}

bool TStub::TryPassword(size_t i, const std::string& password, std::unique_ptr<zipfmt::ZipCrypto>& keys) {
  const CentralEntry& e = dir_.entries[i];
  uint8_t header[zipfmt::kCryptHeaderSize];
  if (!Read(local_[i].dataStart, header, sizeof header)) return false;
  auto k = std::make_unique<zipfmt::ZipCrypto>(password);
  const uint8_t check = k->ReadHeader(header);
  bool match = check == uint8_t(e.crc32 >> 24);
  if (!match && (e.flags & zipfmt::kFlagDataDescriptor)) match = check == uint8_t(e.dosTime >> 8);
  if (!match) return false;
  keys = std::move(k);
  return true;
}

bool TStub::Decryptor(size_t i, std::unique_ptr<zipfmt::ZipCrypto>& keys) {
  for (const std::string& p : passwords_)
    if (TryPassword(i, p, keys)) return true;
  const std::string name = EscapeControls(dir_.entries[i].name);
  for (int attempt = 0; attempt < 3 && !noMorePasswords_; ++attempt) {
    const std::string p = ask_->Password(name);
    if (p.empty()) {
      noMorePasswords_ = true;
      break;
    }
    if (TryPassword(i, p, keys)) {
      passwords_.insert(passwords_.begin(), p);
      return true;
    }
    if (!ask_->Interactive()) {
      noMorePasswords_ = true;  // the one password given does not fit
      break;
    }
    ask_->Error("the password is not right for " + name);
  }
  return false;
}

bool TStub::Decode(size_t i, zipfmt::ZipCrypto* keys, uint64_t limit,
                   const std::function<bool(const uint8_t*, size_t)>& sink, std::string& why) {
  const CentralEntry& e = dir_.entries[i];
  uint64_t start = local_[i].dataStart, length = e.compressedSize;
  if (keys) {
    start += zipfmt::kCryptHeaderSize;
    length -= zipfmt::kCryptHeaderSize;
  }
  const uint64_t size = e.uncompressedSize;
  if (size > limit) {
    why = "too long";
    return false;
  }
  uint32_t crc = 0;
  // Input in pieces: straight from the mapping when the data is not encrypted.
  auto input = [&](uint64_t at, size_t n) -> const uint8_t* {
    if (map_ && !keys) return map_ + at;
    if (in_.size() < n) in_.resize(n);
    if (!Read(at, in_.data(), n)) return nullptr;
    if (keys) keys->Decrypt(in_.data(), n);
    return in_.data();
  };
  if (e.method == zipfmt::kMethodStored) {
    if (length != size) {
      why = "its stored size and its length differ";
      return false;
    }
    for (uint64_t done = 0; done < size;) {
      const size_t n = size_t(std::min<uint64_t>(kChunk * 8, size - done));
      const uint8_t* p = input(start + done, n);
      if (!p) {
        why = "its data cannot be read";
        return false;
      }
      crc = uint32_t(libdeflate_crc32(crc, p, n));
      if (!sink(p, n)) return false;
      done += n;
    }
  } else if (size <= kWholeLimit && length <= kWholeLimit + (1 << 20)) {
    const uint8_t* p = length ? input(start, size_t(length)) : reinterpret_cast<const uint8_t*>("");
    if (!p) {
      why = "its data cannot be read";
      return false;
    }
    if (out_.size() < size + 1) out_.resize(size_t(size) + 1);
    if (!decompressor_) decompressor_ = libdeflate_alloc_decompressor();
    size_t produced = 0;
    const libdeflate_result r =
        libdeflate_deflate_decompress(decompressor_, p, size_t(length), out_.data(), size_t(size), &produced);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) {
      why = "its data is longer than its size says";
      return false;
    }
    if (r != LIBDEFLATE_SUCCESS) {
      why = "its compressed data is damaged";
      return false;
    }
    if (produced != size) {
      why = "its data is shorter than its size says";
      return false;
    }
    crc = uint32_t(libdeflate_crc32(0, out_.data(), produced));
    if (!sink(out_.data(), produced)) return false;
  } else {
    z_stream z {};
    if (inflateInit2(&z, -15) != Z_OK) {
      why = "out of memory";
      return false;
    }
    if (out_.size() < kChunk) out_.resize(kChunk);
    uint64_t fed = 0, produced = 0;
    int r = Z_OK;
    bool ok = true;
    while (ok && r != Z_STREAM_END) {
      if (z.avail_in == 0 && fed < length) {
        const size_t n = size_t(std::min<uint64_t>(kChunk, length - fed));
        const uint8_t* p = input(start + fed, n);
        if (!p) {
          why = "its data cannot be read";
          ok = false;
          break;
        }
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = uInt(n);
        fed += n;
      }
      z.next_out = out_.data();
      z.avail_out = uInt(kChunk);
      r = inflate(&z, Z_NO_FLUSH);
      const size_t got = kChunk - z.avail_out;
      if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && fed < length)) {
        why = fed >= length && r == Z_BUF_ERROR ? "its compressed data ends early" : "its compressed data is damaged";
        ok = false;
      } else if (produced + got > size) {
        why = "its data is longer than its size says";
        ok = false;
      } else if (got) {
        crc = uint32_t(libdeflate_crc32(crc, out_.data(), got));
        produced += got;
        if (!sink(out_.data(), got)) ok = false;
      }
    }
    inflateEnd(&z);
    if (!ok) return false;
    if (produced != size) {
      why = "its data is shorter than its size says";
      return false;
    }
  }
  if (crc != e.crc32) {
    why = "CRC error";
    return false;
  }
  return true;
}

void TStub::Extract(size_t i) {
  const CentralEntry& e = dir_.entries[i];
  const std::string name = EscapeControls(e.name);
  if (!damage_[i].empty()) return Refuse(name + ": refused, damaged archive: " + damage_[i]);
  const bool unixHost = (e.versionMadeBy >> 8) == zipfmt::kHostUnix;
  const mode_t mode = zipfmt::UnixModeFromEntry(e.versionMadeBy, e.externalAttr, e.IsDirectory());
  const time_t mtime = EntryTime(e);
  const timespec when{mtime, 0};
  TCleanName out;
  if (!safeout::CleanName(e.name, out)) return Refuse(name + ": refused, the name leaves nothing to write");
  if (out.altered) return Refuse(name + ": refused, the name leads outside the folder");
  if (out.controls && !args_.test) ask_->Note(name + ": control characters replaced, written as " + out.Text());
  const bool isDir = e.IsDirectory() || (S_ISDIR(mode) && e.uncompressedSize == 0);
  if (isDir) {
    if (args_.test) return;
    out.MakeFolder();
    if (TResult r = dest_.MakeFolder(out.dirs, unixHost ? int(mode & 07777) : -1, &when); !r)
      return Refuse(name + ": " + r.text);
    return;
  }
  if (S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode)) {
    if (!args_.test) ask_->Note(name + ": device files and FIFOs are not made");
    return;
  }
  if ((e.flags & zipfmt::kFlagStrongEncryption) || e.method == 99)
    return Refuse(name + ": refused, this kind of encryption is not supported here");
  if (e.method != zipfmt::kMethodStored && e.method != zipfmt::kMethodDeflated)
    return Refuse(name + ": refused, compression method " + std::to_string(e.method) + " is not supported here");
  std::unique_ptr<zipfmt::ZipCrypto> keys;
  if (e.IsEncrypted()) {
    if (e.compressedSize < zipfmt::kCryptHeaderSize) return Refuse(name + ": refused, its encrypted data is too short");
    if (!Decryptor(i, keys)) return Refuse(name + ": skipped, no right password");
  }
  const bool link = unixHost && S_ISLNK(mode);
  std::shared_ptr<safeout::TFolder> folder;
  bool replace = false;
  if (!args_.test) {
    TResult why;
    folder = dest_.Folder(out.dirs, true, why);
    if (!folder) return Refuse(name + ": " + why.text);
    const std::string key = out.Text();
    const safeout::TExisting existing = (written_.count(key) || !folder->CreatedByUs())
                                            ? safeout::TDestination::Look(*folder, out.leaf)
                                            : safeout::TExisting{};
    if (existing.kind == safeout::TKind::Folder) return Refuse(name + ": a folder of that name is in the way");
    if (existing.kind != safeout::TKind::None) {
      bool yes = mode_ == TMode::Always || replaceAll_;
      if (mode_ == TMode::Confirm && !replaceAll_ && !keepAll_) {
        switch (ask_->Replace(name)) {
          case TReplace::Yes: yes = true; break;
          case TReplace::YesToAll: yes = replaceAll_ = true; break;
          case TReplace::NoToAll: keepAll_ = true; break;
          case TReplace::No: break;
        }
      }
      if (!yes) {
        ++kept_;
        if (mode_ != TMode::Confirm || !ask_->Interactive()) ask_->Note("kept existing " + name);
        return;
      }
      replace = true;
    }
  }
  std::string why;
  if (link) {
    if (e.uncompressedSize > kMaxLinkTarget) return Refuse(name + ": refused, link target too long");
    std::string target;
    if (!Decode(i, keys.get(), kMaxLinkTarget,
                [&](const uint8_t* p, size_t n) {
                  target.append(reinterpret_cast<const char*>(p), n);
                  return true;
                },
                why))
      return Refuse(name + ": " + why);
    if (args_.test) return;
    if (TResult r = dest_.Symlink(out, target, replace, &when); !r)
      return Refuse(name + ": refused, symbolic link to " + EscapeControls(target) + ": " + r.text);
    written_.insert(out.Text());
    ++files_;
    return;
  }
  if (args_.test) {
    if (!Decode(i, keys.get(), UINT64_MAX, [](const uint8_t*, size_t) { return true; }, why))
      return Refuse(name + ": " + why);
    ++files_;
    return;
  }
  int keepMode = unixHost && (e.externalAttr >> 16) ? int(mode & 0777) : -1;
  unsigned createMode = 0666;
  if (keepMode >= 0 && (unsigned(keepMode) & umask_) == 0) {
    createMode = unsigned(keepMode);  // the umask leaves it as it is
    keepMode = -1;
  }
  TResult opened;
  std::unique_ptr<safeout::TOutputFile> file = dest_.NewFile(folder, out.leaf, createMode, opened);
  if (!file) return Refuse(name + ": " + opened.text);
  TResult written;
  const bool ok = Decode(i, keys.get(), UINT64_MAX,
                         [&](const uint8_t* p, size_t n) {
                           written = file->Write(p, n);
                           return written.Ok();
                         },
                         why);
  if (!written) return Refuse(name + ": " + written.text);
  if (!ok) return Refuse(name + ": refused, " + why + "; nothing written");
  if (TResult r = file->Commit(keepMode, &when, replace); !r) return Refuse(name + ": " + r.text);
  written_.insert(out.Text());
  ++files_;
  if (ask_->Interactive()) ask_->Note("  extracted: " + name);
}

int TStub::AutoRun() {
  const std::string& command = settings_.commandLine;
  if (command.rfind("><", 0) != 0) {
    ask_->Error("not run: \"" + EscapeControls(command) + "\" is not a file of this archive");
    return kExitEntries;
  }
  std::string entry = command.substr(2);
  std::replace(entry.begin(), entry.end(), '\\', '/');
  TCleanName name;
  if (!safeout::CleanName(entry, name) || name.altered || name.leaf.empty() || !written_.count(name.Text())) {
    ask_->Error("not run: " + EscapeControls(entry) + " was not extracted by this run");
    return kExitEntries;
  }
  if ((settings_.flags & zipfmt::kSfxFlagAskCmdLine) && ask_->Interactive() &&
      !ask_->Message("Start " + EscapeControls(name.Text()) + " now?", TButtons::YesNo))
    return kExitOk;
  TResult why;
  std::shared_ptr<safeout::TFolder> folder = dest_.Folder(name.dirs, false, why);
  struct stat st {};
  if (!folder || ::fstatat(folder->Fd(), name.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
    ask_->Error("not run: " + EscapeControls(name.Text()) + " is gone");
    return kExitEntries;
  }
  if ((st.st_mode & 0111) == 0) {
    ask_->Error("not run: " + EscapeControls(name.Text()) + " is not a program (it has no execute permission)");
    return kExitEntries;
  }
  if (::fchdir(folder->Fd()) != 0) {
    ask_->Error("not run: cannot enter the folder of " + EscapeControls(name.Text()));
    return kExitEntries;
  }
  const std::string path = "./" + name.leaf;
  std::fflush(nullptr);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  ::execv(path.c_str(), argv);
  ask_->Error("could not start " + EscapeControls(name.Text()) + ": " + std::strerror(errno));
  return kExitEntries;
}

int TStub::Run() {
  if (!Open()) return kExitArchive;
  if (args_.list) return List();
  const bool automatic = haveSettings_ && (settings_.flags & zipfmt::kSfxFlagAutoRun);
  ask_ = MakeAsk(haveSettings_ ? settings_.caption : std::string(), args_.yes || args_.test);
  if (args_.test) {
    for (size_t i = 0; i < dir_.entries.size(); ++i) Extract(i);
    std::fprintf(stderr, "%d file%s checked, %d with errors\n", files_, files_ == 1 ? "" : "s", failures_);
    return failures_ ? kExitEntries : kExitOk;
  }
  if (!haveSettings_) ask_->Note("the settings of this archive are missing or damaged: the defaults apply");
  const uint8_t flags = haveSettings_ ? settings_.flags : 0;

  if (haveSettings_ && !settings_.message.empty()) {
    std::string text = settings_.message;
    TButtons buttons = TButtons::Ok;
    if (text[0] == '\001' || text[0] == '\002') {
      buttons = text[0] == '\001' ? TButtons::OkCancel : TButtons::YesNo;
      text.erase(0, 1);
    }
    if (!ask_->Message(text, buttons)) {
      ask_->Note("cancelled: nothing was extracted");
      return kExitCancelled;
    }
  }

  std::string folder = args_.folder;
  if (folder.empty()) {
    folder = DefaultFolder(haveSettings_ ? settings_.defaultDir : std::string());
    if (!automatic) folder = ask_->Folder(folder);
    if (folder.empty()) {
      ask_->Note("cancelled: nothing was extracted");
      return kExitCancelled;
    }
  }
  mode_ = (flags & zipfmt::kSfxFlagOverwriteAlways) ? TMode::Always
          : (flags & zipfmt::kSfxFlagOverwriteNever) ? TMode::Never
                                                      : TMode::Confirm;
  if (!automatic && !(flags & zipfmt::kSfxFlagHideOverwriteBox) && ask_->Interactive())
    mode_ = ask_->OverwriteMode(mode_);

  std::vector<size_t> chosen;
  for (size_t i = 0; i < dir_.entries.size(); ++i) chosen.push_back(i);
  if (!automatic && (flags & zipfmt::kSfxFlagAskFiles) && ask_->Interactive() && !dir_.entries.empty()) {
    std::vector<std::string> names;
    for (const CentralEntry& e : dir_.entries) names.push_back(EscapeControls(e.name));
    if (!ask_->Choose(names, chosen)) {
      ask_->Note("cancelled: nothing was extracted");
      return kExitCancelled;
    }
  }

  if (TResult r = dest_.Open(folder); !r) {
    ask_->Error("cannot use the folder " + folder + ": " + r.text);
    return kExitArchive;
  }
  if (!(flags & zipfmt::kSfxFlagNoCheckSize)) {
    uint64_t need = 0;
    for (size_t i : chosen) need += dir_.entries[i].uncompressedSize;
    const int64_t free = dest_.FreeBytes();
    if (free >= 0 && need > uint64_t(free)) {
      ask_->Error("there is not enough room in " + folder + ": " + Thousands(need) + " bytes are needed, " +
                  Thousands(uint64_t(free)) + " are free");
      return kExitArchive;
    }
  }
  for (size_t i : chosen) Extract(i);
  dest_.FinishFolders();

  std::string summary = std::to_string(files_) + (files_ == 1 ? " file" : " files") + " extracted into " + folder;
  if (kept_) summary += ", " + std::to_string(kept_) + " existing kept";
  if (failures_) {
    ask_->Error(summary + "; " + std::to_string(failures_) + (failures_ == 1 ? " file was" : " files were") +
                " refused or damaged");
  } else if (!(flags & zipfmt::kSfxFlagNoSuccessMsg)) {
    ask_->Message(summary + ".", TButtons::Ok);
  } else {
    ask_->Note(summary);
  }
  if (haveSettings_ && !settings_.commandLine.empty()) {
    if (failures_) {
      ask_->Error("not run: " + EscapeControls(settings_.commandLine.substr(settings_.commandLine.rfind("><", 0) == 0 ? 2 : 0)) +
                  ", because files were refused");
      return kExitEntries;
    }
    return AutoRun();
  }
  return failures_ ? kExitEntries : kExitOk;
}

}  // namespace
}  // namespace sfxstub

int main(int argc, char** argv) {
  sfxstub::TArgs args;
  std::string error;
  if (!sfxstub::ParseArgs(argc, argv, args, error)) {
    std::fprintf(stderr, "%s: %s (try --help)\n", argv[0], error.c_str());
    return sfxstub::kExitUsage;
  }
  if (args.help) {
    std::printf(sfxstub::kHelp, argv[0]);
    return 0;
  }
  sfxstub::TStub stub(args, sfxstub::SelfPath(argv[0]));
  return stub.Run();
}

// The library's default handler for an uncaught exception prints the exception's demangled type: it
// would bring the whole demangler into a program that must stay small.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::fputs("internal error: the self-extractor stopped\n", stderr);
  std::abort();
}
}  // namespace __gnu_cxx
