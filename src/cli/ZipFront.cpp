// The zip front of `tandor`: drives TZipKit unattended.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "cli/Fronts.h"
#include "cli/Terminal.h"
#include "core/TextUtil.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;

namespace {

std::string DosTimeText(uint32_t dos) {
  char buf[32];
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63);
  return buf;
}

// Wires the component to the terminal: progress, messages, overwrite questions, failures.
class TZipRun {
 public:
  TZipRun(TZipKit& kit, const TCliOptions& options) : kit_(kit), options_(options), bar_(!options.Quiet) {
    kit.Unattended = true;
    kit.SetDLLDirectory(ProgramDir());
    kit.OnProgress = [this](TZipKit*, ProgressType type, const std::string& name, int64_t size) {
      switch (type) {
        case PtTotalSize: bar_.SetTotal(size); break;
        case PtNewFile: bar_.SetName(name); break;
        case PtAdvance: bar_.Advance(size); break;
        default: break;
      }
    };
    kit.OnMessage = [this](TZipKit* k, int32_t code, const std::string& text) {
      if (code != 0 || k->ErrCode != 0) Fail(text);
    };
    kit.OnExtractSkipped = [this](TZipKit*, const std::string& name, UnZipSkipTypes, int32_t error) {
      if (error != 0) Fail("skipped " + name);
    };
    kit.OnPasswordError = [this](TZipKit*, bool, std::string& password, const std::string& name, uint32_t& repeat,
                                 TPasswordButton& action) {
      bar_.Finish();
      password = AskPassword("password for " + name + ": ");
      action = password.empty() ? PbCancelAll : PbOk;
      if (password.empty()) repeat = 0;
    };
    kit.OnExtractOverwrite = [this](TZipKit*, const std::string& name, bool, bool& doOverwrite, int32_t) {
      if (options_.Overwrite || all_ == 'A') {
        doOverwrite = true;
        return;
      }
      if (all_ == 'N') {
        doOverwrite = false;
        return;
      }
      bar_.Finish();
      const char answer = AskReplace(name);
      if (answer == 'A' || answer == 'N') all_ = answer;
      doOverwrite = answer == 'y' || answer == 'A';
      if (!doOverwrite && !options_.Quiet) std::cerr << "tandor: kept existing " << name << std::endl;
    };
  }

  void Fail(const std::string& text) {
    bar_.Finish();
    if (!text.empty() && text != lastError_) PrintError(text);
    lastError_ = text;
    failed_ = true;
  }

  // The exit status after an operation.
  int Status() {
    bar_.Finish();
    if (kit_.ErrCode != 0 && !failed_) Fail(kit_.LastMessage.empty() ? "failed" : kit_.LastMessage);
    return failed_ || kit_.ErrCode != 0 ? 1 : 0;
  }

 private:
  TZipKit& kit_;
  const TCliOptions& options_;
  TProgressBar bar_;
  char all_ = 0;
  bool failed_ = false;
  std::string lastError_;
};

