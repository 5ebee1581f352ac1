// The single-instance component within one process: the hand-over block, the lock and the socket.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <thread>

#include "TestEnv.h"
#include "app/RunOnce.h"
#include "app/SystemDirs.h"
#include "platform/SingleInstance.h"

namespace fs = std::filesystem;

namespace {

// Runs the event loop until `done` or two seconds have passed.
template <typename F>
void SpinUntil(F done) {
  for (int i = 0; i < 400 && !done(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
}

}  // namespace

TEST(HandOverBlock, RoundTripAndLimits) {
  const QStringList args = {"/opt/tandor/tandorfile", "/home/u/a b.zip", QString::fromUtf8("/home/u/ünï.tar")};
  const QByteArray block = EncodeHandOverBlock(args);
  ASSERT_EQ(block.size(), 65536);
  EXPECT_EQ(DecodeHandOverBlock(block), args);
  // The layout: texts ended by zero bytes, then one more zero.
  const QByteArray expected = QByteArray("/opt/tandor/tandorfile") + '\0' + "/home/u/a b.zip" + '\0';
  EXPECT_EQ(block.left(expected.size()), expected);

  // Empty arguments would end the list early: they are skipped.
  EXPECT_EQ(DecodeHandOverBlock(EncodeHandOverBlock({"/p", "", "/x.zip"})), (QStringList{"/p", "/x.zip"}));

  // Arguments beyond the block are left out whole; the block always ends with its zero.
  QStringList many = {"/p"};
  for (int i = 0; i < 2000; ++i) many << QString("/archives/%1/").arg(i) + QString(40, 'x') + ".zip";
  const QByteArray full = EncodeHandOverBlock(many);
  ASSERT_EQ(full.size(), 65536);
  const QStringList got = DecodeHandOverBlock(full);
  ASSERT_GT(got.size(), 100);
  ASSERT_LT(got.size(), many.size());
  EXPECT_EQ(got, many.mid(0, got.size()));
  EXPECT_EQ(full.back(), '\0');
  EXPECT_EQ(DecodeHandOverBlock(EncodeHandOverBlock({"/p", QString(70000, 'y')})), QStringList{"/p"});

  // A hostile block: no terminator at all, or a tail without one.
  EXPECT_TRUE(DecodeHandOverBlock(QByteArray(65536, 'z')).isEmpty());
  QByteArray tail(65536, 'z');
  tail[3] = '\0';
  EXPECT_EQ(DecodeHandOverBlock(tail), QStringList{"zzz"});
  EXPECT_TRUE(DecodeHandOverBlock(QByteArray()).isEmpty());
}

TEST(RunOnce, SecondStartHandsOverOnTheMainThread) {
  TRunOnce first("/opt/tandor/tandorfile");
  ASSERT_FALSE(first.IsSecondStart());
  EXPECT_EQ(first.InstanceName(), "TANDORFILE");
  ASSERT_TRUE(first.Listen());
  struct stat st {};
  ASSERT_EQ(stat(first.SocketPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "the socket is closed to other users";

  QStringList received;
  int count = -1;
  std::thread::id handlerThread;
  first.OnOtherInstance = [&](QObject* sender, int paramCount, const QStringList& paramStr) {
    EXPECT_EQ(sender, &first);
    count = paramCount;
    received = paramStr;
    handlerThread = std::this_thread::get_id();
  };

  // Same program file name (any folder, any letter case): a second start.
  TRunOnce second("/somewhere/else/TandorFile");
  ASSERT_TRUE(second.IsSecondStart());
  std::atomic<int> sent{-1};
  std::thread sender([&] { sent = second.HandOver({"/somewhere/else/TandorFile", "/a.zip", "/b.tar"}, 5000); });
  SpinUntil([&] { return sent >= 0; });
  sender.join();
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(received, (QStringList{"/somewhere/else/TandorFile", "/a.zip", "/b.tar"}));
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST(RunOnce, OtherProgramNameIsASeparateInstance) {
  TRunOnce first("/opt/tandor/tandorfile");
  TRunOnce other("/opt/tandor/tandorfile-beta");
  EXPECT_FALSE(first.IsSecondStart());
  EXPECT_FALSE(other.IsSecondStart());
  EXPECT_TRUE(first.Listen());
  EXPECT_TRUE(other.Listen());
  EXPECT_NE(first.SocketPath(), other.SocketPath());
}

TEST(RunOnce, HandOversBeforeTheWindowExistsWait) {
  TRunOnce first("/opt/tandor/tandorfile");
  ASSERT_TRUE(first.Listen());
  TRunOnce second("/opt/tandor/tandorfile");
  std::atomic<int> sent{-1};
  std::thread sender([&] { sent = second.HandOver({"/opt/tandor/tandorfile", "/early.zip"}, 5000); });
  SpinUntil([&] { return sent >= 0; });
  sender.join();
  EXPECT_EQ(sent, 1) << "the sender is answered at once";
  QStringList received;
  first.OnOtherInstance = [&](QObject*, int, const QStringList& p) { received = p; };
  first.DeliverPending();
  EXPECT_EQ(received, (QStringList{"/opt/tandor/tandorfile", "/early.zip"}));
}

TEST(RunOnce, NobodyAnsweringEndsTheSecondStart) {
  TRunOnce first("/opt/tandor/tandorfile");  // holds the lock but never listens
  TRunOnce second("/opt/tandor/tandorfile");
  ASSERT_TRUE(second.IsSecondStart());
  EXPECT_FALSE(second.HandOver({"/p", "/a.zip"}, 600));
  EXPECT_TRUE(second.IsSecondStart());
}

TEST(RunOnce, LeftoverSocketDoesNotBlock) {
  std::string path;
  {
    TRunOnce first("/opt/tandor/tandorfile");
    ASSERT_TRUE(first.Listen());
    path = first.SocketPath();
  }
  // A crashed instance leaves its socket file behind: a plain file stands in for it.
  testenv::WriteFile(path, "");
  TRunOnce next("/opt/tandor/tandorfile");
  ASSERT_FALSE(next.IsSecondStart());
  EXPECT_TRUE(next.Listen());
}

TEST(RunOnce, EndedInstanceLetsTheWaitingStartTakeOver) {
  auto first = std::make_unique<TRunOnce>("/opt/tandor/tandorfile");  // locked, not yet listening
  TRunOnce second("/opt/tandor/tandorfile");
  ASSERT_TRUE(second.IsSecondStart());
  std::atomic<int> sent{-1};
  std::thread sender([&] { sent = second.HandOver({"/p", "/a.zip"}, 5000); });
  QThread::msleep(300);
  first.reset();  // the running instance ends
  sender.join();
  EXPECT_EQ(sent, 0);
  EXPECT_FALSE(second.IsSecondStart()) << "the waiting start runs on its own";
  EXPECT_TRUE(second.Listen());
}

TEST(PrivateRuntimeFolder, OnlyAFolderClosedToOthers) {
  const std::string saved = getenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(PrivateRuntimeFolder(), saved);
  const fs::path open = testenv::MakeTempDir("open");
  fs::permissions(open, fs::perms::all);
  setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
  const std::string fallback = PrivateRuntimeFolder();
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  ASSERT_FALSE(fallback.empty());
  EXPECT_NE(fallback, open.string());
  EXPECT_EQ(fallback, std::string(getenv("TMPDIR")) + "/tandorfile-" + std::to_string(geteuid()));
  EXPECT_EQ(fs::status(fallback).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
  // A folder of that name made open by someone is closed again.
  fs::permissions(fallback, fs::perms::all);
  setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
  EXPECT_EQ(PrivateRuntimeFolder(), fallback);
  EXPECT_EQ(fs::status(fallback).permissions() & fs::perms::others_all, fs::perms::none);
  // A link in place of the runtime folder is not taken, even to a private folder.
  const fs::path link = testenv::MakeTempDir("l") / "runtime";
  fs::create_directory_symlink(saved, link);
  setenv("XDG_RUNTIME_DIR", link.c_str(), 1);
  EXPECT_EQ(PrivateRuntimeFolder(), fallback);
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(SystemDirs, FoldersFromTheEnvironment) {
  TSystemDirs dirs;
  EXPECT_EQ(dirs.TempDir(), getenv("TMPDIR"));
  EXPECT_EQ(dirs.DeskTopDir(), getenv("XDG_DESKTOP_DIR"));
  EXPECT_EQ(dirs.StartMenuDir(), std::string(getenv("XDG_DATA_HOME")) + "/applications");
  const std::string saved = getenv("TMPDIR");
  unsetenv("TMPDIR");
  EXPECT_EQ(TSystemDirs().TempDir(), "/tmp");
  setenv("TMPDIR", (saved + "/").c_str(), 1);
  EXPECT_EQ(TSystemDirs().TempDir(), saved);
  setenv("TMPDIR", saved.c_str(), 1);
}
