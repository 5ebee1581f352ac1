// The commands of `tandor` on the jobs of the operations layer: l, t, x, a and d for every format.
// The terminal answers the jobs' questions; messages go to standard error as they come.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "ops/Jobs.h"
#include "safeout/Names.h"

namespace fs = std::filesystem;

namespace {

bool IsTarFamily(TArchiveFormat f) {
  return f == TArchiveFormat::Tar || f == TArchiveFormat::TarGz || f == TArchiveFormat::Gzip;
}

// Questions on the terminal: replacing asks y/n/A/N, a password is read without echo; without a
// terminal the cautious answer.
class TTerminalQuestions : public IJobQuestions {
 public:
  TTerminalQuestions(TProgressBar& bar, bool quiet) : bar_(bar), quiet_(quiet) {}

  TOverwriteChoice AskOverwrite(const TOverwriteQuestion& q) override {
    bar_.Finish();
    const std::string shown = safeout::EscapeControls(q.EntryName);
    const char a = AskReplace(shown);
    if ((a == 'n' || a == 'N') && !quiet_ && q.Format == TArchiveFormat::Zip)
      std::cerr << "tandor: kept existing " << shown << std::endl;
    switch (a) {
      case 'y': return TOverwriteChoice::Yes;
      case 'A': return TOverwriteChoice::YesToAll;
      case 'N': return TOverwriteChoice::NoToAll;
      default: return TOverwriteChoice::No;
    }
  }
  TPasswordChoice AskPassword(const std::string& entryName, std::string& password) override {
    bar_.Finish();
    password = ::AskPassword("password for " + safeout::EscapeControls(entryName) + ": ");
    return password.empty() ? TPasswordChoice::CancelAll : TPasswordChoice::Ok;
  }
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override { return TSecurityChoice::Ignore; }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Skip; }

 private:
  TProgressBar& bar_;
  bool quiet_;
};

// A job's messages and outcome on the terminal, as each format family reports them: zip and RAR
// print every failure as it comes; tar and gzip print their warnings unless quiet (and then at the
// end when the run failed) and prefix the final failure with the archive's name.
class TReporter {
 public:
  TReporter(const TCliOptions& o, TArchiveFormat format) : o_(o), format_(format), bar_(!o.Quiet), questions_(bar_, o.Quiet) {}

  void Attach(TJob& job) {
    job.Questions = &questions_;
    // Quiet runs show no progress: the job is told so and spares the work of measuring it.
    if (!o_.Quiet)
      job.OnProgress = [this](const TJobProgress& p) {
        bar_.SetTotal(static_cast<int64_t>(p.Total));
        bar_.SetDone(static_cast<int64_t>(p.Done));
        bar_.SetName(p.Name);
      };
    job.OnMessage = [this](const TStatus& s) {
      if (IsTarFamily(format_) && s.Code() == TStatusCode::Warning && o_.Quiet) {
        held_.push_back(s.Message());
        return;
      }
      Print(s.Message());
    };
  }

  void Print(const std::string& text) {
    bar_.Finish();
    if (!text.empty() && text != last_) PrintError(text);
    last_ = text;
    printed_ = true;
  }

  // The exit status of a finished job, with its final message.
  int Finish(const TJobResult& r, bool test) {
    bar_.Finish();
    if (r.Status.IsOk()) return 0;
    if (r.Status.Code() == TStatusCode::Warning) {
      if (IsTarFamily(format_) && test) return 0;
      if (format_ == TArchiveFormat::Zip && !printed_) Print(r.Status.Text());
      return 1;
    }
    for (const std::string& w : held_) Print(w);
    if (format_ == TArchiveFormat::Zip) {
      if (!printed_) Print(r.Status.Message().empty() ? "failed" : r.Status.Message());
    } else {
      Print(o_.Archive + ": " + r.Status.Text());
    }
    return 1;
  }

  TProgressBar& Bar() { return bar_; }

 private:
  const TCliOptions& o_;
  TArchiveFormat format_;
  TProgressBar bar_;
  TTerminalQuestions questions_;
  std::vector<std::string> held_;
  std::string last_;
  bool printed_ = false;
};

