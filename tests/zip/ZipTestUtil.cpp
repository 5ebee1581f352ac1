#include "ZipTestUtil.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sstream>

#include "TestEnv.h"

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v & 0xFFFF));
  Put16(s, static_cast<uint16_t>(v >> 16));
}
void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

uint32_t Crc32Of(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

std::string CraftZip(const std::vector<TCraftEntry>& entries, const TCraftOptions& o) {
  std::string body;
  std::vector<uint64_t> offsets;
  const uint64_t base = o.AdjustOffsets ? o.Stub.size() : 0;
  for (const TCraftEntry& e : entries) {
    offsets.push_back(base + body.size());
    Put32(body, 0x04034b50);
    Put16(body, 20);
    Put16(body, e.Flags);
    Put16(body, 0);
    Put32(body, e.DosDateTime);
    Put32(body, Crc32Of(e.Data));
    Put32(body, static_cast<uint32_t>(e.Data.size()));
    Put32(body, static_cast<uint32_t>(e.Data.size()));
    Put16(body, static_cast<uint16_t>(e.Name.size()));
    Put16(body, 0);
    body += e.Name;
    body += e.Data;
  }
  const uint64_t dirOffset = base + body.size();
  std::string dir;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TCraftEntry& e = entries[i];
    std::string extra = e.Extra;
    if (e.Zip64Sizes) {
      Put16(extra, 0x0001);
      Put16(extra, 16);
      Put64(extra, e.FakeUnpackedSize);
      Put64(extra, e.Data.size());
    }
    Put32(dir, 0x02014b50);
    dir += static_cast<char>(e.MadeBy);
    dir += static_cast<char>(e.Host);
    Put16(dir, 20);
    Put16(dir, e.Flags);
    Put16(dir, 0);
    Put32(dir, e.DosDateTime);
    Put32(dir, Crc32Of(e.Data));
    Put32(dir, e.Zip64Sizes ? 0xFFFFFFFF : static_cast<uint32_t>(e.Data.size()));
    Put32(dir, e.Zip64Sizes ? 0xFFFFFFFF : static_cast<uint32_t>(e.Data.size()));
    Put16(dir, static_cast<uint16_t>(e.Name.size()));
    Put16(dir, static_cast<uint16_t>(extra.size()));
    Put16(dir, static_cast<uint16_t>(e.Comment.size()));
    Put16(dir, 0);
    Put16(dir, 0);
    Put32(dir, 0x81A40000);
    Put32(dir, static_cast<uint32_t>(offsets[i]));
    dir += e.Name;
    dir += extra;
    dir += e.Comment;
  }
  std::string out = o.Stub + body + dir;
  if (o.Zip64End) {
    const uint64_t z64 = base + body.size() + dir.size();
    Put32(out, 0x06064b50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, dir.size());
    Put64(out, dirOffset);
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put64(out, z64);
    Put32(out, 1);
  }
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, o.Zip64End ? 0xFFFF : static_cast<uint16_t>(entries.size()));
  Put16(out, o.Zip64End ? 0xFFFF : static_cast<uint16_t>(entries.size()));
  Put32(out, o.Zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(dir.size()));
  Put32(out, o.Zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(dirOffset));
  Put16(out, static_cast<uint16_t>(o.Comment.size()));
  out += o.Comment;
  out += o.Trailer;
  return out;
}

std::string FormatDosDateTime(uint32_t dt) {
  static const char* const months[] = {"???", "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul",
                                       "Aug", "Sep", "Oct", "Nov", "Dec", "???", "???", "???"};
  const uint32_t date = dt >> 16, time = dt & 0xFFFF;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u %s %u %02u:%02u:%02u", (date >> 9) + 1980, months[(date >> 5) & 15], date & 31,
                time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return buf;
}

namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The value after "label:" on a zipinfo line.
bool Value(const std::string& line, const std::string& label, std::string& value) {
  const size_t p = line.find(label);
  if (p == std::string::npos || Trim(line.substr(0, p)).size() != 0) return false;
  value = Trim(line.substr(p + label.size()));
  return true;
}

}  // namespace

