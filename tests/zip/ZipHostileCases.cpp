// GCC 12 warns wrongly (-Wrestrict) about std::string copies inlined here.
#pragma GCC diagnostic ignored "-Wrestrict"
#include "ZipHostileCases.h"

#include "ZipTestUtil.h"

namespace {

// Offsets inside the base archive.
size_t EndRecordPos(const std::string& zip) { return zip.rfind(std::string("PK\x05\x06", 4)); }
size_t FirstCentralPos(const std::string& zip) { return zip.find(std::string("PK\x01\x02", 4)); }
size_t LastCentralPos(const std::string& zip) { return zip.rfind(std::string("PK\x01\x02", 4)); }

void Set16(std::string& s, size_t pos, uint16_t v) {
  s[pos] = static_cast<char>(v & 0xFF);
  s[pos + 1] = static_cast<char>(v >> 8);
}
void Set32(std::string& s, size_t pos, uint32_t v) {
  Set16(s, pos, static_cast<uint16_t>(v & 0xFFFF));
  Set16(s, pos + 2, static_cast<uint16_t>(v >> 16));
}

}  // namespace

std::string HostileBaseArchive() {
  using namespace std::string_literals;
  std::vector<TCraftEntry> e(3);
  e[0].Name = "first.txt"s;
  e[0].Data = "first file"s;
  e[1].Name = "folder/second.txt"s;
  e[1].Data = std::string(300, 's');
  e[1].Comment = "entry comment"s;
  e[2].Name = "third.bin"s;
  e[2].Data = "3"s;
  TCraftOptions o;
  o.Comment = "archive comment";
  return CraftZip(e, o);
}

std::vector<THostileCase> HostileCases() {
  const std::string base = HostileBaseArchive();
  const size_t eocd = EndRecordPos(base);
  const size_t firstCentral = FirstCentralPos(base);
  const size_t lastCentral = LastCentralPos(base);
  std::vector<THostileCase> cases;

  cases.push_back({"empty file", "", {11036}});
  cases.push_back({"short file", "PK\x05", {11036}});
  cases.push_back({"cut inside the central directory", base.substr(0, firstCentral + 30), {11036}});
  cases.push_back({"cut inside the end record", base.substr(0, eocd + 10), {11036}});

  std::string s = base;
  s[firstCentral + 2] = 9;
  cases.push_back({"wrong central signature", s, {11015}});

  s = base;
  Set16(s, eocd + 10, 0xFFFF);
  Set16(s, eocd + 8, 0xFFFF);
  cases.push_back({"more entries than the file holds", s, {11015, 11013}});

  s = base;
  Set32(s, eocd + 12, 0x7FFFFFF0);
  cases.push_back({"directory larger than the file", s, {10201}});

  s = base;
  Set32(s, eocd + 16, 0xFFFFFF00);
  Set32(s, eocd + 12, 0xFFFFFF00);
  cases.push_back({"directory offset past the end", s, {10201}});

  s = base;
  Set16(s, lastCentral + 28, 60000);
  cases.push_back({"name longer than its record", s, {11017}});

  s = base;
  Set16(s, lastCentral + 30, 60000);
  cases.push_back({"extra field longer than its record", s, {10201}});

  s = base;
  Set16(s, lastCentral + 32, 60000);
  cases.push_back({"entry comment longer than its record", s, {11022}});

  s = base;
  Set16(s, eocd + 20, 5000);
  cases.push_back({"archive comment length past the end", s, {11015, 10201, 11013}});

  // Zip64 end record claiming 2^40 entries in a small file.
  std::vector<TCraftEntry> one(1);
  one[0].Name = "x";
  TCraftOptions z64;
  z64.Zip64End = true;
  s = CraftZip(one, z64);
  const size_t rec = s.find(std::string("PK\x06\x06", 4));
  Set32(s, rec + 32, 0);
  Set32(s, rec + 36, 0x100);
  cases.push_back({"zip64 count of 2^40 entries", s, {11015, 11013}});

  // Zip64 extra field shorter than the values it should hold.
  TCraftEntry shortExtra;
  shortExtra.Name = "short";
  shortExtra.Data = "d";
  shortExtra.Extra = std::string("\x01\x00\x04\x00\x01\x02\x03\x04", 8);
  s = CraftZip({shortExtra});
  cases.push_back({"truncated zip64 extra field (valid archive)", s, {0}});
  return cases;
}
