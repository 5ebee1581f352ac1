// Properties, messages, name conversion and the component's own file routines.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "FakeMedia.h"
#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "ZipTestUtil.h"
#include "zip/ZipCodePage.h"
#include "zip/ZipDataList.h"
#include "zip/ZipKit.h"
#include "zip/ZipMedia.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

TEST(ZipKitProperties, DefaultsAndAssignmentRules) {
  TZipKit kit;
  EXPECT_EQ(kit.AddCompLevel, 9);
  EXPECT_TRUE(kit.AddOptions.Empty());
  EXPECT_EQ(kit.MinZipEngVers(), 170);
  EXPECT_EQ(kit.PasswordReqCount(), 1u);
  EXPECT_EQ(kit.HowToDelete, htdAllowUndo);
  EXPECT_EQ(kit.CodePage, cpAuto);
  EXPECT_TRUE(kit.SFXOptions.Has(SFXCheckSize));
  EXPECT_EQ(kit.MinFreeVolumeSize, 65536);
  EXPECT_EQ(kit.SFXPath, "SfxStub.bin");
  EXPECT_EQ(kit.SFXCaption, "Self-extracting Archive");
  EXPECT_TRUE(kit.ConfirmErase);
  for (int k = 0; k < kStoreSuffixCount; ++k)
    EXPECT_EQ(kit.AddStoreSuffixes.Has(static_cast<AddStoreSuffixEnum>(k)), k != assEXE) << k;

  kit.SetVersionInfo("9.99");
  EXPECT_EQ(kit.VersionInfo(), "1.70");
  kit.SetMinUnzEngVers(169);
  EXPECT_EQ(kit.MinUnzEngVers(), 170);
  kit.SetMinUnzEngVers(200);
  EXPECT_EQ(kit.MinUnzEngVers(), 200);
  kit.SetPasswordReqCount(20);
  EXPECT_EQ(kit.PasswordReqCount(), 15u);
  kit.SetPassword(std::string(300, 'p'));
  EXPECT_EQ(kit.Password().size(), 255u);
  kit.SetDLLDirectory("/opt/engines/");
  EXPECT_EQ(kit.DLLDirectory(), "/opt/engines");
  EXPECT_EQ(AddOpts({AddDirNames, AddDiskSpanErase}).Bits(), 0x8001u);
  EXPECT_EQ(ExtrOpts({ExtrTest}).Bits(), 0x10u);
  EXPECT_THROW(kit.DirEntry(0), std::out_of_range);
}

TEST(ZipKitMessages, TableFormattingAndReporting) {
  EXPECT_EQ(ZipKitMessageText(10604), "libzipeng.so not found!");
  EXPECT_EQ(ZipKitMessageText(11037), "This is the first disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_EQ(ZipKitMessageText(10999),
            "ZipKitMsgXX.res is probably not linked to the executable\nMissing String ID is: 10999");
  for (int id : {10101, 10158, 10204, 10304, 10402, 10502, 10605, 10705, 10803, 10903, 11001, 11046})
    EXPECT_TRUE(ZipKitHasMessage(id)) << id;
  EXPECT_EQ(ZipKitFormat(11038, 3), "This is the 3th disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_EQ(ZipKitFormat(11034, 2, 5), "Please insert disk volume 2 of 5");
  EXPECT_EQ(ZipKitFormat(11004, std::string("/media/x")), "Drive /media/x is NOT defined");
  EXPECT_EQ(EZipKit(11007).DisplayMsg(), false);
  EXPECT_EQ(EZipKit(11001).DisplayMsg(), true);

  TScriptedPrompt prompt;
  TZipKit kit;
  std::vector<std::pair<int32_t, std::string>> seen;
  kit.OnMessage = [&](TZipKit*, int32_t code, const std::string& text) { seen.emplace_back(code, text); };
  kit.ReportMessage(10605, "/some/path");
  EXPECT_EQ(kit.ErrCode, 10605);
  EXPECT_EQ(kit.LastMessage, "Attempted to load old ZipEng from /some/path");
  EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"Attempted to load old ZipEng from /some/path"});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, 0);
  kit.ReportException(EZipKit(11007));  // never shown
  EXPECT_EQ(prompt.Texts().size(), 1u);
  EXPECT_EQ(kit.ErrCode, 11007);
  kit.Unattended = true;
  kit.ReportMessage(10102);
  EXPECT_EQ(prompt.Texts().size(), 1u);
  EXPECT_EQ(seen.size(), 3u);
}

