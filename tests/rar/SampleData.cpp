#include "SampleData.h"

#include <openssl/sha.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "TestEnv.h"

namespace rartest {

std::filesystem::path Sample(const std::string& name) { return testenv::TestDataDir() / "rar" / name; }

namespace {
int MonthNumber(const std::string& m) {
  static const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i)
    if (m == names[i]) return i + 1;
  return 0;
}
}  // namespace

std::vector<ListedEntry> ExpectedListing(const std::string& sample, int& exitStatus) {
  std::ifstream in(Sample("expected/" + sample + ".list"));
  std::vector<ListedEntry> out;
  std::string line;
  exitStatus = -1;
  while (std::getline(in, line)) {
    if (line.rfind("exit=", 0) == 0) {
      exitStatus = std::stoi(line.substr(5));
      continue;
    }
    if (line.rfind("bsdtar:", 0) == 0 || line.empty()) continue;
    std::istringstream ls(line);
    std::string perms, links, owner, group, month, day, yearOrTime;
    ListedEntry e;
    ls >> perms >> links >> owner >> group >> e.size >> month >> day >> yearOrTime;
    ls.get();
    std::getline(ls, e.name);
    const size_t junk = e.name.find("bsdtar:");
    if (junk != std::string::npos) e.name.resize(junk);
    e.month = MonthNumber(month);
    e.day = std::stoi(day);
    e.year = yearOrTime.find(':') == std::string::npos ? std::stoi(yearOrTime) : 0;
    out.push_back(e);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ExpectedSums(const std::string& sample, int& exitStatus) {
  std::ifstream in(Sample("expected/" + sample + ".sha256"));
  std::vector<std::pair<std::string, std::string>> out;
  std::string line;
  exitStatus = -1;
  while (std::getline(in, line)) {
    if (line.rfind("exit=", 0) == 0) {
      exitStatus = std::stoi(line.substr(5));
      continue;
    }
    const size_t sp = line.find("  ./");
    if (sp != std::string::npos) out.emplace_back(line.substr(sp + 4), line.substr(0, sp));
  }
  return out;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char d[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
  char hex[2 * SHA256_DIGEST_LENGTH + 1];
  for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

void DosDate(uint32_t dos, int& year, int& month, int& day) {
  // Normalized as a calendar does it: day 0 of month 0 of 1980 is 30 November 1979.
  struct tm t {};
  t.tm_year = int((dos >> 25) & 0x7F) + 80;
  t.tm_mon = int((dos >> 21) & 0x0F) - 1;
  t.tm_mday = int((dos >> 16) & 0x1F);
  t.tm_hour = 12;
  const time_t v = timegm(&t);
  gmtime_r(&v, &t);
  year = t.tm_year + 1900;
  month = t.tm_mon + 1;
  day = t.tm_mday;
}

}  // namespace rartest
