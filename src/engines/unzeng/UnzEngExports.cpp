// The exported entry points of libunzeng.so: the parameter record is turned into extraction
// options, and the engine's events into callback records.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "Extractor.h"
#include "zip/ZipStructs.h"

namespace unzeng {
namespace {

constexpr int32_t kUnzipEngineVersion = 180;

class TCallbackEvents final : public TEngineEvents {
 public:
  explicit TCallbackEvents(const UnzipParams& p) : p_(p) {}

  bool TotalFiles(uint64_t count) override { return Send(kActionTotalFiles, 0, int64_t(count), "").ok; }
  bool TotalSize(uint64_t bytes) override { return Send(kActionTotalSize, 0, int64_t(bytes), "").ok; }
  bool NewFile(const std::string& name, uint64_t size) override { return Send(kActionNewFile, 0, int64_t(size), name).ok; }
  bool Progress(uint64_t bytes) override { return Send(kActionProgress, 0, int64_t(bytes), "").ok; }
  bool End() override { return Send(kActionEndBatch, 0, 0, "").ok; }
  bool Message(int code, const std::string& text) override { return Send(kActionMessage, code, 0, text).ok; }
  bool Skipped(const std::string& name, int skipType, int code) override {
    return Send(kActionSkipped, code, skipType + 1, name).ok;
  }
  bool CrcError(const std::string& name, uint32_t found, uint32_t expected, bool& keep) override {
    TReply r = Send(kActionCrcError, int32_t(found), int64_t(expected), name);
    // Only an explicit "extract anyway" keeps a damaged file.
    keep = r.sent && r.rec.Value1 == 1;
    return r.ok;
  }
  bool Overwrite(const std::string& name, bool isOlder, int index, bool& overwrite) override {
    int32_t v1 = (isOlder ? kOverwriteIsOlder : 0) | (index & kOverwriteDirIndexMask);
    TReply r = Send(kActionOverwrite, v1, overwrite ? 1 : 0, name);
    if (r.sent) overwrite = (r.rec.Value2 & 0xFF) != 0;
    return r.ok;
  }
  bool AskPassword(const std::string& name, uint32_t& repeat, std::string& password, bool& cancelAll) override {
    password.clear();
    TReply r = Send(kActionPassword, 0, int64_t(repeat), name);
    if (!r.sent) {
      repeat = 0;
      return r.ok;
    }
    if (r.rec.ActionCode == kActionNone) cancelAll = true;
    if (r.rec.Value1 == 1) {
      r.rec.Text[kCallbackTextSize - 1] = 0;
      password.assign(r.rec.Text, strnlen(r.rec.Text, kMaxCallbackPasswordLen));
    }
    repeat = uint32_t(std::clamp<int64_t>(r.rec.Value2, 0, kMaxPasswordRepeat));
    return r.ok;
  }

 private:
  struct TReply {
    bool ok = true;     // go on
    bool sent = false;  // a callback answered
    CallbackRecord rec{};
  };

  TReply Send(int32_t action, int32_t v1, int64_t v2, const std::string& text) {
    TReply r;
    if (!p_.Callback) return r;
    r.rec.Handle = p_.Handle;
    r.rec.Caller = p_.Caller;
    r.rec.Version = kUnzipEngineVersion;
    r.rec.IsZipOperation = 0;
    r.rec.ActionCode = action;
    r.rec.Value1 = v1;
    r.rec.Value2 = v2;
    size_t n = std::min(text.size(), size_t(kCallbackTextSize - 1));
    std::memcpy(r.rec.Text, text.data(), n);
    r.rec.Text[n] = 0;
    r.sent = true;
    r.ok = p_.Callback(&r.rec) != kCallbackStop;
    return r;
  }

  const UnzipParams& p_;
};

bool Flag(int32_t v) { return v != 0; }

}  // namespace
}  // namespace unzeng

extern "C" TANDOR_ENGINE_EXPORT int32_t GetUnzEngVersion() { return unzeng::kUnzipEngineVersion; }

extern "C" TANDOR_ENGINE_EXPORT int32_t UnzEngExec(UnzipParams* params) {
  using namespace unzeng;
  if (!params || params->CheckValue != kParamsCheckValue || !params->ZipFileName) return 0;
  TCallbackEvents events(*params);
  try {
    TExtractOptions o;
    o.archivePath = params->ZipFileName;
    if (params->ExtractDir) o.baseDir = params->ExtractDir;
    if (params->Password) o.password.assign(params->Password, strnlen(params->Password, kMaxParamPasswordLen));
    for (int32_t i = 0; params->FileSpecs && i < params->SpecCount; ++i)
      if (params->FileSpecs[i].FileSpec) o.specs.emplace_back(params->FileSpecs[i].FileSpec);
    o.test = Flag(params->Test);
    o.update = Flag(params->Update);
    o.freshen = Flag(params->Freshen) && !o.update;
    o.dirNames = Flag(params->DirNames);
    o.overwrite = Flag(params->Overwrite);
    o.passwordReqCount = uint32_t(std::clamp<int32_t>(params->PasswordReqCount, 0, int32_t(kMaxPasswordRepeat)));
    return RunExtraction(o, events);
  } catch (const std::bad_alloc&) {
    events.Message(ErrNoMemory, "not enough memory");
  } catch (const std::exception& e) {
    events.Message(ErrStructure, std::string("extraction failed: ") + e.what());
  }
  return 0;
}
