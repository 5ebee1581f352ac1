#include "InstallTree.h"

#include <fstream>
#include <set>

#include "TestEnv.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace installtree {

fs::path BuildDir() { return TANDOR_BINARY_DIR; }
std::string CMakeCommand() { return TANDOR_CMAKE_COMMAND; }
std::string CPackCommand() { return TANDOR_CPACK_COMMAND; }
std::string ExpectedVersion() { return TANDOR_EXPECTED_VERSION; }

std::vector<int> IconSizes() {
  std::vector<int> sizes;
  std::string list = TANDOR_ICON_SIZES;  // "16,22,..."
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    sizes.push_back(std::stoi(list.substr(start, end - start)));
    start = end + 1;
  }
  return sizes;
}

std::vector<std::string> ExpectedFiles() {
  const std::string dir = "lib/tandorfile/";
  std::vector<std::string> files = {
      dir + "tandorfile",
      dir + "tandor",
      dir + "libzipeng.so",
      dir + "libunzeng.so",
      dir + "libunrar.so",
      dir + "SfxStub.bin",
      dir + "installed",
      "share/applications/tandorfile.desktop",
      "share/kio/servicemenus/tandorfile-extract.desktop",
      "share/kio/servicemenus/tandorfile-compress.desktop",
      "share/mime/packages/tandorfile.xml",
      "share/metainfo/org.example.tandorfile.metainfo.xml",
      "share/icons/hicolor/scalable/apps/tandorfile.svg",
      "share/man/man1/tandor.1.gz",
      "share/man/man1/tandorfile.1.gz",
      "share/doc/tandorfile/copyright",
      "share/doc/tandorfile/changelog.gz",
      "share/lintian/overrides/tandorfile",
  };
  for (const auto& e : fs::directory_iterator(testenv::SourceDir() / "help"))
    files.push_back(dir + "help/" + e.path().filename().string());
  for (int size : IconSizes()) {
    const std::string s = std::to_string(size);
    files.push_back("share/icons/hicolor/" + s + "x" + s + "/apps/tandorfile.png");
  }
  return files;
}

std::vector<std::pair<std::string, std::string>> ExpectedLinks() {
  return {{"tandorfile", "../lib/tandorfile/tandorfile"}, {"tandor", "../lib/tandorfile/tandor"}};
}

bool InstallInto(const fs::path& destdir, const std::string& prefix, std::string* log) {
  const fs::path out = destdir.string() + ".log";
  const int rc = testenv::Run("DESTDIR=" + Quote(destdir.string()) + " " + Quote(CMakeCommand()) + " --install " +
                              Quote(BuildDir().string()) + " --prefix " + Quote(prefix) + " >" +
                              Quote(out.string()) + " 2>&1");
  if (log) *log = testenv::ReadFile(out);
  return rc == 0;
}

std::string DesktopValue(const fs::path& file, const std::string& group, const std::string& key) {
  std::ifstream in(file);
  std::string line, current;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
    } else if (current == group && line.rfind(key + "=", 0) == 0) {
      return line.substr(key.size() + 1);
    }
  }
  return {};
}

std::string Gunzip(const fs::path& file) {
  std::string text;
  testenv::Run("gzip -dc " + Quote(file.string()), &text);
  return text;
}

}  // namespace installtree
