#include "SampleArchives.h"

#include "TestEnv.h"

namespace fs = std::filesystem;

namespace testenv {

fs::path MakeSampleTree(const fs::path& root) {
  const fs::path src = root / "src";
  WriteFile(src / "a.txt", RandomBytes(20000, 1, true));
  WriteFile(src / "sub/b.bin", RandomBytes(70000, 2));
  WriteFile(src / "sub/deeper/empty.txt", "");
  WriteFile(src / "sub/Grüße.txt", "umlaut\n");
  fs::create_directories(src / "emptydir");
  return src;
}

bool SameTree(const fs::path& a, const fs::path& b) {
  return Run("diff -r " + Quote(a.string()) + " " + Quote(b.string()) + " >/dev/null 2>&1") == 0;
}

bool PythonZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script = "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n";
  for (const auto& [name, data] : entries)
    script += "z.writestr(zipfile.ZipInfo(" + Quote(name) + "), " + Quote(data) + ")\n";
  script += "z.close()\n";
  WriteFile(zip.string() + ".py", script);
  return Run("python3 " + Quote(zip.string() + ".py") + " " + Quote(zip.string())) == 0;
}

}  // namespace testenv
