#include "pages/unzip/EntryLauncher.h"

#include <filesystem>

#include "core/Prompt.h"
#include "core/TextUtil.h"
#include "pages/unzip/ArchiveNames.h"
#include "ops/Jobs.h"
#include "pages/common/JobRunner.h"
#include "platform/Desktop.h"
#include "platform/Launcher.h"

namespace fs = std::filesystem;

namespace {

const char* const kRefusedProgram =
    "THIS FILE IS A PROGRAM.\nPROGRAMS ARE NOT STARTED FROM AN ARCHIVE.\nUNZIP IT TO A FOLDER TO USE IT.";
const char* const kNoProgram = "No program could be started for this file.";

// The file name of an entry (the text after its last "/").
std::string LeafOf(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

bool TEntryLauncher::DesktopSaysPicture(const std::string& fileName) {
  const std::string ext = LastExtension(fileName);
  return !ext.empty() && MimeKindForExtension(ext) == "image";
}

std::string TEntryLauncher::CopyFolder(const TLaunchRequest& request) {
  return (fs::path(request.WorkFolder) / "open" / std::to_string(request.Id)).string();
}

std::string TEntryLauncher::ExtractCopy(const TLaunchRequest& request, TStatus& why) {
  const std::string folder = CopyFolder(request);
  std::error_code ec;
  // An older copy of this entry goes first: only what this run writes is opened.
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  if (ec) {
    why = TStatus(TStatusCode::WriteFailed, folder + ": " + ec.message());
    return {};
  }
  TExtractParams p;
  p.Archive = request.Archive;
  p.Format = request.Format == TArchiveFormat::TarGz ? TArchiveFormat::Tar : request.Format;
  p.Destination = folder;
  p.Selection.Ids.push_back(request.Id);
  p.DirNames = true;
  p.Overwrite = TOverwriteMode::Always;
  p.RestorePermissions = false;
  TJobRunner runner;
  runner.Start(std::make_unique<TExtractJob>(std::move(p)));
  const TJobResult result = runner.Wait();
  const std::vector<std::string> files = PlainFilesBelow(folder);
  // The entry's own file: the one plain file the run left (a link or a device is never opened).
  std::string copy;
  for (const std::string& f : files)
    if (fs::path(f).filename().string() == LeafOf(request.EntryName)) copy = f;
  if (copy.empty() && files.size() == 1) copy = files.front();
  if (copy.empty()) {
    why = result.Status.IsOk() ? TStatus(TStatusCode::NotFound, request.EntryName + ": not a file") : result.Status;
    return {};
  }
  if (!DropExecuteBits(copy)) {
    why = TStatus(TStatusCode::WriteFailed, copy + ": the execute bits stay");
    return {};
  }
  return copy;
}

bool TEntryLauncher::OpenCopy(const std::string& copy, const TLaunchRequest& request) {
  IDesktopLauncher& desktop = DesktopLauncher();
  const std::string leaf = fs::path(copy).filename().string();
  const bool picture = IsPicture ? IsPicture(leaf) : DesktopSaysPicture(leaf);
  const TRunRisk risk = RunRiskOf(copy);
  if (risk == TRunRisk::Program) {
    ShowError(kRefusedProgram);
    return false;
  }
  bool started = false;
  switch (request.Program) {
    case TLaunchProgram::ImageView:
      if (risk == TRunRisk::None && PictureViewer) {
        PictureViewer(copy);
        return true;
      }
      started = risk == TRunRisk::None ? desktop.OpenFile(copy) : desktop.OpenWithTypeHandler("text/plain", copy);
      break;
    case TLaunchProgram::NotePad: started = desktop.OpenWithTypeHandler("text/plain", copy); break;
    case TLaunchProgram::WordPad: {
      const std::string writer = FindWordProcessor();
      started = !writer.empty() && desktop.OpenWithProgram(writer, copy);
      break;
    }
    case TLaunchProgram::QuickView:
      started = !request.QuickViewProgram.empty() && desktop.OpenWithProgram(request.QuickViewProgram, copy);
      break;
    case TLaunchProgram::Desktop:
      if (risk == TRunRisk::Text) {
        // A handler could run it: shown as text instead.
        started = desktop.OpenWithTypeHandler("text/plain", copy);
      } else if (picture && request.ViewPicturesInternally && PictureViewer) {
        PictureViewer(copy);
        return true;
      } else {
        started = desktop.OpenFile(copy);
      }
      break;
  }
  if (!started) ShowError(kNoProgram);
  return started;
}

bool TEntryLauncher::Launch(const TLaunchRequest& request) {
  TStatus why;
  const std::string copy = ExtractCopy(request, why);
  if (copy.empty()) return false;  // the extraction reported its own failure
  return OpenCopy(copy, request);
}
