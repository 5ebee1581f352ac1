#pragma once
// Work that may crash or hang (a decoder of untrusted files) run in a child process of its own: the
// child's result comes back through a pipe; a crash, a failure or running past the time limit is
// only a result here.
#include <functional>
#include <string>

enum class TIsolatedEnd { Done, Failed, Crashed, TimedOut, NotStarted };

// Forks, runs `work` in the child and returns what it wrote into its string when it returned true.
// The child ends with _exit and touches nothing of the parent's; `work` must not take locks that
// another thread of the parent may hold (take them before calling this, and keep them meanwhile).
// `limit` caps the result's size (a larger one is Failed). `afterFork` runs in the parent once the
// child exists (to let go of such locks).
TIsolatedEnd RunIsolated(const std::function<bool(std::string& out)>& work, std::string& out, int timeoutMs,
                         size_t limit, const std::function<void()>& afterFork = {});
