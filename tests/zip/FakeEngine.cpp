// Test engine: see FakeEngine.h. Compile definitions choose the variant:
// FAKE_UNZIP (unzip engine, else zip engine), FAKE_VERSION, FAKE_NO_EXEC, FAKE_NO_VERSION.
#include "FakeEngine.h"

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace {

[[maybe_unused]] std::vector<TFakeCall> gCalls;
TFakeScript gScript;

[[maybe_unused]] std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

// True when the bytes [from, to) of a record are all zero.
[[maybe_unused]] bool Zero(const void* record, size_t from, size_t to) {
  const auto* p = static_cast<const unsigned char*>(record);
  for (size_t i = from; i < to; ++i)
    if (p[i]) return false;
  return true;
}

[[maybe_unused]] int32_t RunScript(ZipCallbackFn callback, void* caller, bool isZip) {
  gScript.Answers.clear();
  gScript.Returns.clear();
  for (CallbackRecord r : gScript.Callbacks) {
    r.Caller = caller;
    r.IsZipOperation = isZip ? 1 : 0;
    const int32_t answer = callback(&r);
    gScript.Answers.push_back(r);
    gScript.Returns.push_back(answer);
    if (answer == kCallbackStop && gScript.StopOnCancel) return 0;
  }
  return 1;
}

}  // namespace

extern "C" TANDOR_ENGINE_EXPORT std::vector<TFakeCall>* FakeEngineCalls() { return &gCalls; }
extern "C" TANDOR_ENGINE_EXPORT TFakeScript* FakeEngineScript() { return &gScript; }

#ifndef FAKE_NO_VERSION
#ifdef FAKE_UNZIP
extern "C" TANDOR_ENGINE_EXPORT int32_t GetUnzEngVersion() { return FAKE_VERSION; }
#else
extern "C" TANDOR_ENGINE_EXPORT int32_t GetZipEngVersion() { return FAKE_VERSION; }
#endif
#endif

#ifndef FAKE_NO_EXEC
#ifdef FAKE_UNZIP
extern "C" TANDOR_ENGINE_EXPORT int32_t UnzEngExec(UnzipParams* p) {
  TFakeCall c;
  c.Unzip = *p;
  c.HasPassword = p->Password != nullptr;
  c.Password = Str(p->Password);
  c.ZipFileName = Str(p->ZipFileName);
  c.HasExtractDir = p->ExtractDir != nullptr;
  c.ExtractDir = Str(p->ExtractDir);
  for (int i = 0; i < p->SpecCount; ++i) {
    TFakeSpec s;
    s.Text = Str(p->FileSpecs[i].FileSpec);
    s.ReservedZero = Zero(&p->FileSpecs[i], 8, sizeof(UnzipFileSpec));
    c.Specs.push_back(s);
  }
  c.ReservedZero = Zero(p, offsetof(UnzipParams, Pad1), offsetof(UnzipParams, Callback)) &&
                   Zero(p, offsetof(UnzipParams, Reserved20), offsetof(UnzipParams, Password)) &&
                   Zero(p, offsetof(UnzipParams, Reserved32), offsetof(UnzipParams, Quiet)) &&
                   Zero(p, offsetof(UnzipParams, Reserved76), offsetof(UnzipParams, PasswordReqCount)) &&
                   Zero(p, offsetof(UnzipParams, Pad3), offsetof(UnzipParams, ExtractDir)) &&
                   Zero(p, offsetof(UnzipParams, Reserved112), offsetof(UnzipParams, CheckValue)) &&
                   Zero(p, offsetof(UnzipParams, Pad4), sizeof(UnzipParams));
  gCalls.push_back(c);
  if (gScript.Throw) throw std::runtime_error("engine failure");
  const int32_t ran = RunScript(p->Callback, p->Caller, false);
  if (gScript.Result >= 0) return gScript.Result;
  return ran ? (p->SpecCount ? p->SpecCount : 1) : 0;
}
#else
extern "C" TANDOR_ENGINE_EXPORT int32_t ZipEngExec(ZipParams* p) {
  TFakeCall c;
  c.IsZip = true;
  c.Zip = *p;
  c.HasPassword = p->Password != nullptr;
  c.Password = Str(p->Password);
  c.StoreSuffixes = Str(p->StoreSuffixes);
  c.ZipFileName = Str(p->ZipFileName);
  c.HasTempDir = p->TempDir != nullptr;
  c.TempDir = Str(p->TempDir);
  c.HasComment = p->ArchiveComment != nullptr;
  c.Comment = Str(p->ArchiveComment);
  for (int i = 0; i < p->SpecCount; ++i) {
    const ZipFileSpec& f = p->FileSpecs[i];
    TFakeSpec s;
    s.Text = Str(f.FileSpec);
    s.HasPassword = f.Password != nullptr;
    s.Password = Str(f.Password);
    s.Encrypt = f.Encrypt;
    s.Recurse = f.Recurse;
    s.HasRootDir = f.RootDir != nullptr;
    s.RootDir = Str(f.RootDir);
    s.ReservedZero = Zero(&f, offsetof(ZipFileSpec, Reserved1), offsetof(ZipFileSpec, Password)) &&
                     Zero(&f, offsetof(ZipFileSpec, Reserved2), offsetof(ZipFileSpec, RootDir)) &&
                     Zero(&f, offsetof(ZipFileSpec, Reserved3), sizeof(ZipFileSpec));
    c.Specs.push_back(s);
  }
  for (int i = 0; i < p->ExclCount; ++i) c.Exclusions.push_back(Str(p->ExclSpecs[i]));
  c.ReservedZero = Zero(p, offsetof(ZipParams, Pad1), offsetof(ZipParams, Callback)) &&
                   Zero(p, offsetof(ZipParams, Pad2), offsetof(ZipParams, Password)) &&
                   Zero(p, offsetof(ZipParams, Reserved40), offsetof(ZipParams, NoDirEntries)) &&
                   Zero(p, offsetof(ZipParams, Reserved64), offsetof(ZipParams, JunkDirNames)) &&
                   Zero(p, offsetof(ZipParams, Reserved78), offsetof(ZipParams, AddFlag)) &&
                   Zero(p, offsetof(ZipParams, Reserved104), offsetof(ZipParams, LatestTime)) &&
                   Zero(p, offsetof(ZipParams, Pad4), offsetof(ZipParams, FileSpecs)) &&
                   Zero(p, offsetof(ZipParams, Reserved144), offsetof(ZipParams, ExclCount)) &&
                   Zero(p, offsetof(ZipParams, UseOutStream), offsetof(ZipParams, AllowUndoDelete)) &&
                   Zero(p, offsetof(ZipParams, Reserved194), offsetof(ZipParams, CheckValue)) &&
                   Zero(p, offsetof(ZipParams, Pad7), sizeof(ZipParams));
  gCalls.push_back(c);
  if (gScript.Throw) throw std::runtime_error("engine failure");
  const int32_t ran = RunScript(p->Callback, p->Caller, true);
  if (gScript.Result >= 0) return gScript.Result;
  return ran ? (p->SpecCount ? p->SpecCount : 1) : 0;
}
#endif
#endif
