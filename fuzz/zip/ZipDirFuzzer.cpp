// libFuzzer target: the zip end-record scan and central-directory reader on arbitrary bytes, as the
// component reads them and as the engines do, with every entry's local header and the overlap check.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ZipDirectory.h"
#include "zip/ZipDirReader.h"

namespace {

// Every disk of a set is the same bytes; a few disks at most.
class TSameDisks : public IZipDiskProvider {
 public:
  explicit TSameDisks(std::string_view bytes) : input_(bytes) {}
  const IArchiveInput& GetDisk(int32_t) override {
    if (++calls_ > 4) throw EZipKit(11001);
    return input_;
  }

 private:
  TArchiveMemory input_;
  int calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TArchiveMemory input(bytes);
  size_t sink = 0;
  zipfmt::CentralDirectory dir;
  std::string error;
  if (zipfmt::ReadCentralDirectory(input, dir, error)) {
    std::vector<zipfmt::LocalInfo> infos(dir.entries.size());
    for (size_t i = 0; i < dir.entries.size(); ++i) {
      if (zipfmt::LocateEntryData(input, dir, dir.entries[i], infos[i], error)) {
        if (infos[i].dataEnd > size || infos[i].recordEnd > size || infos[i].dataStart > infos[i].dataEnd) __builtin_trap();
        sink += infos[i].localExtra.size();
      }
    }
    (void)zipfmt::CheckNoOverlaps(dir, infos, error);
  }
  TEndRecordScan scan;
  if (ScanEndRecord(input, scan) != TEndScanStatus::Found) return sink == static_cast<size_t>(-1);
  TSameDisks disks(bytes);
  TZipDirResult result;
  TZipDirEvents events;
  events.NewEntry = [&](int32_t, const ZipDirEntry& e) {
    sink += e.EntryName.size();
    if (e.ExtraLength) sink += e.ExtraField.get()[e.ExtraLength - 1];
  };
  for (CodePageOpts cp : {cpAuto, cpOEM}) {
    try {
      ReadCentralDirectory(scan, input, &disks, TZipDirOptions{cp == cpAuto, cp}, events, result);
    } catch (const EZipKit&) {
    }
  }
  return sink == static_cast<size_t>(-1);
}
