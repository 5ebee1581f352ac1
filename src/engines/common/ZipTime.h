#pragma once
// MS-DOS date/time (local time, 2-second resolution, 1980-2107) and the extended timestamp field.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace zipfmt {

struct DosDateTime {
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t Packed() const { return (uint32_t(date) << 16) | time; }
};

// Unix time to local DOS time; times before 1980 become 1980-01-01 00:00, after 2107 the last day.
DosDateTime UnixToDos(time_t t);
// DOS date/time (local) to Unix time; invalid fields are clamped.
time_t DosToUnix(uint16_t dosDate, uint16_t dosTime);

// Extended timestamp block (0x5455) with the modification time only (same form local and central).
std::string MakeExtTimeExtra(time_t mtime);
// Modification time from an extended timestamp block's data, when it carries one.
bool ReadExtTimeMtime(std::string_view data, time_t& mtime);

}  // namespace zipfmt
