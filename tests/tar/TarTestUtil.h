#pragma once
// Shared helpers of the tar and gzip tests: sample trees, memory streams, peer tool runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestEnv.h"
#include "tar/TarStreams.h"

namespace tartest {

namespace fs = std::filesystem;

struct TSample {
  std::string name;  // relative path, "/" separators, folders without trailing slash
  char kind;         // 'f' file, 'd' folder, 'l' symbolic link
  std::string data;  // file contents or link target
  int64_t mtime;
};

// Writes a sample tree; `longNames` adds paths and a link target beyond 100 bytes, `utf8` non-ASCII names.
inline std::vector<TSample> MakeTree(const fs::path& root, bool longNames, bool utf8) {
  std::vector<TSample> s;
  int64_t t = 1600000000;
  s.push_back({"docs", 'd', "", t});
  s.push_back({"docs/empty.txt", 'f', "", t + 1});
  s.push_back({"docs/five.txt", 'f', "hello", t + 2});
  s.push_back({"docs/block512.bin", 'f', testenv::RandomBytes(512, 1), t + 3});
  s.push_back({"docs/block513.bin", 'f', testenv::RandomBytes(513, 2), t + 4});
  s.push_back({"docs/big.bin", 'f', testenv::RandomBytes(300000, 3, true), t + 5});
  s.push_back({"docs/link", 'l', "five.txt", t + 6});
  if (longNames) {
    std::string deep = "deep/" + std::string(60, 'a') + "/" + std::string(70, 'b');
    s.push_back({"deep", 'd', "", t});
    s.push_back({"deep/" + std::string(60, 'a'), 'd', "", t});
    s.push_back({deep, 'd', "", t});
    s.push_back({deep + "/" + std::string(80, 'c') + ".txt", 'f', "long name body", t + 7});
    s.push_back({deep + "/x", 'l', "../../../docs/" + std::string(120, 'z'), t + 8});
    s.push_back({"n" + std::string(99, 'x'), 'f', "exactly one hundred", t + 9});
  }
  if (utf8) {
    s.push_back({"Grüße", 'd', "", t});
    s.push_back({"Grüße/日本語ファイル.txt", 'f', "utf-8 name", t + 10});
  }
  for (const auto& e : s) {
    fs::path p = root / e.name;
    if (e.kind == 'd') fs::create_directories(p);
    else if (e.kind == 'f') testenv::WriteFile(p, e.data);
    else fs::create_symlink(e.data, p);
  }
  // Times last, deepest first, so that creating children does not move them.
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    struct timespec ts[2] = {{it->mtime, 0}, {it->mtime, 0}};
    utimensat(AT_FDCWD, (root / it->name).c_str(), ts, AT_SYMLINK_NOFOLLOW);
  }
  return s;
}

// Collects written bytes in memory.
class TMemOutput : public TTarOutput {
 public:
  void Write(const void* p, size_t n) override { data.append(static_cast<const char*>(p), n); }
  std::string data;
};

// Reads from a string.
class TMemInput : public TTarInput {
 public:
  explicit TMemInput(std::string d) : data(std::move(d)) {}
  size_t Read(void* b, size_t n) override {
    n = std::min(n, data.size() - pos);
    std::memcpy(b, data.data() + pos, n);
    pos += n;
    return n;
  }
  int64_t Position() const override { return static_cast<int64_t>(pos); }
  int64_t Size() const override { return static_cast<int64_t>(data.size()); }
  bool Seek(int64_t o) override {
    pos = static_cast<size_t>(o);
    return true;
  }
  std::string data;
  size_t pos = 0;
};

// Runs a shell command that must succeed; returns its standard output.
inline std::string Sh(const std::string& cmd) {
  std::string out;
  int rc = testenv::Run(cmd, &out);
  EXPECT_EQ(rc, 0) << cmd << "\n" << out;
  return out;
}

// True when the two folders hold the same names, kinds, bytes, link targets and file times.
inline void ExpectSameTree(const fs::path& a, const fs::path& b, bool times = true) {
  auto la = testenv::ListTree(a), lb = testenv::ListTree(b);
  ASSERT_EQ(la, lb);
  for (const auto& rel : la) {
    if (rel.back() == '/') continue;
    std::string r = rel.back() == '@' ? rel.substr(0, rel.size() - 1) : rel;
    fs::path pa = a / r, pb = b / r;
    if (fs::is_symlink(pa)) {
      EXPECT_EQ(fs::read_symlink(pa), fs::read_symlink(pb)) << r;
      continue;
    }
    EXPECT_TRUE(testenv::ReadFile(pa) == testenv::ReadFile(pb)) << r;
    struct stat sa {}, sb {};
    stat(pa.c_str(), &sa);
    stat(pb.c_str(), &sb);
    if (times) {
      EXPECT_EQ(sa.st_mtime, sb.st_mtime) << r;
    }
    EXPECT_EQ(sa.st_mode & 0777, sb.st_mode & 0777) << r;
  }
}

}  // namespace tartest
