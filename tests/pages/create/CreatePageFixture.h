#pragma once
// A main window on its create page with a scripted prompt and scripted modal windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "WindowData.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace createtest {

namespace fs = std::filesystem;

class CreatePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testenv::PrepareWindowData();
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name);
      auto it = answers_.find(name);
      if (it != answers_.end()) return it->second(d);
      if (std::string(name) == "TAddFolderForm") return d.exec();  // the scan runs while it shows
      return int(QDialog::Accepted);
    });
    form_ = std::make_unique<TTandorForm>();
    form_->RequestPage(kCreatePage);
    page_ = form_->CreatePage();
  }
  void TearDown() override {
    form_.reset();
    SetModalHook(nullptr);
    testenv::SetFreeSpace("");
  }

  // How a named modal window answers (it may change its fields first).
  void Answer(const std::string& window, std::function<int(QDialog&)> answer) { answers_[window] = std::move(answer); }
  int Shown(const std::string& window) const {
    return static_cast<int>(std::count(windows_.begin(), windows_.end(), window));
  }

  void AddFiles(const std::vector<fs::path>& files) {
    std::vector<std::string> paths;
    for (const fs::path& f : files) paths.push_back(f.string());
    prompt_.QueuePaths(paths);
    page_->OpenFilesZipButtonClick();
  }
  void AddFolder(const fs::path& folder) {
    prompt_.QueuePath(folder.string());
    page_->OpenFolderzipButtonClick();
  }
  void Drop(const std::vector<fs::path>& items) {
    QStringList paths;
    for (const fs::path& p : items) paths << QString::fromStdString(p.string());
    form_->DisableAll();
    page_->UpdateZipWindow(paths);
  }

  // Rows as "Path|File|Source" texts, in list order.
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const TListRow& r : page_->ZipListView->Model()->Rows())
      out.push_back(r.Path.toStdString() + "|" + r.File.toStdString() + "|" + r.Extra.toStdString());
    return out;
  }

  // Runs the ZIP button with the given archive name and waits for the run to end; false on time-out.
  bool RunZipButton(const fs::path& name, bool* ok = nullptr, int timeoutMs = 60000) {
    QSignalSpy spy(page_, &TCreatePage::RunEnded);
    prompt_.QueuePath(name.string());
    page_->ZipButtonClick();
    return WaitRun(spy, ok, timeoutMs);
  }
  static bool WaitRun(QSignalSpy& spy, bool* ok, int timeoutMs = 60000) {
    if (spy.isEmpty() && !spy.wait(timeoutMs)) return false;
    QApplication::processEvents();
    if (ok) *ok = spy.first().at(0).toBool();
    return true;
  }

  // A tree of small text files: "proj/a.txt", "proj/sub/b.txt", "proj/sub/deep/c.txt", "proj/.hidden".
  fs::path MakeProject(const std::string& hint = "src") {
    const fs::path root = testenv::MakeTempDir(hint);
    testenv::WriteFile(root / "proj/a.txt", "alpha\n");
    testenv::WriteFile(root / "proj/sub/b.txt", testenv::RandomBytes(5000, 7, true));
    testenv::WriteFile(root / "proj/sub/deep/c.txt", "gamma gamma gamma\n");
    testenv::WriteFile(root / "proj/.hidden", "h\n");
    return root;
  }

  bool PageIdle() const {
    return page_->OpenFilesZipButton->isEnabled() && page_->ZipListView->isEnabled() &&
           !page_->ZipStopButton->isEnabled() && page_->ZipProgressBar->value() == 0;
  }

  // Names in the folder other than the given ones (leftovers such as partial archives).
  static std::vector<std::string> Leftovers(const fs::path& dir, const std::vector<std::string>& expected) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string n = e.path().filename().string();
      if (std::find(expected.begin(), expected.end(), n) == expected.end()) out.push_back(n);
    }
    return out;
  }

  TScriptedPrompt prompt_;
  fs::path data_;
  std::vector<std::string> windows_;
  std::map<std::string, std::function<int(QDialog&)>> answers_;
  std::unique_ptr<TTandorForm> form_;
  TCreatePage* page_ = nullptr;
};

}  // namespace createtest
