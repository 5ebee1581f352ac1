// Sparse files: reading holes as zeros and writing zero blocks as holes, for any split of the writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestEnv.h"
#include "codec/SparseFile.h"

namespace {

constexpr size_t kBlock = codec::THoleWriter::kBlock;

// A file with data runs and holes: `layout` alternates data and hole lengths, starting with data.
std::string MakeFile(const std::string& path, const std::vector<size_t>& layout, std::string* content) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  std::string all;
  for (size_t i = 0; i < layout.size(); ++i) {
    if (i % 2 == 0) {
      std::string d = testenv::RandomBytes(layout[i], uint32_t(i + 1));
      EXPECT_EQ(::pwrite(fd, d.data(), d.size(), off_t(all.size())), ssize_t(d.size()));
      all += d;
    } else {
      all.append(layout[i], '\0');
    }
  }
  EXPECT_EQ(::ftruncate(fd, off_t(all.size())), 0);
  ::close(fd);
  if (content) *content = all;
  return path;
}

uint64_t DiskBytes(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return uint64_t(st.st_blocks) * 512;
}

TEST(HoleReader, ReadsWhatPlainReadsRead) {
  const auto dir = testenv::MakeTempDir("holes");
  struct TCase {
    const char* name;
    std::vector<size_t> layout;
  };
  const std::vector<TCase> cases = {
      {"no holes", {3 << 20}},
      {"hole in the middle", {1 << 20, 8 << 20, 100000}},
      {"hole at the end", {5000, 16 << 20}},
      {"hole at the start", {0, 8 << 20, 70000}},
      {"many holes", {4096, 2 << 20, 1, 3 << 20, 65536, 1 << 20, 7}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string want;
    const std::string path = MakeFile((dir / "f").string(), c.layout, &want);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    codec::THoleReader r(fd);
    for (size_t step : {size_t(1) << 20, size_t(100000), size_t(4096)}) {
      std::string got;
      std::string buf(step, '\0');
      for (;;) {
        ssize_t n = r.ReadAt(buf.data(), buf.size(), got.size());
        ASSERT_GE(n, 0);
        if (n == 0) break;
        got.append(buf.data(), size_t(n));
      }
      EXPECT_TRUE(got == want) << "reading by " << step;
    }
    ::close(fd);
  }
}

TEST(HoleWriter, ZeroBlocksBecomeHolesForAnySplitOfWrites) {
  const auto dir = testenv::MakeTempDir("holew");
  std::string data = testenv::RandomBytes(100000, 1) + std::string(20 * kBlock, '\0') + testenv::RandomBytes(3, 2) +
                     std::string(10 * kBlock + 17, '\0');
  for (size_t step : {data.size(), size_t(1) << 20, kBlock, size_t(4096), size_t(1000), size_t(513)}) {
    SCOPED_TRACE("writes of " + std::to_string(step));
    const std::string path = (dir / "out").string();
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
      codec::THoleWriter w(fd);
      for (size_t at = 0; at < data.size(); at += step) ASSERT_TRUE(w.Write(data.data() + at, std::min(step, data.size() - at)));
      ASSERT_TRUE(w.Finish());
      EXPECT_EQ(w.Position(), data.size());
    }
    ::close(fd);
    EXPECT_TRUE(testenv::ReadFile(path) == data);
    EXPECT_LT(DiskBytes(path), 6 * kBlock) << "zeros were written";
  }
}

TEST(HoleWriter, FileEndingInAHoleGetsItsSize) {
  const auto dir = testenv::MakeTempDir("holee");
  const std::string path = (dir / "z").string();
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
  codec::THoleWriter w(fd);
  std::string zeros(4 * kBlock, '\0');
  ASSERT_TRUE(w.Write(zeros.data(), zeros.size()));
  ASSERT_TRUE(w.Finish());
  ::close(fd);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), zeros.size());
  EXPECT_EQ(testenv::ReadFile(path), zeros);
}

}  // namespace
