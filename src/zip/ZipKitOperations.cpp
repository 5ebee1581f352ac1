// TZipKit: the add, extract and delete operations and the engine parameter records.
#include <cstring>
#include <filesystem>
#include <new>

#include "core/TextUtil.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

int32_t Flag(bool b) { return b ? kFlagTrue : kFlagFalse; }

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

// Extension of self-extracting programs.
constexpr char kSfxExtension[] = ".run";

// Strings and arrays handed to an engine; they live until the call returns.
struct TZipParamStore {
  ZipParams Params{};
  std::string Password, StoreSuffixes, ZipFileName, TempDir, Comment, RootDir;
  std::vector<std::string> SpecTexts, SpecPasswords, SpecRoots;
  std::vector<ZipFileSpec> Specs;
  std::vector<const char*> Exclusions;
};

struct TUnzipParamStore {
  UnzipParams Params{};
  std::string Password, ZipFileName, ExtractDir;
  std::vector<UnzipFileSpec> Specs;
};

const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

// "mm dd yy" of a day number.
void FormatEngineDate(int64_t dayNumber, char out[8]) {
  int y = 1899, m = 12, d = 30;
  if (dayNumber > 0) DateOfDayNumber(dayNumber, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d %02d %02d", m % 100, d % 100, y % 100);
  std::memcpy(out, buf, 8);
}

}  // namespace

// Builds the zip engine's records for an add (forDelete false) or a delete.
static void BuildZipParams(TZipKit& kit, bool forDelete, const std::string& archive, int32_t version,
                           TZipParamStore& s, const std::string& password, void* handle) {
  ZipParams& p = s.Params;
  const AddOpts o = kit.AddOptions;
  p.Handle = handle;
  p.Caller = &kit;
  p.Version = version;
  p.Callback = &TZipKit::EngineCallback;
  p.Trace = Flag(kit.Trace);
  s.Password = password.substr(0, kMaxParamPasswordLen);
  p.Password = OrNull(s.Password);
  for (int k = 0; k < kStoreSuffixCount; ++k) {
    if (!kit.AddStoreSuffixes.Has(static_cast<AddStoreSuffixEnum>(k))) continue;
    if (!s.StoreSuffixes.empty()) s.StoreSuffixes += ':';
    s.StoreSuffixes += std::string(".") + kStoreSuffixNames[k];
  }
  p.StoreSuffixes = OrNull(s.StoreSuffixes);
  p.Encrypt = forDelete ? 0 : Flag(o.Has(AddEncrypt));
  p.HiddenFiles = Flag(o.Has(AddHiddenFiles));
  p.Volume = Flag(o.Has(AddVolume));
  p.NoDirEntries = Flag(!o.Has(AddSeparateDirs));
  p.UseDate = Flag(o.Has(AddFromDate));
  p.Verbose = Flag(kit.Verbose || kit.Trace);
  p.Quiet = kFlagTrue;
  p.Level = kit.AddCompLevel;
  p.JunkDirNames = forDelete ? 0 : Flag(!o.Has(AddDirNames));
  p.Recurse = static_cast<int16_t>(forDelete ? 0 : Flag(o.Has(AddRecurseDirs)));
  p.AddFlag = Flag(!forDelete);
  p.ForceDos = Flag(o.Has(AddForceDOS));
  p.Move = forDelete ? 0 : Flag(o.Has(AddMove));
  p.DeleteFlag = Flag(forDelete);
  p.Update = forDelete ? 0 : Flag(o.Has(AddUpdate));
  p.Freshen = forDelete ? 0 : Flag(o.Has(AddFreshen) && !o.Has(AddUpdate));
  p.LatestTime = Flag(o.Has(AddZipTime));
  FormatEngineDate(kit.AddFrom, p.Date);
  s.ZipFileName = archive;
  p.ZipFileName = s.ZipFileName.c_str();
  s.TempDir = kit.TempDir;
  p.TempDir = OrNull(s.TempDir);
  s.Comment = kit.RawArchiveComment();
  p.ArchiveComment = OrNull(s.Comment);
  p.ArchiveOnly = o.Has(AddArchiveOnly) ? 1 : 0;
  p.ResetArchive = o.Has(AddResetArchive) ? 1 : 0;
  p.AllowUndoDelete = Flag(kit.HowToDelete == htdAllowUndo);
  p.CodePage = kit.CodePage == cpOEM ? kCodePageOem : 0;

  if (!kit.RootDir.empty()) {
    std::error_code ec;
    s.RootDir = fs::absolute(kit.RootDir, ec).lexically_normal().string();
  }
  const size_t n = kit.FSpecArgs.size();
  s.SpecTexts.resize(n);
  s.SpecPasswords.resize(n);
  s.SpecRoots.resize(n);
  s.Specs.assign(n, ZipFileSpec{});
  for (size_t i = 0; i < n; ++i) {
    std::string line = kit.FSpecArgs[i];
    ZipFileSpec& spec = s.Specs[i];
    if (!forDelete) {
      spec.Encrypt = p.Encrypt;
      spec.Recurse = p.Recurse;
      if (!line.empty() && line[0] == '>') {
        spec.Recurse = static_cast<int16_t>(kFlagTrue);
        line.erase(0, 1);
      } else if (!line.empty() && line[0] == '|') {
        spec.Recurse = 0;
        line.erase(0, 1);
      }
      const size_t lt = line.find('<');
      if (lt != std::string::npos) {
        s.SpecPasswords[i] = line.substr(lt + 1);
        line.erase(lt);
        spec.Encrypt = s.SpecPasswords[i].empty() ? 0 : kSpecOwnPassword;
        spec.Password = OrNull(s.SpecPasswords[i]);
      }
      // A line's own root folder, else the one of every line.
      if (i < kit.FSpecRootDirs.size() && !kit.FSpecRootDirs[i].empty()) {
        std::error_code ec;
        s.SpecRoots[i] = fs::absolute(kit.FSpecRootDirs[i], ec).lexically_normal().string();
        spec.RootDir = s.SpecRoots[i].c_str();
      } else {
        spec.RootDir = OrNull(s.RootDir);
      }
    }
    s.SpecTexts[i] = std::move(line);
    spec.FileSpec = s.SpecTexts[i].c_str();
  }
  p.SpecCount = static_cast<int32_t>(n);
  p.FileSpecs = n ? s.Specs.data() : nullptr;
  for (const std::string& e : kit.FSpecArgsExcl) s.Exclusions.push_back(e.c_str());
  p.ExclCount = static_cast<int32_t>(s.Exclusions.size());
  p.ExclSpecs = s.Exclusions.empty() ? nullptr : s.Exclusions.data();
}

