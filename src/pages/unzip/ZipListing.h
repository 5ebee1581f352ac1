#pragma once
// Rows of a zip archive's directory, made on the listing worker.
#include <cstdint>
#include <vector>

#include "zip/ZipKitTypes.h"

class TRowSink;

// Adds one row per entry (File, Size, Date, Path) in directory order; returns the sum of the
// entries' unpacked sizes. Stops early when the sink is cancelled.
int64_t FillZipListView(const std::vector<ZipDirEntry>& entries, TRowSink& sink);
