#include "rar/RarKit.h"

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "safeout/Names.h"

namespace {

struct TLibrary {
  void* handle = nullptr;
  RarHandle (*Open)(RAROpenArchiveData*) = nullptr;
  int (*Close)(RarHandle) = nullptr;
  int (*ReadHeader)(RarHandle, RARHeaderData*) = nullptr;
  int (*ProcessFile)(RarHandle, int, const char*, const char*) = nullptr;
  void (*SetProcessDataProc)(RarHandle, PROCESSDATAPROC) = nullptr;
  void (*SetChangeVolProc)(RarHandle, CHANGEVOLPROC) = nullptr;
  void (*SetPassword)(RarHandle, const char*) = nullptr;
  int (*Sizes64)(RarHandle, unsigned long long*, unsigned long long*) = nullptr;  // optional
};

std::recursive_mutex gMutex;
TLibrary gLib;
RarHandle gArchive = nullptr;
std::atomic<TRarKit*> gCurrent{nullptr};

template <typename F>
bool Bind(F& fn, const char* symbol) {
  fn = reinterpret_cast<F>(dlsym(gLib.handle, symbol));
  return fn != nullptr;
}

bool LessNoCase(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; }

}  // namespace

bool LoadUnrarLibrary(const std::string& folder, const std::string& name) {
  std::lock_guard lock(gMutex);
  if (gLib.handle) return true;
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name.empty() ? "libunrar.so" : name;
  gLib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gLib.handle) return false;
  const bool all = Bind(gLib.Open, "RAROpenArchive") && Bind(gLib.Close, "RARCloseArchive") &&
                   Bind(gLib.ReadHeader, "RARReadHeader") && Bind(gLib.ProcessFile, "RARProcessFile") &&
                   Bind(gLib.SetProcessDataProc, "RARSetProcessDataProc") &&
                   Bind(gLib.SetChangeVolProc, "RARSetChangeVolProc") && Bind(gLib.SetPassword, "RARSetPassword");
  if (!all) {
    dlclose(gLib.handle);
    gLib = TLibrary();
    return false;
  }
  Bind(gLib.Sizes64, "RARGetHeaderSizes64");
  return true;
}

void CloseRarArchive() {
  std::lock_guard lock(gMutex);
  if (gArchive && gLib.Close) gLib.Close(gArchive);
  gArchive = nullptr;
}

void UnloadUnrarLibrary() {
  std::lock_guard lock(gMutex);
  CloseRarArchive();
  if (gLib.handle) dlclose(gLib.handle);
  gLib = TLibrary();
}

bool UnrarLibraryLoaded() {
  std::lock_guard lock(gMutex);
  return gLib.handle != nullptr;
}

TRarKit::~TRarKit() {
  TRarKit* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
}

void TRarKit::SetFilesToProcess(const std::vector<std::string>& names) {
  files_ = names;
  std::sort(files_.begin(), files_.end(), LessNoCase);
}

void TRarKit::AddFileToProcess(const std::string& name) {
  files_.insert(std::upper_bound(files_.begin(), files_.end(), name, LessNoCase), name);
}

bool TRarKit::ShouldProcess(const std::string& name) const {
  return files_.empty() || std::binary_search(files_.begin(), files_.end(), name, LessNoCase);
}

bool TRarKit::IsFolderEntry(const RARHeaderData& h) {
  return (h.Flags & RHDF_DIRECTORY) == RHDF_DIRECTORY || (h.FileAttr & RAR_ATTR_DIRECTORY);
}

std::string TRarKit::EntryName(const RARHeaderData& h) { return std::string(h.FileName, strnlen(h.FileName, sizeof h.FileName)); }

