#include "cli/CliOptions.h"

const char* CliUsage() {
  return R"(Usage: tandor COMMAND [OPTIONS] ARCHIVE [FILES...]
       tandor x --here [OPTIONS] ARCHIVE...
       tandor a --here [OPTIONS] FILE...

Lists, tests, extracts and makes zip, tar, gzip and tar.gz archives, and lists, tests and extracts
RAR archives (a multi-volume set from its first volume).

Commands:
  l   list the entries of ARCHIVE
  x   extract ARCHIVE (only FILES when given; "*" and "?" match)
  t   test ARCHIVE: read every entry and check its CRC, write nothing
  a   add FILES to ARCHIVE (a zip archive is created or updated; a name ending in
      .tar, .tar.gz, .tgz or .gz makes that kind of archive)
  d   delete the entries FILES from a zip ARCHIVE

Options (before or after ARCHIVE):
  -d DIR       extract into DIR (default: the current folder)
  -p PASSWORD  password for encrypted entries (zip: also encrypts what `a` adds)
  -r           recurse into folders named in FILES
  -0 ... -9    compression level (default 6; 0 stores)
  -o           overwrite existing files without asking
  -q           quiet: no progress bar, only errors
  --here       x: extract every ARCHIVE into a new folder beside it, named after it;
               a: put every FILE (folders recursed) into a new zip beside the first one,
               named after it (after their folder when there are several)
  --help       this text
  --version    print the version and exit

Exit status: 0 on success; 1 with a one-line message on any failure (damaged archive, CRC error,
wrong password, refused entry); 2 for a wrong command line.
)";
}

bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& o, std::string& error) {
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
    } else if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--version") {
      o.Version = true;
    } else if (a == "--here") {
      o.Here = true;
    } else if (a == "-d" || a == "-p") {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      (a == "-d" ? o.Destination : o.Password.emplace()) = args[++i];
    } else if (a.rfind("-p", 0) == 0 && a.size() > 2) {
      o.Password = a.substr(2);
    } else if (a.rfind("-d", 0) == 0 && a.size() > 2) {
      o.Destination = a.substr(2);
    } else if (a.size() == 2 && a[1] >= '0' && a[1] <= '9') {
      o.Level = a[1] - '0';
    } else if (a == "-r") {
      o.Recurse = true;
    } else if (a == "-o") {
      o.Overwrite = true;
    } else if (a == "-q") {
      o.Quiet = true;
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  if (o.Help || o.Version) return true;
  if (positional.empty()) {
    error = "no command given (try --help)";
    return false;
  }
  const std::string& c = positional[0];
  if (c.size() != 1 || std::string("lxtad").find(c[0]) == std::string::npos) {
    error = "unknown command " + c + " (try --help)";
    return false;
  }
  o.Command = c[0];
  if (o.Here && o.Command != 'x' && o.Command != 'a') {
    error = "--here goes with x or a";
    return false;
  }
  if (positional.size() < 2) {
    error = o.Here && o.Command == 'a' ? "nothing to compress: name the files" : "no archive given";
    return false;
  }
  o.Archive = positional[1];
  o.Files.assign(positional.begin() + 2, positional.end());
  if ((o.Command == 'a' || o.Command == 'd') && o.Files.empty() && !o.Here) {
    error = o.Command == 'a' ? "nothing to add: name the files" : "nothing to delete: name the entries";
    return false;
  }
  return true;
}
