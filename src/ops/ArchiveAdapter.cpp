#include "ops/ArchiveAdapter.h"

#include <cctype>

#include "ops/AdapterCommon.h"
#include "tar/TarExtractor.h"

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

std::string CleanedEntryName(const std::string& name) { return SafeRelativePath(name); }

bool CleaningChangesName(const std::string& name) {
  std::string n = name;
  for (char& c : n)
    if (c == '\\') c = '/';
  if (!n.empty() && n[0] == '/') return true;
  if (n.size() >= 2 && n[1] == ':' && std::isalpha(static_cast<unsigned char>(n[0]))) return true;
  size_t i = 0;
  while (i <= n.size()) {
    size_t j = n.find('/', i);
    if (j == std::string::npos) j = n.size();
    if (n.compare(i, j - i, "..") == 0) return true;
    i = j + 1;
  }
  return false;
}
