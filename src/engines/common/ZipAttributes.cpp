#include "ZipAttributes.h"

#include <sys/stat.h>

#include "formats/ZipFormat.h"

namespace zipfmt {

uint32_t ExternalAttrFromUnix(mode_t mode, bool hidden) {
  uint32_t dos = S_ISDIR(mode) ? kDosDirectory : kDosArchive;
  if (!(mode & S_IWUSR)) dos |= kDosReadOnly;
  if (hidden) dos |= kDosHidden;
  return (uint32_t(mode & 0xFFFF) << 16) | dos;
}

mode_t UnixModeFromEntry(uint16_t versionMadeBy, uint32_t externalAttr, bool nameEndsWithSlash) {
  uint8_t host = uint8_t(versionMadeBy >> 8);
  mode_t unixMode = mode_t(externalAttr >> 16);
  bool dosDir = (externalAttr & kDosDirectory) || nameEndsWithSlash;
  if ((host == kHostUnix || host == 19 /* OS X */) && unixMode != 0) {
    if ((unixMode & S_IFMT) == 0) unixMode |= dosDir ? S_IFDIR : S_IFREG;
    return unixMode;
  }
  if (dosDir) return S_IFDIR | 0755;
  mode_t m = S_IFREG | 0644;
  if (externalAttr & kDosReadOnly) m &= ~mode_t(0222);
  return m;
}

}  // namespace zipfmt
