#pragma once
// A main window in its own data folder, with scripted prompts and windows and the openers replaced
// by recorders, so that the routing can be watched without listing real archives.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QThread>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "WindowData.h"
#include "app/IncomingQueue.h"
#include "app/OpenDispatch.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Paths.h"

// A list row showing `file`.
inline TListRow Row(const char* file) {
  TListRow r;
  r.File = file;
  return r;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testenv::PrepareWindowData();
    files_ = testenv::MakeTempDir("files");
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name);
      return modal_ ? modal_(d) : int(QDialog::Rejected);
    });
  }
  void TearDown() override {
    form_.reset();
    SetModalHook(nullptr);
  }

  // Makes the window with a command line, then lets the start timer and any open finish.
  void MakeForm(const QStringList& arguments = {}) {
    form_ = std::make_unique<TTandorForm>(arguments);
    Record(form_->Dispatch().Openers);
    Settle();
  }
  void Settle() {
    for (int i = 0; i < 200 && form_->StartTimer().isActive(); ++i) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(1);
    }
    form_->Dispatch().WaitForOpenThread();
    QApplication::processEvents();
  }
  void Record(TOpeners& o) {
    const auto rec = [this](const char* kind) {
      return [this, kind](const std::string& a) {
        opened_.push_back(kind + (":" + a));
        form_->UnzipPage()->UnzipListView->Model()->Append(Row("entry.txt"));  // the archive is shown
      };
    };
    o.Zip = rec("zip");
    o.Rar = rec("rar");
    o.Tar = rec("tar");
    o.GZip = rec("gz");
    o.TarGZip = rec("tgz");
    o.CreateDrop = [this](const QStringList& p) { dropped_.push_back("create:" + p.join("|").toStdString()); };
    o.UpdateDrop = [this](const QStringList& p) { dropped_.push_back("update:" + p.join("|").toStdString()); };
  }

  // An archive file (contents do not matter to the routing) in the files folder.
  std::string File(const std::string& name, const std::string& bytes = "PK\x05\x06") {
    const std::filesystem::path p = files_ / name;
    std::filesystem::create_directories(p.parent_path());
    testenv::WriteFile(p, bytes);
    return std::filesystem::canonical(p).string();
  }
  std::vector<std::string> Queued() const {
    return std::vector<std::string>(form_->QueueList().begin() + 1, form_->QueueList().end());
  }
  std::vector<std::string> QueueFileLines() const {
    std::vector<std::string> lines;
    const std::filesystem::path q = data_ / "queue";
    if (!std::filesystem::exists(q)) return lines;
    std::string text = testenv::ReadFile(q), line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }
  std::string BoxItem(int i) const { return form_->UnzipPage()->ComboBox->itemText(i).toStdString(); }
  int BoxCount() const { return form_->UnzipPage()->ComboBox->count(); }
  void ShowArchive(const std::string& path) {
    form_->UnzipPage()->UnzipListView->Model()->Append(Row("shown.txt"));
    form_->SetCurrentArchiveFile(path);
  }

  TScriptedPrompt prompt_;
  std::filesystem::path data_, files_;
  std::vector<std::string> windows_, opened_, dropped_;
  std::function<int(QDialog&)> modal_;
  std::unique_ptr<TTandorForm> form_;
};
