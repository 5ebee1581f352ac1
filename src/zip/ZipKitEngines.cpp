// TZipKit: finding, loading and checking the engines, the engine callback and the password entry.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_set>

#include "core/Prompt.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

struct TZipKit::TEngineKind {
  const char* Library;
  const char* ExecName;
  const char* VersionName;
  int32_t MessageBase;  // 10600 or 10700: +1 loaded, +2 exec missing, +3 version missing, +4 not found, +5 old
  const char* ShortName;
};

namespace {

// Live components, so that a callback's caller can be checked.
std::mutex gKitsMutex;
std::unordered_set<const TZipKit*>& Kits() {
  static std::unordered_set<const TZipKit*> kits;
  return kits;
}

// One "/" between the parts when both or neither supply one, plain concatenation otherwise.
std::string JoinPath(const std::string& a, const std::string& b) {
  const bool aSlash = !a.empty() && a.back() == '/';
  const bool bSlash = !b.empty() && b.front() == '/';
  if (aSlash && bSlash) return a + b.substr(1);
  if (!aSlash && !bSlash) return a + "/" + b;
  return a + b;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string ModulePath(void* library) {
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) return map->l_name;
  return {};
}

std::mutex gPasswordRunnerMutex;
TPasswordDlg::TRunner& PasswordRunner() {
  static TPasswordDlg::TRunner runner;
  return runner;
}

}  // namespace

static const TZipKit::TEngineKind kZipKind{kZipEngineLibrary, kZipEngExecName, kGetZipEngVersionName, 10600,
                                           "ZipEng"};
static const TZipKit::TEngineKind kUnzipKind{kUnzipEngineLibrary, kUnzEngExecName, kGetUnzEngVersionName, 10700,
                                             "UnzEng"};

TZipKit::TZipKit() {
  std::lock_guard lock(gKitsMutex);
  Kits().insert(this);
}

TZipKit::~TZipKit() {
  {
    std::lock_guard lock(gKitsMutex);
    Kits().erase(this);
  }
  UnloadEngine(zipEngine_);
  UnloadEngine(unzipEngine_);
}

// ---------------------------------------------------------------------------------------------
// Loading

std::string TZipKit::EngineCandidate(const std::string& libraryName) const {
  if (dllDirectory_.empty()) return {};
  const std::string candidate = JoinPath(dllDirectory_, libraryName);
  if (FileExists(candidate)) return candidate;
  const std::string below = JoinPath(ProgramDir(), candidate);
  if (dllDirectory_.front() == '.' && FileExists(below)) return below;
  return {};
}

