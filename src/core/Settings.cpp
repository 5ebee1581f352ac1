#include "core/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "core/TextUtil.h"

namespace {

constexpr int kLineCount = 61;
constexpr size_t kShortTextLimit = 255;

bool FolderExists(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FlagText(bool v) { return v ? "T" : "F"; }
std::string TextOrF(const std::string& s) { return s.empty() ? "F" : s; }
std::string TextOfLine(const std::string& line) { return line == "F" ? std::string() : line; }

// One line of the file: how it is read (with the line present or missing) and written.
struct TLine {
  std::function<void(TSettings&, const std::string*)> read;  // nullptr line = missing
  std::function<std::string(const TSettings&)> write;
  std::function<void(TSettings&)> firstRun;
};

TLine Flag(bool TSettings::*f, bool missing, bool firstRun) {
  return {[=](TSettings& s, const std::string* l) { s.*f = l ? *l == "T" : missing; },
          [=](const TSettings& s) { return FlagText(s.*f); },
          [=](TSettings& s) { s.*f = firstRun; }};
}

// Lines whose field is reserved: read and discarded, field false, always written as a constant.
TLine Constant(bool TSettings::*f, const char* written, bool firstRun) {
  return {[=](TSettings& s, const std::string*) { s.*f = false; },
          [=](const TSettings&) { return std::string(written); }, [=](TSettings& s) { s.*f = firstRun; }};
}

// Line 17: read like a flag, written as the constant "T".
TLine FlagWrittenTrue(bool TSettings::*f) {
  return {[=](TSettings& s, const std::string* l) { s.*f = l ? *l == "T" : true; },
          [](const TSettings&) { return std::string("T"); }, [=](TSettings& s) { s.*f = true; }};
}

enum class TCheck { None, Folder, ParentFolder, File };

TLine Text(std::string TSettings::*f, TCheck check) {
  return {[=](TSettings& s, const std::string* l) {
            std::string v = l ? TextOfLine(*l) : std::string();
            const bool keep = check == TCheck::None || (check == TCheck::Folder && FolderExists(v)) ||
                              (check == TCheck::ParentFolder && FolderExists(ExtractFileDir(v))) ||
                              (check == TCheck::File && FileExists(v));
            s.*f = keep ? v : std::string();
          },
          [=](const TSettings& s) { return TextOrF(s.*f); }, [=](TSettings& s) { (s.*f).clear(); }};
}

TLine ShortText(std::string TSettings::*f) {
  return {[=](TSettings& s, const std::string* l) {
            std::string v = l ? TextOfLine(*l) : std::string();
            if (v.size() > kShortTextLimit) v.resize(kShortTextLimit);
            s.*f = v;
          },
          [=](const TSettings& s) { return TextOrF(s.*f); }, [=](TSettings& s) { (s.*f).clear(); }};
}

// A number given by one exact digit between 0 and `max`; any other text gives 0.
TLine Ranged(int32_t TSettings::*f, int max, int32_t firstRun) {
  return {[=](TSettings& s, const std::string* l) {
            s.*f = (l && l->size() == 1 && (*l)[0] >= '0' && (*l)[0] <= '0' + max) ? (*l)[0] - '0' : 0;
          },
          [=](const TSettings& s) { return std::to_string(s.*f); }, [=](TSettings& s) { s.*f = firstRun; }};
}

TLine Thumb() {
  return {[](TSettings& s, const std::string* l) {
            int64_t v = 64;
            if (l) {
              std::string t = *l;
              const bool negative = !t.empty() && t[0] == '-';
              if (negative) t.erase(0, 1);
              if (IsAllDigits(t) && t.size() <= 9) {
                v = std::stoll(t) * (negative ? -1 : 1);
                if (v <= 15) v = 16;
                else if (v > 256) v = 64;
              } else if (IsAllDigits(t)) {
                v = negative ? 16 : 64;  // beyond any integer: out of range either way
              }
            }
            s.ThumbSize = static_cast<int32_t>(v);
          },
          [](const TSettings& s) { return std::to_string(s.ThumbSize); }, [](TSettings& s) { s.ThumbSize = 64; }};
}

TLine CheckDate() {
  return {[](TSettings& s, const std::string* l) {
            s.UpdateCheckDate = (l && IsAllDigits(*l)) ? *l : std::to_string(TodayDayNumber());
          },
          [](const TSettings& s) { return TextOrF(s.UpdateCheckDate); },
          [](TSettings& s) { s.UpdateCheckDate = "38474"; }};
}

const std::vector<TLine>& Lines() {
  using S = TSettings;
  static const std::vector<TLine> lines = {
      Flag(&S::UnzipFolders, true, true),            // 1
      Flag(&S::UnzipOverwrite, false, false),        // 2
      Flag(&S::UnzipUpdateFiles, false, false),      // 3
      Flag(&S::UnzipFreshenFiles, false, false),     // 4
      Constant(&S::SaveUnzipDefault, "F", false),    // 5
      Flag(&S::SaveZipFolders, true, true),          // 6
      Flag(&S::RecurseFolders, true, true),          // 7
      Flag(&S::ArchiveBitOnly, false, false),        // 8
      Flag(&S::LongFileNames, true, true),           // 9
      Flag(&S::AddPassword, false, false),           // 10
      Flag(&S::SetArchiveTime, false, false),        // 11
      Flag(&S::OnlyNewerThanDate, false, false),     // 12
      Flag(&S::SpanDisks, false, false),             // 13
      Flag(&S::EraseDisk, false, false),             // 14
      Flag(&S::SelfExtracting, false, false),        // 15
      Constant(&S::SaveZipDefault, "F", false),      // 16
      FlagWrittenTrue(&S::Reserved17),               // 17
      Constant(&S::Reserved18, "F", false),          // 18
      Text(&S::BatchOpenFolder, TCheck::Folder),     // 19
      Text(&S::ArchiveOpenFolder, TCheck::Folder),   // 20
      Text(&S::AddFilesFolder, TCheck::Folder),      // 21
      Text(&S::ArchiveSaveFolder, TCheck::Folder),   // 22
      Text(&S::Reserved23, TCheck::Folder),          // 23
      Ranged(&S::Reserved24, 3, 0),                  // 24
      Flag(&S::Reserved25, false, false),            // 25
      ShortText(&S::PrevZipProgId),                  // 26
      ShortText(&S::PrevZipName),                    // 27
      Flag(&S::UpdateSaveFolders, true, true),       // 28
      Flag(&S::UpdateRecurseFolders, true, true),    // 29
      Flag(&S::Reserved30, false, false),            // 30
      Flag(&S::Reserved31, true, true),              // 31
      Flag(&S::Reserved32, false, false),            // 32
      Flag(&S::Reserved33, false, false),            // 33
      Constant(&S::Reserved34, "F", false),          // 34
      Text(&S::SfxIconFolder, TCheck::ParentFolder), // 35
      Text(&S::SfxIconFile, TCheck::File),           // 36
      Text(&S::BrowseFolder, TCheck::Folder),        // 37
      ShortText(&S::PrevGzProgId),                   // 38
      ShortText(&S::PrevGzName),                     // 39
      Ranged(&S::DefaultArchiveType, 4, 1),          // 40
      Flag(&S::OpenTarInGz, true, true),             // 41
      Flag(&S::ShortGzPaths, true, true),            // 42
      ShortText(&S::PrevTarProgId),                  // 43
      ShortText(&S::PrevTarName),                    // 44
      Flag(&S::TarAttributes, true, false),          // 45
      Flag(&S::RelativePaths, true, true),           // 46
      Flag(&S::ViewPicturesInternally, true, true),  // 47
      Flag(&S::FitPictureToScreen, true, true),      // 48
      Flag(&S::SelectAllOnLoad, true, true),         // 49
      Thumb(),                                       // 50
      ShortText(&S::PrevTgzProgId),                  // 51
      ShortText(&S::PrevTgzName),                    // 52
      ShortText(&S::PrevRarProgId),                  // 53
      ShortText(&S::PrevRarName),                    // 54
      Flag(&S::ConfirmQueueDelete, true, true),      // 55
      Flag(&S::QueueBringToFront, true, true),       // 56
      Flag(&S::UpdateCheckEnabled, true, false),     // 57
      CheckDate(),                                   // 58
      Flag(&S::QueueEnabled, true, true),            // 59
      Flag(&S::AutoThumbnails, false, false),        // 60
      Flag(&S::BatchAllArchiveTypes, false, false),  // 61
  };
  return lines;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size() && out.size() < static_cast<size_t>(kLineCount)) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

// Writes `data` to `path` through a temporary file in the same folder, renamed over it on success.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string& error) {
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "CANNOT WRITE THE SETTINGS FILE " + path + "\n" + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  const int savedErrno = errno;
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    error = "CANNOT WRITE THE SETTINGS FILE " + path + "\n" + std::strerror(savedErrno ? savedErrno : errno);
  }
  return ok;
}

}  // namespace

