// The exported entry points of libzipeng.so: the parameter record becomes the engine's settings,
// and the engine's reports become callback records.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

#include "ZipEngine.h"
#include "zip/ZipStructs.h"

namespace {

constexpr int32_t kZipEngineVersion = 180;

bool Flag(int32_t v) { return v != 0; }

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

// "mm dd yy" to local midnight of that day.
std::optional<time_t> ParseDate(const char (&date)[8]) {
  char buf[9];
  std::memcpy(buf, date, 8);
  buf[8] = 0;
  int mm = 0, dd = 0, yy = 0;
  if (std::sscanf(buf, "%2d %2d %2d", &mm, &dd, &yy) != 3 || mm < 1 || mm > 12 || dd < 1 || dd > 31) return std::nullopt;
  struct tm tm {};
  tm.tm_year = (yy < 80 ? 2000 + yy : 1900 + yy) - 1900;
  tm.tm_mon = mm - 1;
  tm.tm_mday = dd;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

std::vector<std::string> Suffixes(const char* list) {
  std::vector<std::string> out;
  std::string s = Str(list), cur;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == ':') {
      if (!cur.empty()) out.push_back(cur[0] == '.' ? cur : "." + cur);
      cur.clear();
    } else {
      cur.push_back(char(std::tolower(uint8_t(s[i]))));
    }
  }
  return out;
}

class CallbackHost : public zipeng::Host {
 public:
  explicit CallbackHost(const ZipParams& p) : p_(p) {}

  bool TotalFiles(int64_t count) override { return Call(kActionTotalFiles, 0, count, ""); }
  bool TotalSize(int64_t bytes) override { return Call(kActionTotalSize, 0, bytes, ""); }
  bool NewFile(const std::string& name, int64_t size) override { return Call(kActionNewFile, 0, size, name); }
  bool Progress(int64_t bytes) override { return Call(kActionProgress, 0, bytes, ""); }
  bool End() override { return Call(kActionEndBatch, 0, 0, ""); }
  bool Message(int code, const std::string& text) override {
    if (code == 0 && !Flag(p_.Verbose) && !Flag(p_.Trace)) return !cancelled_;
    return Call(kActionMessage, code, 0, text);
  }
  bool Skipped(const std::string& name, int reason, int code) override {
    return Call(kActionSkipped, code, reason + 1, name);
  }
  bool AskPassword(bool wantNew, std::string& password) override {
    CallbackRecord rec;
    Fill(rec, kActionPassword, wantNew ? kPasswordWantNew : 0, 0, "");
    bool go = Invoke(rec);
    password.clear();
    if (rec.ActionCode != kActionNone && rec.Value1 == 1) {
      rec.Text[kCallbackTextSize - 1] = 0;
      password = rec.Text;
    }
    return go;
  }

 private:
  void Fill(CallbackRecord& rec, int32_t action, int32_t v1, int64_t v2, const std::string& text) {
    std::memset(&rec, 0, sizeof rec);
    rec.Handle = p_.Handle;
    rec.Caller = p_.Caller;
    rec.Version = kZipEngineVersion;
    rec.IsZipOperation = 1;
    rec.ActionCode = action;
    rec.Value1 = v1;
    rec.Value2 = v2;
    size_t n = std::min(text.size(), size_t(kCallbackTextSize - 1));
    while (n > 0 && n < text.size() && (uint8_t(text[n]) & 0xC0) == 0x80) --n;  // keep UTF-8 whole
    std::memcpy(rec.Text, text.data(), n);
  }
  bool Invoke(CallbackRecord& rec) {
    if (!p_.Callback) return !cancelled_;
    if (p_.Callback(&rec) == kCallbackStop) cancelled_ = true;
    return !cancelled_;
  }
  bool Call(int32_t action, int32_t v1, int64_t v2, const std::string& text) {
    CallbackRecord rec;
    Fill(rec, action, v1, v2, text);
    return Invoke(rec);
  }

  const ZipParams& p_;
  bool cancelled_ = false;
};

}  // namespace

extern "C" TANDOR_ENGINE_EXPORT int32_t GetZipEngVersion() { return kZipEngineVersion; }

extern "C" TANDOR_ENGINE_EXPORT int32_t ZipEngExec(ZipParams* params) {
  if (!params || params->CheckValue != kParamsCheckValue) return 0;
  try {
    const ZipParams& p = *params;
    CallbackHost host(p);
    if (Flag(p.DeleteFlag)) {
      zipeng::DeleteSettings s;
      s.archivePath = Str(p.ZipFileName);
      for (int32_t i = 0; i < p.SpecCount && p.FileSpecs; ++i) s.specs.push_back(Str(p.FileSpecs[i].FileSpec));
      for (int32_t i = 0; i < p.ExclCount && p.ExclSpecs; ++i) s.exclusions.push_back(Str(p.ExclSpecs[i]));
      s.verbose = Flag(p.Verbose) || Flag(p.Trace);
      return zipeng::Delete(s, host);
    }
    zipeng::AddSettings s;
    s.archivePath = Str(p.ZipFileName);
    for (int32_t i = 0; i < p.SpecCount && p.FileSpecs; ++i) {
      const ZipFileSpec& f = p.FileSpecs[i];
      zipeng::SourceSpec spec;
      spec.spec = Str(f.FileSpec);
      spec.rootDir = Str(f.RootDir);
      spec.recurse = f.Recurse != 0;
      if (f.Encrypt == kSpecOwnPassword && f.Password && *f.Password) {
        spec.crypt = zipeng::SourceSpec::Crypt::Own;
        spec.password = f.Password;
      } else if (f.Encrypt != 0 && f.Encrypt != kSpecOwnPassword) {
        spec.crypt = zipeng::SourceSpec::Crypt::Archive;
      } else if (f.Encrypt == kSpecOwnPassword) {
        spec.crypt = zipeng::SourceSpec::Crypt::Archive;  // own password announced but empty: ask
      }
      s.specs.push_back(std::move(spec));
    }
    for (int32_t i = 0; i < p.ExclCount && p.ExclSpecs; ++i) s.exclusions.push_back(Str(p.ExclSpecs[i]));
    s.level = std::clamp(p.Level, 0, 9);
    s.stripPaths = Flag(p.JunkDirNames);
    s.hiddenFiles = Flag(p.HiddenFiles);
    s.separateDirs = !Flag(p.NoDirEntries);
    if (Flag(p.UseDate)) {
      s.fromDate = ParseDate(p.Date);
      if (!s.fromDate) {
        host.Message(zipeng::kCodeParams, "invalid cut-off date");
        host.End();
        return 0;
      }
    }
    s.update = Flag(p.Update);
    s.freshen = Flag(p.Freshen) && !s.update;
    s.move = Flag(p.Move);
    s.trashMoved = Flag(p.AllowUndoDelete);
    s.zipTime = Flag(p.LatestTime);
    s.password = Str(p.Password);
    s.storeSuffixes = Suffixes(p.StoreSuffixes);
    s.oemNames = p.CodePage == kCodePageOem;
    if (p.ArchiveComment) s.comment = std::string(p.ArchiveComment);
    s.verbose = Flag(p.Verbose) || Flag(p.Trace);
    return zipeng::Add(s, host);
  } catch (...) {
    return 0;
  }
}
