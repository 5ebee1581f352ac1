// Multi-part sets on removable media (the fake media layer): the disk questions in order, the
// previous-disk and existing-file questions, a medium too full, erasing, cancel at every question.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>

#include "FakeMedia.h"
#include "ScriptedPrompt.h"
#include "SpanTestUtil.h"
#include "TestEnv.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMediumSize = 120000;

// A prompt that lets the test act (insert a medium, queue the answer) when a question is shown.
class TDiskPrompt : public TScriptedPrompt {
 public:
  std::function<void(const std::string& text, TPromptButtons buttons)> OnShow;
  TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                            TPromptButtons buttons) override {
    if (OnShow) OnShow(text, buttons);
    return TScriptedPrompt::ShowMessage(caption, text, icon, buttons);
  }
};

// Every file on every medium with its bytes, leaving out nothing (temporary parts included).
std::vector<std::vector<std::pair<std::string, std::string>>> AllMedia(TFakeMedia& media) {
  std::vector<std::vector<std::pair<std::string, std::string>>> out;
  for (int i = 0; i < media.MediumCount(); ++i) out.push_back(Snapshot(media.Folder(i)));
  return out;
}

class ZipSpanMediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testenv::HaveTool("zip"));
    dir_ = testenv::MakeTempDir("spanmedia");
    tree_ = dir_ / "tree";
    MakeSpanSourceTree(tree_, 21, 180000);
    source_ = dir_ / "source.zip";
    ZipFolder(tree_, source_);
    ASSERT_GT(fs::file_size(source_), 2 * kMediumSize);
    ASSERT_LT(fs::file_size(source_), 3 * kMediumSize - 10000);
    NewMedia();
  }

  // Media: 0, 3 and 4 blank, 1 too small, 2 holding an older "backup.zip" of its own.
  void NewMedia() {
    kit_.Media = nullptr;
    media_ = std::make_unique<TFakeMedia>(testenv::MakeTempDir("media"));
    media_->AddMedium("STICK", kMediumSize);
    media_->AddMedium("SMALL", 50000);
    media_->AddMedium("OTHER", kMediumSize);
    media_->AddMedium("STICK", kMediumSize);
    media_->AddMedium("STICK", kMediumSize);
    testenv::WriteFile(media_->Folder(2) / "backup.zip", "somebody's archive");
    fs::last_write_time(media_->Folder(2) / "backup.zip", fs::last_write_time(source_) - std::chrono::hours(30));
    media_->Insert(0);
    kit_.Media = media_.get();
    target_ = (media_->MountPoint() / "backup.zip").string();
  }

  // The parts as they lie on media `order`, copied out for the layout check.
  std::vector<fs::path> CopyParts(const std::vector<int>& order) {
    const fs::path out = testenv::MakeTempDir("parts");
    std::vector<fs::path> parts;
    for (size_t i = 0; i < order.size(); ++i) {
      parts.push_back(out / ("p" + std::to_string(i) + ".zip"));
      fs::copy_file(media_->Folder(order[i]) / "backup.zip", parts.back());
    }
    return parts;
  }

  // Writes the set onto media `order`, one per disk question, answered OK.
  void WriteOnto(const std::vector<int>& order) {
    prompt_.SetDefaultAnswer(TPromptAnswer::Ok);
    size_t asked = 0;
    prompt_.OnShow = [&](const std::string&, TPromptButtons) { media_->Insert(order.at(asked++)); };
    ASSERT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), 0) << kit_.LastMessage;
    prompt_.OnShow = nullptr;
  }

  // Inserts the medium a reading question asks for: the set's disks lie on media `order`.
  void InsertAsked(const std::string& text, const std::vector<int>& order) {
    if (text == "Please insert last disk") media_->Insert(order.back());
    for (size_t k = 0; k < order.size(); ++k)
      if (text.rfind("Please insert disk volume " + std::to_string(k + 1) + " of", 0) == 0) media_->Insert(order[k]);
  }

  // Joins the set on media `order` through the disk questions; returns the joined archive.
  std::string Join(const std::vector<int>& order, std::vector<std::string>& questions) {
    prompt_.Clear();
    prompt_.SetDefaultAnswer(TPromptAnswer::Ok);
    prompt_.OnShow = [&](const std::string& text, TPromptButtons) {
      questions.push_back(text);
      InsertAsked(text, order);
    };
    std::string joined = (dir_ / "joined.zip").string();
    EXPECT_EQ(kit_.ReadSpannedArchive(target_, joined), 0) << kit_.LastMessage;
    prompt_.OnShow = nullptr;
    return joined;
  }

  std::string Question(int disk, int total) {
    return "Please insert disk volume " + std::to_string(disk) + " of " + std::to_string(total) + "\nin drive: " +
           media_->MountPoint().string();
  }

  fs::path dir_, tree_, source_;
  std::string target_;
  TDiskPrompt prompt_;
  std::unique_ptr<TFakeMedia> media_;
  TZipKit kit_;
};

