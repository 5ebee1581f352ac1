#include "ops/ArchiveAdapter.h"

#include <algorithm>

#include "ZipTime.h"
#include "ops/AdapterCommon.h"
#include "safeout/Names.h"

TStatus IArchiveAdapter::NotSupported(const char* what) const {
  return {TStatusCode::Unsupported, std::string(ArchiveFormatName(Format())) + " archives cannot " + what};
}

TStatus IArchiveAdapter::Create(TJobContext&, const std::string&, const TCreateParams&) {
  return NotSupported("be created");
}
TStatus IArchiveAdapter::Add(TJobContext&, const TUpdateParams&) { return NotSupported("be added to"); }
TStatus IArchiveAdapter::Delete(TJobContext&, const TSelection&) { return NotSupported("have entries deleted"); }
TStatus IArchiveAdapter::Comment(std::string& text) {
  text.clear();
  return {};
}
TStatus IArchiveAdapter::SetComment(TJobContext&, const std::string&) { return NotSupported("carry a comment"); }

std::unique_ptr<IArchiveAdapter> MakeArchiveAdapter(TArchiveFormat format) {
  switch (format) {
    case TArchiveFormat::Zip: return MakeZipAdapter();
    case TArchiveFormat::Tar: return MakeTarAdapter(false);
    case TArchiveFormat::TarGz: return MakeTarAdapter(true);
    case TArchiveFormat::Gzip: return MakeGzipAdapter();
    case TArchiveFormat::Rar: return MakeRarAdapter();
    case TArchiveFormat::Unknown: break;
  }
  return nullptr;
}

std::string CleanedEntryName(const std::string& name) {
  safeout::TCleanName n;
  return safeout::CleanName(name, n) ? n.Text() : std::string();
}

bool CleaningChangesName(const std::string& name) { return safeout::CleaningMovesName(name); }

int64_t TDosTimes::ToUnix(uint32_t dos) {
  const uint16_t date = static_cast<uint16_t>(dos >> 16), time = static_cast<uint16_t>(dos);
  const uint32_t hourKey = dos >> 11;  // date and hour
  auto [it, added] = hours_.try_emplace(hourKey, 0);
  if (added) it->second = static_cast<int64_t>(zipfmt::DosToUnix(date, static_cast<uint16_t>(time & 0xF800)));
  const int minutes = std::min((time >> 5) & 63, 59), seconds = std::min((time & 31) * 2, 58);
  return it->second + minutes * 60 + seconds;
}