void TSettings::SetDefaultSettings() {
  DefaultArchiveType = 1;
  for (bool TSettings::*f :
       {&TSettings::UnzipFolders, &TSettings::SaveZipFolders, &TSettings::RecurseFolders, &TSettings::LongFileNames,
        &TSettings::Reserved17, &TSettings::UpdateSaveFolders, &TSettings::UpdateRecurseFolders,
        &TSettings::Reserved31, &TSettings::OpenTarInGz, &TSettings::ShortGzPaths, &TSettings::RelativePaths,
        &TSettings::ViewPicturesInternally, &TSettings::FitPictureToScreen, &TSettings::SelectAllOnLoad,
        &TSettings::ConfirmQueueDelete, &TSettings::QueueBringToFront, &TSettings::QueueEnabled})
    this->*f = true;
  for (bool TSettings::*f :
       {&TSettings::UnzipOverwrite, &TSettings::UnzipUpdateFiles, &TSettings::UnzipFreshenFiles,
        &TSettings::SaveUnzipDefault, &TSettings::ArchiveBitOnly, &TSettings::AddPassword, &TSettings::SetArchiveTime,
        &TSettings::OnlyNewerThanDate, &TSettings::SpanDisks, &TSettings::EraseDisk, &TSettings::SelfExtracting,
        &TSettings::SaveZipDefault, &TSettings::Reserved18, &TSettings::Reserved25, &TSettings::Reserved30,
        &TSettings::Reserved32, &TSettings::Reserved33, &TSettings::Reserved34, &TSettings::TarAttributes,
        &TSettings::UpdateCheckEnabled, &TSettings::AutoThumbnails, &TSettings::BatchAllArchiveTypes})
    this->*f = false;
}

