// A 5 GB sparse file (its holes cost no disk) through every streaming path of tandor: zip, tar.gz and
// gzip, made and extracted. Each run is a child process whose peak resident memory is read with
// wait4's rusage: it must stay small whatever the size. The extracted file must come out sparse too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSize = 5ull << 30;
constexpr long kMaxResidentKb = 64 * 1024;

// Islands of data in the holes: at the start, across the 4 GiB line, near the end.
struct TIsland {
  uint64_t offset;
  std::string data;
};
std::vector<TIsland> Islands() {
  return {{0, testenv::RandomBytes(300000, 1, true)},
          {(4ull << 30) - 1000, testenv::RandomBytes(70000, 2)},
          {kSize - 5000, testenv::RandomBytes(4000, 3, true)}};
}

void MakeSparse(const fs::path& file) {
  int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
  for (const TIsland& i : Islands())
    ASSERT_EQ(::pwrite(fd, i.data.data(), i.data.size(), static_cast<off_t>(i.offset)), static_cast<ssize_t>(i.data.size()));
  ::close(fd);
}

struct TRun {
  int status = -1;
  long maxResidentKb = 0;
};

// Runs tandor with `args` in `dir` as a child process; its exit status and peak resident memory.
TRun Tandor(const fs::path& dir, const std::vector<std::string>& args) {
  const std::string program = (testenv::ProgramDir() / "tandor").string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  TRun r;
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage ru {};
  if (pid > 0 && ::wait4(pid, &status, 0, &ru) == pid) {
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxResidentKb = ru.ru_maxrss;
  }
  return r;
}

// The file has the size, the islands and nothing but zeros elsewhere, and takes little disk.
void ExpectSameSparse(const fs::path& file) {
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kSize);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 64ull << 20) << "zeros were written out, not left as holes";
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const auto islands = Islands();
  // Every run of data on disk: the islands' bytes where they are, zeros elsewhere.
  off_t at = 0;
  std::string buf;
  while ((at = ::lseek(fd, at, SEEK_DATA)) >= 0) {
    off_t end = ::lseek(fd, at, SEEK_HOLE);
    ASSERT_GT(end, at);
    buf.resize(static_cast<size_t>(end - at));
    ASSERT_EQ(::pread(fd, buf.data(), buf.size(), at), static_cast<ssize_t>(buf.size()));
    for (size_t k = 0; k < buf.size(); ++k) {
      uint64_t pos = static_cast<uint64_t>(at) + k;
      char want = 0;
      for (const auto& i : islands)
        if (pos >= i.offset && pos < i.offset + i.data.size()) want = i.data[pos - i.offset];
      ASSERT_EQ(buf[k], want) << "byte " << pos;
    }
    at = end;
  }
  for (const auto& i : islands) {
    std::string back(i.data.size(), '\0');
    ASSERT_EQ(::pread(fd, back.data(), back.size(), static_cast<off_t>(i.offset)), static_cast<ssize_t>(back.size()));
    EXPECT_TRUE(back == i.data) << "island at " << i.offset;
  }
  ::close(fd);
}

TEST(BigFile, FiveGigabytesStreamThroughEveryFormatInLittleMemory) {
  const fs::path dir = testenv::MakeTempDir("big");
  MakeSparse(dir / "big.img");
  for (const char* archive : {"big.zip", "big.tar.gz", "big.img.gz"}) {
    SCOPED_TRACE(archive);
    TRun made = Tandor(dir, {"a", "-q", "-1", archive, "big.img"});
    ASSERT_EQ(made.status, 0);
    EXPECT_LT(made.maxResidentKb, kMaxResidentKb) << "making " << archive;
    const fs::path out = dir / (std::string(archive) + ".out");
    TRun back = Tandor(dir, {"x", "-q", archive, "-d", out.string()});
    ASSERT_EQ(back.status, 0);
    EXPECT_LT(back.maxResidentKb, kMaxResidentKb) << "extracting " << archive;
    std::cout << "  " << archive << ": peak resident " << made.maxResidentKb << " KB making, " << back.maxResidentKb
              << " KB extracting" << std::endl;
    ExpectSameSparse(out / "big.img");
    fs::remove_all(out);
    fs::remove(dir / archive);
  }
}

}  // namespace
