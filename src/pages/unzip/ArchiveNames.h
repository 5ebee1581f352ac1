#pragma once
// Name rules of the unzip page: the extension test, entry names split into the File and Path
// columns, date texts, and the test for entry names that reach outside the destination.
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

// The extension test: the lower-cased name ends with `ext` (".zip", ".tar.gz", ...). So data.tar.gz
// ends with both ".gz" and ".tar.gz".
bool HasExtension(std::string_view name, std::string_view ext);
// A zip archive by its name: ".zip", or ".run" (a self-extracting program, the archive behind its stub).
bool IsZipArchiveName(std::string_view name);
// The text from the last "." of the name's last element, lower-cased; empty when there is none.
std::string LastExtension(std::string_view name);

// Stored names are shown with "/" separators: "\" becomes "/".
void ConvertSlashes(std::string& name);

// Splits a stored name into the File column (last element) and the Path column (the folder part
// with a trailing "/", empty at the root).
void SplitEntryName(std::string_view name, QString& file, QString& path);

// True when the name (Path followed by File) could reach outside the destination folder: extraction
// would clean it (a root, drive or ".." element), as the safe-output library says.
bool IsUnsafeEntryPath(const QString& name);

// MS-DOS date and time (date in the high 16 bits) as the list shows it: the short date, a blank and
// the long time; the time is left out when it is 00:00:00. Empty for an impossible date.
class TDateText {
 public:
  TDateText();
  QString FromDos(uint32_t dosDateTime) const;
  QString FromUnix(int64_t seconds) const;  // local time
  // Seconds since 1970 of a DOS date-time read as UTC: only used to sort rows.
  static int64_t DosSortKey(uint32_t dosDateTime);

 private:
  QString Format(int y, int mo, int d, int h, int mi, int s) const;
  QString dateFormat_;
  QString timeFormat_;
};
