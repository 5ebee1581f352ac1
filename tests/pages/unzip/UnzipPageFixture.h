#pragma once
// A main window in a private data folder, a scripted prompt, and helpers that make archives with
// peer tools and wait for the page's runs.
#include <gtest/gtest.h>

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "platform/Launcher.h"

class TTandorForm;
class TUnzipPage;

namespace fs = std::filesystem;

// Runs a Python script (text) with the given arguments; fails the test when it fails.
void RunPython(const std::string& script, const std::vector<std::string>& args = {});
// Writes a zip with Python's zipfile: (name, data) pairs, stored or deflated; names are kept as given.
void MakePythonZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries,
                   bool deflate = true);
// Runs a peer tool command line in `dir`; fails the test when it fails.
void RunIn(const fs::path& dir, const std::string& command);

// A desktop launcher that records every request (and the file as it was then) and starts nothing.
class TRecordingLauncher : public IDesktopLauncher {
 public:
  struct Call {
    std::string how;  // "open", "type:<mime type>", "program:<program>"
    std::string path, bytes;
    unsigned mode = 0;
  };
  bool OpenFile(const std::string& path) override { return Note("open", path); }
  bool OpenWithTypeHandler(const std::string& mimeType, const std::string& path) override {
    return Note("type:" + mimeType, path);
  }
  bool OpenWithProgram(const std::string& program, const std::string& path) override {
    return Note("program:" + program, path);
  }
  // The contents of the files handed on, in order.
  std::vector<std::string> Opened() const;
  std::vector<Call> calls;

 private:
  bool Note(const std::string& how, const std::string& path);
};

class UnzipPageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens an archive through the page's opener for its type (as the OPEN button does after its dialog).
  void Open(const fs::path& archive);
  // Presses UNZIP with `destination` as the chosen folder and waits for the run to end.
  void Unzip(const fs::path& destination);
  void WaitWhileBusy();

  // Texts of the full list.
  std::vector<std::string> Keys() const;
  std::string Cell(int row, int column) const;

  TScriptedPrompt prompt_;
  fs::path data_;
  fs::path work_;
  std::unique_ptr<TTandorForm> form_;
  TUnzipPage* page_ = nullptr;
  // Modal windows shown ("class:title"), and the answer the hook gives.
  std::vector<std::string> windows_;
  std::function<int(QDialog&, const char*)> modalAnswer_;
};