TZipInfo RunZipInfo(const std::filesystem::path& archive) {
  std::string out;
  const int rc = testenv::Run("LC_ALL=C.UTF-8 zipinfo -v " + testenv::Quote(archive.string()), &out);
  EXPECT_TRUE(rc == 0 || rc == 1 << 8 || rc == 1) << "zipinfo failed on " << archive << ": " << out;
  TZipInfo info;
  std::istringstream in(out);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.find("zipfile comment begins") != std::string::npos) {
      std::string c;
      for (++i; i < lines.size() && lines[i].find("zipfile comment ends") == std::string::npos; ++i)
        c += lines[i] + "\n";
      if (!c.empty()) c.pop_back();
      info.Comment = c;
      continue;
    }
    if (l.rfind("Central directory entry #", 0) == 0) {
      TZipInfoEntry e;
      // Dashes, then blank lines and notes about bytes before the entry, then the name.
      for (i += 2; i < lines.size() && (lines[i].empty() || lines[i].find("bytes preceding this file") != std::string::npos);)
        ++i;
      if (i < lines.size()) e.Name = lines[i].substr(std::min<size_t>(2, lines[i].size()));
      for (++i; i < lines.size() && lines[i].rfind("Central directory entry #", 0) != 0; ++i) {
        std::string v;
        const std::string& x = lines[i];
        if (Value(x, "file last modified on (DOS date/time):", v)) e.DosDate = v;
        else if (Value(x, "32-bit CRC value (hex):", v)) e.Crc = static_cast<uint32_t>(std::stoul(v, nullptr, 16));
        else if (Value(x, "compressed size:", v)) e.PackedSize = std::stoull(v);
        else if (Value(x, "uncompressed size:", v)) e.UnpackedSize = std::stoull(v);
        else if (Value(x, "file security status:", v)) e.Encrypted = v.find("encrypted") == 0;
        else if (x.find("file comment begins") != std::string::npos) {
          std::string c;
          for (++i; i < lines.size() && lines[i].find("file comment ends") == std::string::npos; ++i)
            c += lines[i] + "\n";
          if (!c.empty()) c.pop_back();
          e.Comment = c;
        }
      }
      --i;
      info.Entries.push_back(e);
    }
  }
  return info;
}

// The local header and central header of one stored entry.
void AppendEntry(const std::string& name, const std::string& data, uint32_t localOffset, std::string& local,
                 std::string& central) {
  Put32(local, 0x04034b50);
  Put16(local, 20);
  Put16(local, 0);
  Put16(local, 0);
  Put32(local, 0x5A2B6000);
  Put32(local, Crc32Of(data));
  Put32(local, static_cast<uint32_t>(data.size()));
  Put32(local, static_cast<uint32_t>(data.size()));
  Put16(local, static_cast<uint16_t>(name.size()));
  Put16(local, 0);
  local += name + data;
  Put32(central, 0x02014b50);
  Put16(central, 0x031E);
  Put16(central, 20);
  Put16(central, 0);
  Put16(central, 0);
  Put32(central, 0x5A2B6000);
  Put32(central, Crc32Of(data));
  Put32(central, static_cast<uint32_t>(data.size()));
  Put32(central, static_cast<uint32_t>(data.size()));
  Put16(central, static_cast<uint16_t>(name.size()));
  Put16(central, 0);
  Put16(central, 0);
  Put16(central, 0);
  Put16(central, 0);
  Put32(central, 0);
  Put32(central, localOffset);
  central += name;
}

void WriteTwoPartSet(const std::filesystem::path& dir) {
  // Part 1: span marker, both entries, the first central header. Part 2: the second central header
  // and the end record (this disk 1, directory starting on disk 0).
  std::string part1("PK\x07\x08", 4), centralA, centralB;
  std::string localA, localB;
  AppendEntry("alpha.txt", "first entry", 4, localA, centralA);
  AppendEntry("beta.txt", "second", static_cast<uint32_t>(4 + localA.size()), localB, centralB);
  part1 += localA + localB;
  const uint32_t dirOffset = static_cast<uint32_t>(part1.size());
  part1 += centralA;
  std::string part2 = centralB;
  Put32(part2, 0x06054b50);
  Put16(part2, 1);
  Put16(part2, 0);
  Put16(part2, 1);
  Put16(part2, 2);
  Put32(part2, static_cast<uint32_t>(centralA.size() + centralB.size()));
  Put32(part2, dirOffset);
  Put16(part2, 0);
  testenv::WriteFile(dir / "set001.zip", part1);
  testenv::WriteFile(dir / "set002.zip", part2);
}
