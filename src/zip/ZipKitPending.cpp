// TZipKit: self-extracting conversion and multi-disk copies. Not available in this build: each
// reports its failure and returns the general failure code.
#include "zip/ZipKit.h"

int32_t TZipKit::ConvertToSfx(bool /*newProgram*/) { return -9; }

int32_t TZipKit::ConvertToZip() { return -9; }

int32_t TZipKit::WriteSpannedArchive(const std::string& /*source*/, const std::string& /*target*/) {
  ReportMessage(11024, "multi-disk sets are not supported yet");
  return -9;
}

int32_t TZipKit::ReadSpannedArchive(const std::string& /*setName*/, std::string& outputName) {
  outputName.clear();
  ReportMessage(11024, "multi-disk sets are not supported yet");
  return -9;
}
