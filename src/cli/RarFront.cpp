// The RAR front of `tandor`: lists, tests and extracts through TRarKit and libunrar.so.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/Fronts.h"
#include "cli/Terminal.h"
#include "platform/Paths.h"
#include "rar/RarKit.h"

namespace fs = std::filesystem;

namespace {

std::string DosTimeText(unsigned dos) {
  char buf[32];
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63);
  return buf;
}

int Run(const TCliOptions& o, bool test) {
  if (!LoadUnrarLibrary(ProgramDir(), "")) {
    PrintError("Unable to load libunrar.so from " + ProgramDir());
    return 1;
  }
  TRarKit kit;
  kit.Archivefilename = o.Archive;
  kit.Path2UnrarDll = ProgramDir();
  int errors = 0;
  std::string lastError;
  kit.OnError = [&](TRarKit&, int code) {
    lastError = TRarKit::GetRarErrorText(code);
    ++errors;
  };
  bool passwordAsked = false;
  kit.OnReqPassword = [&](TRarKit& k, const RARHeaderData&, std::string& password) {
    if (o.Password) {
      password = *o.Password;
    } else if (!passwordAsked) {
      password = AskPassword("password: ");
    }
    passwordAsked = true;
    if (password.empty()) k.Stop = true;
  };
  std::string out;
  if (o.Command == 'l') {
    out = "     Size      Date  Time   Name\n";
    kit.OnList = [&](TRarKit& k, const RARHeaderData& h, bool) {
      char line[64];
      std::snprintf(line, sizeof line, "%9llu  %s%s ", static_cast<unsigned long long>(k.EntryUnpackedSize()),
                    DosTimeText(h.FileTime).c_str(), TRarKit::IsEncryptedEntry(h) ? "*" : " ");
      out += line;
      out += TRarKit::EntryName(h);
      if (TRarKit::IsFolderEntry(h)) out += "/";
      out += '\n';
    };
    const int code = kit.ListRarArchive();
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (!TRarKit::Succeeded(code)) {
      PrintError(o.Archive + ": " + TRarKit::GetRarErrorText(code));
      return 1;
    }
    return errors ? 1 : 0;
  }

  std::error_code ec;
  fs::path scratch;
  if (test) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tandor-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
      PrintError("cannot make a temporary folder for testing");
      return 1;
    }
    scratch = buf.data();
    kit.TargetDirectory = scratch.string();
  } else {
    fs::create_directories(o.Destination, ec);
    kit.TargetDirectory = fs::absolute(o.Destination, ec).lexically_normal().string();
  }
  TProgressBar bar(!o.Quiet);
  kit.OnExtracting = [&](TRarKit&, const RARHeaderData& h) { bar.SetName(TRarKit::EntryName(h)); };
  char all = o.Overwrite || test ? 'A' : 0;
  kit.OnOverwrite = [&](TRarKit&, const RARHeaderData& h, const std::string&) {
    if (all == 'A') return true;
    if (all == 'N') return false;
    bar.Finish();
    const char a = AskReplace(TRarKit::EntryName(h));
    if (a == 'A' || a == 'N') all = a;
    return a == 'y' || a == 'A';
  };
  int failedEntries = 0, files = 0;
  kit.OnExtract = [&](TRarKit&, const RARHeaderData& h, bool result) {
    if (!result) {
      ++failedEntries;
      bar.Finish();
      PrintError(TRarKit::EntryName(h) + ": " +
                 (TRarKit::IsEncryptedEntry(h) ? std::string("password-protected; it cannot be extracted")
                                               : lastError.empty() ? std::string("failed") : lastError));
    } else if (!TRarKit::IsFolderEntry(h)) {
      ++files;
    }
  };
  kit.SetFilesToProcess(o.Files);
  const int code = kit.ExtractRarArchive();
  bar.Finish();
  if (!scratch.empty()) fs::remove_all(scratch, ec);
  if (!TRarKit::Succeeded(code)) {
    PrintError(o.Archive + ": " + TRarKit::GetRarErrorText(code));
    return 1;
  }
  if (failedEntries || errors) {
    if (!failedEntries) PrintError(o.Archive + ": " + lastError);
    return 1;
  }
  if (test && !o.Quiet) std::cerr << "tandor: " << files << " files tested, no errors" << std::endl;
  return 0;
}

}  // namespace

int RunRarCommand(const TCliOptions& o) {
  if (o.Command == 'a' || o.Command == 'd') {
    PrintError("RAR archives can be listed, tested and extracted, not changed");
    return 2;
  }
  std::error_code ec;
  if (!fs::is_regular_file(o.Archive, ec)) {
    PrintError("cannot open " + o.Archive + ": no such file");
    return 1;
  }
  switch (o.Command) {
    case 'l': return Run(o, false);
    case 'x': return Run(o, false);
    case 't': return Run(o, true);
    default: return 2;
  }
}
