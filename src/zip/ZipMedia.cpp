#include "zip/ZipMedia.h"

#include <cstdio>

#include "core/TextUtil.h"

IZipMedia& DefaultZipMedia() { return SystemMedia(); }

int DiskNumberOfLabel(const std::string& label) {
  if (label.size() < 11 || label.compare(0, 8, "PKBACK# ") != 0) return 0;
  const std::string digits = label.substr(8, 3);
  return IsAllDigits(digits) ? std::stoi(digits) : 0;
}

std::string SpanLabel(int partNumber) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "PKBACK# %03d", partNumber % 1000);
  return buf;
}

std::string SpanPartFileName(const std::string& name, int partNumber) {
  const std::string ext = ExtractFileExt(name);
  const std::string stem = name.substr(0, name.size() - ext.size());
  const size_t fileStart = stem.find_last_of('/') == std::string::npos ? 0 : stem.find_last_of('/') + 1;
  const size_t keep = stem.size() - std::min<size_t>(3, stem.size() - fileStart);
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", partNumber % 1000);
  return stem.substr(0, keep) + digits + ext;
}