TEST(ZipKitNames, OemUtf8UnicodePathAndSeparators) {
  EXPECT_EQ(OemToUtf8("Gr\x81\xE1" "e"), "Grüße");
  EXPECT_EQ(Utf8ToOem("Grüße €"), "Gr\x81\xE1" "e ?");
  EXPECT_EQ(OemToUtf8(Utf8ToOem("╔═╗ αß")), "╔═╗ αß");

  const std::string oemName = "dir\\M\x81nze.txt";
  std::vector<TCraftEntry> e(6);
  e[0].Name = oemName;  // MS-DOS host: OEM, backslashes
  e[0].Host = 0;
  e[1].Name = "caf\xC3\xA9.txt";  // Unix host, UTF-8 bytes without the flag: taken as they are
  e[2].Name = "\x81" "flagged";  // bit 11: taken as it is even from MS-DOS
  e[2].Host = 0;
  e[2].Flags = 0x800;
  e[3].Name = "ntfs\x81";  // NTFS writer 5.0: OEM
  e[3].Host = 11;
  e[3].MadeBy = 50;
  e[4].Name = "old name";  // Unicode Path extra field with a matching CRC wins
  {
    std::string x;
    Put16(x, 0x7075);
    const std::string u = "новое.txt";
    Put16(x, static_cast<uint16_t>(5 + u.size()));
    x += '\x01';
    Put32(x, Crc32Of("old name"));
    x += u;
    e[4].Extra = x;
  }
  e[5].Name = "kept name";  // ... and is ignored when its CRC does not match
  {
    std::string x;
    Put16(x, 0x7075);
    Put16(x, 9);
    x += '\x01';
    Put32(x, 1234);
    x += "evil";
    e[5].Extra = x;
  }
  const auto dir = testenv::MakeTempDir("names");
  testenv::WriteFile(dir / "n.zip", CraftZip(e));
  TScriptedPrompt prompt;
  TZipKit kit;
  kit.SetZipFileName((dir / "n.zip").string());
  ASSERT_EQ(kit.EntryCount(), 6) << kit.LastMessage;
  EXPECT_EQ(kit.DirEntry(0).EntryName, "dir/Münze.txt");
  EXPECT_EQ(kit.DirEntry(1).EntryName, "café.txt");
  // Flagged UTF-8 that is not valid UTF-8 is read as CP437, as the engines read it: names stay valid
  // UTF-8 and the names the component hands the engines match theirs.
  EXPECT_EQ(kit.DirEntry(2).EntryName, "üflagged");
  EXPECT_EQ(kit.DirEntry(3).EntryName, "ntfsü");
  EXPECT_EQ(kit.DirEntry(4).EntryName, "новое.txt");
  EXPECT_EQ(kit.DirEntry(5).EntryName, "kept name");
  ASSERT_NE(kit.DirEntry(4).ExtraField, nullptr);
  EXPECT_EQ(kit.DirEntry(4).ExtraField.get()[0], 0x75);
  EXPECT_EQ(kit.DirEntry(1).ExtraField, nullptr);

  kit.CodePage = cpNone;
  kit.SetZipFileName((dir / "n.zip").string());
  EXPECT_EQ(kit.DirEntry(0).EntryName, "dir/Münze.txt");  // not valid UTF-8: CP437 even with cpNone
  EXPECT_EQ(kit.DirEntry(3).EntryName, "ntfsü");  // NTFS 5.0 converts even with cpNone
  kit.CodePage = cpOEM;
  kit.SetZipFileName((dir / "n.zip").string());
  EXPECT_EQ(kit.DirEntry(1).EntryName, "caf├⌐.txt");
}

TEST(ZipKitNames, CommentOfAnMsDosArchiveIsWrittenInOem) {
  std::vector<TCraftEntry> e(1);
  e[0].Name = "a";
  e[0].Host = 0;
  TCraftOptions o;
  o.Comment = "\x81";
  const auto dir = testenv::MakeTempDir("oem");
  testenv::WriteFile(dir / "o.zip", CraftZip(e, o));
  TScriptedPrompt prompt;
  TZipKit kit;
  kit.SetZipFileName((dir / "o.zip").string());
  EXPECT_EQ(kit.ArchiveComment(), "ü");
  kit.SetArchiveComment("Grüße");
  const std::string bytes = testenv::ReadFile(dir / "o.zip");
  EXPECT_EQ(bytes.substr(bytes.size() - 5), "Gr\x81\xE1" "e");
  kit.SetZipFileName((dir / "o.zip").string());
  EXPECT_EQ(kit.ArchiveComment(), "Grüße");
  EXPECT_TRUE(prompt.History().empty());
}

