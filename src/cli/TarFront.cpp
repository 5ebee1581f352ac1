// The tar and gzip front of `tandor`: tar, tar.gz/tgz and plain gzip files.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/Fronts.h"
#include "cli/Terminal.h"
#include "core/TextUtil.h"
#include "tar/ArchiveCreator.h"
#include "tar/Gzip.h"
#include "tar/TarExtractor.h"

namespace fs = std::filesystem;

namespace {

bool IsPlainGzip(const std::string& archive) {
  // A gzip file that does not hold a tar archive is decompressed as one file.
  return IsGzipFile(archive) && !IsTarGzContent(archive);
}

std::string ModeText(const TTarDirRec& r) {
  std::string s(10, '-');
  switch (r.EntryKind) {
    case TTarEntryKind::Directory: s[0] = 'd'; break;
    case TTarEntryKind::SymbolicLink: s[0] = 'l'; break;
    case TTarEntryKind::Link: s[0] = 'h'; break;
    case TTarEntryKind::CharFile: s[0] = 'c'; break;
    case TTarEntryKind::BlockFile: s[0] = 'b'; break;
    case TTarEntryKind::FifoFile: s[0] = 'p'; break;
    default: break;
  }
  const unsigned m = r.Mode();
  const char* rwx = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (m & (0400u >> i)) s[static_cast<size_t>(i) + 1] = rwx[i];
  return s;
}

int ListGzip(const TCliOptions& o) {
  TGzip gz;
  gz.WindowOnError = false;
  gz.FileSource = o.Archive;
  if (gz.ReadHeader() != 0) {
    PrintError(o.Archive + ": not a gzip file");
    return 1;
  }
  std::error_code ec;
  std::cout << "   Packed      Date  Time   Name\n";
  std::printf("%9llu  %s  %s\n", static_cast<unsigned long long>(fs::file_size(o.Archive, ec)),
              FormatLocalTime(gz.HeaderTime).c_str(), GzOutputName(gz.HeaderFileName, o.Archive).c_str());
  if (!gz.HeaderComment.empty()) std::cout << "comment: " << gz.HeaderComment << "\n";
  return 0;
}

int List(const TCliOptions& o) {
  if (IsPlainGzip(o.Archive)) return ListGzip(o);
  std::unique_ptr<TTarArchive> tar;
  try {
    tar = OpenTarStream(o.Archive);
  } catch (const std::exception& e) {
    PrintError(o.Archive + ": " + e.what());
    return 1;
  }
  if (!tar) {
    PrintError("cannot open " + o.Archive);
    return 1;
  }
  try {
    TTarDirRec r;
    std::string out;
    while (tar->FindNext(r)) {
      char line[128];
      std::snprintf(line, sizeof line, "%s %s/%s %12lld %s ", ModeText(r).c_str(),
                    r.UserName.empty() ? std::to_string(r.UserId).c_str() : r.UserName.c_str(),
                    r.GroupName.empty() ? std::to_string(r.GroupId).c_str() : r.GroupName.c_str(),
                    static_cast<long long>(r.Size), FormatLocalTime(DateTimeToUnix(r.ModTime)).c_str());
      out += line;
      out += r.Name;
      if (r.EntryKind == TTarEntryKind::SymbolicLink || r.EntryKind == TTarEntryKind::Link) out += " -> " + r.LinkName;
      out += '\n';
      tar->SkipData();
      if (out.size() > (1 << 20)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    PrintError(o.Archive + ": " + e.what());
    return 1;
  }
  if (tar->Truncated()) {
    std::fflush(stdout);
    PrintError(o.Archive + ": the archive is cut short");
    return 1;
  }
  return 0;
}

int Extract(const TCliOptions& o, bool test) {
  TTarExtractor x;
  TProgressBar bar(!o.Quiet);
  char all = o.Overwrite ? 'A' : 0;
  x.OnProgress = [&](int64_t done, int64_t total, const std::string& name) {
    bar.SetTotal(total);
    bar.SetDone(done);
    bar.SetName(name);
  };
  x.OnOverwrite = [&](const TTarDirRec& entry, const std::string&) {
    if (all == 'A') return TOverwriteAnswer::Yes;
    if (all == 'N') return TOverwriteAnswer::No;
    bar.Finish();
    const char a = AskReplace(entry.Name);
    if (a == 'A' || a == 'N') all = a;
    return a == 'y' || a == 'A' ? TOverwriteAnswer::Yes : TOverwriteAnswer::No;
  };
  x.Only = o.Files;
  std::error_code ec;
  std::string destination = o.Destination;
  fs::path scratch;
  if (test) {
    // Testing reads and checks everything; the data goes to a private folder removed at once.
    char templ[] = "/tmp/tandor-test-XXXXXX";
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tandor-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()) && !mkdtemp(templ)) {
      PrintError("cannot make a temporary folder for testing");
      return 1;
    }
    scratch = buf.data();
    destination = scratch.string();
  }
  const TTarExtractResult r =
      IsPlainGzip(o.Archive) ? x.ExtractGz(o.Archive, destination) : x.Extract(o.Archive, destination);
  bar.Finish();
  if (!scratch.empty()) fs::remove_all(scratch, ec);
  for (const std::string& w : r.Warnings)
    if (!o.Quiet || !r.Ok) PrintError(w);
  if (!r.Ok) {
    PrintError(o.Archive + ": " + (r.Error.empty() ? "extraction failed" : r.Error));
    return 1;
  }
  if (test && !o.Quiet) std::cerr << "tandor: " << r.Files << " files tested, no errors" << std::endl;
  return r.Warnings.empty() || test ? 0 : 1;
}

int Add(const TCliOptions& o) {
  TArchiveCreator c;
  if (!TArchiveCreator::KindForName(o.Archive, c.Kind)) {
    PrintError(o.Archive + ": the name must end in .tar, .tar.gz, .tgz or .gz");
    return 2;
  }
  c.CompressionLevel = o.Level;
  std::error_code ec;
  for (const std::string& f : o.Files) {
    if (!fs::exists(fs::symlink_status(f, ec))) {
      PrintError("cannot add " + f + ": no such file");
      return 1;
    }
    const auto add = [&](const fs::path& p) {
      std::string stored = p.lexically_normal().generic_string();
      while (StartsWith(stored, "../")) stored.erase(0, 3);
      while (!stored.empty() && stored[0] == '/') stored.erase(0, 1);
      c.Items.push_back({p.string(), stored});
    };
    add(f);
    if (o.Recurse && fs::is_directory(fs::symlink_status(f, ec))) {
      for (auto it = fs::recursive_directory_iterator(f, ec); !ec && it != fs::recursive_directory_iterator();
           it.increment(ec))
        add(it->path());
    }
  }
  if (c.Kind == TArchiveKind::Gz && (c.Items.size() != 1 || fs::is_directory(c.Items[0].Source, ec))) {
    PrintError("a gzip file holds exactly one file");
    return 2;
  }
  TProgressBar bar(!o.Quiet);
  c.OnProgress = [&](uint64_t done, uint64_t total, const std::string& name) {
    bar.SetTotal(static_cast<int64_t>(total));
    bar.SetDone(static_cast<int64_t>(done));
    bar.SetName(name);
  };
  const TCreateResult r = c.Create(o.Archive);
  bar.Finish();
  if (!r.Ok) {
    PrintError(o.Archive + ": " + (r.Error.empty() ? "creation failed" : r.Error));
    return 1;
  }
  return 0;
}

}  // namespace

int RunTarCommand(const TCliOptions& o) {
  std::error_code ec;
  if (o.Command != 'a' && !fs::is_regular_file(o.Archive, ec)) {
    PrintError("cannot open " + o.Archive + ": no such file");
    return 1;
  }
  switch (o.Command) {
    case 'l': return List(o);
    case 'x': return Extract(o, false);
    case 't': return Extract(o, true);
    case 'a': return Add(o);
    case 'd': PrintError("delete works on zip archives only"); return 2;
    default: return 2;
  }
}