TEST_F(ZipSpanMediaTest, AsksForEachDiskInOrderAndLabelsThem) {
  const std::vector<int> order = {0, 3, 4};
  WriteOnto(order);
  const int total = static_cast<int>((fs::file_size(source_) + 4) / kMediumSize) + 1;
  EXPECT_EQ(prompt_.Texts(), (std::vector<std::string>{Question(1, total), Question(2, total), Question(3, total)}));
  EXPECT_EQ(kit_.LastDisk(), 2);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(testenv::ListTree(media_->Folder(order[i])), std::vector<std::string>{"backup.zip"});
    EXPECT_EQ(media_->Label(order[i]), "PKBACK# 00" + std::to_string(i + 1));
    EXPECT_LE(static_cast<int64_t>(fs::file_size(media_->Folder(order[i]) / "backup.zip")), kMediumSize);
  }
  TSetLayout layout;
  EXPECT_TRUE(CheckSetLayout(CopyParts(order), layout));

  // Joined again: the last disk first, then every disk in order.
  std::vector<std::string> questions;
  const std::string joined = Join(order, questions);
  ASSERT_GE(questions.size(), 4u);
  EXPECT_EQ(questions.front(), "Please insert last disk");
  EXPECT_EQ(std::vector<std::string>(questions.end() - 3, questions.end()),
            (std::vector<std::string>{Question(1, 3), Question(2, 3), Question(3, 3)}));
  EXPECT_TRUE(ExtractsLike(joined, tree_));
}

TEST_F(ZipSpanMediaTest, WrongDisksAreAskedForAgainWhileReading) {
  const std::vector<int> order = {0, 3, 4};
  WriteOnto(order);
  prompt_.Clear();
  std::deque<int> offers;
  std::vector<std::string> questions;
  prompt_.OnShow = [&](const std::string& text, TPromptButtons) {
    questions.push_back(text);
    if (!offers.empty()) {
      media_->Insert(offers.front());
      offers.pop_front();
      return;
    }
    InsertAsked(text, order);
  };
  std::string joined = (dir_ / "j.zip").string();
  // The last disk is wanted first: disk 1 (no end record) is offered, then the last; then disk 2
  // is offered for disk 1 (its label is refused).
  offers = {0, 4, 3};
  ASSERT_EQ(kit_.ReadSpannedArchive(target_, joined), 0) << kit_.LastMessage;
  ASSERT_GE(questions.size(), 4u);
  EXPECT_EQ(questions[0], "Please insert last disk");
  EXPECT_EQ(questions[1], "Please insert last disk");
  EXPECT_EQ(questions[2], Question(1, 3));
  EXPECT_EQ(questions[3], Question(1, 3));
  EXPECT_TRUE(ExtractsLike(joined, tree_));
}

