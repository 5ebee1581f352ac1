// unzeng_bench_driver [-t] [-o] [-q] [-p PASSWORD] ARCHIVE DESTDIR [SPEC...]
// Loads libunzeng.so from the driver's own folder, fills UnzipParams as the zip component does and
// calls UnzEngExec. Prints messages; exit status 0 when no message carried an error code.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "zip/ZipStructs.h"

namespace {

bool gQuiet = false;
int gWorstCode = 0;

int32_t Callback(CallbackRecord* r) {
  if (r->ActionCode == kActionMessage || (r->ActionCode == kActionSkipped && r->Value1 != 0)) {
    if (r->Value1 > gWorstCode) gWorstCode = r->Value1;
    if (!gQuiet || r->Value1 != 0) std::fprintf(stderr, "[%d] %s\n", r->Value1, r->Text);
  } else if (r->ActionCode == kActionPassword) {
    r->Value1 = 0;  // no password beyond the one given
  } else if (r->ActionCode == kActionCrcError) {
    r->Value1 = 0;
  }
  return kCallbackContinue;
}

std::string SelfDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string s(buf, size_t(n));
  return s.substr(0, s.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  bool test = false, overwrite = false;
  std::string password;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-t") test = true;
    else if (a == "-o") overwrite = true;
    else if (a == "-q") gQuiet = true;
    else if (a == "-p" && i + 1 < argc) password = argv[++i];
    else args.push_back(a);
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: %s [-t] [-o] [-q] [-p PASSWORD] ARCHIVE DESTDIR [SPEC...]\n", argv[0]);
    return 2;
  }
  std::string lib = SelfDir() + "/" + kUnzipEngineLibrary;
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto exec = reinterpret_cast<UnzEngExecFn>(dlsym(h, kUnzEngExecName));
  auto version = reinterpret_cast<GetUnzEngVersionFn>(dlsym(h, kGetUnzEngVersionName));
  if (!exec || !version) return 2;
  std::vector<UnzipFileSpec> specs(args.size() - 2);
  for (size_t i = 2; i < args.size(); ++i) specs[i - 2].FileSpec = args[i].c_str();
  UnzipParams p{};
  p.Version = version();
  p.Callback = Callback;
  p.Password = password.c_str();
  p.Test = test ? kFlagTrue : kFlagFalse;
  p.Quiet = kFlagTrue;
  p.DirNames = kFlagTrue;
  p.Overwrite = overwrite ? kFlagTrue : kFlagFalse;
  p.SpecCount = int32_t(specs.size());
  p.ZipFileName = args[0].c_str();
  p.FileSpecs = specs.empty() ? nullptr : specs.data();
  p.PasswordReqCount = 1;
  p.ExtractDir = args[1].c_str();
  p.CheckValue = kParamsCheckValue;
  int32_t n = exec(&p);
  if (!gQuiet) std::printf("%d files\n", n);
  return gWorstCode == 0 ? 0 : 1;
}
