#include "TestEnv.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testenv {

namespace {

fs::path MakeRoot() {
  std::string base = "/tmp";
  if (const char* t = std::getenv("TMPDIR"); t && *t) base = t;
  std::string templ = base + "/tandor-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  return fs::path(buf.data());
}

struct IsolatedEnvironment {
  fs::path root;
  IsolatedEnvironment() {
    root = MakeRoot();
    const auto sub = [&](const char* n) {
      fs::path p = root / n;
      fs::create_directories(p);
      return p.string();
    };
    setenv("HOME", sub("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", sub("home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", sub("home/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", sub("home/.cache").c_str(), 1);
    setenv("XDG_STATE_HOME", sub("home/.local/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", sub("runtime").c_str(), 1);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_DESKTOP_DIR", sub("home/Desktop").c_str(), 1);
    setenv("TANDOR_HOME", sub("data").c_str(), 1);
    setenv("TMPDIR", sub("tmp").c_str(), 1);
  }
  ~IsolatedEnvironment() {
    if (!std::getenv("TANDOR_KEEP_TEST_FILES")) {
      std::error_code ec;
      // Tests may leave read-only folders behind; make them writable before removing.
      for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
           it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
          fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
      }
      fs::remove_all(root, ec);
    }
  }
};

IsolatedEnvironment& Env() {
  static IsolatedEnvironment env;
  return env;
}

// Make the environment before any test code runs.
const bool kEnvReady = (Env(), true);

}  // namespace

const fs::path& Root() { return Env().root; }

fs::path MakeTempDir(const std::string& hint) {
  static std::atomic<int> counter{0};
  fs::path p = Root() / "work" / (hint + "-" + std::to_string(counter++));
  fs::create_directories(p);
  return p;
}

// The environment may point elsewhere; by default the folders of the build that made this test.
fs::path ProgramDir() {
  const char* d = std::getenv("TANDOR_PROGRAM_DIR");
  return d && *d ? fs::path(d) : fs::path(TANDOR_BUILD_PROGRAM_DIR);
}

fs::path SourceDir() {
  const char* d = std::getenv("TANDOR_SOURCE_DIR");
  return d && *d ? fs::path(d) : fs::path(TANDOR_BUILD_SOURCE_DIR);
}

fs::path TestDataDir() {
  const char* d = std::getenv("TANDOR_TESTDATA");
  return d && *d ? fs::path(d) : SourceDir() / "tests" / "data";
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string RandomBytes(size_t n, uint32_t seed, bool compressible) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  static const char kWords[][8] = {"archive", "tandor ", "zip ", "file ", "data\n", "the ", "of ", "and "};
  size_t i = 0;
  while (i < n) {
    if (compressible && (rng() & 3) != 0) {
      const char* w = kWords[rng() % 8];
      for (size_t k = 0; w[k] && i < n; ++k) s[i++] = w[k];
    } else {
      s[i++] = static_cast<char>(rng() & 0xFF);
    }
  }
  return s;
}

std::string Quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') r += "'\\''";
    else r += c;
  }
  return r + "'";
}

int Run(const std::string& commandLine, std::string* output) {
  FILE* p = popen(commandLine.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  if (output) *output = std::move(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) { return Run("command -v " + Quote(name) + " >/dev/null 2>&1") == 0; }

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> ListTree(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink()) rel += "@";
    else if (it->is_directory()) rel += "/";
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void SetFreeSpace(const std::string& value) {
  if (value.empty())
    ::unsetenv("TANDOR_FREE_BYTES");
  else
    ::setenv("TANDOR_FREE_BYTES", value.c_str(), 1);
}

std::string Mutate(const std::string& seed, std::mt19937& rng) {
  std::string s = seed;
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int k = 0; k < steps && !s.empty(); ++k) {
    const size_t at = 1 + rng() % std::max<size_t>(1, s.size() - 1);
    switch (rng() % 6) {
      case 0: s[at % s.size()] = static_cast<char>(s[at % s.size()] ^ (1 << (rng() % 8))); break;
      case 1: s.resize(std::max<size_t>(1, at)); break;
      case 2: {
        static const char extremes[] = {'\0', '\x01', '\x7F', '\x80', '\xFF'};
        const size_t hot = 1 + rng() % std::min<size_t>(s.size(), 64);  // headers live at the front
        for (size_t i = 0; i < 4 && hot + i < s.size(); ++i) s[hot + i] = extremes[rng() % 5];
        break;
      }
      case 3: s.insert(at % s.size(), seed.substr(rng() % seed.size(), rng() % 32)); break;
      case 4: s.erase(at % s.size(), rng() % 16); break;
      default: s[at % s.size()] = static_cast<char>(rng()); break;
    }
  }
  return s;
}

std::string UnzipComment(const std::filesystem::path& zip, bool fromCp437) {
  std::string out;
  Run("unzip -z " + Quote(zip.string()) + (fromCp437 ? " | iconv -f CP437 -t UTF-8" : ""), &out);
  const size_t nl = out.find('\n');
  out = nl == std::string::npos ? std::string() : out.substr(nl + 1);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string BeforeEndRecord(const std::filesystem::path& zip) {
  const std::string bytes = ReadFile(zip);
  const size_t at = bytes.rfind(std::string("PK\x05\x06", 4));
  return at == std::string::npos ? std::string() : bytes.substr(0, at);
}

}  // namespace testenv
