#pragma once
// What the zip component needs to know about the medium holding an archive: the kind of drive
// and its volume label. Multi-disk sets on removable media are told apart by their labels
// ("PKBACK# 001", ...). The default answers "fixed drive, no label"; the disk-spanning layer
// installs a real one.
#include <string>

enum class TDriveKind { Fixed, Removable, Network, CdRom };

class IZipMedia {
 public:
  virtual ~IZipMedia() = default;
  virtual TDriveKind DriveKind(const std::string& path) = 0;
  // The label of the medium holding `path`; empty when it has none.
  virtual std::string VolumeLabel(const std::string& path) = 0;
  // A short name of the medium for questions ("in drive: ..."): its mount point.
  virtual std::string DriveName(const std::string& path) = 0;
};

IZipMedia& DefaultZipMedia();

// The disk number a "PKBACK# nnn" label carries (its characters 9 to 11); 0 for other labels.
int DiskNumberOfLabel(const std::string& label);
// The label of part `partNumber` (1-based): "PKBACK# 001".
std::string SpanLabel(int partNumber);
// The file of part `partNumber` (1-based) of a set on a fixed drive: the three characters before
// the extension replaced by the 3-digit number ("set003.zip", 1 -> "set001.zip").
std::string SpanPartFileName(const std::string& name, int partNumber);
