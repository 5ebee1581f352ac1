#include "pages/unzip/ArchiveNames.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

#include "core/TextUtil.h"
#include "safeout/Names.h"

bool HasExtension(std::string_view name, std::string_view ext) { return EndsWithNoCase(name, ext); }

bool IsZipArchiveName(std::string_view name) { return HasExtension(name, ".zip") || HasExtension(name, ".run"); }

std::string LastExtension(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return LowerCase(name.substr(dot));
}

void ConvertSlashes(std::string& name) {
  for (char& c : name)
    if (c == '\\') c = '/';
}

void SplitEntryName(std::string_view name, QString& file, QString& path) {
  const size_t slash = name.rfind('/');
  if (slash == std::string_view::npos) {
    file = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    path.clear();
    return;
  }
  file = QString::fromUtf8(name.data() + slash + 1, static_cast<qsizetype>(name.size() - slash - 1));
  path = QString::fromUtf8(name.data(), static_cast<qsizetype>(slash + 1));
}

bool IsUnsafeEntryPath(const QString& name) { return safeout::CleaningMovesName(name.toStdString()); }

TDateText::TDateText() {
  const QLocale locale;
  dateFormat_ = locale.dateFormat(QLocale::ShortFormat);
  timeFormat_ = locale.timeFormat(QLocale::LongFormat);
  // Qt's long time format names the time zone; the list shows the clock time only.
  timeFormat_.remove(QLatin1String(" t")).remove(QLatin1String("t ")).remove('t');
  timeFormat_ = timeFormat_.trimmed();
}

QString TDateText::Format(int y, int mo, int d, int h, int mi, int s) const {
  const QDate date(y, mo, d);
  if (!date.isValid()) return {};
  QString text = QLocale().toString(date, dateFormat_);
  const QTime time(h, mi, s);
  if (time.isValid() && (h != 0 || mi != 0 || s != 0)) text += ' ' + QLocale().toString(time, timeFormat_);
  return text;
}

QString TDateText::FromDos(uint32_t dt) const {
  const int d = static_cast<int>((dt >> 16) & 0x1F);
  const int mo = static_cast<int>((dt >> 21) & 0x0F);
  const int y = static_cast<int>((dt >> 25) & 0x7F) + 1980;
  const int s = static_cast<int>(dt & 0x1F) * 2;
  const int mi = static_cast<int>((dt >> 5) & 0x3F);
  const int h = static_cast<int>((dt >> 11) & 0x1F);
  return Format(y, mo, d, h, mi, s);
}

QString TDateText::FromUnix(int64_t seconds) const {
  const QDateTime t = QDateTime::fromSecsSinceEpoch(seconds);
  const QDate date = t.date();
  const QTime time = t.time();
  return Format(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second());
}

int64_t TDateText::DosSortKey(uint32_t dt) {
  const int d = static_cast<int>((dt >> 16) & 0x1F);
  const int mo = static_cast<int>((dt >> 21) & 0x0F);
  const int y = static_cast<int>((dt >> 25) & 0x7F) + 1980;
  // Days from civil (proleptic Gregorian); out-of-range fields still give a monotonic key.
  const int yy = mo <= 2 ? y - 1 : y;
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (mo > 2 ? mo - 3 : mo + 9) + 2) / 5 + d - 1;
  const int64_t days = int64_t{era} * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return days * 86400 + ((dt >> 11) & 0x1F) * 3600 + ((dt >> 5) & 0x3F) * 60 + (dt & 0x1F) * 2;
}
