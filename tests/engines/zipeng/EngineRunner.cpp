#include "EngineRunner.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "TestEnv.h"

namespace fs = std::filesystem;

EngineRunner::EngineRunner() {
  fs::path lib = testenv::ProgramDir() / "libzipeng.so";
  lib_ = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib_) throw std::runtime_error(std::string("cannot load ") + lib.string() + ": " + dlerror());
  version_ = reinterpret_cast<GetZipEngVersionFn>(dlsym(lib_, kGetZipEngVersionName));
  exec_ = reinterpret_cast<ZipEngExecFn>(dlsym(lib_, kZipEngExecName));
  if (!version_ || !exec_) throw std::runtime_error("engine entry points missing");
}

EngineRunner::~EngineRunner() {
  if (lib_) dlclose(lib_);
}

int32_t EngineRunner::Callback(CallbackRecord* rec) {
  auto* self = static_cast<EngineRunner*>(rec->Caller);
  self->events.push_back({rec->ActionCode, rec->Value1, rec->Value2, std::string(rec->Text, strnlen(rec->Text, sizeof rec->Text))});
  if (self->answer) return self->answer(*rec);
  return kCallbackContinue;
}

int32_t EngineRunner::Run(const EngineRun& r) {
  events.clear();
  ZipParams p;
  std::memset(&p, 0, sizeof p);
  p.Caller = this;
  p.Version = version_();
  p.Callback = &EngineRunner::Callback;
  p.Password = r.password.empty() ? nullptr : r.password.c_str();
  p.StoreSuffixes = r.storeSuffixes.empty() ? nullptr : r.storeSuffixes.c_str();
  p.Encrypt = r.deleteOp ? 0 : (r.encrypt ? kFlagTrue : 0);
  p.HiddenFiles = r.hidden ? kFlagTrue : 0;
  p.NoDirEntries = r.separateDirs ? 0 : kFlagTrue;
  p.UseDate = r.fromDate.empty() ? 0 : kFlagTrue;
  p.Verbose = r.verbose ? kFlagTrue : 0;
  p.Quiet = -1;
  p.Level = r.level;
  p.JunkDirNames = (!r.deleteOp && !r.dirNames) ? kFlagTrue : 0;
  p.Recurse = int16_t((!r.deleteOp && r.recurse) ? -1 : 0);
  p.AddFlag = r.deleteOp ? 0 : kFlagTrue;
  p.Move = (!r.deleteOp && r.move) ? kFlagTrue : 0;
  p.DeleteFlag = r.deleteOp ? kFlagTrue : 0;
  p.Update = (!r.deleteOp && r.update) ? kFlagTrue : 0;
  p.Freshen = (!r.deleteOp && r.freshen && !r.update) ? kFlagTrue : 0;
  p.LatestTime = r.zipTime ? kFlagTrue : 0;
  p.AllowUndoDelete = r.trash ? kFlagTrue : 0;
  if (!r.fromDate.empty()) std::memcpy(p.Date, r.fromDate.data(), std::min<size_t>(8, r.fromDate.size()));
  std::vector<ZipFileSpec> specs(r.specs.size());
  for (size_t i = 0; i < r.specs.size(); ++i) {
    ZipFileSpec& s = specs[i];
    std::memset(&s, 0, sizeof s);
    const SpecLine& l = r.specs[i];
    s.FileSpec = l.spec.c_str();
    if (!r.deleteOp) {
      s.Password = l.password ? l.password->c_str() : nullptr;
      s.Encrypt = l.password ? kSpecOwnPassword : (l.plain ? 0 : p.Encrypt);
      s.Recurse = l.recurse ? int16_t(*l.recurse ? -1 : 0) : p.Recurse;
      s.RootDir = l.rootDir.empty() ? nullptr : l.rootDir.c_str();
    }
  }
  p.SpecCount = int32_t(specs.size());
  p.FileSpecs = specs.data();
  std::string zip = r.archive;
  p.ZipFileName = zip.c_str();
  p.ArchiveComment = r.comment ? r.comment->c_str() : nullptr;
  std::vector<const char*> excl;
  for (const std::string& e : r.exclusions) excl.push_back(e.c_str());
  p.ExclCount = int32_t(excl.size());
  p.ExclSpecs = excl.empty() ? nullptr : excl.data();
  p.CheckValue = kParamsCheckValue;
  return exec_(&p);
}

std::vector<EngineEvent> EngineRunner::Of(int32_t action) const {
  std::vector<EngineEvent> out;
  for (const EngineEvent& e : events)
    if (e.action == action) out.push_back(e);
  return out;
}

std::string EngineRunner::Messages() const {
  std::string s;
  for (const EngineEvent& e : events)
    if (e.action == kActionMessage || e.action == kActionSkipped)
      s += "[" + std::to_string(e.value1) + "] " + e.text + "\n";
  return s;
}

int ShStatus(const std::string& cmd, std::string* out) { return testenv::Run(cmd + " 2>&1", out); }

std::string Sh(const std::string& cmd) {
  std::string out;
  int rc = ShStatus(cmd, &out);
  EXPECT_EQ(rc, 0) << cmd << "\n" << out;
  return out;
}

void SetMtime(const fs::path& p, time_t t) {
  fs::last_write_time(p, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
}

void ExpectPeersExtract(const fs::path& zip, const fs::path& expected, const std::string& password) {
  std::string q = testenv::Quote(zip.string());
  std::string up = password.empty() ? "" : " -P " + testenv::Quote(password);
  std::string zp = password.empty() ? "" : " -p" + testenv::Quote(password);
  Sh("unzip -tq" + up + " " + q);
  Sh("7z t" + zp + " " + q);
  fs::path a = testenv::MakeTempDir("unzip"), b = testenv::MakeTempDir("7z");
  Sh("unzip -q" + up + " " + q + " -d " + testenv::Quote(a.string()));
  Sh("7z x -y" + zp + " " + q + " -o" + testenv::Quote(b.string()));
  auto want = testenv::ListTree(expected);
  EXPECT_EQ(testenv::ListTree(a), want);
  EXPECT_EQ(testenv::ListTree(b), want);
  for (const std::string& rel : want) {
    if (rel.back() == '/') continue;
    std::string data = testenv::ReadFile(expected / rel);
    EXPECT_EQ(testenv::ReadFile(a / rel), data) << "unzip " << rel;
    EXPECT_EQ(testenv::ReadFile(b / rel), data) << "7z " << rel;
  }
}
