// libFuzzer target: the RAR 4 / RAR 5 header parser over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "rar/RarDecoder.h"
#include "rar/RarFormat.h"
#include "safeout/Names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rarfmt::MemorySource src(data, size);
  rarfmt::ArchiveInfo info;
  if (rarfmt::ReadArchiveStart(src, info) != rarfmt::Status::Ok) {
    rarfmt::DecodeRar4UnicodeName(data, size);
    return 0;
  }
  uint64_t offset = info.firstBlock;
  for (int i = 0; i < 10000; ++i) {
    rarfmt::Block block;
    if (rarfmt::ReadBlock(src, info.format, offset, block) != rarfmt::Status::Ok) break;
    if (block.kind == rarfmt::BlockKind::File) {
      const rarfmt::Entry& e = block.entry;
      safeout::TCleanName name;
      safeout::CleanName(e.name, name);
      safeout::CleanName(e.linkTarget, name);
      safeout::EscapeControls(e.name);
      if (info.format == rarfmt::Format::Rar4) rardec::TDecoder::Rar4FileHeader(e, e.packSize, unsigned(i));
      else rardec::TDecoder::Rar5FileHeader(e, e.packSize, unsigned(i));
    }
    if (block.kind == rarfmt::BlockKind::End || block.next <= offset) break;
    offset = block.next;
  }
  return 0;
}
