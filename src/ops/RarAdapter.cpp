// The RAR adapter: TRarKit over the RAR library (libunrar.so from ProgramDir). RAR archives are
// listed, tested and extracted, never written.
#include <sys/stat.h>

#include <filesystem>
#include <unordered_set>

#include "ZipTime.h"
#include "ops/AdapterCommon.h"
#include "platform/Paths.h"
#include "rar/RarKit.h"
#include "safeout/Names.h"

namespace fs = std::filesystem;

namespace {

TStatusCode RarCode(int code) {
  switch (code) {
    case 0:
    case ERAR_END_ARCHIVE: return TStatusCode::Ok;
    case ERAR_BAD_DATA:
    case ERAR_BAD_ARCHIVE:
    case ERAR_UNKNOWN_FORMAT: return TStatusCode::Damaged;
    case ERAR_EOPEN:
    case ERAR_EREAD:
    case kRarKitOpenFailed: return TStatusCode::Unreadable;
    case ERAR_ECREATE:
    case ERAR_ECLOSE:
    case ERAR_EWRITE: return TStatusCode::WriteFailed;
    case ERAR_MISSING_PASSWORD:
    case ERAR_BAD_PASSWORD: return TStatusCode::WrongPassword;
    case ERAR_ENCRYPTED_ENTRY:
    case ERAR_ENCRYPTED_HEADERS:
    case ERAR_UNSUPPORTED_SOLID:
    case ERAR_SPECIAL_FILE: return TStatusCode::Unsupported;
    case ERAR_UNSAFE_ENTRY: return TStatusCode::Unsafe;
    case kRarKitStopped: return TStatusCode::Cancelled;
    default: return TStatusCode::Failed;
  }
}

class TRarAdapter final : public IArchiveAdapter {
 public:
  TArchiveFormat Format() const override { return TArchiveFormat::Rar; }
  uint32_t Capabilities() const override { return capList | capTest | capExtract | capSelect | capReadComment; }

  TStatus Open(const std::string& path, TJobContext&) override {
    if (!LoadUnrarLibrary(ProgramDir(), ""))
      return {TStatusCode::NotFound, TRarKit::GetRarErrorText(kRarKitNoLibrary) + " (looked in " + ProgramDir() + ")"};
    path_ = path;
    return {};
  }

  TStatus List(TJobContext& ctx, const TEntryCallback& onEntry) override {
    TRarKit kit;
    Prepare(kit, ctx);
    TArchiveEntry e;
    TDosTimes times;
    // Encrypted headers need the password before anything can be listed; entries are not asked for.
    kit.OnReqPassword = [&ctx](TRarKit& k, const RARHeaderData& h, std::string& password) {
      if (h.FileName[0]) return;
      if (ctx.Password(TRarKit::EntryName(h), password) != TPasswordChoice::Ok) {
        password.clear();
        k.Stop = true;
      }
    };
    kit.OnListing = [&](TRarKit& k, const RARHeaderData& h) {
      Fill(k, h, e, times);
      onEntry(e);
      if (ctx.Cancelled()) k.Stop = true;
    };
    return Finish(kit, kit.ListRarArchive(), ctx);
  }

  TStatus Test(TJobContext& ctx, const TTestParams& params) override {
    TRarKit kit;
    Prepare(kit, ctx);
    Select(kit, params.Selection);
    Passwords(kit, ctx, params.Password);
    kit.OnTesting = [&ctx](TRarKit& k, const RARHeaderData& h) { Progress(k, h, ctx); };
    kit.OnTest = [&](TRarKit& k, const RARHeaderData& h, bool ok) { Done(k, h, ok, ctx); };
    return Finish(kit, kit.TestRarArchive(), ctx);
  }

  TStatus Extract(TJobContext& ctx, const TExtractParams& params) override {
    TRarKit kit;
    Prepare(kit, ctx);
    Select(kit, params.Selection);
    Passwords(kit, ctx, params.Password);
    std::error_code ec;
    fs::create_directories(params.Destination, ec);
    kit.TargetDirectory = fs::absolute(params.Destination, ec).lexically_normal().string();
    kit.ErrorOnDirExists = false;
    kit.OnExtracting = [&ctx](TRarKit& k, const RARHeaderData& h) { Progress(k, h, ctx); };
    kit.OnOverwrite = [&ctx](TRarKit& k, const RARHeaderData& h, const std::string& diskPath) {
      TOverwriteQuestion q;
      q.Format = TArchiveFormat::Rar;
      q.EntryName = TRarKit::EntryName(h);
      q.DiskPath = diskPath;
      q.EntrySize = k.EntryUnpackedSize();
      q.EntryDosTime = h.FileTime;
      q.EntryTime = zipfmt::DosToUnix(static_cast<uint16_t>(h.FileTime >> 16), static_cast<uint16_t>(h.FileTime));
      const bool replace = ctx.Overwrite(q);
      if (ctx.Cancelled()) k.Stop = true;
      return replace;
    };
    kit.OnExtract = [&](TRarKit& k, const RARHeaderData& h, bool ok) { Done(k, h, ok, ctx); };
    kit.OnWarning = [&ctx](TRarKit&, const RARHeaderData&, const std::string& text) { ctx.Message(TStatus::Warning(text)); };
    return Finish(kit, kit.ExtractRarArchive(), ctx);
  }

