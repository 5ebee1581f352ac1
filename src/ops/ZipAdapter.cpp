// The zip adapter: TZipKit and its engines. The component runs unattended: its messages, questions
// and progress come back here as events and go to the job context.
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <unordered_set>

#include "ZipTime.h"
#include "core/TextUtil.h"
#include "ops/AdapterCommon.h"
#include "ops/Jobs.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

// The unzip engine's code for an entry left without the right password.
constexpr int kUnzipWrongPassword = 82;

// Which engine a message came from: their codes overlap.
enum class TEngineRun { None, Unzip, Zip };

TStatusCode UnzipCode(int code) {
  switch (code) {
    case 0:
    case 1:
    case 11: return TStatusCode::Warning;  // something skipped or renamed; a name matched nothing
    case 2:
    case 3: return TStatusCode::Damaged;
    case 9: return TStatusCode::NotFound;
    case 50: return TStatusCode::WriteFailed;
    case 80: return TStatusCode::Cancelled;
    case 81: return TStatusCode::Unsupported;
    case 82: return TStatusCode::WrongPassword;
    default: return TStatusCode::Failed;
  }
}

TStatusCode ZipCode(int code) {
  switch (code) {
    case 3: return TStatusCode::Damaged;
    case 9: return TStatusCode::Cancelled;
    case 10:
    case 14:
    case 15: return TStatusCode::WriteFailed;
    case 11: return TStatusCode::Unreadable;
    case 12: return TStatusCode::Warning;  // nothing to do
    case 13:
    case 18: return TStatusCode::NotFound;
    case 17: return TStatusCode::WrongPassword;
    default: return TStatusCode::Failed;
  }
}

class TZipAdapter final : public IArchiveAdapter {
 public:
  TZipAdapter() {
    kit_.Unattended = true;
    kit_.SetDLLDirectory(ProgramDir());
  }
  ~TZipAdapter() override {
    kit_.UnloadZipEngine();
    kit_.UnloadUnzipEngine();
  }

  TArchiveFormat Format() const override { return TArchiveFormat::Zip; }
  uint32_t Capabilities() const override {
    return capList | capTest | capExtract | capSelect | capCreate | capAdd | capDelete | capReadComment |
           capWriteComment | capEncrypt;
  }

  TStatus Open(const std::string& path, TJobContext& ctx) override {
    Wire(ctx, TEngineRun::None);
    quietMessages_ = true;  // the reader's messages make the open's status instead
    kit_.SetZipFileName(path);
    quietMessages_ = false;
    if (kit_.ZipFileName().empty()) {
      return {TStatusCode::Damaged, path + ": " + (kit_.LastMessage.empty() ? "not a zip archive" : kit_.LastMessage)};
    }
    // The reader's warnings about a readable archive (data in front of the zip data, bytes after its
    // end) are said, but they are not the run's outcome.
    if (kit_.ErrCode == 10203 || kit_.ErrCode == 10204) ctx.Note(ReadWarning());
    kit_.ErrCode = 0;
    path_ = path;
    return {};
  }

  int64_t EntryCountHint() const override { return static_cast<int64_t>(kit_.DirEntries().size()); }

