#pragma once
// Shared by the adapters (not part of the layer's interface).
#include <memory>
#include <string>

#include "ops/ArchiveAdapter.h"

std::unique_ptr<IArchiveAdapter> MakeZipAdapter();
std::unique_ptr<IArchiveAdapter> MakeTarAdapter(bool gzipped);
std::unique_ptr<IArchiveAdapter> MakeGzipAdapter();
std::unique_ptr<IArchiveAdapter> MakeRarAdapter();

// The name an entry is written under once cleaned (the safe-output library's rule); empty when
// nothing is left.
std::string CleanedEntryName(const std::string& name);
// True when cleaning changes where the name leads (the security question's test).
bool CleaningChangesName(const std::string& name);