std::string TRarKit::GetRarErrorText(int code) {
  switch (code) {
    case 10:
    case 100: return "End of archive, All Done !";
    case 11: return "Not enough memory to initialize data structures";
    case 12: return "CRC error, data damaged";
    case 13: return "File is not a valid RAR archive";
    case 14: return "Unknown comment format";
    case 15: return "File open error";
    case 16: return "File create error, either a ReadOnly-File or a directory that already exists...";
    case 17: return "File close error";
    case 18:
    case 101: return "Read error";
    case 19: return "Write error";
    case 20: return "Buffer is too small for comment";
    case ERAR_MISSING_PASSWORD: return "Password required: the archive is encrypted";
    case ERAR_BAD_PASSWORD: return "Incorrect password (or damaged data)";
    case ERAR_ENCRYPTED_ENTRY: return "This entry uses the encryption of RAR before 2.9, which cannot be undone here";
    case ERAR_ENCRYPTED_HEADERS: return "The archive's file names are encrypted: it cannot be opened";
    case ERAR_UNSUPPORTED_SOLID: return "This entry of a solid RAR 4 archive cannot be unpacked";
    case ERAR_UNSAFE_ENTRY: return "Refused: it would lead outside the destination folder";
    case ERAR_SPECIAL_FILE: return "Refused: device files and FIFOs are not created";
    case 255: return "Decompression Canceled by user !";
    case -101: return "Unable to load libunrar.so...";
    default: return "Unknown error !\nCode :" + std::to_string(code);
  }
}

int TRarKit::VolumeCallback(char* arcName, int mode) {
  TRarKit* kit = gCurrent.load();
  if (!kit || !kit->OnVolumeChange) return 1;
  return kit->OnVolumeChange(*kit, arcName, mode);
}

int TRarKit::DataCallback(unsigned char* addr, int size) {
  TRarKit* kit = gCurrent.load();
  if (!kit) return 1;
  kit->position_ += size;
  if (kit->OnProcessData) kit->OnProcessData(*kit, addr, size, kit->position_);
  return 1;
}

int TRarKit::Finish(int code) {
  CloseRarArchive();
  UnloadUnrarLibrary();
  return code;
}

int TRarKit::ListRarArchive() { return Run(TRunMode::List); }

int TRarKit::ExtractRarArchive() { return Run(TRunMode::Extract); }

int TRarKit::TestRarArchive() { return Run(TRunMode::Test); }

int TRarKit::ExtractOne(const RARHeaderData& header, const std::string& name) {
  // The name the entry gets: the library cleans it the same way.
  safeout::TCleanName clean;
  const bool named = safeout::CleanName(name, clean);
  if (OnOverwrite && named && !IsFolderEntry(header)) {
    const std::string disk = TargetDirectory + (TargetDirectory.empty() || TargetDirectory.back() == '/' ? "" : "/") + clean.Text();
    struct stat st {};
    if (lstat(disk.c_str(), &st) == 0 && !OnOverwrite(*this, header, disk))
      return gLib.ProcessFile(gArchive, RAR_SKIP, nullptr, nullptr);
  }
  int result = gLib.ProcessFile(gArchive, RAR_EXTRACT, TargetDirectory.c_str(), nullptr);
  if (result == ERAR_ECREATE && !ErrorOnDirExists && (header.Flags & RHDF_DIRECTORY) == RHDF_DIRECTORY) result = 0;
  if (result == 0 && named && (clean.altered || clean.controls) && OnWarning)
    OnWarning(*this, header,
              safeout::EscapeControls(name) +
                  (clean.altered ? ": unsafe path elements removed, written as " : ": control characters replaced, written as ") +
                  clean.Text() + (IsFolderEntry(header) ? "/" : ""));
  if (OnExtract) OnExtract(*this, header, result == 0);
  return result;
}

// A failure of one entry that lets the run go on with the next (the archive itself is readable).
bool TRarKit::EntryFailure(int code) {
  switch (code) {
    case ERAR_BAD_DATA:
    case ERAR_ECREATE:
    case ERAR_ECLOSE:
    case ERAR_EWRITE:
    case ERAR_ENCRYPTED_ENTRY:
    case ERAR_BAD_PASSWORD:
    case ERAR_UNSUPPORTED_SOLID:
    case ERAR_UNSAFE_ENTRY:
    case ERAR_SPECIAL_FILE: return true;
    default: return false;
  }
}