TEST(ZipKitFiles, EraseTempNamesAndCopies) {
  TScriptedPrompt prompt;
  TZipKit kit;
  const auto dir = testenv::MakeTempDir("files");
  EXPECT_EQ(kit.EraseFile((dir / "absent").string(), htdFinal), -1);
  testenv::WriteFile(dir / "gone.txt", "x");
  EXPECT_EQ(kit.EraseFile((dir / "gone.txt").string(), htdFinal), 0);
  EXPECT_FALSE(fs::exists(dir / "gone.txt"));
  testenv::WriteFile(dir / "undo.txt", "x");
  EXPECT_EQ(kit.EraseFile((dir / "undo.txt").string(), htdAllowUndo), 0);
  EXPECT_FALSE(fs::exists(dir / "undo.txt"));
  bool inTrash = false;
  for (const auto& f : fs::recursive_directory_iterator(testenv::Root()))
    if (f.path().filename().string().rfind("undo", 0) == 0 && f.path().string().find("Trash") != std::string::npos)
      inTrash = true;
  EXPECT_TRUE(inTrash);

  kit.TempDir = (dir / "tmp").string();
  fs::create_directories(kit.TempDir);
  const std::string a = kit.MakeTempFileName();
  const std::string b = kit.MakeTempFileName("zz", ".tmp");
  EXPECT_EQ(kit.TempDir, (dir / "tmp").string() + "/");
  EXPECT_EQ(fs::path(a).parent_path(), dir / "tmp");
  EXPECT_EQ(fs::path(a).extension(), ".zip");
  EXPECT_EQ(fs::path(a).filename().string().rfind("zip", 0), 0u);
  EXPECT_EQ(fs::path(b).extension(), ".tmp");
  EXPECT_NE(a, b);
  EXPECT_FALSE(fs::exists(a));

  const std::string data = testenv::RandomBytes(30000, 4);
  testenv::WriteFile(dir / "src", data);
  const int from = ::open((dir / "src").c_str(), O_RDONLY);
  const int to = ::open((dir / "dst").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int64_t reported = 0;
  int events = 0;
  kit.ShowProgress = true;
  kit.OnProgress = [&](TZipKit*, ProgressType t, const std::string&, int64_t n) {
    EXPECT_EQ(t, PtAdvance);
    EXPECT_LE(n, 8192);
    reported += n;
  };
  kit.ProcessEvents = [&] { ++events; };
  EXPECT_EQ(kit.CopyFileData(from, to, 20000), 0);
  EXPECT_EQ(reported, 20000);
  EXPECT_EQ(events, 3);
  EXPECT_EQ(kit.CopyFileData(from, to, -1), 0);   // to the end
  EXPECT_EQ(kit.CopyFileData(from, to, 100), 0);  // nothing left: a short read is success
  ::close(from);
  ::close(to);
  EXPECT_EQ(testenv::ReadFile(dir / "dst"), data);
  EXPECT_EQ(kit.CopyFileData(-1, -1, 10), -2);
}

TEST(ZipKitSpanHelpers, DataListLabelsAndPartNames) {
  TMZipDataList list(3);
  list.Items(1).FileName = "Dir/File.TXT";
  EXPECT_EQ(list.IndexOf("dir/file.txt"), 1);
  try {
    list.IndexOf("other");
    ADD_FAILURE();
  } catch (const EZipKit& e) {
    EXPECT_EQ(e.Id(), 11026);
  }
  try {
    list.Items(3);
    ADD_FAILURE();
  } catch (const EZipKit& e) {
    EXPECT_STREQ(e.what(), "Index (3) outside range 1..2");
  }
  EXPECT_EQ(DiskNumberOfLabel("PKBACK# 004"), 4);
  EXPECT_EQ(DiskNumberOfLabel("PKBACK# x04"), 0);
  EXPECT_EQ(DiskNumberOfLabel("BACKUP"), 0);
  EXPECT_EQ(SpanLabel(1), "PKBACK# 001");
  EXPECT_EQ(SpanPartFileName("/m/set003.zip", 1), "/m/set001.zip");
  EXPECT_EQ(SpanPartFileName("/m/ab.zip", 12), "/m/012.zip");
}

// A removable medium whose label the test sets.
class TTestMedia : public TFakeMedia {
 public:
  TTestMedia() : TFakeMedia(testenv::MakeTempDir("media")) {}
  TDriveKind DriveKind(const std::string&) override { return TDriveKind::Removable; }
  std::string VolumeLabel(const std::string&) override { return label; }
  std::string DriveName(const std::string&) override { return "/media/floppy"; }
  std::string label;
};

TEST(ZipKitSpanHelpers, ReadingTheLastDiskAsksForTheFirstThroughThePrompt) {
  // Last disk of a two-disk set: this disk 1, directory starting on disk 0 at offset 4.
  std::string eocd("PK\x05\x06", 4);
  Put16(eocd, 1);
  Put16(eocd, 0);
  Put16(eocd, 1);
  Put16(eocd, 1);
  Put32(eocd, 46 + 1);
  Put32(eocd, 4);
  Put16(eocd, 0);
  const auto dir = testenv::MakeTempDir("span");
  testenv::WriteFile(dir / "set.zip", eocd);
  TScriptedPrompt prompt;
  TTestMedia media;
  TZipKit kit;
  kit.Media = &media;
  prompt.QueueAnswer(TPromptAnswer::Cancel);
  kit.SetZipFileName((dir / "set.zip").string());
  EXPECT_EQ(kit.ZipFileName(), "");
  EXPECT_EQ(kit.ErrCode, 11007);
  ASSERT_EQ(prompt.Texts().size(), 1u);  // the cancel itself is not shown
  EXPECT_EQ(prompt.Texts()[0], "Please insert disk volume 1 of 2\nin drive: /media/floppy");

  // Unattended: no question.
  prompt.Clear();
  kit.Unattended = true;
  kit.SetZipFileName((dir / "set.zip").string());
  EXPECT_EQ(kit.ErrCode, 11025);
  EXPECT_TRUE(prompt.History().empty());

  // OnGetNextDisk answers instead of the prompt; the first disk's label is then checked.
  kit.Unattended = false;
  int asked = 0;
  kit.OnGetNextDisk = [&](TZipKit*, int32_t seq, int32_t total, const std::string& drive, bool& abort) {
    EXPECT_EQ(seq, 1);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(drive, "/media/floppy");
    abort = ++asked == 2;
    media.label = asked == 1 ? "PKBACK# 002" : "PKBACK# 001";
  };
  kit.SetZipFileName((dir / "set.zip").string());
  EXPECT_EQ(asked, 2);  // wrong label: asked again
  EXPECT_EQ(kit.ErrCode, 11007);
}

}  // namespace