void TSettings::ClearSettingStrings() {
  for (std::string TSettings::*f :
       {&TSettings::BatchOpenFolder, &TSettings::ArchiveOpenFolder, &TSettings::AddFilesFolder,
        &TSettings::ArchiveSaveFolder, &TSettings::Reserved23, &TSettings::SfxIconFolder, &TSettings::SfxIconFile,
        &TSettings::BrowseFolder, &TSettings::PrevZipProgId, &TSettings::PrevZipName, &TSettings::PrevGzProgId,
        &TSettings::PrevGzName, &TSettings::PrevTarProgId, &TSettings::PrevTarName, &TSettings::PrevTgzProgId,
        &TSettings::PrevTgzName, &TSettings::PrevRarProgId, &TSettings::PrevRarName})
    (this->*f).clear();
  Reserved24 = 0;
  Reserved25 = false;
}

void TSettings::Parse(const std::string& text) {
  const std::vector<std::string> present = SplitLines(text);
  const auto& lines = Lines();
  for (size_t i = 0; i < lines.size(); ++i) lines[i].read(*this, i < present.size() ? &present[i] : nullptr);
}

std::string TSettings::Serialize() const {
  std::string out;
  for (const TLine& line : Lines()) out += line.write(*this) + "\r\n";
  return out;
}

bool TSettings::LoadSettings() {
  CreateOptionsEditable = true;
  UpdateCutoffDate = 0;
  LastError.clear();
  keepFile_ = false;
  struct stat st {};
  const bool found = stat(ConfigFile.c_str(), &st) == 0;
  if (!found && (errno == ENOENT || errno == ENOTDIR)) return false;  // a first run
  std::ostringstream content;
  bool read = false;
  if (found && S_ISREG(st.st_mode)) {  // never opened otherwise: a pipe would block the start
    std::ifstream in(ConfigFile, std::ios::binary);
    if (in) content << in.rdbuf();
    read = in && !in.bad();
  }
  if (!read) {
    // Whatever is there stays untouched: the settings of this session are never written over it.
    keepFile_ = true;
    LastError = "CANNOT READ THE SETTINGS FILE " + ConfigFile + "\nTHE PROGRAM GOES ON WITH ITS DEFAULT SETTINGS.";
    return false;
  }
  Parse(content.str());
  return true;
}

bool TSettings::SaveSettings() {
  LastError.clear();
  if (keepFile_) return true;
  return WriteFileAtomically(ConfigFile, Serialize(), LastError);
}

bool TSettings::WriteDefaultSettings() {
  CreateOptionsEditable = true;
  UpdateCutoffDate = 0;
  for (const TLine& line : Lines()) line.firstRun(*this);
  return SaveSettings();
}

void TSettings::ClampUpdateCheckDate() {
  const int64_t today = TodayDayNumber();
  // Digits beyond what a day number can be are taken as a date far in the future.
  int64_t d = 0;
  if (IsAllDigits(UpdateCheckDate))
    d = UpdateCheckDate.size() > 15 ? INT64_MAX : std::stoll(UpdateCheckDate);
  if (d < 38474) {
    UpdateCheckDate = "38474";
    SaveSettings();
  } else if (today < d) {
    UpdateCheckDate = std::to_string(today);
    SaveSettings();
  }
}

bool IsArchiveExtension(const std::string& ext) {
  const std::string e = LowerCase(ext);
  // ".run": a self-extracting program is a zip archive behind the stub.
  return e == ".zip" || e == ".gz" || e == ".tar" || e == ".rar" || e == ".tgz" || e == ".run";
}

void TRunState::ClearAtStartup() {
  BatchBusy = false;
  BatchIndex = 0;
  OverwriteCurrent = false;
  SfxCreated = false;
  OverwriteYesToAll = false;
  OverwriteNoToAll = false;
}