  TStatus Comment(std::string& text) override {
    text = comment_;
    return {};
  }

 private:
  void Prepare(TRarKit& kit, TJobContext& ctx) {
    kit.Archivefilename = path_;
    kit.Path2UnrarDll = ProgramDir();
    lastError_.clear();
    lastCode_ = 0;
    errors_ = 0;
    failedEntry_ = false;
    kit.OnError = [this](TRarKit&, int code) {
      lastError_ = TRarKit::GetRarErrorText(code);
      lastCode_ = code;
      ++errors_;
    };
    kit.OnComment = [this](TRarKit&, const TComment& c) { comment_ = c.Text; };
    ctx.SetCancelHook([&kit] { kit.Stop = true; });
  }

  static void Select(TRarKit& kit, const TSelection& selection) {
    if (selection.Ids.empty()) {
      kit.SetFilesToProcess(selection.Patterns);
      return;
    }
    std::unordered_set<TEntryId> ids(selection.Ids.begin(), selection.Ids.end());
    kit.SetFilesToProcess(selection.Patterns);
    const bool anyName = !selection.Patterns.empty();
    kit.OnSelect = [ids = std::move(ids), anyName](TRarKit& k, const RARHeaderData& h) {
      return ids.count(static_cast<TEntryId>(k.EntryIndex())) > 0 || (anyName && k.ShouldProcess(TRarKit::EntryName(h)));
    };
  }

  static void Passwords(TRarKit& kit, TJobContext& ctx, const std::string& given) {
    ctx.SetGivenPassword(given);
    kit.OnReqPassword = [&ctx](TRarKit& k, const RARHeaderData& h, std::string& password) {
      if (ctx.Password(TRarKit::EntryName(h), password) != TPasswordChoice::Ok) {
        password.clear();
        k.Stop = true;  // the entry is skipped, the run ends
      }
    };
  }

  static void Progress(TRarKit& k, const RARHeaderData& h, TJobContext& ctx) {
    ctx.Progress(static_cast<uint64_t>(k.EntryIndex() + 1), 0, TRarKit::EntryName(h));
    if (ctx.Cancelled()) k.Stop = true;
  }

  void Done(TRarKit& k, const RARHeaderData& h, bool ok, TJobContext& ctx) {
    const std::string name = TRarKit::EntryName(h);
    if (ok) {
      if (TRarKit::IsFolderEntry(h)) {
        ++ctx.Counts.Folders;
      } else {
        ++ctx.Counts.Files;
        ctx.Counts.Bytes += k.EntryUnpackedSize();
      }
      return;
    }
    failedEntry_ = true;
    ctx.Refused.push_back(name);
    ++ctx.Counts.Skipped;
    const std::string why = TRarKit::IsEncryptedEntry(h) ? std::string("password-protected; it cannot be extracted")
                            : lastError_.empty()          ? std::string("failed")
                                                          : lastError_;
    const TStatusCode code = TRarKit::IsEncryptedEntry(h)            ? TStatusCode::Unsupported
                             : RarCode(lastCode_) == TStatusCode::Ok ? TStatusCode::Damaged
                                                                     : RarCode(lastCode_);
    ctx.Message(TStatus(code, safeout::EscapeControls(name) + ": " + why));
  }

  static void Fill(const TRarKit& k, const RARHeaderData& h, TArchiveEntry& e, TDosTimes& times) {
    e.Id = static_cast<TEntryId>(k.EntryIndex());
    e.Name = TRarKit::EntryName(h);
    e.Kind = TRarKit::IsFolderEntry(h) ? TEntryKind::Folder : TEntryKind::File;
    e.Size = k.EntryUnpackedSize();
    e.PackedSize = h.PackSize;  // the header's low 32 bits
    e.DosTime = h.FileTime;
    e.Time = times.ToUnix(h.FileTime);
    e.Encrypted = TRarKit::IsEncryptedEntry(h);
  }

  // The run's result code and the errors seen, as a status.
  TStatus Finish(TRarKit&, int code, TJobContext& ctx) {
    ctx.SetCancelHook({});
    if (ctx.Cancelled()) return TStatus::Cancelled();
    if (!TRarKit::Succeeded(code)) {
      TStatusCode c = RarCode(code);
      if (c == TStatusCode::Ok) c = TStatusCode::Failed;
      return {c, TRarKit::GetRarErrorText(code)};
    }
    if (errors_ > 0 && !failedEntry_) return {RarCode(lastCode_) == TStatusCode::Ok ? TStatusCode::Failed : RarCode(lastCode_), lastError_};
    return {};
  }

  std::string path_;
  std::string comment_;
  std::string lastError_;
  int lastCode_ = 0;
  int errors_ = 0;
  bool failedEntry_ = false;
};

}  // namespace

std::unique_ptr<IArchiveAdapter> MakeRarAdapter() { return std::make_unique<TRarAdapter>(); }
