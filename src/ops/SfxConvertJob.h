#pragma once
// The self-extracting conversion as a job: a zip archive becomes a ".run" program (the stub, the
// settings, the archive) or such a program becomes a zip archive again, through the zip component's
// ConvertToSfx and ConvertToZip. The source is removed (to the trash when undo is allowed) only once
// the new file is complete; a failed conversion leaves the source as it was and no new file.
#include <cstdint>
#include <string>
#include <vector>

#include "ops/Job.h"
#include "ops/JobParams.h"

// How a made program behaves (the settings header of the program).
struct TSfxSettings {
  std::string Caption = "Self-extracting Archive";
  std::string DefaultDir;   // "" the user's current folder, "><" the user's temporary folder
  std::string CommandLine;  // "><" + an entry: run that entry once extracted
  std::string Message;      // "\001" + text: OK/Cancel, "\002" + text: Yes/No, else an OK box
  bool AskCmdLine = false;  // the user may decline the run
  bool AskFiles = false;    // the user chooses the entries
  bool AutoRun = false;     // no questions: straight into the default folder
  bool HideOverwriteBox = false;
  bool CheckSize = true;    // refuse when the folder's file system has too little room
  bool NoSuccessMsg = false;
  TOverwriteMode Overwrite = TOverwriteMode::Ask;
  std::vector<uint8_t> Icon;  // icon-file bytes (766: 32 x 32, 16 colours); empty keeps the stub's

  bool operator==(const TSfxSettings&) const = default;
};

struct TSfxConvertParams {
  std::string Source;        // a ".zip" archive, or a ".run" program
  bool ToProgram = true;     // false: the program back to a zip archive
  TSfxSettings Settings;     // of the program to make
  bool AllowUndo = true;     // the source goes to the trash instead of being deleted
  std::string StubPath;      // empty: SfxStub.bin of the program's folder
};

class TSfxConvertJob : public TJob {
 public:
  explicit TSfxConvertJob(TSfxConvertParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "convert"; }

  // After the run: the component's result code (0, -1, -2, -3, -9, -10, -11, -12), the file made,
  // and (converting back) the settings found in the program.
  int32_t ResultCode() const { return code_; }
  const std::string& Target() const { return target_; }
  const TSfxSettings& FoundSettings() const { return found_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TSfxConvertParams params_;
  int32_t code_ = 0;
  std::string target_;
  TSfxSettings found_;
};

// The text shown for a conversion's result code ("Error in creation of destination.", ...); empty
// for 0.
std::string SfxResultText(int32_t code, bool toProgram);
