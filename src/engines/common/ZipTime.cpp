#include "ZipTime.h"

#include <algorithm>

#include "formats/ZipFormat.h"

namespace zipfmt {

DosDateTime UnixToDos(time_t t) {
  struct tm tm {};
  localtime_r(&t, &tm);
  DosDateTime d;
  int year = tm.tm_year + 1900;
  if (year < 1980) return DosDateTime{0, (1 << 5) | 1};
  if (year > 2107) return DosDateTime{uint16_t((23 << 11) | (59 << 5) | 29), uint16_t((127 << 9) | (12 << 5) | 31)};
  d.date = uint16_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  d.time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return d;
}

time_t DosToUnix(uint16_t dosDate, uint16_t dosTime) {
  struct tm tm {};
  tm.tm_year = ((dosDate >> 9) & 0x7F) + 80;
  int month = (dosDate >> 5) & 0x0F;
  int day = dosDate & 0x1F;
  tm.tm_mon = (month >= 1 && month <= 12 ? month : 1) - 1;
  tm.tm_mday = day >= 1 ? day : 1;
  tm.tm_hour = std::min((dosTime >> 11) & 0x1F, 23);
  tm.tm_min = std::min((dosTime >> 5) & 0x3F, 59);
  tm.tm_sec = std::min((dosTime & 0x1F) * 2, 59);
  tm.tm_isdst = -1;
  return mktime(&tm);
}

std::string MakeExtTimeExtra(time_t mtime) {
  std::string data;
  data.push_back(1);  // modification time present
  Put32(data, uint32_t(int32_t(mtime)));
  return MakeExtra(kExtraExtTime, data);
}

bool ReadExtTimeMtime(std::string_view data, time_t& mtime) {
  if (data.size() < 5 || !(uint8_t(data[0]) & 1)) return false;
  mtime = time_t(int32_t(Get32(data.data() + 1)));
  return true;
}

}  // namespace zipfmt