int TRarKit::Run(TRunMode mode) {
  const bool extract = mode != TRunMode::List;
  std::lock_guard lock(gMutex);
  gCurrent = this;
  index_ = -1;
  firstFailure_ = 0;
  if (!LoadUnrarLibrary(Path2UnrarDll, NameofUnrarDll)) {
    if (OnError) OnError(*this, kRarKitNoLibrary);
    return kRarKitNoLibrary;
  }
  if (!gArchive) {
    auto comment = std::make_unique<char[]>(65536);
    RAROpenArchiveData open{};
    open.ArcName = Archivefilename.c_str();
    open.OpenMode = extract ? RAR_OM_EXTRACT : RAR_OM_LIST;
    open.CmtBuf = comment.get();
    open.CmtBufSize = 65535;
    gArchive = gLib.Open(&open);
    if (!gArchive || open.OpenResult != 0) {
      const int code = open.OpenResult ? int(open.OpenResult) : ERAR_EOPEN;
      if (OnError) OnError(*this, code);
      return Finish(code == ERAR_BAD_DATA || code == ERAR_BAD_ARCHIVE ? code : kRarKitOpenFailed);
    }
    if (OnVolumeChange) gLib.SetChangeVolProc(gArchive, &TRarKit::VolumeCallback);
    if (OnComment && open.CmtState == RAR_CMT_READ && open.CmtSize > 0) {
      TComment c;
      c.Text.assign(comment.get(), strnlen(comment.get(), open.CmtSize));
      c.Size = unsigned(c.Text.size());
      OnComment(*this, c);
    }
    if (OnProcessData) gLib.SetProcessDataProc(gArchive, &TRarKit::DataCallback);
  }
  std::string triedPassword;
  for (;;) {
    RARHeaderData header{};
    const int read = gLib.ReadHeader(gArchive, &header);
    if (Stop) {
      Stop = false;
      return Finish(kRarKitStopped);
    }
    // Encrypted headers: the password is asked before the first header (the record has no name yet);
    // a wrong one is asked again unless the same comes back.
    if ((read == ERAR_MISSING_PASSWORD || read == ERAR_BAD_PASSWORD) && index_ < 0 && OnReqPassword) {
      std::string password;
      OnReqPassword(*this, header, password);
      if (!password.empty() && !Stop && password != triedPassword) {
        triedPassword = password;
        gLib.SetPassword(gArchive, password.c_str());
        continue;
      }
      Stop = false;
    }
    if (read != 0) {
      // The end of the archive is the normal end of a run, not an error to report; a run whose
      // entries failed on the way ends with the first of those failures.
      if (read != ERAR_END_ARCHIVE && OnError) OnError(*this, read);
      return Finish(read == ERAR_END_ARCHIVE && firstFailure_ ? firstFailure_ : read);
    }
    const std::string name = EntryName(header);
    unsigned long long pack = 0, unp = header.UnpSize;
    if (gLib.Sizes64) gLib.Sizes64(gArchive, &pack, &unp);
    entrySize_ = unp;
    ++index_;
    if (mode == TRunMode::Test) {
      if (OnTesting) OnTesting(*this, header);
    } else if (extract) {
      if (OnExtracting) OnExtracting(*this, header);
    } else if (OnListing) {
      OnListing(*this, header);
    }
    position_ = 0;
    int result;
    if (!extract) {
      if (IsEncryptedEntry(header) && OnReqPassword) {
        std::string password;
        OnReqPassword(*this, header, password);
        if (!password.empty()) gLib.SetPassword(gArchive, password.c_str());
      }
      result = gLib.ProcessFile(gArchive, RAR_SKIP, nullptr, nullptr);
      if (OnList) OnList(*this, header, result == 0);
    } else if (OnSelect ? !OnSelect(*this, header) : !ShouldProcess(name)) {
      result = gLib.ProcessFile(gArchive, RAR_SKIP, nullptr, nullptr);
    } else {
      bool cancelled = false;
      if (IsEncryptedEntry(header) && OnReqPassword) {
        std::string password;
        OnReqPassword(*this, header, password);
        if (!password.empty()) gLib.SetPassword(gArchive, password.c_str());
        cancelled = password.empty() && Stop;
      }
      // A cancelled password request skips the entry; the run stops at the next header.
      if (cancelled) {
        result = gLib.ProcessFile(gArchive, RAR_SKIP, nullptr, nullptr);
      } else if (mode == TRunMode::Test) {
        result = gLib.ProcessFile(gArchive, RAR_TEST, nullptr, nullptr);
        if (OnTest) OnTest(*this, header, result == 0);
      } else {
        result = ExtractOne(header, name);
      }
    }
    if (result != 0) {
      if (OnError) OnError(*this, result);
      // A refused or damaged entry does not end the run: the entries after it are still extracted.
      if (mode != TRunMode::List && EntryFailure(result)) {
        if (firstFailure_ == 0) firstFailure_ = result;
        continue;
      }
      return Finish(result == ERAR_END_ARCHIVE || result == kRarKitStopped ? kRarKitStopped : result);
    }
  }
}