TEST_F(ZipSpanMediaTest, HandlersAnswerPreviousDiskFullMediumAndExistingFile) {
  // Disk 2 is asked for four times: the previous disk (rejected), a medium too small (retried),
  // one with a file of the target's name (overwritten).
  std::deque<int> inserts = {0, 0, 1, 2, 3};
  struct TAsk {
    int32_t Seq, Total;
    std::string Drive;
  };
  std::vector<TAsk> asks;
  kit_.OnGetNextDisk = [&](TZipKit*, int32_t seq, int32_t total, const std::string& drive, bool& abort) {
    asks.push_back({seq, total, drive});
    ASSERT_FALSE(inserts.empty());
    // Disk 1 again, its time kept to two seconds as FAT does.
    if (asks.size() == 2) {
      const fs::path part = media_->Folder(0) / "backup.zip";
      fs::last_write_time(part, fs::last_write_time(part) + std::chrono::seconds(1));
    }
    media_->Insert(inserts.front());
    inserts.pop_front();
    abort = false;
  };
  struct TStatus {
    int32_t PreviousDisk;
    std::string File;
    TZipDiskStatus Status;
  };
  std::vector<TStatus> statuses;
  std::deque<TZipDiskAction> answers = {zdaReject, zdaOk, zdaOk};
  kit_.OnStatusDisk = [&](TZipKit*, int32_t previous, const std::string& file, TZipDiskStatus status,
                          TZipDiskAction& action) {
    statuses.push_back({previous, file, status});
    action = answers.front();
    answers.pop_front();
  };
  ASSERT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), 0) << kit_.LastMessage;
  EXPECT_TRUE(prompt_.History().empty());
  std::vector<int32_t> seqs;
  for (const TAsk& a : asks) seqs.push_back(a.Seq);
  EXPECT_EQ(seqs, (std::vector<int32_t>{1, 2, 2, 2, 3}));
  EXPECT_EQ(asks[0].Drive, media_->MountPoint().string());
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[0].Status, zdsPreviousDisk | zdsHasFiles);
  EXPECT_EQ(statuses[0].PreviousDisk, 1);
  EXPECT_EQ(statuses[0].File, target_);
  EXPECT_EQ(statuses[1].Status, zdsNotEnoughSpace);
  EXPECT_EQ(statuses[2].Status, zdsSameFileName | zdsHasFiles);
  EXPECT_TRUE(testenv::ListTree(media_->Folder(1)).empty());
  EXPECT_EQ(media_->Label(1), "SMALL");
  TSetLayout layout;
  EXPECT_TRUE(CheckSetLayout(CopyParts({0, 2, 3}), layout));
  kit_.OnGetNextDisk = nullptr;
  kit_.OnStatusDisk = nullptr;
  std::vector<std::string> questions;
  EXPECT_TRUE(ExtractsLike(Join({0, 2, 3}, questions), tree_));
}

// The whole flow through the prompt service; then cancelled at each of its questions in turn.
TEST_F(ZipSpanMediaTest, PromptFlowAndCancelAtEveryQuestion) {
  struct TStep {
    std::string Text;  // start of the question
    int Insert;        // medium to insert (-1: none)
    TPromptAnswer Answer;
  };
  // The totals are estimated from the medium in the drive when asking.
  const std::vector<TStep> steps = {
      {"Please insert disk volume 1 of 3", 0, TPromptAnswer::Ok},
      {"Please insert disk volume 2 of 3", 0, TPromptAnswer::Ok},
      {"ATTENTION: This is previous disk no 1!!!\nAre you sure you want to overwrite the contents", -1,
       TPromptAnswer::No},
      {"Please insert disk volume 2 of 3", 1, TPromptAnswer::Ok},
      {"This disk has not enough free space available", -1, TPromptAnswer::Retry},
      {"Please insert disk volume 2 of ", 2, TPromptAnswer::Ok},
      {"There is already a file backup.zip\nDo you want to overwrite this file", -1, TPromptAnswer::Yes},
      {"Please insert disk volume 3 of 3", 3, TPromptAnswer::Ok},
  };
  // cancelAt = steps.size(): the full run.
  for (size_t cancelAt = 0; cancelAt <= steps.size(); ++cancelAt) {
    SCOPED_TRACE("cancel at question " + std::to_string(cancelAt + 1));
    NewMedia();
    const auto before = AllMedia(*media_);
    prompt_.Clear();
    size_t at = 0;
    prompt_.OnShow = [&](const std::string& text, TPromptButtons) {
      ASSERT_LT(at, steps.size()) << text;
      const TStep& s = steps[at];
      EXPECT_EQ(text.rfind(s.Text, 0), 0u) << text;
      if (at == cancelAt) {
        prompt_.QueueAnswer(TPromptAnswer::Cancel);
      } else {
        if (s.Insert >= 0) media_->Insert(s.Insert);
        prompt_.QueueAnswer(s.Answer);
      }
      ++at;
    };
    const int32_t result = kit_.WriteSpannedArchive(source_.string(), target_);
    prompt_.OnShow = nullptr;
    const auto after = AllMedia(*media_);
    if (cancelAt == steps.size()) {
      ASSERT_EQ(result, 0) << kit_.LastMessage;
      EXPECT_EQ(at, steps.size());
      EXPECT_EQ(after[1], before[1]);
      TSetLayout layout;
      EXPECT_TRUE(CheckSetLayout(CopyParts({0, 2, 3}), layout));
      continue;
    }
    EXPECT_EQ(result, -7);
    EXPECT_EQ(kit_.ErrCode, 11007);
    EXPECT_EQ(at, cancelAt + 1);
    EXPECT_EQ(prompt_.History().size(), cancelAt + 1);  // the cancel itself is not shown
    // No temporary or partial part anywhere; the media of the parts not completed are untouched.
    // A part is complete (and stays on its disk) once the next disk has been asked for: the
    // first from question 2 on, the second (on medium 2) from question 8 on.
    for (int m = 0; m < media_->MediumCount(); ++m) {
      SCOPED_TRACE("medium " + std::to_string(m));
      if ((m == 0 && cancelAt >= 1) || (m == 2 && cancelAt >= 7)) {
        EXPECT_EQ(testenv::ListTree(media_->Folder(m)), std::vector<std::string>{"backup.zip"});
      } else {
        EXPECT_EQ(after[static_cast<size_t>(m)], before[static_cast<size_t>(m)]);
      }
    }
  }
}