namespace {

TEST(ZipKitSpanHelpers, TwoPartSetOnAFixedDriveIsListedAcrossBothParts) {
  const auto dir = testenv::MakeTempDir("fixedset");
  WriteTwoPartSet(dir);

  TScriptedPrompt prompt;
  TZipKit kit;
  kit.SetZipFileName((dir / "set002.zip").string());
  ASSERT_EQ(kit.EntryCount(), 2) << kit.LastMessage;
  EXPECT_EQ(kit.DirEntry(0).EntryName, "alpha.txt");
  EXPECT_EQ(kit.DirEntry(1).EntryName, "beta.txt");
  EXPECT_TRUE(kit.IsSpanned());
  EXPECT_EQ(kit.LastDisk(), 1);
  EXPECT_FALSE(kit.OffsetMismatch());
  EXPECT_TRUE(prompt.History().empty());  // fixed drives are never asked for

  // The first part alone: it starts a set and has no end record.
  kit.SetZipFileName((dir / "set001.zip").string());
  EXPECT_EQ(kit.ZipFileName(), "");
  EXPECT_EQ(kit.ErrCode, 11045);
  TTestMedia media;
  media.label = "PKBACK# 001";
  kit.Media = &media;
  kit.SetZipFileName((dir / "set001.zip").string());
  EXPECT_EQ(kit.ErrCode, 11037);
  testenv::WriteFile(dir / "middle.zip", "no end record, not the first part either");
  media.label = "PKBACK# 003";
  kit.SetZipFileName((dir / "middle.zip").string());
  EXPECT_EQ(kit.ErrCode, 11038);
  EXPECT_EQ(kit.LastMessage, "This is the 3th disk in a backup set,\nplease insert the last disk of this set");

  // A missing part on a fixed drive ends the read.
  kit.Media = &DefaultZipMedia();
  std::filesystem::remove(dir / "set001.zip");
  kit.SetZipFileName((dir / "set002.zip").string());
  EXPECT_EQ(kit.ErrCode, 11001);
  EXPECT_EQ(kit.ZipFileName(), "");
}

TEST(ZipKitSpanHelpers, QuietEndRecordReadReportsOnlyAnUnopenableFile) {
  const auto dir = testenv::MakeTempDir("quietend");
  TScriptedPrompt prompt;
  TZipKit kit;
  kit.SetZipFileName((dir / "absent.zip").string());
  EXPECT_FALSE(kit.ReadEndRecord(false));
  EXPECT_EQ(kit.ErrCode, 11002);
  EXPECT_THROW(kit.ReadEndRecord(true), EZipKit);
  testenv::WriteFile(dir / "absent.zip", "no end record here");
  prompt.Clear();
  EXPECT_FALSE(kit.ReadEndRecord(false));
  EXPECT_TRUE(prompt.History().empty());
}

}  // namespace
