#include "ops/ArchiveAdapter.h"

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
