// Bench driver: adds a folder tree to a new archive through libzipeng.so, loaded with dlopen
// from this program's folder, filling ZipParams as the zip component does.
//   zipbench ARCHIVE FOLDER [LEVEL]
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zip/ZipStructs.h"

static int32_t Callback(CallbackRecord* rec) {
  if (rec->ActionCode == kActionMessage && rec->Value1 != 0) std::fprintf(stderr, "engine: [%d] %s\n", rec->Value1, rec->Text);
  return kCallbackContinue;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE FOLDER [LEVEL]\n", argv[0]);
    return 2;
  }
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 2;
  self[n] = 0;
  std::string dir(self);
  dir = dir.substr(0, dir.rfind('/'));
  void* lib = dlopen((dir + "/" + kZipEngineLibrary).c_str(), RTLD_NOW);
  if (!lib) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto version = reinterpret_cast<GetZipEngVersionFn>(dlsym(lib, kGetZipEngVersionName));
  auto exec = reinterpret_cast<ZipEngExecFn>(dlsym(lib, kZipEngExecName));
  if (!version || !exec) return 2;

  ZipFileSpec spec;
  std::memset(&spec, 0, sizeof spec);
  spec.FileSpec = "*";
  spec.Recurse = -1;
  spec.RootDir = argv[2];
  ZipParams p;
  std::memset(&p, 0, sizeof p);
  p.Version = version();
  p.Callback = Callback;
  p.Quiet = -1;
  p.Level = argc > 3 ? std::atoi(argv[3]) : 6;
  p.HiddenFiles = kFlagTrue;
  p.Recurse = -1;
  p.AddFlag = kFlagTrue;
  p.SpecCount = 1;
  p.FileSpecs = &spec;
  p.ZipFileName = argv[1];
  p.CheckValue = kParamsCheckValue;
  auto t0 = std::chrono::steady_clock::now();
  int32_t count = exec(&p);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%d files in %.3f s\n", count, s);
  return count > 0 ? 0 : 1;
}