bool OpenArchive(TZipKit& kit, const std::string& archive) {
  struct stat st {};
  if (stat(archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    PrintError("cannot open " + archive + ": no such file");
    return false;
  }
  kit.SetZipFileName(archive);
  if (kit.ZipFileName().empty()) {
    PrintError(archive + ": " + (kit.LastMessage.empty() ? "not a zip archive" : kit.LastMessage));
    return false;
  }
  return true;
}

int List(TZipKit& kit, const TCliOptions& o) {
  if (!OpenArchive(kit, o.Archive)) return 1;
  std::string out;
  out.reserve(64 * static_cast<size_t>(kit.EntryCount()) + 256);
  out += "     Size  Packed      Date  Time   Name\n";
  out += "---------  ---------  ---------------- ----\n";
  uint64_t total = 0, packed = 0;
  char line[96];
  for (const ZipDirEntry& e : kit.DirEntries()) {
    std::snprintf(line, sizeof line, "%9llu  %9llu  %s%s ", static_cast<unsigned long long>(e.UnpackedSize),
                  static_cast<unsigned long long>(e.PackedSize), DosTimeText(e.DosDateTime).c_str(),
                  e.IsEncrypted ? "*" : " ");
    out += line;
    out += e.EntryName;
    out += '\n';
    total += e.UnpackedSize;
    packed += e.PackedSize;
  }
  std::snprintf(line, sizeof line, "---------  ---------\n%9llu  %9llu  %d entr%s\n",
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(packed), kit.EntryCount(),
                kit.EntryCount() == 1 ? "y" : "ies");
  out += line;
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (const std::string c = kit.ArchiveComment(); !c.empty()) std::cout << "comment: " << c << "\n";
  return 0;
}

int Extract(TZipKit& kit, const TCliOptions& o, bool test) {
  if (!OpenArchive(kit, o.Archive)) return 1;
  TZipRun run(kit, o);
  if (kit.LoadUnzipEngine() == 0 && !kit.UnzipEngineLoaded()) return run.Status();
  std::error_code ec;
  if (!test) {
    fs::create_directories(o.Destination, ec);
    kit.ExtrBaseDir = fs::absolute(o.Destination, ec).lexically_normal().string();
  }
  kit.ExtrOptions = ExtrOpts{ExtrDirNames};
  if (o.Overwrite) kit.ExtrOptions.Include(ExtrOverWrite);
  if (test) kit.ExtrOptions.Include(ExtrTest);
  kit.FSpecArgs = o.Files;
  if (o.Password) kit.SetPassword(*o.Password);
  kit.ExtractFiles();
  const int status = run.Status();
  if (status == 0 && !o.Quiet && test) std::cerr << "tandor: " << kit.SuccessCount << " files tested, no errors" << std::endl;
  return status;
}

int Add(TZipKit& kit, const TCliOptions& o) {
  TZipRun run(kit, o);
  if (kit.LoadZipEngine() == 0 && !kit.ZipEngineLoaded()) return run.Status();
  std::error_code ec;
  for (const std::string& f : o.Files) {
    if (f.find_first_of("*?") == std::string::npos && !fs::exists(fs::symlink_status(f, ec))) {
      PrintError("cannot add " + f + ": no such file");
      return 1;
    }
  }
  if (fs::exists(o.Archive, ec)) {
    kit.SetZipFileName(o.Archive);
    if (kit.ZipFileName().empty()) {
      PrintError(o.Archive + ": not a zip archive; nothing added");
      return 1;
    }
  } else {
    kit.SetZipFileName(o.Archive);  // a new archive: the name stands without a directory
  }
  kit.RootDir = fs::current_path(ec).string();
  kit.AddOptions = AddOpts{AddDirNames, AddHiddenFiles, AddSeparateDirs};
  if (o.Recurse) kit.AddOptions.Include(AddRecurseDirs);
  if (o.Password) {
    kit.SetPassword(*o.Password);
    kit.AddOptions.Include(AddEncrypt);
  }
  kit.AddCompLevel = o.Level;
  kit.FSpecArgs = o.Files;
  kit.AddFiles();
  return run.Status();
}

int Delete(TZipKit& kit, const TCliOptions& o) {
  if (!OpenArchive(kit, o.Archive)) return 1;
  TZipRun run(kit, o);
  if (kit.LoadZipEngine() == 0 && !kit.ZipEngineLoaded()) return run.Status();
  kit.FSpecArgs = o.Files;
  try {
    kit.DeleteEntries();
  } catch (const EZipKit& e) {
    run.Fail(e.what());
  }
  return run.Status();
}

}  // namespace

int RunZipCommand(const TCliOptions& o) {
  TZipKit kit;
  kit.Unattended = true;
  switch (o.Command) {
    case 'l': return List(kit, o);
    case 'x': return Extract(kit, o, false);
    case 't': return Extract(kit, o, true);
    case 'a': return Add(kit, o);
    case 'd': return Delete(kit, o);
    default: return 2;
  }
}
