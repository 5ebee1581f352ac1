#pragma once
// External attributes: Unix mode in the upper 16 bits, MS-DOS attributes in the low byte.
#include <cstdint>
#include <sys/types.h>

namespace zipfmt {

// External attributes for a file or folder with Unix `mode` (S_IF* bits included).
uint32_t ExternalAttrFromUnix(mode_t mode, bool hidden);
// The Unix mode of an entry: from the upper bits when made on Unix and present, else derived from
// the MS-DOS attributes (directory 0755 / file 0644, read-only drops the write bits).
mode_t UnixModeFromEntry(uint16_t versionMadeBy, uint32_t externalAttr, bool nameEndsWithSlash);

}  // namespace zipfmt