int32_t TZipKit::LoadEngine(TEngine& engine, const TEngineKind& kind) {
  UnloadEngine(engine);
  const std::string candidate = EngineCandidate(kind.Library);
  void* library = dlopen(candidate.empty() ? kind.Library : candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* exec = nullptr;
  void* version = nullptr;
  std::string path;
  if (!library) {
    ReportMessage(kind.MessageBase + 4);
  } else {
    path = ModulePath(library);
    if (Trace) ReportMessage(kind.MessageBase + 1, " " + path);
    exec = dlsym(library, kind.ExecName);
    if (!exec) ReportMessage(kind.MessageBase + 2);
    version = dlsym(library, kind.VersionName);
    if (!version) ReportMessage(kind.MessageBase + 3);
  }
  int32_t v = 0;
  if (library && exec && version) v = reinterpret_cast<GetZipEngVersionFn>(version)();
  if (v == 0) {
    if (library) dlclose(library);
    ReportMessage(kind.MessageBase + 4, " unloaded");
    return 0;
  }
  engine.Library = library;
  engine.Exec = exec;
  engine.GetVersion = version;
  engine.Path = path;
  return v;
}

void TZipKit::UnloadEngine(TEngine& engine) {
  if (engine.Library) dlclose(engine.Library);
  engine = TEngine{};
}

int32_t TZipKit::LoadZipEngine() { return LoadEngine(zipEngine_, kZipKind); }
void TZipKit::UnloadZipEngine() { UnloadEngine(zipEngine_); }
int32_t TZipKit::LoadUnzipEngine() { return LoadEngine(unzipEngine_, kUnzipKind); }
void TZipKit::UnloadUnzipEngine() { UnloadEngine(unzipEngine_); }

int32_t TZipKit::CheckEngine(TEngine& engine, const TEngineKind& kind, int32_t minVersion, bool& loadedHere) {
  loadedHere = false;
  int32_t version;
  if (engine.Library) {
    version = reinterpret_cast<GetZipEngVersionFn>(engine.GetVersion)();
  } else {
    version = LoadEngine(engine, kind);
    if (version == 0) return 0;
    loadedHere = true;
  }
  if (version < minVersion) {
    ReportMessage(kind.MessageBase + 5, engine.Path);
    UnloadEngine(engine);
    loadedHere = false;
    return 0;
  }
  if (Verbose && OnMessage)
    OnMessage(this, 0,
              std::string("Loaded ") + kind.ShortName + " ver: " + std::to_string(version) + " from " + engine.Path);
  return version;
}

int32_t TZipKit::CheckZipEngine(bool& loadedHere) { return CheckEngine(zipEngine_, kZipKind, minZipEngVers_, loadedHere); }

int32_t TZipKit::CheckUnzipEngine(bool& loadedHere) {
  return CheckEngine(unzipEngine_, kUnzipKind, minUnzEngVers_, loadedHere);
}

// ---------------------------------------------------------------------------------------------
// Password entry

void TPasswordDlg::SetRunner(TRunner runner) {
  std::lock_guard lock(gPasswordRunnerMutex);
  PasswordRunner() = std::move(runner);
}

TPasswordButton TPasswordDlg::Execute(const std::string& caption, const std::string& prompt, int buttons,
                                      std::string& text) {
  TRunner runner;
  {
    std::lock_guard lock(gPasswordRunnerMutex);
    runner = PasswordRunner();
  }
  text.clear();
  TPasswordButton result;
  if (runner) {
    result = runner(caption, prompt, buttons, text);
  } else {
    switch (Prompt().AskPassword(caption, prompt, text, buttons & pbCancelAll, buttons & pbAbort)) {
      case TPromptAnswer::Ok: result = PbOk; break;
      case TPromptAnswer::NoToAll: result = PbCancelAll; break;
      case TPromptAnswer::Abort: result = PbAbort; break;
      default: result = PbCancel; break;
    }
  }
  if (result != PbOk) text.clear();
  if (text.size() > static_cast<size_t>(kMaxCallbackPasswordLen)) text.resize(kMaxCallbackPasswordLen);
  return result;
}

std::string TZipKit::AskAddPassword(TPasswordButton& action) {
  action = PbOk;
  if (Unattended) {
    ReportMessage(10150);
    return {};
  }
  const std::string caption = ZipKitMessageText(10154);
  std::string first;
  action = TPasswordDlg::Execute(caption, ZipKitMessageText(10155), TPasswordDlg::pbOk | TPasswordDlg::pbCancel, first);
  if (action != PbOk || first.empty()) return {};
  std::string second;
  action =
      TPasswordDlg::Execute(caption, ZipKitMessageText(10156), TPasswordDlg::pbOk | TPasswordDlg::pbCancel, second);
  if (action != PbOk || second.empty()) return {};
  if (first != second) {
    ReportMessage(10104);
    return {};
  }
  return first;
}

std::string TZipKit::AskExtractPassword(TPasswordButton& action) {
  action = PbOk;
  if (Unattended) {
    ReportMessage(10151);
    return {};
  }
  std::string text;
  action = TPasswordDlg::Execute(ZipKitMessageText(10154), ZipKitMessageText(10155),
                                 TPasswordDlg::pbOk | TPasswordDlg::pbCancel | TPasswordDlg::pbCancelAll, text);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Engine callback

namespace {

// Writes text into the record's text area, cut to `limit` bytes and zero-terminated.
void PutText(CallbackRecord& record, const std::string& text, size_t limit) {
  const size_t n = std::min({text.size(), limit, static_cast<size_t>(kCallbackTextSize - 1)});
  std::memcpy(record.Text, text.data(), n);
  record.Text[n] = '\0';
}

}  // namespace

int32_t TZipKit::EngineCallback(CallbackRecord* record) {
  if (!record) return kCallbackStop;
  TZipKit* kit = static_cast<TZipKit*>(record->Caller);
  {
    std::lock_guard lock(gKitsMutex);
    if (!Kits().count(kit)) return kCallbackStop;
  }
  return kit->HandleCallback(*record);
}

void TZipKit::AnswerPassword(CallbackRecord& record, const std::string& forFile) {
  std::string newPassword;
  uint32_t repeatCount = static_cast<uint32_t>(std::clamp<int64_t>(record.Value2, 0, UINT32_MAX));
  TPasswordButton action = PbOk;
  if (OnPasswordError) {
    OnPasswordError(this, record.IsZipOperation != 0, newPassword, forFile, repeatCount, action);
    if (action != PbOk) newPassword.clear();
  } else if (record.Value1 & kPasswordWantNew) {
    newPassword = AskAddPassword(action);
  } else {
    newPassword = AskExtractPassword(action);
  }
  if (!newPassword.empty()) {
    PutText(record, newPassword, kMaxCallbackPasswordLen);
    record.Value1 = 1;
  } else {
    record.Value1 = 0;
    repeatCount = 0;
  }
  record.Value2 = std::min<uint32_t>(repeatCount, kMaxPasswordRepeat);
  if (action == PbCancelAll) record.ActionCode = kActionNone;
  if (action == PbAbort) Cancel = true;
}

int32_t TZipKit::HandleCallback(CallbackRecord& record) {
  std::string text(record.Text, strnlen(record.Text, kCallbackTextSize));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::replace(text.begin(), text.end(), '\\', '/');

  switch (record.ActionCode) {
    case kActionNewFile:
      if (OnProgress) OnProgress(this, PtNewFile, text, record.Value2);
      break;
    case kActionProgress:
      if (OnProgress) OnProgress(this, PtAdvance, std::string(), record.Value2);
      break;
    case kActionEndBatch:
      if (OnProgress) OnProgress(this, PtBatchEnd, std::string(), 0);
      break;
    case kActionMessage:
      if (record.Value1 != 0) {
        ErrCode = record.Value1 & 0xFF;
        FullErrCode = record.Value1;
      }
      LastMessage = text;
      if (OnMessage) OnMessage(this, record.Value1, text);
      break;
    case kActionTotalFiles:
      if (OnProgress) OnProgress(this, PtTotalFiles, std::string(), record.Value2);
      break;
    case kActionTotalSize:
      AnnouncedTotalSize = record.Value2;
      if (OnProgress) OnProgress(this, PtTotalSize, std::string(), record.Value2);
      break;
    case kActionNewName:
      if (OnSetNewName) {
        std::string name = text;
        bool changed = false;
        OnSetNewName(this, name, changed);
        if (changed) {
          PutText(record, name, kCallbackTextSize - 1);
          record.Value1 = 1;
        } else {
          record.Value1 = 0;
        }
      }
      break;
    case kActionPassword:
      AnswerPassword(record, text);
      break;
    case kActionCrcError: {
      bool doExtract = true;
      if (OnCRC32Error) {
        OnCRC32Error(this, text, static_cast<uint32_t>(record.Value1), static_cast<uint32_t>(record.Value2),
                     doExtract);
        record.Value1 = doExtract ? 1 : 0;
      } else {
        record.Value1 = 2;
      }
      break;
    }
    case kActionOverwrite:
      if (OnExtractOverwrite) {
        bool doOverwrite = (record.Value2 & 0xFF) != 0;
        const bool isOlder = (record.Value1 & kOverwriteIsOlder) != 0;
        OnExtractOverwrite(this, text, isOlder, doOverwrite, record.Value1 & kOverwriteDirIndexMask);
        record.Value2 = doOverwrite ? 1 : 0;
      }
      break;
    case kActionSkipped:
      if (record.Value1 != 0) {
        ErrCode = record.Value1 & 0xFF;
        FullErrCode = record.Value1;
      }
      if (OnExtractSkipped) OnExtractSkipped(this, text, static_cast<int32_t>(record.Value2 & 0xFF) - 1, record.Value1);
      break;
    case kActionFileComment:
      if (OnFileComment) {
        const char initial = record.Text[kCallbackInitialCommentIndex];
        std::string comment = initial ? std::string(1, initial) : std::string();
        bool changed = false;
        OnFileComment(this, text, comment, changed);
        if (changed && !comment.empty())
          PutText(record, comment, kMaxCallbackCommentLen);
        else
          record.Text[0] = '\0';
        record.Value1 = changed ? 1 : 0;
        record.Value2 = static_cast<int64_t>(std::min<size_t>(comment.size(), kMaxCallbackCommentLen));
      }
      break;
    default:  // kActionStreamSize: in-memory operations only
      break;
  }
  const int32_t answer = Cancel ? kCallbackStop : kCallbackContinue;
  if (ProcessEvents) ProcessEvents();
  return answer;
}
