#include "ops/SfxConvertJob.h"

#include "core/TextUtil.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"

std::string SfxResultText(int32_t code, bool toProgram) {
  switch (code) {
    case 0: return {};
    case -1: return "Error in creation of destination.";
    case -2: return "ERROR : Read or write error during copy. There may not be enough space on disk.";
    case -3: return toProgram ? "Error in open of source zip file." : "Error in open of source file.";
    case -10: return toProgram ? "ERROR : Icon not found in SfxStub.bin." : "ERROR : Memory Error.";
    case -11: return "Memory or general error while setting icon.";
    case -12: return "Error in size of the supplied icon.";
    default: return "ERROR : General failure during copy.";
  }
}

TStatus TSfxConvertJob::Execute(TJobContext& ctx) {
  if (ctx.Cancelled()) return TStatus::Cancelled();
  TZipKit kit;
  kit.Unattended = true;
  kit.SetDLLDirectory(ProgramDir());
  kit.HowToDelete = params_.AllowUndo ? htdAllowUndo : htdFinal;
  if (!params_.StubPath.empty()) kit.SFXPath = params_.StubPath;
  kit.OnMessage = [&ctx](TZipKit* k, int32_t, const std::string& text) {
    if (k->ErrCode != 0) ctx.Message(TStatus(TStatusCode::Failed, text));
  };
  kit.ErrCode = 0;
  kit.SetZipFileName(params_.Source);
  if (kit.ZipFileName().empty())
    return {TStatusCode::Damaged, params_.Source + ": " + (kit.LastMessage.empty() ? "not a zip archive" : kit.LastMessage)};
  // A directory warning (offsets that count from the zip data) does not stop a conversion back.
  kit.ErrCode = 0;

  const TSfxSettings& s = params_.Settings;
  if (params_.ToProgram) {
    kit.SFXCaption = s.Caption;
    kit.SFXDefaultDir = s.DefaultDir;
    kit.SFXCommandLine = s.CommandLine;
    kit.SFXMessage = s.Message;
    SFXOpts o;
    if (s.AskCmdLine) o.Include(SFXAskCmdLine);
    if (s.AskFiles) o.Include(SFXAskFiles);
    if (s.AutoRun) o.Include(SFXAutoRun);
    if (s.HideOverwriteBox) o.Include(SFXHideOverWriteBox);
    if (s.CheckSize) o.Include(SFXCheckSize);
    if (s.NoSuccessMsg) o.Include(SFXNoSuccessMsg);
    kit.SFXOptions = o;
    kit.SFXOverWriteMode = s.Overwrite == TOverwriteMode::Always ? OvrAlways
                           : s.Overwrite == TOverwriteMode::Never ? OvrNever
                                                                  : OvrConfirm;
    kit.SFXIcon = s.Icon;
    code_ = kit.ConvertToSfx();
  } else {
    kit.SFXIcon.clear();
    code_ = kit.ConvertToZip();
    found_.Caption = kit.SFXCaption;
    found_.DefaultDir = kit.SFXDefaultDir;
    found_.CommandLine = kit.SFXCommandLine;
    found_.Message = kit.SFXMessage;
    found_.AskCmdLine = kit.SFXOptions.Has(SFXAskCmdLine);
    found_.AskFiles = kit.SFXOptions.Has(SFXAskFiles);
    found_.AutoRun = kit.SFXOptions.Has(SFXAutoRun);
    found_.HideOverwriteBox = kit.SFXOptions.Has(SFXHideOverWriteBox);
    found_.CheckSize = kit.SFXOptions.Has(SFXCheckSize);
    found_.NoSuccessMsg = kit.SFXOptions.Has(SFXNoSuccessMsg);
    found_.Overwrite = kit.SFXOverWriteMode == OvrAlways  ? TOverwriteMode::Always
                       : kit.SFXOverWriteMode == OvrNever ? TOverwriteMode::Never
                                                          : TOverwriteMode::Ask;
    found_.Icon = kit.SFXIcon;
  }
  if (code_ != 0) {
    const std::string text = SfxResultText(code_, params_.ToProgram);
    return {code_ == -1 || code_ == -2 ? TStatusCode::WriteFailed : TStatusCode::Failed, text};
  }
  target_ = kit.ZipFileName();
  return {};
}
