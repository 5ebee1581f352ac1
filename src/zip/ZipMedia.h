#pragma once
// What the zip component needs to know about the medium holding an archive: the kind of drive,
// its mount point, space and volume label (src/platform/Media.h). Multi-disk sets on removable
// media are told apart by their labels ("PKBACK# 001", ...).
#include <string>

#include "platform/Media.h"

using IZipMedia = IMedia;

// The system's media.
IZipMedia& DefaultZipMedia();

// The disk number a "PKBACK# nnn" label carries (its characters 9 to 11); 0 for other labels.
int DiskNumberOfLabel(const std::string& label);
// The label of part `partNumber` (1-based): "PKBACK# 001".
std::string SpanLabel(int partNumber);
// The file of part `partNumber` (1-based) of a set on a fixed drive: the three characters before
// the extension replaced by the 3-digit number ("set003.zip", 1 -> "set001.zip").
std::string SpanPartFileName(const std::string& name, int partNumber);