void TZipKit::AddFiles() {
  SuccessCount = 0;
  if (FSpecArgs.empty()) return ReportMessage(10301);
  if (zipFileName_.empty()) return ReportMessage(10102);
  if (Unattended && AddOptions.Has(AddEncrypt) && password_.empty()) return ReportMessage(10302);

  const bool spanned = AddOptions.Has(AddDiskSpan) || AddOptions.Has(AddDiskSpanErase);
  std::string engineArchive = zipFileName_;
  if (spanned) {
    if (AddOptions.Has(AddFreshen) || AddOptions.Has(AddUpdate)) return ReportMessage(10303);
    if (EndsWithNoCase(zipFileName_, kSfxExtension)) return ReportMessage(11041);
    engineArchive = MakeTempFileName();
    if (engineArchive.empty()) return ReportMessage(11027);
    if (Verbose && OnMessage) OnMessage(this, 0, "Temporary zipfile: " + engineArchive);
  }
  if (zipBusy_) return;
  if (EndsWithNoCase(zipFileName_, kSfxExtension) && sfxOffset_ == 0 && !IsFile(zipFileName_)) {
    const int32_t result = ConvertToSfx(true);
    if (result != 0) {
      ReportText(10304, ZipKitFormat(10304, result), true);
      return;
    }
  }
  bool loadedHere = false;
  const int32_t version = CheckZipEngine(loadedHere);
  if (version == 0) return;

  zipBusy_ = true;
  Cancel = false;
  RunZipEngine(false, engineArchive, version);
  if (spanned) {
    if (SuccessCount > 0) {
      if (WriteSpannedArchive(engineArchive, zipFileName_) != 0) {
        SuccessCount = 0;
      } else {
        zipFileName_ = SpannedSetName(zipFileName_);
      }
    }
    std::error_code ec;
    fs::remove(engineArchive, ec);
  }
  FSpecArgs.clear();
  FSpecRootDirs.clear();
  FSpecArgsExcl.clear();
  if (loadedHere) UnloadZipEngine();
  Cancel = false;
  zipBusy_ = false;
  if (SuccessCount > 0) ReadDirectory();
}

