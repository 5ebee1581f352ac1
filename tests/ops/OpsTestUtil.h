#pragma once
// Helpers of the operations tests: a source tree, running a job and collecting its listing.
#include <filesystem>
#include <string>
#include <vector>

#include "SampleArchives.h"
#include "TestEnv.h"
#include "ops/Jobs.h"

namespace opstest {

namespace fs = std::filesystem;

inline fs::path MakeTree(const fs::path& root) { return testenv::MakeSampleTree(root); }
using testenv::SameTree;

// Lists an archive; every entry in order.
inline std::vector<TArchiveEntry> List(const fs::path& archive, TJobResult* result = nullptr,
                                       TArchiveFormat format = TArchiveFormat::Unknown) {
  TListParams p;
  p.Archive = archive.string();
  p.Format = format;
  TListJob job(p);
  std::vector<TArchiveEntry> entries;
  job.OnEntry = [&](const TArchiveEntry& e) { entries.push_back(e); };
  const TJobResult r = job.Run();
  if (result) *result = r;
  return entries;
}

inline std::vector<std::string> Names(const std::vector<TArchiveEntry>& entries) {
  std::vector<std::string> names;
  for (const TArchiveEntry& e : entries) names.push_back(e.Name);
  return names;
}

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

inline TJobResult Extract(const fs::path& archive, const fs::path& destination, TSelection selection = {},
                          TOverwriteMode overwrite = TOverwriteMode::Ask, IJobQuestions* questions = nullptr) {
  TExtractParams p;
  p.Archive = archive.string();
  p.Destination = destination.string();
  p.Selection = std::move(selection);
  p.Overwrite = overwrite;
  TExtractJob job(p);
  job.Questions = questions;
  return job.Run();
}

inline TJobResult TestArchive(const fs::path& archive, TSelection selection = {}) {
  TTestParams p;
  p.Archive = archive.string();
  p.Selection = std::move(selection);
  TTestJob job(p);
  return job.Run();
}

// The status as text for failure messages.
inline std::string Why(const TJobResult& r) {
  return std::string(StatusCodeName(r.Status.Code())) + ": " + r.Status.Message();
}

}  // namespace opstest
