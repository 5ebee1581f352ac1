// libFuzzer target: gzip reading over arbitrary bytes, the header reader and the streaming reader
// (every member, then the trailing bytes), and the tar reader over the decompressed stream. What
// comes out of a member never exceeds what its trailer allows, and nothing reads out of bounds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tar/Gzip.h"
#include "tar/GzipStream.h"
#include "tar/TarLib.h"

namespace {

// The input as a file the readers open by name, without touching the disk.
class TMemoryFile {
 public:
  TMemoryFile(const uint8_t* data, size_t size) {
    fd_ = ::memfd_create("gzip-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    for (size_t done = 0; done < size;) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += size_t(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~TMemoryFile() { ::close(fd_); }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Limits the work per input: a few kilobytes can inflate to gigabytes.
constexpr uint64_t kMaxOutput = uint64_t(64) << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryFile file(data, size);

  TGzip header;
  header.FileSource = file.Path();
  header.WindowOnError = false;
  const int code = header.ReadHeader();
  if (code < 0 || code > 3) std::abort();

  try {
    TGzReader reader(file.Path());
    std::vector<char> buf(1 << 16);
    uint64_t total = 0;
    while (total < kMaxOutput) {
      const size_t got = reader.Read(buf.data(), buf.size());
      if (got == 0) break;
      if (got > buf.size()) std::abort();
      total += got;
    }
    if (total < kMaxOutput) (void)reader.TrailingGarbage();
    if (reader.Position() != int64_t(total)) std::abort();
  } catch (const ETarError&) {
  }

  try {
    TTarArchive ar(new TGzReader(file.Path()), true);
    TTarDirRec rec;
    std::vector<char> buf(4096);
    uint64_t total = 0;
    for (int n = 0; n < 200 && total < kMaxOutput && ar.FindNext(rec); ++n) {
      if (rec.Sparse && rec.Size > (int64_t(1) << 24)) continue;
      uint64_t entry = 0;
      while (total < kMaxOutput) {
        const size_t got = ar.ReadData(buf.data(), buf.size());
        if (got == 0) break;
        entry += got;
        total += got;
      }
      if (rec.HasData() && total < kMaxOutput && int64_t(entry) > rec.Size) std::abort();
    }
  } catch (const ETarError&) {
  }
  return 0;
}