TEST_F(ZipSpanMediaTest, ErasesEachMediumAfterAConfirmationNamingIt) {
  testenv::WriteFile(media_->Folder(0) / "a.txt", "0123456789");
  fs::create_directories(media_->Folder(0) / "sub");
  testenv::WriteFile(media_->Folder(0) / "sub" / "b.txt", std::string(20, 'b'));
  kit_.AddOptions = {AddDiskSpanErase};
  kit_.Trace = true;
  std::vector<std::string> notes;
  kit_.OnMessage = [&](TZipKit*, int32_t, const std::string& text) {
    if (text.rfind("EraseFloopy", 0) == 0) notes.push_back(text);
  };
  const std::vector<int> order = {0, 3, 4};
  int disk = 0;
  prompt_.OnShow = [&](const std::string& text, TPromptButtons) {
    if (text.rfind("Please insert", 0) == 0) media_->Insert(order[static_cast<size_t>(disk++)]);
    prompt_.QueueAnswer(text.rfind("Erase ", 0) == 0 ? TPromptAnswer::Yes : TPromptAnswer::Ok);
  };
  ASSERT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), 0) << kit_.LastMessage;
  const std::string mount = media_->MountPoint().string();
  const auto texts = prompt_.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[1], "Erase " + mount + "\nLabel: STICK\n2 files, 30 bytes will be deleted.");
  EXPECT_EQ(media_->Erased.size(), 3u);
  EXPECT_EQ(testenv::ListTree(media_->Folder(0)), std::vector<std::string>{"backup.zip"});
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes, (std::vector<std::string>{"EraseFloopy - Deleting " + mount + "/a.txt",
                                             "EraseFloopy - Deleting " + mount + "/sub/b.txt",
                                             "EraseFloopy - Removing " + mount + "/sub"}));
  EXPECT_EQ(media_->Label(0), "PKBACK# 001");

  // No: nothing is erased or written.
  NewMedia();
  testenv::WriteFile(media_->Folder(0) / "keep.txt", "keep");
  prompt_.Clear();
  prompt_.OnShow = [&](const std::string& text, TPromptButtons) {
    prompt_.QueueAnswer(text.rfind("Erase ", 0) == 0 ? TPromptAnswer::No : TPromptAnswer::Ok);
  };
  EXPECT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), -7);
  EXPECT_EQ(kit_.ErrCode, 11007);
  EXPECT_EQ(testenv::ListTree(media_->Folder(0)), std::vector<std::string>{"keep.txt"});

  // A medium that may not be erased ends the run with the reason.
  media_->RefuseErase = true;
  prompt_.Clear();
  EXPECT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), -7);
  EXPECT_EQ(kit_.ErrCode, 11007);
  EXPECT_TRUE(prompt_.Saw("The medium is not erased"));
  EXPECT_EQ(testenv::ListTree(media_->Folder(0)), std::vector<std::string>{"keep.txt"});
  prompt_.OnShow = nullptr;
}

TEST_F(ZipSpanMediaTest, RunsThatCannotAskOrLabelEndCleanly) {
  const auto before = AllMedia(*media_);
  kit_.Unattended = true;
  EXPECT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), -7);
  EXPECT_EQ(kit_.ErrCode, 11025);
  EXPECT_TRUE(prompt_.History().empty());
  kit_.Unattended = false;

  media_->LabelsSettable = false;
  prompt_.SetDefaultAnswer(TPromptAnswer::Ok);
  EXPECT_EQ(kit_.WriteSpannedArchive(source_.string(), target_), -7);
  EXPECT_EQ(kit_.ErrCode, 11005);
  EXPECT_TRUE(prompt_.Saw("Volume label could not be set"));
  EXPECT_EQ(AllMedia(*media_), before);
}

}  // namespace
