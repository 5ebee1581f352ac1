// Work in a child process: its result, and a crash, a failure, a hang or an oversized result as
// outcomes of their own, with nothing of the child's state reaching the parent.
#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <thread>

#include "platform/Isolated.h"

TEST(Isolated, OutcomeTable) {
  static int parentValue = 1;
  struct Case {
    const char* what;
    std::function<bool(std::string&)> work;
    TIsolatedEnd end;
    std::string out;
  } cases[] = {
      {"result", [](std::string& o) { o = "pixels"; return true; }, TIsolatedEnd::Done, "pixels"},
      {"empty result", [](std::string&) { return true; }, TIsolatedEnd::Done, ""},
      {"large result", [](std::string& o) { o.assign(3 << 20, 'x'); return true; }, TIsolatedEnd::Done,
       std::string(3 << 20, 'x')},
      {"failure", [](std::string& o) { o = "half"; return false; }, TIsolatedEnd::Failed, ""},
      {"crash", [](std::string&) { std::raise(SIGSEGV); return true; }, TIsolatedEnd::Crashed, ""},
      {"abort", [](std::string&) { std::abort(); return true; }, TIsolatedEnd::Crashed, ""},
      {"hang", [](std::string&) { std::this_thread::sleep_for(std::chrono::seconds(30)); return true; },
       TIsolatedEnd::TimedOut, ""},
      {"over the limit", [](std::string& o) { o.assign(5 << 20, 'y'); return true; }, TIsolatedEnd::Failed, ""},
      {"parent untouched", [](std::string& o) { parentValue = 99; o = "set"; return true; }, TIsolatedEnd::Done, "set"},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    bool released = false;
    const auto start = std::chrono::steady_clock::now();
    const TIsolatedEnd end = RunIsolated(c.work, out, 1500, 4 << 20, [&released] { released = true; });
    EXPECT_EQ(static_cast<int>(end), static_cast<int>(c.end)) << c.what;
    EXPECT_EQ(out, c.out) << c.what;
    EXPECT_TRUE(released) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
  }
  EXPECT_EQ(parentValue, 1);
}
