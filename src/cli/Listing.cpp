// The listings of `tandor l`, one layout per format family.
#include <cstdio>
#include <ctime>

#include "cli/Commands.h"
#include "safeout/Names.h"

std::string FormatLocalTime(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local);
  return buf;
}

std::string DosTimeText(uint32_t dos) {
  char buf[32];
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63);
  return buf;
}

namespace {

std::string ModeText(const TArchiveEntry& e) {
  std::string s(10, '-');
  switch (e.Kind) {
    case TEntryKind::Folder: s[0] = 'd'; break;
    case TEntryKind::SymLink: s[0] = 'l'; break;
    case TEntryKind::HardLink: s[0] = 'h'; break;
    case TEntryKind::CharDevice: s[0] = 'c'; break;
    case TEntryKind::BlockDevice: s[0] = 'b'; break;
    case TEntryKind::Fifo: s[0] = 'p'; break;
    default: break;
  }
  const char* rwx = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (e.Mode & (0400u >> i)) s[static_cast<size_t>(i) + 1] = rwx[i];
  return s;
}

}  // namespace

TListPrinter::TListPrinter(TArchiveFormat format, std::string& out) : format_(format), out_(out) {}

void TListPrinter::Header() {
  switch (format_) {
    case TArchiveFormat::Zip:
      out_ += "     Size  Packed      Date  Time   Name\n";
      out_ += "---------  ---------  ---------------- ----\n";
      break;
    case TArchiveFormat::Rar: out_ += "     Size      Date  Time   Name\n"; break;
    case TArchiveFormat::Gzip: out_ += "   Packed      Date  Time   Name\n"; break;
    default: break;
  }
}

void TListPrinter::Entry(const TArchiveEntry& e) {
  char line[160];
  ++count_;
  switch (format_) {
    case TArchiveFormat::Zip:
      std::snprintf(line, sizeof line, "%9llu  %9llu  %s%s ", static_cast<unsigned long long>(e.Size),
                    static_cast<unsigned long long>(e.PackedSize), DosTimeText(e.DosTime).c_str(), e.Encrypted ? "*" : " ");
      out_ += line;
      out_ += safeout::EscapeControls(e.Name);
      total_ += e.Size;
      packed_ += e.PackedSize;
      break;
    case TArchiveFormat::Rar:
      std::snprintf(line, sizeof line, "%9llu  %s%s ", static_cast<unsigned long long>(e.Size), DosTimeText(e.DosTime).c_str(),
                    e.Encrypted ? "*" : " ");
      out_ += line;
      out_ += safeout::EscapeControls(e.Name);
      if (e.Kind == TEntryKind::Folder) out_ += "/";
      break;
    case TArchiveFormat::Gzip:
      std::snprintf(line, sizeof line, "%9llu  %s  ", static_cast<unsigned long long>(e.PackedSize),
                    FormatLocalTime(e.Time).c_str());
      out_ += line;
      out_ += safeout::EscapeControls(e.Name);
      break;
    default:
      std::snprintf(line, sizeof line, "%s %s/%s %12lld %s ", ModeText(e).c_str(),
                    e.UserName.empty() ? std::to_string(e.UserId).c_str() : e.UserName.c_str(),
                    e.GroupName.empty() ? std::to_string(e.GroupId).c_str() : e.GroupName.c_str(),
                    static_cast<long long>(e.Size), FormatLocalTime(e.Time).c_str());
      out_ += line;
      out_ += safeout::EscapeControls(e.Name);
      if (e.Kind == TEntryKind::SymLink || e.Kind == TEntryKind::HardLink) out_ += " -> " + safeout::EscapeControls(e.LinkTarget);
      break;
  }
  out_ += '\n';
}

void TListPrinter::Footer(const std::string& comment) {
  if (format_ == TArchiveFormat::Zip) {
    char line[128];
    std::snprintf(line, sizeof line, "---------  ---------\n%9llu  %9llu  %lld entr%s\n", static_cast<unsigned long long>(total_),
                  static_cast<unsigned long long>(packed_), static_cast<long long>(count_), count_ == 1 ? "y" : "ies");
    out_ += line;
  }
  if ((format_ == TArchiveFormat::Zip || format_ == TArchiveFormat::Gzip) && !comment.empty())
    out_ += "comment: " + comment + "\n";
}
