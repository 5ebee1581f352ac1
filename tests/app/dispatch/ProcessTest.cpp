// Two real processes of the built program: a second start hands its archives to the first and ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <memory>

#include "TestEnv.h"
#include "core/Settings.h"
#include "core/TextUtil.h"

namespace fs = std::filesystem;

namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testenv::MakeTempDir("home");
    runtime_ = testenv::MakeTempDir("run");
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    files_ = testenv::MakeTempDir("files");
    trace_ = home_ / "trace";
    TSettings s;
    s.ConfigFile = (home_ / "config").string();
    ASSERT_TRUE(s.WriteDefaultSettings());  // no first-run window
    ASSERT_EQ(testenv::Run("cd " + testenv::Quote(files_.string()) +
                           " && echo one > one.txt && for n in a b c d e; do zip -q $n.zip one.txt; done"
                           " && cp c.zip C.ZIP"),
              0);
  }
  void TearDown() override {
    for (auto& p : started_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
  }

  static std::string Program() { return (testenv::ProgramDir() / "tandorfile").string(); }
  std::string Archive(const char* name) const { return fs::canonical(files_ / name).string(); }
  std::string SocketOf(const std::string& instance) const {
    return (runtime_ / (instance + "-" + std::to_string(geteuid()) + ".sock")).string();
  }

  QProcess* Start(const QStringList& args, const std::string& program = Program()) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TANDOR_HOME", QString::fromStdString(home_.string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.string()));
    env.insert("TANDOR_TEST_TRACE", QString::fromStdString(trace_.string()));
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(QString::fromStdString(files_.string()));
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(QString::fromStdString(program), args);
    EXPECT_TRUE(p->waitForStarted(10000));
    started_.push_back(std::move(p));
    return started_.back().get();
  }
  // A second start: returns its exit code (-1 when it did not end within ten seconds).
  int RunSecond(const QStringList& args) {
    QProcess* p = Start(args);
    if (!p->waitForFinished(10000)) return -1;
    return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
  }
  // Waits until an instance listens at `path` (a socket file left by a dead one refuses connections).
  static bool WaitForSocket(const std::string& path) {
    for (int i = 0; i < 600; ++i) {
      QLocalSocket probe;
      probe.connectToServer(QString::fromStdString(path));
      if (probe.waitForConnected(200)) return true;
      QThread::msleep(25);
    }
    return false;
  }
  // The trace lines of the running instance; waits until one starts with `prefix`.
  std::vector<std::string> WaitForTrace(const std::string& prefix) {
    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) {
      lines.clear();
      std::string line;
      for (char c : fs::exists(trace_) ? testenv::ReadFile(trace_) : std::string()) {
        if (c != '\n') {
          line += c;
          continue;
        }
        lines.push_back(line);
        line.clear();
      }
      for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0) return lines;
      QThread::msleep(25);
    }
    ADD_FAILURE() << "no trace line " << prefix;
    return lines;
  }
  std::vector<std::string> QueueFile() const {
    std::vector<std::string> lines;
    std::string line;
    for (char c : fs::exists(home_ / "queue") ? testenv::ReadFile(home_ / "queue") : std::string()) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }
  static bool Has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  }

  fs::path home_, runtime_, files_, trace_;
  std::vector<std::unique_ptr<QProcess>> started_;
};

}  // namespace

TEST_F(ProcessTest, SecondStartHandsOverAndEnds) {
  QProcess* first = Start({});
  ASSERT_TRUE(WaitForSocket(SocketOf("TANDORFILE")));

  // One archive to the idle window: opened there.
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(RunSecond({QString::fromStdString(Archive("a.zip"))}), 0);
  EXPECT_LT(clock.elapsed(), 8000);
  std::vector<std::string> trace = WaitForTrace("open ");
  EXPECT_EQ(trace, (std::vector<std::string>{"handover 1 idle", "open " + Archive("a.zip")}));
  EXPECT_TRUE(QueueFile().empty());

  // Three archives: all queued while an archive is shown; otherwise the first is opened.
  EXPECT_EQ(RunSecond({QString::fromStdString(Archive("b.zip")), QString::fromStdString(Archive("c.zip")),
                       QString::fromStdString(Archive("d.zip"))}),
            0);
  trace = WaitForTrace("handover 3");
  const bool busy = Has(trace, "handover 3 busy");
  if (busy) {
    EXPECT_EQ(QueueFile(), (std::vector<std::string>{Archive("b.zip"), Archive("c.zip"), Archive("d.zip")}));
  } else {
    EXPECT_TRUE(Has(WaitForTrace("open " + Archive("b.zip")), "open " + Archive("b.zip")));
    EXPECT_EQ(QueueFile(), (std::vector<std::string>{Archive("c.zip"), Archive("d.zip")}));
  }

  // The same archive in other letter case is not queued twice.
  const std::vector<std::string> before = QueueFile();
  EXPECT_EQ(RunSecond({QString::fromStdString(Archive("C.ZIP")), QString::fromStdString(Archive("c.zip"))}), 0);
  WaitForTrace("handover 2");
  EXPECT_EQ(QueueFile(), before);

  // A relative name is taken from the second start's folder.
  EXPECT_EQ(RunSecond({"e.zip"}), 0);
  trace = WaitForTrace("handover 1 ");
  const std::string e = Archive("e.zip");
  for (int i = 0; i < 100 && !Has(QueueFile(), e) && !Has(trace, "open " + e); ++i) {
    QThread::msleep(25);
    trace = WaitForTrace("handover");
  }
  EXPECT_TRUE(Has(QueueFile(), e) || Has(trace, "open " + e));

  EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(ProcessTest, KilledInstanceLeavesNoBlockingSocket) {
  QProcess* first = Start({});
  const std::string socket = SocketOf("TANDORFILE");
  ASSERT_TRUE(WaitForSocket(socket));
  ::kill(pid_t(first->processId()), SIGKILL);
  ASSERT_TRUE(first->waitForFinished(5000));
  ASSERT_TRUE(fs::exists(socket)) << "the crashed instance left its socket";
  QLocalSocket stale;
  stale.connectToServer(QString::fromStdString(socket));
  ASSERT_FALSE(stale.waitForConnected(200));

  QProcess* next = Start({});
  ASSERT_TRUE(WaitForSocket(socket));
  EXPECT_EQ(next->state(), QProcess::Running);
  EXPECT_EQ(RunSecond({QString::fromStdString(Archive("a.zip"))}), 0);
  EXPECT_EQ(WaitForTrace("open "), (std::vector<std::string>{"handover 1 idle", "open " + Archive("a.zip")}));
}

TEST_F(ProcessTest, OtherProgramNameRunsOnItsOwn) {
  QProcess* first = Start({});
  ASSERT_TRUE(WaitForSocket(SocketOf("TANDORFILE")));
  const fs::path beta = files_ / "tandorbeta";
  fs::copy_file(Program(), beta);
  for (const char* engine : {"libzipeng.so", "libunzeng.so"})  // a copy without them says so at start
    fs::create_symlink(fs::path(Program()).parent_path() / engine, files_ / engine);
  QProcess* other = Start({QString::fromStdString(Archive("a.zip"))}, beta.string());
  ASSERT_TRUE(WaitForSocket(SocketOf("TANDORBETA")));
  EXPECT_FALSE(other->waitForFinished(500)) << "not a second start";
  EXPECT_EQ(first->state(), QProcess::Running);
  const std::vector<std::string> trace = WaitForTrace("open ");
  EXPECT_FALSE(Has(trace, "handover 1 idle")) << "nothing was handed to the first";
}
