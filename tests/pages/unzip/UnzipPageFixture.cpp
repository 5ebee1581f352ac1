#include "UnzipPageFixture.h"

#include "WindowData.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

void RunPython(const std::string& script, const std::vector<std::string>& args) {
  const fs::path file = testenv::MakeTempDir("py") / "make.py";
  testenv::WriteFile(file, script);
  std::string command = "python3 " + testenv::Quote(file.string());
  for (const std::string& a : args) command += " " + testenv::Quote(a);
  std::string out;
  ASSERT_EQ(testenv::Run(command + " 2>&1", &out), 0) << out;
}

void MakePythonZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries,
                   bool deflate) {
  // Entries are handed over as files named 0, 1, ... beside a list of their names.
  const fs::path src = testenv::MakeTempDir("pysrc");
  std::string names;
  for (size_t i = 0; i < entries.size(); ++i) {
    testenv::WriteFile(src / std::to_string(i), entries[i].second);
    names += entries[i].first + "\n";
  }
  testenv::WriteFile(src / "names", names);
  RunPython(R"(
import sys, zipfile, os
zip, src, method = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = open(os.path.join(src, 'names'), encoding='utf-8').read().split('\n')[:-1]
with zipfile.ZipFile(zip, 'w') as z:
    for i, n in enumerate(names):
        info = zipfile.ZipInfo(n, date_time=(2021, 3, 4, 5, 6, 8))
        info.compress_type = method
        info.external_attr = 0o644 << 16
        z.writestr(info, open(os.path.join(src, str(i)), 'rb').read())
)",
            {zip.string(), src.string(), deflate ? "8" : "0"});
}

void RunIn(const fs::path& dir, const std::string& command) {
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(dir.string()) + " && " + command + " 2>&1", &out), 0) << out;
}

bool TRecordingLauncher::Note(const std::string& how, const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  calls.push_back({how, path, testenv::ReadFile(path), static_cast<unsigned>(st.st_mode)});
  return true;
}

std::vector<std::string> TRecordingLauncher::Opened() const {
  std::vector<std::string> out;
  for (const Call& c : calls) out.push_back(c.bytes);
  return out;
}

void UnzipPageTest::SetUp() {
  data_ = testenv::PrepareWindowData();
  work_ = testenv::MakeTempDir("work");
  SetModalHook([this](QDialog& d, const char* name) {
    windows_.push_back(name + std::string(":") + d.windowTitle().toStdString());
    return modalAnswer_ ? modalAnswer_(d, name) : int(QDialog::Rejected);
  });
  form_ = std::make_unique<TTandorForm>();
  page_ = form_->UnzipPage();
  ASSERT_TRUE(form_->ZipKit().UnzipEngineLoaded()) << "the unzip engine is loaded at start-up: " << form_->ZipKit().LastMessage;
}

void UnzipPageTest::TearDown() {
  form_.reset();
  SetModalHook(nullptr);
  testenv::SetFreeSpace("");
}

void UnzipPageTest::Open(const fs::path& archive) {
  ASSERT_TRUE(page_->OpenArchive(archive.string()));
}

void UnzipPageTest::WaitWhileBusy() {
  QElapsedTimer t;
  t.start();
  while (page_->Busy() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(page_->Busy()) << "the run did not end";
  QCoreApplication::processEvents();
}

void UnzipPageTest::Unzip(const fs::path& destination) {
  prompt_.QueuePath(destination.string());
  page_->UnzipButtonClick();
  WaitWhileBusy();
}

std::vector<std::string> UnzipPageTest::Keys() const {
  std::vector<std::string> out;
  for (const TListRow& r : page_->UnzipListView->Model()->Rows()) out.push_back(r.Key().toStdString());
  return out;
}

std::string UnzipPageTest::Cell(int row, int column) const {
  const TFileListModel* m = page_->UnzipListView->Model();
  return m->data(m->index(row, column), Qt::DisplayRole).toString().toStdString();
}
