#include "platform/Isolated.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

TIsolatedEnd RunIsolated(const std::function<bool(std::string& out)>& work, std::string& out, int timeoutMs,
                         size_t limit, const std::function<void()>& afterFork) {
  out.clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return TIsolatedEnd::NotStarted;
  const pid_t child = fork();
  if (child != 0) {
    // The write end goes before anything else may fork: a later child must not hold it open.
    close(fds[1]);
    if (afterFork) afterFork();
  }
  if (child < 0) {
    close(fds[0]);
    return TIsolatedEnd::NotStarted;
  }
  if (child == 0) {
    // Only the write end stays open (another thread's pipes, sockets and files are not the child's).
    if (fds[1] > 3) close_range(3, static_cast<unsigned>(fds[1]) - 1, 0);
    close_range(static_cast<unsigned>(fds[1]) + 1, ~0u, 0);
    // The child's complaints (a decoder's messages, a sanitizer's report of the crash) stay unseen.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, 2);
    std::string result;
    const bool ok = work(result);
    const uint64_t size = result.size();
    const bool sent = ok && WriteAll(fds[1], reinterpret_cast<const char*>(&size), sizeof size) &&
                      WriteAll(fds[1], result.data(), result.size());
    _exit(sent ? 0 : 1);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string received;
  bool timedOut = false, tooBig = false;
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // the deadline is checked above
    const ssize_t r = read(fds[0], buffer, sizeof buffer);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // the child closed its end
    if (received.size() + static_cast<size_t>(r) > limit + sizeof(uint64_t)) {
      tooBig = true;
      break;
    }
    received.append(buffer, static_cast<size_t>(r));
  }
  close(fds[0]);
  if (timedOut || tooBig) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) return TIsolatedEnd::TimedOut;
  if (tooBig) return TIsolatedEnd::Failed;
  if (WIFSIGNALED(status)) return TIsolatedEnd::Crashed;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return TIsolatedEnd::Failed;
  uint64_t size = 0;
  if (received.size() < sizeof size) return TIsolatedEnd::Failed;
  std::memcpy(&size, received.data(), sizeof size);
  if (received.size() - sizeof size != size) return TIsolatedEnd::Failed;
  out = received.substr(sizeof size);
  return TIsolatedEnd::Done;
}