void TZipKit::ExtractFiles() {
  SuccessCount = 0;
  const uint32_t savedReqCount = passwordReqCount_;
  if (!IsFile(zipFileName_)) return ReportMessage(10102);
  if (unzipBusy_) return;
  if (Unattended && password_.empty() && !OnPasswordError) {
    passwordReqCount_ = 0;
    ReportMessage(10502);
  }
  Cancel = false;
  unzipBusy_ = true;
  std::string archive = zipFileName_;
  std::string joined;
  bool ready = true;
  if (lastDisk_ != 0 || splitParts_ > 1) {
    ready = ReadSpannedArchive(zipFileName_, joined) == 0 && !joined.empty();
    archive = joined;
  }
  bool loadedHere = false;
  if (ready) {
    const int32_t version = CheckUnzipEngine(loadedHere);
    if (version != 0) {
      try {
        TUnzipParamStore s;
        UnzipParams& p = s.Params;
        p.Handle = Unattended ? nullptr : ApplicationHandle;
        p.Caller = this;
        p.Version = version;
        p.Callback = &TZipKit::EngineCallback;
        p.Trace = Flag(Trace);
        s.Password = password_.substr(0, kMaxParamPasswordLen);
        p.Password = s.Password.c_str();
        p.Test = Flag(ExtrOptions.Has(ExtrTest));
        p.Quiet = kFlagTrue;
        p.Verbose = Flag(Verbose || Trace);
        p.Update = Flag(ExtrOptions.Has(ExtrUpdate));
        p.Freshen = Flag(ExtrOptions.Has(ExtrFreshen) && !ExtrOptions.Has(ExtrUpdate));
        p.DirNames = Flag(ExtrOptions.Has(ExtrDirNames));
        p.Overwrite = Flag(ExtrOptions.Has(ExtrOverWrite));
        const bool all = FSpecArgs.empty() || FSpecArgs.front() == "*.*";
        if (!all) {
          s.Specs.assign(FSpecArgs.size(), UnzipFileSpec{});
          for (size_t i = 0; i < FSpecArgs.size(); ++i) s.Specs[i].FileSpec = FSpecArgs[i].c_str();
        }
        p.SpecCount = static_cast<int32_t>(s.Specs.size());
        p.FileSpecs = s.Specs.empty() ? nullptr : s.Specs.data();
        s.ZipFileName = archive;
        p.ZipFileName = s.ZipFileName.c_str();
        p.PasswordReqCount = static_cast<int32_t>(passwordReqCount_);
        s.ExtractDir = ExtrBaseDir;
        p.ExtractDir = OrNull(s.ExtractDir);
        p.CheckValue = kParamsCheckValue;
        SuccessCount = reinterpret_cast<UnzEngExecFn>(unzipEngine_.Exec)(&p);
      } catch (const std::bad_alloc&) {
        SuccessCount = 0;
        ReportMessage(10103);
      } catch (...) {
        SuccessCount = 0;
        ReportMessage(10501);
      }
    }
  }
  if (!joined.empty()) {
    std::error_code ec;
    fs::remove(joined, ec);
  }
  FSpecArgs.clear();
  passwordReqCount_ = savedReqCount;
  if (loadedHere) UnloadUnzipEngine();
  Cancel = false;
  unzipBusy_ = false;
}

void TZipKit::RunZipEngine(bool forDelete, const std::string& archive, int32_t version) {
  try {
    TZipParamStore store;
    BuildZipParams(*this, forDelete, archive, version, store, password_, Unattended ? nullptr : ApplicationHandle);
    store.Params.CheckValue = kParamsCheckValue;
    SuccessCount = reinterpret_cast<ZipEngExecFn>(zipEngine_.Exec)(&store.Params);
  } catch (const std::bad_alloc&) {
    SuccessCount = 0;
    ReportMessage(10103);
  } catch (...) {
    SuccessCount = 0;
    ReportMessage(10101);
  }
}

void TZipKit::DeleteEntries() {
  SuccessCount = 0;
  if (FSpecArgs.empty()) return ReportMessage(10401);
  if (!IsFile(zipFileName_)) return ReportMessage(10102);
  ReadEndRecord(true);
  if (endRecord_.ThisDisk != 0 || isSpanned_) throw EZipKit(10402);
  if (zipBusy_) return;
  zipBusy_ = true;
  Cancel = false;
  bool loadedHere = false;
  int32_t version = 0;
  if (zipEngine_.Library) {
    version = reinterpret_cast<GetZipEngVersionFn>(zipEngine_.GetVersion)();
  } else {
    version = LoadZipEngine();
    loadedHere = version != 0;
    if (!loadedHere) {
      zipBusy_ = false;
      return;
    }
  }
  if (version < kMinEngineVersion) {
    ReportMessage(10605, zipEngine_.Path);
  } else {
    RunZipEngine(true, zipFileName_, version);
  }
  FSpecArgs.clear();
  FSpecArgsExcl.clear();
  if (loadedHere) UnloadZipEngine();
  zipBusy_ = false;
  Cancel = false;
  if (SuccessCount > 0) ReadDirectory();
}
