#include "UnzengHarness.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "TestEnv.h"
#include "zip/ZipStructs.h"

namespace unzengtest {
namespace {

struct TEngine {
  void* handle = nullptr;
  UnzEngExecFn exec = nullptr;
  GetUnzEngVersionFn version = nullptr;
  TEngine() {
    std::string lib = (testenv::ProgramDir() / kUnzipEngineLibrary).string();
    handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(std::string("cannot load ") + lib + ": " + dlerror());
    exec = reinterpret_cast<UnzEngExecFn>(dlsym(handle, kUnzEngExecName));
    version = reinterpret_cast<GetUnzEngVersionFn>(dlsym(handle, kGetUnzEngVersionName));
    if (!exec || !version) throw std::runtime_error("engine entry points missing");
  }
};

TEngine& Engine() {
  static TEngine e;
  return e;
}

int32_t Callback(CallbackRecord* r) {
  auto* run = static_cast<TRun*>(r->Caller);
  r->Text[kCallbackTextSize - 1] = 0;
  run->calls.push_back({r->ActionCode, r->Value1, r->Value2, r->Text});
  switch (r->ActionCode) {
    case kActionNewFile: {
      int n = 0;
      for (const auto& c : run->calls) n += c.action == kActionNewFile;
      if (run->stopAtNewFile >= 0 && n - 1 == run->stopAtNewFile) return kCallbackStop;
      break;
    }
    case kActionPassword:
      if (run->passwordAnswers.empty()) {
        r->Value1 = 0;
        r->Value2 = 0;
      } else {
        auto a = run->passwordAnswers.front();
        run->passwordAnswers.pop_front();
        if (!a) {
          r->ActionCode = kActionNone;
          r->Value1 = 0;
        } else {
          std::snprintf(r->Text, kCallbackTextSize, "%s", a->c_str());
          r->Value1 = a->empty() ? 0 : 1;
        }
      }
      break;
    case kActionOverwrite:
      if (!run->overwriteAnswers.empty()) {
        r->Value2 = run->overwriteAnswers.front();
        run->overwriteAnswers.pop_front();
      }
      break;
    case kActionCrcError: r->Value1 = run->crcAnswer; break;
    default: break;
  }
  return kCallbackContinue;
}

}  // namespace

std::vector<TCall> TRun::Of(int action) const {
  std::vector<TCall> out;
  for (const auto& c : calls)
    if (c.action == action) out.push_back(c);
  return out;
}

std::vector<std::pair<int, std::string>> TRun::Errors() const {
  std::vector<std::pair<int, std::string>> out;
  for (const auto& c : calls)
    if ((c.action == kActionMessage || c.action == kActionSkipped) && c.value1 != 0) out.emplace_back(c.value1, c.text);
  return out;
}

bool TRun::HasError(int code, const std::string& part) const {
  for (const auto& [c, t] : Errors())
    if (c == code && t.find(part) != std::string::npos) return true;
  return false;
}

std::string TRun::Dump() const {
  std::string s;
  for (const auto& c : calls)
    s += std::to_string(c.action) + " " + std::to_string(c.value1) + " " + std::to_string(c.value2) + " " + c.text + "\n";
  return s;
}

int EngineVersion() { return Engine().version(); }

int Execute(TRun& run) {
  std::vector<UnzipFileSpec> specs(run.specs.size());
  for (size_t i = 0; i < run.specs.size(); ++i) specs[i].FileSpec = run.specs[i].c_str();
  std::string dest = run.dest.string();
  UnzipParams p;
  std::memset(&p, 0, sizeof p);
  p.Caller = &run;
  p.Version = Engine().version();
  p.Callback = Callback;
  p.Password = run.password.c_str();
  p.Test = run.test ? kFlagTrue : kFlagFalse;
  p.Quiet = kFlagTrue;
  p.Update = run.update ? kFlagTrue : kFlagFalse;
  p.Freshen = run.freshen && !run.update ? kFlagTrue : kFlagFalse;
  p.DirNames = run.dirNames ? kFlagTrue : kFlagFalse;
  p.Overwrite = run.overwrite ? kFlagTrue : kFlagFalse;
  p.SpecCount = int32_t(specs.size());
  p.ZipFileName = run.archive.c_str();
  p.FileSpecs = specs.empty() ? nullptr : specs.data();
  p.PasswordReqCount = run.passwordReqCount;
  p.ExtractDir = dest.empty() ? nullptr : dest.c_str();
  p.CheckValue = kParamsCheckValue;
  run.calls.clear();
  run.result = Engine().exec(&p);
  return run.result;
}

}  // namespace unzengtest

#include <gtest/gtest.h>

#include <algorithm>

namespace unzengtest {

std::string Sh(const std::string& command) {
  std::string out;
  int rc = testenv::Run(command, &out);
  EXPECT_EQ(rc, 0) << command << "\n" << out;
  return out;
}

std::vector<std::string> Tree(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink()) rel += "@";
    else if (it->is_directory()) rel += "/";
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void ExpectSameTree(const std::filesystem::path& expected, const std::filesystem::path& actual) {
  namespace fs = std::filesystem;
  auto a = Tree(expected), b = Tree(actual);
  ASSERT_EQ(a, b);
  for (const auto& rel : a) {
    fs::path pa = expected / rel, pb = actual / rel;
    if (!rel.empty() && rel.back() == '@') {
      std::string r = rel.substr(0, rel.size() - 1);
      EXPECT_EQ(fs::read_symlink(expected / r), fs::read_symlink(actual / r)) << rel;
    } else if (!rel.empty() && rel.back() != '/') {
      EXPECT_TRUE(testenv::ReadFile(pa) == testenv::ReadFile(pb)) << "content differs: " << rel;
    }
  }
}

void MakeMixedTree(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "sub" / "deep");
  fs::create_directories(dir / "empty dir");
  testenv::WriteFile(dir / "random.bin", testenv::RandomBytes(300000, 1));
  testenv::WriteFile(dir / "text.txt", testenv::RandomBytes(2000000, 2, true));
  testenv::WriteFile(dir / "empty.txt", "");
  testenv::WriteFile(dir / "sub" / "a.txt", "alpha\n");
  testenv::WriteFile(dir / "sub" / "deep" / "b.dat", testenv::RandomBytes(70000, 3, true));
  testenv::WriteFile(dir / "h\xc3\xa9llo w\xc3\xb6rld.txt", "utf-8 name\n");
}

}  // namespace unzengtest