// The kind of an existing archive: its content, else its name; zip when neither says.
TArchiveFormat ExistingFormat(const std::string& archive) {
  const TArchiveFormat f = DetectArchiveFormat(archive).Format;
  return f == TArchiveFormat::Unknown ? TArchiveFormat::Zip : f;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int List(const TCliOptions& o, TArchiveFormat format) {
  TListParams p;
  p.Archive = o.Archive;
  p.Format = format;
  if (o.Password) p.Password = *o.Password;
  TListJob job(p);
  TReporter report(o, format);
  report.Attach(job);
  job.OnProgress = nullptr;
  std::string out;
  TListPrinter printer(format, out);
  printer.Header();
  job.OnEntry = [&](const TArchiveEntry& e) {
    printer.Entry(e);
    if (out.size() > (1 << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  };
  const TJobResult r = job.Run();
  if (r.Status.Failed() && format == TArchiveFormat::Zip) {
    // Nothing of an archive that could not be read.
    std::fflush(stdout);
    return report.Finish(r, false);
  }
  if (r.Status.Succeeded()) printer.Footer(job.Comment());
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return report.Finish(r, false);
}

int ExtractOrTest(const TCliOptions& o, TArchiveFormat format, bool test) {
  TSelection selection;
  selection.Patterns = o.Files;
  TJobResult r;
  TReporter report(o, format);
  if (test) {
    TTestParams p;
    p.Archive = o.Archive;
    p.Format = format;
    p.Selection = selection;
    if (o.Password) p.Password = *o.Password;
    TTestJob job(p);
    report.Attach(job);
    r = job.Run();
  } else {
    TExtractParams p;
    p.Archive = o.Archive;
    p.Format = format;
    p.Destination = o.Destination;
    p.Selection = selection;
    p.Overwrite = o.Overwrite ? TOverwriteMode::Always : TOverwriteMode::Ask;
    if (o.Password) p.Password = *o.Password;
    TExtractJob job(p);
    report.Attach(job);
    r = job.Run();
  }
  const int status = report.Finish(r, test);
  if (status == 0 && test && !o.Quiet) std::cerr << "tandor: " << r.Counts.Files << " files tested, no errors" << std::endl;
  return status;
}

// What `a` takes from the command line, for a new archive and an existing one alike.
template <typename TParams>
void FillAdd(TParams& p, const TCliOptions& o, TArchiveFormat format) {
  p.Format = format;
  for (const std::string& f : o.Files) p.Items.push_back({f, "", o.Recurse});
  std::error_code ec;
  p.RootDir = fs::current_path(ec).string();
  p.Level = o.Level;
  p.Password = o.Password.value_or("");
  p.Zip.StorePaths = true;
  p.Zip.FolderEntries = true;
  p.Zip.HiddenFiles = true;
}

template <typename TJobType, typename TParams>
int RunAdd(const TCliOptions& o, TParams& p) {
  TJobType job(p);
  TReporter report(o, p.Format);
  report.Attach(job);
  return report.Finish(job.Run(), false);
}

int Add(const TCliOptions& o) {
  std::error_code ec;
  TArchiveFormat format = FormatForNewArchive(o.Archive);
  if (format == TArchiveFormat::Unknown) format = TArchiveFormat::Zip;
  for (const std::string& f : o.Files) {
    if ((format != TArchiveFormat::Zip || f.find_first_of("*?") == std::string::npos) &&
        !fs::exists(fs::symlink_status(f, ec))) {
      PrintError("cannot add " + f + ": no such file");
      return 1;
    }
  }
  if (format == TArchiveFormat::Zip && fs::exists(o.Archive, ec)) {
    const TFormatMatch m = DetectArchiveFormat(o.Archive);
    if (m.Format != TArchiveFormat::Zip || m.Evidence != TFormatEvidence::Signature) {
      PrintError(o.Archive + ": not a zip archive; nothing added");
      return 1;
    }
    TUpdateParams p;
    p.Archive = o.Archive;
    FillAdd(p, o, format);
    return RunAdd<TUpdateJob>(o, p);
  }
  if (format == TArchiveFormat::Gzip && (o.Files.size() != 1 || fs::is_directory(o.Files[0], ec))) {
    PrintError("a gzip file holds exactly one file");
    return 2;
  }
  TCreateParams p;
  p.Target = o.Archive;
  FillAdd(p, o, format);
  return RunAdd<TCreateJob>(o, p);
}

int Delete(const TCliOptions& o) {
  TDeleteParams p;
  p.Archive = o.Archive;
  p.Format = TArchiveFormat::Zip;
  p.Selection.Patterns = o.Files;
  TDeleteJob job(p);
  TReporter report(o, TArchiveFormat::Zip);
  report.Attach(job);
  return report.Finish(job.Run(), false);
}

}  // namespace

int RunCommand(const TCliOptions& o) {
  const bool exists = IsFile(o.Archive);
  // What a RAR archive or a tar-family file cannot do is said before anything else.
  const TArchiveFormat named = exists ? ExistingFormat(o.Archive) : FormatByExtension(o.Archive);
  if ((o.Command == 'a' || o.Command == 'd') && (named == TArchiveFormat::Rar || FormatByExtension(o.Archive) == TArchiveFormat::Rar)) {
    PrintError("RAR archives can be listed, tested and extracted, not changed");
    return 2;
  }
  if (o.Command == 'a') return Add(o);
  if (!exists) {
    PrintError("cannot open " + o.Archive + ": no such file");
    return 1;
  }
  switch (o.Command) {
    case 'l': return List(o, named);
    case 'x': return ExtractOrTest(o, named, false);
    case 't': return ExtractOrTest(o, named, true);
    case 'd':
      if (IsTarFamily(named)) {
        PrintError("delete works on zip archives only");
        return 2;
      }
      return Delete(o);
    default: return 2;
  }
}