  TStatus List(TJobContext& ctx, const TEntryCallback& onEntry) override {
    TArchiveEntry e;
    TDosTimes times;
    const std::vector<ZipDirEntry>& entries = kit_.DirEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
      if ((i & 1023) == 0 && ctx.Cancelled()) return TStatus::Cancelled();
      const ZipDirEntry& d = entries[i];
      e.Id = i;
      e.Name = d.EntryName;
      e.Size = d.UnpackedSize;
      e.PackedSize = d.PackedSize;
      e.DosTime = d.DosDateTime;
      e.Time = times.ToUnix(d.DosDateTime);
      e.Encrypted = d.IsEncrypted;
      const bool unixHost = d.HostSystem == 3;
      const uint32_t mode = unixHost ? d.ExternalAttributes >> 16 : 0;
      e.Mode = mode & 07777;
      if (!d.EntryName.empty() && d.EntryName.back() == '/') e.Kind = TEntryKind::Folder;
      else if (unixHost && S_ISLNK(mode)) e.Kind = TEntryKind::SymLink;
      else if ((unixHost && S_ISDIR(mode)) || (d.ExternalAttributes & 0x10)) e.Kind = TEntryKind::Folder;
      else e.Kind = TEntryKind::File;
      onEntry(e);
    }
    return {};
  }

  TStatus Test(TJobContext& ctx, const TTestParams& params) override {
    ctx.SetGivenPassword(params.Password);
    return RunUnzip(ctx, params.Selection, params.Password, true, nullptr);
  }

  TStatus Extract(TJobContext& ctx, const TExtractParams& params) override {
    ctx.SetGivenPassword(params.Password);
    return RunUnzip(ctx, params.Selection, params.Password, false, &params);
  }

  TStatus Create(TJobContext& ctx, const std::string& path, const TCreateParams& params) override {
    // A multi-disk set: the engine runs make one archive beside the target, which the component
    // then copies onto the parts (a spanned engine run each would make a set of its own).
    const bool spanned = params.Zip.Span || params.Zip.SpanErase;
    const std::string single = spanned ? TempNameBeside(params.Target) : path;
    Wire(ctx, TEngineRun::Zip);
    kit_.SetZipFileName(single);  // a new archive: the name stands without a directory
    kit_.ErrCode = 0;
    path_ = single;
    // An older archive under the target's name is never stored in the new one.
    std::error_code ec;
    exclude_ = fs::absolute(params.Target, ec).lexically_normal().string();
    TZipAddOptions zip = params.Zip;
    zip.Span = zip.SpanErase = false;
    TStatus s = RunAdd(ctx, params.Items, params.RootDir, params.Level, params.Password, zip, false, false);
    exclude_.clear();
    if (s.Succeeded() && !params.Comment.empty()) s.Merge(SetComment(ctx, params.Comment));
    if (spanned) {
      if (s.Succeeded()) s = WriteSet(ctx, single, path, params.Zip);
      ::unlink(single.c_str());
    }
    return s;
  }

  TStatus Add(TJobContext& ctx, const TUpdateParams& params) override {
    if (kit_.LastDisk() != 0 || kit_.IsSpanned()) return {TStatusCode::Unsupported, ZipKitMessageText(10402)};
    allOrNothing_ = params.AllOrNothing;
    TStatus s = RunAdd(ctx, params.Items, params.RootDir, params.Level, params.Password, params.Zip, params.OnlyNewer,
                       params.OnlyExisting);
    allOrNothing_ = false;
    return s;
  }

  TStatus Delete(TJobContext& ctx, const TSelection& selection) override {
    Wire(ctx, TEngineRun::Zip);
    if (!LoadEngine(true)) return Outcome(ctx, "the zip engine could not be loaded");
    // Every name as it stands: the engine takes an entry's own name for that entry alone.
    kit_.FSpecArgs = SpecsFor(selection, false);
    kit_.FSpecArgsExcl.clear();
    if (kit_.FSpecArgs.empty()) return {TStatusCode::Failed, "nothing to delete"};
    kit_.ErrCode = 0;
    try {
      kit_.DeleteEntries();
    } catch (const EZipKit& e) {
      Report(ctx, TStatus(TStatusCode::Unsupported, e.what()));
    }
    return Outcome(ctx, "delete failed");
  }

  TStatus Comment(std::string& text) override {
    text = kit_.ArchiveComment();
    return {};
  }

  TStatus SetComment(TJobContext& ctx, const std::string& text) override {
    Wire(ctx, TEngineRun::None);
    kit_.ErrCode = 0;
    kit_.SetArchiveComment(text);
    return Outcome(ctx, "the comment could not be written");
  }

  // Copies the archive `single` onto the parts of a multi-disk set named `target`.
  TStatus WriteSet(TJobContext& ctx, const std::string& single, const std::string& target, const TZipAddOptions& zip) {
    Wire(ctx, TEngineRun::None);
    AddOpts o;
    if (zip.Span) o.Include(AddDiskSpan);
    if (zip.SpanErase) o.Include(AddDiskSpanErase);
    kit_.AddOptions = o;
    kit_.MaxVolumeSize = zip.MaxVolumeSize;
    kit_.ErrCode = 0;
    if (kit_.WriteSpannedArchive(single, target) == 0) {
      createdPath_ = kit_.SpannedSetName(target);
      return {};
    }
    return Outcome(ctx, "the multi-disk set could not be written");
  }

  std::string CreatedPath() const override { return createdPath_; }

  // The zip component itself, for the jobs that need more of it (self-extracting conversion, spanning).
  TZipKit& Kit() { return kit_; }

 private:
  // The text of the directory reader's warning, with the size of the data in front when that is why.
  std::string ReadWarning() const {
    std::string text = kit_.LastMessage;
    const TZipEndRecord& rec = kit_.EndRecord();
    const int64_t shift = kit_.CentralDirOffset() - static_cast<int64_t>(std::min<uint64_t>(rec.DirOffset, INT64_MAX));
    if (kit_.ErrCode == 10203 && kit_.OffsetMismatch() && rec.DirStartDisk == rec.ThisDisk && shift > 0)
      text += " (" + std::to_string(shift) + " bytes in front of the zip data)";
    return text;
  }

  // Events of the component to the context; `run` tells which engine's codes the messages carry.
  void Wire(TJobContext& ctx, TEngineRun run) {
    run_ = run;
    reported_ = false;
    quietMessages_ = false;
    passwordSkips_ = 0;
    done_ = total_ = 0;
    name_.clear();
    ctx.SetCancelHook([this] { kit_.Cancel = true; });
    kit_.OnProgress = [this, &ctx](TZipKit*, ProgressType type, const std::string& name, int64_t size) {
      switch (type) {
        case PtTotalSize: total_ = static_cast<uint64_t>(std::max<int64_t>(size, 0)); break;
        case PtNewFile: name_ = name; break;
        case PtAdvance: done_ += static_cast<uint64_t>(std::max<int64_t>(size, 0)); break;
        default: return;
      }
      if (ctx.Cancelled()) kit_.Cancel = true;
      ctx.Progress(done_, total_, name_);
    };
    kit_.OnMessage = [this, &ctx](TZipKit* k, int32_t code, const std::string& text) {
      if (quietMessages_ || (code == 0 && k->ErrCode == 0)) return;
      if (ctx.Cancelled() || k->Cancel) return;  // a stop that was asked for is not a failure to report
      const int engineCode = code != 0 ? (code & 0xFF) : 0;
      if (run_ == TEngineRun::Unzip && engineCode == kUnzipWrongPassword) {
        ++passwordSkips_;  // told once for the run, when it ends
        return;
      }
      TStatusCode c = TStatusCode::Failed;
      if (engineCode != 0) c = run_ == TEngineRun::Zip ? ZipCode(engineCode) : UnzipCode(engineCode);
      if (c == TStatusCode::Warning && run_ == TEngineRun::None) c = TStatusCode::Failed;
      Report(ctx, TStatus(c, text));
    };
    kit_.OnExtractSkipped = [this, &ctx](TZipKit* k, const std::string& name, UnZipSkipTypes, int32_t error) {
      if (error == 0) return;
      reported_ = true;
      ctx.Refuse(name, "skipped " + name);
      // Every file or none: the engine stops before it puts the new archive in place.
      if (allOrNothing_ && run_ == TEngineRun::Zip) {
        if (skippedFirst_.empty()) skippedFirst_ = name;
        k->Cancel = true;
      }
    };
    kit_.OnPasswordError = [&ctx](TZipKit* k, bool, std::string& password, const std::string& name, uint32_t& repeat,
                                  TPasswordButton& action) {
      // The engine asks only when the password it has does not fit.
      ctx.PasswordFailed();
      const TPasswordChoice choice = ctx.Password(name, password);
      switch (choice) {
        case TPasswordChoice::Ok: action = PbOk; return;
        case TPasswordChoice::CancelAll: action = PbCancelAll; break;
        case TPasswordChoice::Abort: action = PbAbort; k->Cancel = true; break;
        case TPasswordChoice::Cancel: action = PbCancel; break;
      }
      password.clear();
      repeat = 0;
    };
    kit_.OnCRC32Error = [&ctx](TZipKit* k, const std::string& name, uint32_t, uint32_t, bool& doExtract) {
      switch (ctx.Questions().AskDamaged(name, TStatus(TStatusCode::Damaged, name + ": CRC error"))) {
        case TDamagedChoice::Keep: doExtract = true; break;
        case TDamagedChoice::Stop:
          doExtract = false;
          ctx.RequestCancel();
          k->Cancel = true;
          break;
        case TDamagedChoice::Skip: doExtract = false; break;
      }
    };
  }

  void Report(TJobContext& ctx, const TStatus& s) {
    reported_ = true;
    ctx.Message(s);
  }

  // The status after an operation: what the messages said, or the component's error code.
  TStatus Outcome(TJobContext& ctx, const std::string& fallback) {
    const int err = kit_.ErrCode;
    if (ctx.Cancelled()) return TStatus::Cancelled();
    if (err == 0) return {};
    TStatusCode code = TStatusCode::Failed;
    if (err < 256 && run_ != TEngineRun::None) code = run_ == TEngineRun::Zip ? ZipCode(err) : UnzipCode(err);
    TStatus s(code, kit_.LastMessage.empty() ? fallback : kit_.LastMessage);
    if (!reported_) Report(ctx, s);
    return s;
  }

  bool LoadEngine(bool zip) {
    if (zip) return kit_.ZipEngineLoaded() || kit_.LoadZipEngine() != 0 || kit_.ZipEngineLoaded();
    return kit_.UnzipEngineLoaded() || kit_.LoadUnzipEngine() != 0 || kit_.UnzipEngineLoaded();
  }

  // The engine's name specifications for a selection: the stored names of the chosen entries ("*.*"
  // when they are all of them and `everyShort`), then the patterns.
  std::vector<std::string> SpecsFor(const TSelection& selection, bool everyShort = true) const {
    std::vector<std::string> specs;
    const std::vector<ZipDirEntry>& entries = kit_.DirEntries();
    std::unordered_set<TEntryId> ids(selection.Ids.begin(), selection.Ids.end());
    const bool everyEntry = selection.Patterns.empty() && !ids.empty() && ids.size() == entries.size() &&
                            std::all_of(ids.begin(), ids.end(), [&](TEntryId id) { return id < entries.size(); });
    if (everyEntry && everyShort) return {"*.*"};
    for (TEntryId id : selection.Ids)
      if (id < entries.size()) specs.push_back(entries[id].EntryName);
    specs.insert(specs.end(), selection.Patterns.begin(), selection.Patterns.end());
    return specs;
  }

  TStatus RunUnzip(TJobContext& ctx, const TSelection& selection, const std::string& password, bool test,
                   const TExtractParams* x) {
    Wire(ctx, TEngineRun::Unzip);
    if (!LoadEngine(false)) return Outcome(ctx, "the unzip engine could not be loaded");
    ExtrOpts options;
    if (test) {
      options.Include(ExtrTest);
      options.Include(ExtrDirNames);
    } else {
      std::error_code ec;
      fs::create_directories(x->Destination, ec);
      kit_.ExtrBaseDir = fs::absolute(x->Destination, ec).lexically_normal().string();
      while (kit_.ExtrBaseDir.size() > 1 && kit_.ExtrBaseDir.back() == '/') kit_.ExtrBaseDir.pop_back();
      if (x->DirNames) options.Include(ExtrDirNames);
      if (x->Overwrite == TOverwriteMode::Always) options.Include(ExtrOverWrite);
      if (x->Update) options.Include(ExtrUpdate);
      if (x->Freshen) options.Include(ExtrFreshen);
      const std::string base = kit_.ExtrBaseDir;
      kit_.OnExtractOverwrite = [this, &ctx, base](TZipKit* k, const std::string& name, bool isOlder, bool& doOverwrite,
                                                   int32_t index) {
        TOverwriteQuestion q;
        q.Format = TArchiveFormat::Zip;
        q.EntryName = name;
        q.DiskPath = base + "/" + CleanedEntryName(name);
        q.EntryIsOlder = isOlder;
        const std::vector<ZipDirEntry>& entries = kit_.DirEntries();
        if (index >= 0 && static_cast<size_t>(index) < entries.size() && entries[index].EntryName == name) {
          q.EntrySize = entries[index].UnpackedSize;
          q.EntryDosTime = entries[index].DosDateTime;
          q.EntryTime = zipfmt::DosToUnix(static_cast<uint16_t>(q.EntryDosTime >> 16),
                                          static_cast<uint16_t>(q.EntryDosTime));
        }
        doOverwrite = ctx.Overwrite(q);
        if (ctx.Cancelled()) k->Cancel = true;
      };
    }
    kit_.ExtrOptions = options;
    kit_.FSpecArgs = SpecsFor(selection);
    kit_.SetPassword(password);
    kit_.ErrCode = 0;
    const std::vector<std::string> newFolders = test ? std::vector<std::string>{} : FoldersOfEncrypted(selection);
    kit_.ExtractFiles();
    kit_.OnExtractOverwrite = nullptr;
    ctx.Counts.Files += kit_.SuccessCount;
    if (passwordSkips_ == 0 && !ctx.Cancelled()) return Outcome(ctx, test ? "test failed" : "extraction failed");
    // Folders made only for entries that were not written go again (rmdir leaves any with content).
    for (const std::string& folder : newFolders) {
      // Every step a real folder, none a link the run may have made.
      fs::path p = kit_.ExtrBaseDir;
      bool plain = true;
      std::error_code ec;
      for (const fs::path& step : fs::path(folder)) {
        p /= step;
        plain = plain && fs::is_directory(fs::symlink_status(p, ec));
      }
      if (plain) fs::remove(p, ec);
    }
    if (passwordSkips_ == 0) return Outcome(ctx, test ? "test failed" : "extraction failed");
    const std::string n = std::to_string(passwordSkips_);
    TStatus s(TStatusCode::WrongPassword, passwordSkips_ == 1
                                              ? "1 encrypted file was not " + std::string(test ? "tested" : "extracted") +
                                                    ": no password or a wrong password"
                                              : n + " encrypted files were not " + (test ? "tested" : "extracted") +
                                                    ": no password or a wrong password");
    if (ctx.Cancelled()) return TStatus::Cancelled();
    Report(ctx, s);
    return s;
  }

  // The folders below the destination that the encrypted entries of the selection would go into and
  // that are not there yet, relative to it, deepest first.
  std::vector<std::string> FoldersOfEncrypted(const TSelection& selection) const {
    const std::vector<ZipDirEntry>& entries = kit_.DirEntries();
    std::unordered_set<TEntryId> ids(selection.Ids.begin(), selection.Ids.end());
    std::set<std::string> folders;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].IsEncrypted || (!ids.empty() && !ids.count(i))) continue;
      std::string name = CleanedEntryName(entries[i].EntryName);
      for (size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0; slash = name.rfind('/', slash - 1)) {
        name.resize(slash);
        folders.insert(name);
      }
    }
    std::vector<std::string> out;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {  // a folder sorts before its content
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(fs::path(kit_.ExtrBaseDir) / *it, ec))) out.push_back(*it);
    }
    return out;
  }

  // The engine's lines for the items, each with the folder its stored name is relative to (empty:
  // rootDir). One engine run takes them all, so the archive is rewritten once.
  static bool SpecLines(const std::vector<TSourceItem>& items, bool storePaths, std::vector<std::string>& specs,
                        std::vector<std::string>& roots, std::string& error) {
    for (const TSourceItem& it : items) {
      std::string root;
      if (storePaths && !it.StoredName.empty()) {
        std::error_code ec;
        std::string source = fs::absolute(it.Source, ec).lexically_normal().string();
        std::string stored = it.StoredName;
        while (!stored.empty() && stored.back() == '/') stored.pop_back();
        while (source.size() > 1 && source.back() == '/') source.pop_back();
        if (source.size() <= stored.size() || source.compare(source.size() - stored.size(), stored.size(), stored) != 0 ||
            source[source.size() - stored.size() - 1] != '/') {
          error = it.Source + ": a zip archive stores it under its own path only";
          return false;
        }
        root = source.substr(0, source.size() - stored.size() - 1);
        if (root.empty()) root.assign(1, '/');  // (assigning "/" trips a false -Wrestrict of GCC 12)
      }
      std::string spec = it.Recurse ? ">" : "";  // the component's mark for "recurse into this one"
      spec += it.Source;
      specs.push_back(std::move(spec));
      roots.push_back(std::move(root));
    }
    return true;
  }

  TStatus RunAdd(TJobContext& ctx, const std::vector<TSourceItem>& items, const std::string& rootDir, int level,
                 const std::string& password, const TZipAddOptions& zip, bool onlyNewer, bool onlyExisting) {
    Wire(ctx, TEngineRun::Zip);
    skippedFirst_.clear();
    std::vector<std::string> specs, roots;
    std::string error;
    if (!SpecLines(items, zip.StorePaths, specs, roots, error)) return {TStatusCode::Unsupported, error};
    if (specs.empty()) return {TStatusCode::Failed, "nothing to add"};
    if (!LoadEngine(true)) return Outcome(ctx, "the zip engine could not be loaded");
    AddOpts o;
    if (zip.HiddenFiles) o.Include(AddHiddenFiles);
    if (zip.StorePaths) o.Include(AddDirNames);
    if (zip.FolderEntries) o.Include(AddSeparateDirs);
    if (zip.ForceDos) o.Include(AddForceDOS);
    if (zip.ArchiveTime) o.Include(AddZipTime);
    if (zip.ArchiveOnly) o.Include(AddArchiveOnly);
    if (zip.ResetArchive) o.Include(AddResetArchive);
    if (zip.Span) o.Include(AddDiskSpan);
    if (zip.SpanErase) o.Include(AddDiskSpanErase);
    if (onlyNewer) o.Include(AddUpdate);
    if (onlyExisting) o.Include(AddFreshen);
    if (!password.empty()) o.Include(AddEncrypt);
    kit_.AddOptions = o;
    kit_.AddCompLevel = level;
    kit_.MaxVolumeSize = zip.MaxVolumeSize;
    kit_.TempDir = zip.TempDir;
    kit_.SetPassword(password);
    if (!ctx.Cancelled()) {
      kit_.RootDir = rootDir;
      kit_.FSpecArgs = std::move(specs);
      kit_.FSpecRootDirs = std::move(roots);
      kit_.FSpecArgsExcl.clear();
      if (!exclude_.empty()) kit_.FSpecArgsExcl.push_back(exclude_);
      kit_.ErrCode = 0;
      kit_.AddFiles();
      if (kit_.ErrCode == 0 && !ctx.Status.Failed() && kit_.SuccessCount <= 0 && !reported_)
        Report(ctx, TStatus(TStatusCode::Failed, "nothing was added"));
      else if (kit_.SuccessCount > 0)
        ctx.Counts.Files += kit_.SuccessCount;
    }
    kit_.RootDir.clear();
    kit_.SetPassword({});
    if (!skippedFirst_.empty() && kit_.SuccessCount <= 0 && !ctx.Cancelled()) {
      // Stopped on a file that vanished or could not be read: the archive stands as it was.
      TStatus s(TStatusCode::Unreadable, skippedFirst_ + " could not be read; the archive was left as it was");
      Report(ctx, s);
      return s;
    }
    TStatus s = Outcome(ctx, "the archive could not be written");
    if (s.Succeeded() && ctx.Status.Failed()) s = ctx.Status;
    return s;
  }

  TZipKit kit_;
  std::string path_;
  std::string exclude_;  // a path the engine leaves out (the older archive under the target's name)
  std::string createdPath_;  // the last part of the multi-disk set written
  TEngineRun run_ = TEngineRun::None;
  bool allOrNothing_ = false;
  std::string skippedFirst_;  // the first file the engine could not take in an all-or-nothing run
  bool quietMessages_ = false;
  bool reported_ = false;
  uint32_t passwordSkips_ = 0;  // entries the unzip engine left for want of the right password
  uint64_t done_ = 0, total_ = 0;
  std::string name_;
};

}  // namespace

std::unique_ptr<IArchiveAdapter> MakeZipAdapter() { return std::make_unique<TZipAdapter>(); }
